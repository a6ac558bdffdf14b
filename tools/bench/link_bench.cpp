// kestrel-bench-link: how closely the link keeps its pace on a real
// pseudo-terminal. For 9600 and 19200 bit/s it measures, for every command,
// the time from the end of the request's write to the first read of the
// answer (the post-write wait) against the table, and the time of a
// 255-record journal fetch against the sum of its waits and pauses.
//
// The other end of the terminal is answered at once by a thread of this
// program, so what is measured is the program's own pacing.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "link/ComPort.h"
#include "link/Link.h"
#include "link/SerialDeviceOs.h"
#include "protocol/Protocol.h"
#include "state/Clock.h"

namespace {

using namespace kestrel;
using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

// Notes when a write ends and when the first read after it starts.
class TimingDevice final : public ISerialDevice {
public:
    explicit TimingDevice(ISerialDevice& inner) : inner_(inner) {}
    uint32_t Open(int32_t n) override { return inner_.Open(n); }
    void Close() override { inner_.Close(); }
    bool IsOpen() const override { return inner_.IsOpen(); }
    uint32_t ApplyLineSettings(const LineSettings& s) override { return inner_.ApplyLineSettings(s); }
    void ApplyTimeouts(const PortTimeouts& t) override { inner_.ApplyTimeouts(t); }
    bool Read(uint8_t* b, size_t n, size_t& got, uint32_t& err) override
    {
        if (!readSeen_) {
            readSeen_ = true;
            firstRead_ = Clock::now();
        }
        return inner_.Read(b, n, got, err);
    }
    bool Write(const uint8_t* b, size_t n, uint32_t& err) override
    {
        const bool ok = inner_.Write(b, n, err);
        writeEnd_ = Clock::now();
        readSeen_ = false;
        return ok;
    }
    // Write end to first read; without a read, to `end`.
    double Waited(Clock::time_point end) const { return Ms((readSeen_ ? firstRead_ : end) - writeEnd_); }

private:
    ISerialDevice& inner_;
    Clock::time_point writeEnd_{}, firstRead_{};
    bool readSeen_ = false;
};

// The central block on the other end: answers every request at once.
class Responder {
public:
    explicit Responder(int master) : master_(master) {}
    void Start() { thread_ = std::thread([this] { Run(); }); }
    void Stop()
    {
        stop_ = true;
        thread_.join();
    }
    void SetJournal(int n) { journal_ = n; }

private:
    void Answer(const std::vector<uint8_t>& f)
    {
        std::vector<uint8_t> a;
        auto longAnswer = [&](uint8_t ci, std::vector<uint8_t> data) { a = TLink::LongFrame(0x08, f[5], ci, data); };
        if (f[0] == 0x10) {
            const uint8_t c = f[1] & 0xDF;
            if (c == 0x40 || c == 0x47 || c == 0x5B)
                a = {0xE5};
            else if (c == 0x49)
                a = TLink::ShortFrame(0x0B, f[2]);
        } else {
            const uint8_t c = f[4] & 0xDF, ci = f[6];
            if (c == 0x5B) {
                if (ci == 0xF0) {
                    if (journal_ > 0) {
                        --journal_;
                        longAnswer(0x00, {0xD1, 0, 0xFF, 0x00, 0x40, 0x05, 0x07, 0x09, 0x00, 0x03, 0x03, 0x14});
                    } else {
                        a = {0xE5};
                    }
                } else if (ci >= 0x2C && ci <= 0x38) {
                    longAnswer(ci, {0x38, 0x38, 0, 0, 4, 5, 1});
                } else if (ci == 0x3C) {
                    longAnswer(ci, {0x05, 0x30, 0x17, 0x02, 0x10, 0x13});
                } else if (ci == 0x40) {
                    longAnswer(ci, {f[7], 0x24, 7, 0x24, 7, 0x24, 7, 0x24, 7});
                }
            } else if (c == 0x53) {
                a = {0xE5};
            }
            // 0x44 (send, no reply): nothing.
        }
        if (!a.empty() && write(master_, a.data(), a.size()) < 0)
            std::perror("responder write");
    }

    void Run()
    {
        std::vector<uint8_t> pending;
        while (!stop_) {
            pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, 2) <= 0)
                continue;
            uint8_t buf[256];
            const ssize_t n = read(master_, buf, sizeof buf);
            if (n > 0)
                pending.insert(pending.end(), buf, buf + n);
            for (;;) {
                if (pending.empty())
                    break;
                size_t need = 0;
                if (pending[0] == 0x10)
                    need = 5;
                else if (pending[0] == 0x68 && pending.size() > 1)
                    need = pending[1] + 6u;
                else if (pending[0] != 0x68) {
                    pending.erase(pending.begin());
                    continue;
                }
                if (need == 0 || pending.size() < need)
                    break;
                Answer(std::vector<uint8_t>(pending.begin(), pending.begin() + static_cast<long>(need)));
                pending.erase(pending.begin(), pending.begin() + static_cast<long>(need));
            }
        }
    }

    int master_;
    std::atomic<bool> stop_{false};
    std::atomic<int> journal_{0};
    std::thread thread_;
};

