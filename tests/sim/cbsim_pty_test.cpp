// kestrel-cbsim as a separate program on a real pseudo-terminal: its output,
// the port mapping it registers, its typed commands, honest wire timing, and
// the client's own stack (termios device, port object, protocol) against it.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "link/ComPort.h"
#include "link/SerialDeviceOs.h"
#include "protocol/Protocol.h"
#include "sim/AnsweredDevice.h"
#include "sim/SimProcess.h"
#include "state/SettingsStoreFile.h"
#include "state/UiHooks.h"

namespace kestrel::sim::test {
namespace {

using namespace std::chrono;

std::string ReadFile(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

struct TSim {
    TTempDir dir;
    TChildProcess proc;
    std::string pty;

    bool Start(std::vector<std::string> args)
    {
        args.insert(args.begin(), KESTREL_CBSIM);
        if (!proc.Start(args, {"XDG_CONFIG_HOME=" + dir.Path().string()}))
            return false;
        return proc.ReadLine(pty) && pty.rfind("/dev/", 0) == 0;
    }
    std::filesystem::path Registry() const { return dir.Path() / "KestrelUtilite" / "registry"; }
    std::string WriteScenario(const std::string& text) const
    {
        const auto p = dir.Path() / "scenario.txt";
        std::ofstream(p) << text;
        return p.string();
    }
};

// A raw terminal opened by hand: write, then wait for the first byte.
class TRawPort {
public:
    explicit TRawPort(const std::string& path, speed_t speed = B9600)
    {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd_ >= 0) {
            termios t{};
            ::tcgetattr(fd_, &t);
            ::cfmakeraw(&t);
            ::cfsetispeed(&t, speed);
            ::cfsetospeed(&t, speed);
            ::tcsetattr(fd_, TCSANOW, &t);
        }
    }
    ~TRawPort()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool Ok() const { return fd_ >= 0; }
    bool Write(const std::vector<uint8_t>& req)
    {
        return ::write(fd_, req.data(), req.size()) == static_cast<ssize_t>(req.size());
    }
    // Writes and collects `want` bytes; returns the ms until the first one.
    double Exchange(const std::vector<uint8_t>& req, std::vector<uint8_t>& got, size_t want, int timeoutMs = kGuardMs)
    {
        got.clear();
        const auto t0 = steady_clock::now();
        if (!Write(req))
            return -1;
        double first = -1;
        while (got.size() < want && steady_clock::now() - t0 < milliseconds(timeoutMs)) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 5) <= 0)
                continue;
            uint8_t buf[64];
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n > 0) {
                if (first < 0)
                    first = duration<double, std::milli>(steady_clock::now() - t0).count();
                got.insert(got.end(), buf, buf + n);
            }
        }
        return first;
    }

private:
    int fd_ = -1;
};

TEST(CbsimPty, FirstLineRegisterStatusAndInterrupt)
{
    TSim sim;
    ASSERT_TRUE(sim.Start({"--scenario", KESTREL_SOURCE_DIR "/sim/scenarios/demo.txt", "--register", "COM7"}))
        << sim.proc.Output();
    const auto mapping = sim.Registry() / "Software" / "KestrelUtilite" / "Ports" / "COM7";
    EXPECT_EQ(ReadFile(mapping), sim.pty);  // the path bytes, no newline
    // The client's settings store finds the same device.
    TFileSettingsStore store(sim.Registry());
    EXPECT_EQ(PortPathFromSettings(store, 7), sim.pty);

    sim.proc.Send("status");
    EXPECT_TRUE(sim.proc.WaitFor("journal 36")) << sim.proc.Output();
    sim.proc.Send("frobnicate");
    EXPECT_TRUE(sim.proc.WaitFor("error: unknown command")) << sim.proc.Output();
    EXPECT_EQ(sim.proc.StopWith(SIGINT), 0);
    EXPECT_FALSE(std::filesystem::exists(mapping));
}

