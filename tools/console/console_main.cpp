// kestrel-console: the service console without its window. Sends one command
// (or fetches the journal, or watches for events) on a serial port and prints
// the traffic log as the service console shows it.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ConsoleArgs.h"
#include "ConsoleSettings.h"
#include "ConsoleWalkTest.h"
#include "link/ComPort.h"
#include "link/PcapCapture.h"
#include "link/SerialDeviceOs.h"
#include "link/StampedLine.h"
#include "protocol/Protocol.h"
#include "state/Clock.h"
#include "state/SettingsStore.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

using namespace kestrel;

std::atomic<bool> gStop{false};

extern "C" void OnSignal(int)
{
    gStop = true;
}

// With --timestamps every line on standard output is stamped.
std::unique_ptr<TLineStamper> gStamper;

void WriteLine(const std::string& s)
{
    const std::string line = gStamper ? gStamper->Stamp(s) : s;
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
}

class PrintHooks final : public IUiHooks {
public:
    void LogLine(const std::string& s) override { WriteLine(s); }
};

void PrintLine(const std::string& s)
{
    WriteLine(s);
    std::fflush(stdout);
}

// The journal export's separator.
const char* const kSep = ";   ";

std::string Row(const TEventData& e)
{
    return EventCodeText(e.Code) + kSep + EventListText(e) + kSep + EventListDate(e);
}

int Finish(int result)
{
    PrintLine("result: " + std::to_string(result));
    return result >= 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);  // UTF-8 bytes as they are