struct Command {
    int32_t Code;
    const char* Name;
    uint32_t Basis;
};

const Command kCommands[] = {
    {1, "ReqResetLink", 5},           {2, "ReqReadJournalRecord", 25},  {3, "ReqReadFuncTableNoMtz", 25},
    {4, "ReqReadFuncTableMtz1", 25},  {5, "ReqReadFuncTableMtz2", 25},  {6, "ReqReadFuncTableMtz3", 25},
    {7, "ReqResetFcb", 5},            {8, "ReqReadClock", 25},          {9, "ReqReadUirSegment", 25},
    {10, "ReqClearJournal", 25},      {11, "ReqWriteFuncTableNoMtz", 25}, {12, "ReqWriteFuncTableMtz1", 25},
    {13, "ReqWriteFuncTableMtz2", 25}, {14, "ReqWriteFuncTableMtz3", 25}, {15, "ReqWriteClock", 25},
    {16, "ReqWriteUirSegment", 25},   {17, "ReqResetCb", 9},            {18, "ReqSetAddress", 10},
    {19, "ReqSetSpeed", 10},          {20, "ReqLinkStatus", 5},         {21, "ReqPollEvent", 5},
    {22, "ReqStopClock", 9},          {23, "ReqReadJournalRecord2", 25},
};

}  // namespace

int main(int argc, char** argv)
{
    int reps = 7;
    if (argc > 1)
        reps = std::max(1, std::atoi(argv[1]));

    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::perror("pseudo-terminal");
        return 1;
    }
    termios t{};
    tcgetattr(master, &t);
    cfmakeraw(&t);
    tcsetattr(master, TCSANOW, &t);
    const std::string slave = ptsname(master);
    Responder responder(master);
    responder.Start();

    auto os = MakeOsSerialDevice([slave](int32_t) { return slave; });
    TimingDevice dev(*os);
    TComPort port(dev);
    TGlobalState state;
    IUiHooks hooks;
    TCbProtocol proto(state, port, SystemClock::Instance(), hooks);
    TCbData& cb = *state.Cb(0);

    bool allWithin = true;
    std::printf("kestrel-bench-link: %d repetitions per command, median of the measured waits\n", reps);
    for (int32_t speed : {9600, 19200}) {
        cb.Baud = static_cast<uint32_t>(speed);
        if (proto.OpenPortForCb(0) != 0) {
            std::fprintf(stderr, "cannot open %s\n", slave.c_str());
            return 1;
        }
        std::printf("\n%d bit/s\n%-24s %8s %10s %8s\n", speed, "command", "table ms", "median ms", "diff");
        for (const Command& c : kCommands) {
            uint32_t table = TLink::PostWriteWaitMs(speed, c.Basis, c.Code == ReqPollEvent);
            if (c.Code == ReqStopClock)
                table += 20;
            std::vector<double> waited;
            for (int i = 0; i < reps; ++i) {
                responder.SetJournal(1);
                state.CmdData[0] = 0;  // set-speed: keep 9600 code, nothing acts on it here
                proto.Dispatch(0, c.Code);
                waited.push_back(dev.Waited(Clock::now()));
                tcflush(master, TCIOFLUSH);
                // Anything still in the driver goes before the next request.
                uint8_t sink[256];
                size_t got = 0;
                uint32_t err = 0;
                while (os->Read(sink, sizeof sink, got, err) && got > 0) {
                }
            }
            std::sort(waited.begin(), waited.end());
            const double median = waited[waited.size() / 2];
            const double diff = median - table;
            const bool ok = diff >= -2.0 && diff <= 2.0;
            allWithin = allWithin && ok;
            std::printf("%-24s %8u %10.2f %+8.2f%s\n", c.Name, table, median, diff, ok ? "" : "  OUT OF BOUNDS");
        }

        responder.SetJournal(300);
        cb.Events.Clear();  // the single record reads above stored some
        const auto t0 = Clock::now();
        const int r = proto.ReqFetchJournal(0);
        const double took = Ms(Clock::now() - t0);
        const double computed = TLink::PostWriteWaitMs(speed, 5) + 255.0 * (5 + TLink::PostWriteWaitMs(speed, 25) + 10);
        const double off = 100.0 * (took - computed) / computed;
        const bool ok = r == 0 && cb.Events.Count() == 255 && off >= -3.0 && off <= 3.0;
        allWithin = allWithin && ok;
        std::printf("journal fetch, 255 records: result %d, %d stored, %.0f ms against %.0f ms computed (%+.2f%%)%s\n",
                    r, cb.Events.Count(), took, computed, off, ok ? "" : "  OUT OF BOUNDS");
        cb.Events.Clear();
        proto.ClosePortForCb(0);
    }
    responder.Stop();
    close(master);
    std::printf("\n%s\n", allWithin ? "all within bounds" : "some figures out of bounds");
    return allWithin ? 0 : 1;
}