TEST(CbsimPty, BadArgumentsAndBadScenario)
{
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--address", "0"}, {"--baud"}, {"--register", "LPT1"}, {"--what"},
          {"--address", "3", "3"}}) {
        TSim sim;
        std::vector<std::string> a = args;
        a.insert(a.begin(), KESTREL_CBSIM);
        ASSERT_TRUE(sim.proc.Start(a));
        EXPECT_EQ(sim.proc.StopWith(0, kGuardMs), 2) << args[0];
    }
    TSim sim;
    const std::string file = sim.WriteScenario("journal 3\nat soon arc 1 1\n");
    ASSERT_TRUE(sim.proc.Start({KESTREL_CBSIM, "--scenario", file}));
    EXPECT_EQ(sim.proc.StopWith(0, kGuardMs), 1);
}

TEST(CbsimPty, HonestWireTiming)
{
    TSim sim;
    ASSERT_TRUE(sim.Start({"--trace"})) << sim.proc.Output();
    TRawPort port(sim.pty);
    ASSERT_TRUE(port.Ok());
    std::vector<uint8_t> got;
    // 5 request bytes, 5 ms turnaround, 1 answer byte at 11 bits / 9600 bit/s: 11.9 ms.
    const double ms = port.Exchange({0x10, 0x40, 0x01, 0x41, 0x16}, got, 1);
    EXPECT_EQ(got, std::vector<uint8_t>{0xE5});
    EXPECT_GE(ms, 11.0);  // a lower bound only: a busy host can only add to it
    EXPECT_TRUE(sim.proc.WaitFor("PC -> 10 40 01 41 16")) << sim.proc.Output();
    EXPECT_TRUE(sim.proc.WaitFor("CB 1 <- reset-link, answers E5")) << sim.proc.Output();

    // A longer turnaround typed while it runs.
    sim.proc.Send("turnaround 80");
    ASSERT_TRUE(sim.proc.WaitFor("ok"));
    const double slow = port.Exchange({0x10, 0x49, 0x01, 0x4A, 0x16}, got, 5);
    EXPECT_EQ(got, (std::vector<uint8_t>{0x10, 0x0B, 0x01, 0x0C, 0x16}));
    EXPECT_GE(slow, 86.0);
}

TEST(CbsimPty, ClosingTheTerminalDropsAnswersOnTheirWay)
{
    TSim sim;
    ASSERT_TRUE(sim.Start({"--turnaround", "500", "--trace"})) << sim.proc.Output();
    {
        TRawPort port(sim.pty);
        ASSERT_TRUE(port.Ok());
        // Closed at once, half a second before the answer is due.
        ASSERT_TRUE(port.Write({0x10, 0x40, 0x01, 0x41, 0x16}));
    }
    // The simulator heard the request, then saw the terminal closed.
    ASSERT_TRUE(WaitPcBytes(sim.proc, "10 40 01 41 16")) << sim.proc.Output();
    std::vector<std::string> lines;
    ASSERT_TRUE(Fence(sim.proc, lines)) << sim.proc.Output();
    EXPECT_EQ(Answers(lines).size(), 1u) << sim.proc.Output();
    TRawPort again(sim.pty);
    ASSERT_TRUE(again.Ok());
    std::vector<uint8_t> got;
    // Only the answer to this request arrives; the one of the closed visit,
    // due earlier, would come first.
    again.Exchange({0x10, 0x49, 0x01, 0x4A, 0x16}, got, 5);
    EXPECT_EQ(got, (std::vector<uint8_t>{0x10, 0x0B, 0x01, 0x0C, 0x16}));
}

TEST(CbsimPty, CheckLineHearsOnlyTheBlocksOwnSpeed)
{
    TSim sim;
    ASSERT_TRUE(sim.Start({"--check-line", "--trace"})) << sim.proc.Output();
    const std::vector<uint8_t> reset{0x10, 0x40, 0x01, 0x41, 0x16};
    // Not heard: the simulator took the bytes at the terminal's speed and
    // no block answered them (judged on its trace, not on a quiet while).
    auto unheard = [&](TRawPort& port) {
        std::vector<std::string> lines;
        if (!Fence(sim.proc, lines) || !port.Write(reset) || !WaitPcBytes(sim.proc, "10 40 01 41 16"))
            return std::string("no trace");
        lines.clear();
        if (!Fence(sim.proc, lines))
            return std::string("no fence");
        const auto answers = Answers(lines);
        return answers.empty() ? std::string() : answers.front();
    };
    std::vector<uint8_t> got;
    {
        TRawPort fast(sim.pty, B19200);
        EXPECT_EQ(unheard(fast), "") << sim.proc.Output();
    }
    {
        TRawPort right(sim.pty);
        right.Exchange(reset, got, 1);
        EXPECT_EQ(got, std::vector<uint8_t>{0xE5});
        // Set speed 19200: confirmed at 9600, then 9600 is not heard any more.
        right.Exchange({0x68, 0x04, 0x04, 0x68, 0x53, 0x01, 0x50, 0x01, 0xA5, 0x16}, got, 1);
        EXPECT_EQ(got, std::vector<uint8_t>{0xE5});
        EXPECT_EQ(unheard(right), "") << sim.proc.Output();
    }
    TRawPort fast(sim.pty, B19200);
    fast.Exchange(reset, got, 1);
    EXPECT_EQ(got, std::vector<uint8_t>{0xE5});
}