#endif
    std::vector<std::string> args(argv + 1, argv + argc);
    console::Options o;
    std::string error;
    if (!console::ParseArgs(args, o, error)) {
        std::fprintf(stderr, "kestrel-console: %s\n%s", error.c_str(), console::Usage());
        return 2;
    }
    if (o.Help) {
        std::fputs(console::Usage(), stdout);
        return 0;
    }

    if (o.Timestamps)
        gStamper = std::make_unique<TLineStamper>();
    // Opened before the first exchange; closed (after the protocol object
    // that writes it is gone) at every return, Ctrl-C in watch included.
    TPcapCapture capture;
    if (!o.CapturePath.empty()) {
        std::string captureError;
        if (!capture.Open(std::filesystem::path(o.CapturePath), captureError)) {
            std::fprintf(stderr, "kestrel-console: %s\n", captureError.c_str());
            return 1;
        }
    }

    std::unique_ptr<ISettingsStore> store = MakeUserSettingsStore();
    PortPathResolver resolver;
    if (!o.PortPath.empty()) {
        const std::string path = o.PortPath;
        resolver = [path](int32_t) { return path; };
    } else {
        resolver = MakeSettingsPortResolver(*store);
    }
    std::unique_ptr<ISerialDevice> device = MakeOsSerialDevice(resolver);
    TComPort port(*device);

    TGlobalState state;
    TCbData& cb = *state.Cb(0);
    cb.PortNumber = static_cast<uint8_t>(o.PortNumber);
    cb.Baud = static_cast<uint32_t>(o.Baud);
    cb.DataBits = o.DataBits;
    cb.Parity = o.Parity;
    cb.StopBits = o.StopBits;
    cb.Address = static_cast<uint8_t>(o.Address);
    state.Fcb = o.Fcb ? 1 : 0;
    state.UirSegment = static_cast<uint8_t>(o.Segment);
    for (size_t i = 0; i < o.Data.size(); ++i)
        state.CmdData[i] = o.Data[i];

    PrintHooks hooks;
    TCbProtocol proto(state, port, SystemClock::Instance(), hooks);
    if (capture.IsOpen())
        proto.Link().SetCapture(&capture);

    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);

    if (o.What == console::Action::Watch) {
        // Event cycles as the acquisition thread runs them: one port visit
        // each, at most 255 events a cycle, and an interrupt ends a cycle
        // between two exchanges. The events are printed after each cycle, so
        // a block that never runs out of events is still shown, and its
        // list in memory stays within its limit.
        int result = 0;
        const auto stop = [] { return gStop.load(); };
        // A port that never opened is a wrong name: the watch ends. One that
        // goes away later is an adapter pulled out: the watch says so once,
        // waits for it and goes on; the block keeps its events meanwhile.
        bool everOpened = false;
        bool lost = false;
        while (!gStop) {
            const int opened = proto.OpenPortForCb(0);
            if (cb.LastPortError.load() != 0) {
                const uint32_t e = cb.LastPortError.load();
                proto.ClosePortForCb(0);
                if (!everOpened) {
                    std::fprintf(stderr, "kestrel-console: cannot open the port (error %lu): %s\n",
                                 static_cast<unsigned long>(e), PortOpenErrorText(e).c_str());
                    return Finish(opened < 0 ? opened : -6);
                }
                if (!lost)
                    std::fprintf(stderr, "kestrel-console: link lost: cannot open the port (error %lu): %s; waiting\n",
                                 static_cast<unsigned long>(e), PortOpenErrorText(e).c_str());
                lost = true;
                result = opened < 0 ? opened : -6;
                SystemClock::Instance().SleepMs(250);  // a missing adapter is looked for, not hammered
                continue;
            }
            everOpened = true;
            result = proto.ReqEventCycle(0, stop);
            proto.ClosePortForCb(0);
            for (const TEventData& e : proto.LastCycleEvents())
                PrintLine(Row(e));
            if (result < 0 && !lost && !gStop) {
                std::fprintf(stderr, "kestrel-console: link lost (%d); waiting\n", result);
                lost = true;
            } else if (result >= 0 && lost) {
                std::fprintf(stderr, "kestrel-console: link back\n");
                lost = false;
            }
            if (result < 0)
                SystemClock::Instance().SleepMs(100);  // a dead link is not hammered
        }
        return Finish(result);
    }

    if (o.What == console::Action::WalkTest) {
        const auto err = [](const std::string& s) {
            std::fflush(stdout);
            std::fprintf(stderr, "kestrel-console: %s\n", s.c_str());
        };
        const auto now = [] {
            return static_cast<int64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                            std::chrono::system_clock::now().time_since_epoch())
                                            .count());
        };
        const int status = console::RunWalkTest(proto, o.OutPath, [] { return gStop.load(); }, now, PrintLine, err);
        std::fflush(stdout);
        return status;
    }

    if (o.What == console::Action::Compare || o.What == console::Action::Snapshot ||
        o.What == console::Action::Restore) {
        // Results only, no traffic log (--capture keeps every frame).
        const auto err = [](const std::string& s) {
            std::fflush(stdout);
            std::fprintf(stderr, "kestrel-console: %s\n", s.c_str());
        };
        bool opened = false;
        const auto open = [&] {
            proto.OpenPortForCb(0);
            opened = true;
            if (cb.LastPortError.load() == 0)
                return true;
            err("cannot open the port (error " + std::to_string(cb.LastPortError.load()) +
                "): " + PortOpenErrorText(cb.LastPortError.load()));
            return false;
        };
        int status = 1;
        if (o.What == console::Action::Restore) {
            status = console::RunRestore(proto, o.File, o.CbNumber, open, PrintLine, err);
        } else if (open()) {
            status = o.What == console::Action::Compare ? console::RunCompare(proto, o.File, o.CbNumber, PrintLine, err)
                                                        : console::RunSnapshot(proto, o.File, PrintLine, err);
        } else {
            status = o.What == console::Action::Compare ? 2 : 1;
        }
        if (opened)
            proto.ClosePortForCb(0);
        std::fflush(stdout);
        return status;
    }

    // One command as the service console runs it, with its traffic log.
    state.ConsoleOpen = 1;
    const int opened = proto.OpenPortForCb(0);
    if (cb.LastPortError.load() != 0) {
        proto.ClosePortForCb(0);
        std::fflush(stdout);
        std::fprintf(stderr, "kestrel-console: cannot open the port (error %lu): %s\n",
                     static_cast<unsigned long>(cb.LastPortError.load()),
                     PortOpenErrorText(cb.LastPortError.load()).c_str());
        return Finish(opened < 0 ? opened : -6);
    }
    int result = 0;
    if (o.What == console::Action::Journal) {
        cb.Events.Clear();
        result = proto.ReqFetchJournal(0);
    } else {
        if (o.Code == ReqPollEvent)
            cb.NewEventCount = 0;
        result = proto.Dispatch(0, o.Code);
    }
    proto.ClosePortForCb(0);
    if (o.What == console::Action::Journal) {
        int n = 0;
        for (const TEventData& e : cb.Events.Snapshot())
            PrintLine(std::to_string(++n) + kSep + Row(e));
    }
    std::fflush(stdout);
    return Finish(result);
}