TEST(CbsimPty, WithoutCheckLineTheBlockFollowsItsOwnSpeed)
{
    TSim sim;
    ASSERT_TRUE(sim.Start({})) << sim.proc.Output();
    TRawPort port(sim.pty);
    std::vector<uint8_t> got;
    port.Exchange({0x68, 0x04, 0x04, 0x68, 0x53, 0x01, 0x50, 0x01, 0xA5, 0x16}, got, 1);
    EXPECT_EQ(got, std::vector<uint8_t>{0xE5});
    // Now at 19200 bit/s: answers come faster, and the terminal still works.
    const double ms = port.Exchange({0x10, 0x40, 0x01, 0x41, 0x16}, got, 1);
    EXPECT_EQ(got, std::vector<uint8_t>{0xE5});
    EXPECT_GE(ms, 8.0);  // 5 + 6 characters at 0.57 ms
    sim.proc.Send("status");
    EXPECT_TRUE(sim.proc.WaitFor("19200 bit/s")) << sim.proc.Output();
}

TEST(CbsimPty, ClientStackAgainstTheProgram)
{
    TSim sim;
    const std::string file = sim.WriteScenario("uir 1-3 poll=on control=123 f=0,1,2\njournal 3\n");
    ASSERT_TRUE(sim.Start({"--scenario", file, "--address", "4", "--register", "COM5", "--trace"}))
        << sim.proc.Output();

    TFileSettingsStore store(sim.Registry());
    auto device = MakeOsSerialDevice(MakeSettingsPortResolver(store));
    TAnsweredDevice answered(*device, sim.proc);
    TGlobalState state;
    TComPort port(answered);
    IUiHooks hooks;
    TCbProtocol proto(state, port, SystemClock::Instance(), hooks);
    TCbData& rec = *state.Cb(0);
    rec.PortNumber = 5;
    rec.Address = 4;

    ASSERT_EQ(proto.OpenPortForCb(0), 0);
    // The generated history ends with a reset: the second fetch stops there,
    // the first reads all three.
    EXPECT_EQ(proto.ReqFetchJournal2(0), 0);
    EXPECT_EQ(rec.Events.Count(), 1);
    rec.Events.Clear();
    EXPECT_EQ(proto.ReqFetchJournal(0), 0);
    EXPECT_EQ(rec.Events.Count(), 3);
    EXPECT_EQ(rec.JournalError.load(), 0);

    sim.proc.Send("arc 2 1 interval 6");
    ASSERT_TRUE(sim.proc.WaitFor("outputs")) << sim.proc.Output();
    EXPECT_EQ(proto.ReqEventCycle(0), 0);
    EXPECT_EQ(rec.NewEventCount.load(), 3);
    EXPECT_EQ(rec.Uir[1].ChArc1.load(), 1);

    for (int k = 0; k < 4; ++k)
        for (int m = 0; m < 4; ++m)
            rec.FuncTable[k][m] = static_cast<uint8_t>(k * 4 + m);
    rec.UrovTimeMs = 300;
    EXPECT_EQ(proto.ReqWriteAllFuncTables(0), 0);
    for (int k = 0; k < 4; ++k)
        for (int m = 0; m < 4; ++m)
            rec.FuncTable[k][m] = 0xEE;
    EXPECT_EQ(proto.ReqReadAllFuncTables(0, true), 0);
    EXPECT_EQ(rec.FuncTable[2][3].load(), 11);
    EXPECT_EQ(rec.UrovTimeMs.load(), 300);

    // A single command, without retries of its own.
    EXPECT_EQ(proto.ReqReadClock(0, false), 0);
    EXPECT_GE(rec.ClockYear.load(), 24u);
    EXPECT_EQ(rec.LinkLost.load(), 0);
    proto.ClosePortForCb(0);
    EXPECT_EQ(sim.proc.StopWith(SIGTERM), 0);
}

}  // namespace
}  // namespace kestrel::sim::test

#ifdef KESTREL_CONSOLE
namespace kestrel::sim::test {
namespace {

// Runs kestrel-console to the end; its output and exit code.
int RunConsole(const std::vector<std::string>& args, const std::string& xdg, std::string& out)
{
    std::vector<std::string> a = args;
    a.insert(a.begin(), KESTREL_CONSOLE);
    TChildProcess p;
    if (!p.Start(a, {"XDG_CONFIG_HOME=" + xdg}))
        return -1;
    std::string line;
    while (p.ReadLine(line, kGuardMs)) {
    }
    out = p.Output();
    return p.StopWith(0, kGuardMs);
}

TEST(CbsimPty, HeadlessConsoleAgainstTheProgram)
{
    TSim sim;
    const std::string file = sim.WriteScenario("uir 1-2 poll=on control=123\njournal 3\nclock 2013-10-02 17:30:05\nclock stop\n");
    ASSERT_TRUE(sim.Start({"--scenario", file, "--register", "COM9", "--trace"})) << sim.proc.Output();
    const std::string xdg = sim.dir.Path().string();

    // The console paces itself for 2400 bit/s while the block (which hears
    // each PC at its own speed here) answers at 9600: the console's fixed
    // waits then leave the simulator 160 ms and more, instead of tens.
    std::string out;
    int rc = -1;
    for (int i = 0; i < 3 && rc != 0; ++i)  // a single command: no retries of its own
        rc = RunConsole({"--port", "COM9", "--baud", "2400", "ReqReadClock"}, xdg, out);
    EXPECT_EQ(rc, 0) << out;
    EXPECT_NE(out.find("Переданные байты: \n68; 03; 03; 68; 5B; 01; 3C; 98; 16; \n"), std::string::npos) << out;
    EXPECT_NE(out.find("Полученные байты: \n68; 09; 09; 68; \n08; 01; 3C; 05; 30; 17; 02; 10; 13; B6; 16; \nКонтрольная сумма: B6;"), std::string::npos) << out;
    EXPECT_NE(out.find("Время/дата центрального блока: 17:30:5  2/10/13"), std::string::npos) << out;
    EXPECT_NE(out.find("result: 0"), std::string::npos) << out;

    EXPECT_EQ(RunConsole({"--port", sim.pty, "--baud", "2400", "journal"}, xdg, out), 0) << out;
    EXPECT_NE(out.find("\n3;   "), std::string::npos) << out;
    EXPECT_EQ(out.find("\n4;   "), std::string::npos) << out;

    // A block that is not there: no answer, a failure result.
    EXPECT_EQ(RunConsole({"--port", sim.pty, "--baud", "2400", "--address", "2", "ReqResetLink"}, xdg, out), 1) << out;
    EXPECT_NE(out.find("Нет ответа от центрального блока (ЦБ)"), std::string::npos) << out;

    // Watching for events while the installation raises an arc.
    TChildProcess watch;
    ASSERT_TRUE(watch.Start({KESTREL_CONSOLE, "--port", sim.pty, "--baud", "2400", "watch"}, {"XDG_CONFIG_HOME=" + xdg}));
    // Its first event cycle is under way (nothing before it resets the FCB).
    ASSERT_TRUE(sim.proc.WaitFor("<- reset-fcb", kGuardMs)) << sim.proc.Output();
    sim.proc.Send("arc 2 3 interval 5");
    EXPECT_TRUE(watch.WaitFor("ДЗ на входе 3, УИР 2, интервал 5", kGuardMs)) << watch.Output();
    EXPECT_EQ(watch.StopWith(SIGINT, kGuardMs), 0) << watch.Output();
    EXPECT_EQ(sim.proc.StopWith(SIGINT), 0);
}

}  // namespace
}  // namespace kestrel::sim::test
#endif
