// kestrel-console --capture against kestrel-cbsim on a pseudo-terminal: the
// capture holds every frame the simulator heard and every answer it gave,
// byte for byte, and tshark decodes as many frames as the trace shows.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

#include "sim/AnsweredDevice.h"
#include "sim/SimProcess.h"

#ifdef KESTREL_CONSOLE
namespace kestrel::sim::test {
namespace {

using Bytes = std::vector<uint8_t>;

struct Frame {
    uint8_t Type;  // 1 sent, 2 received
    Bytes Data;
};

uint32_t Le32(const Bytes& b, size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

// The records of a capture file (24-byte file header, 16-byte record headers,
// 12-byte serial headers); a cut record fails the test.
std::vector<Frame> ReadCapture(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    const Bytes b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<Frame> out;
    EXPECT_GE(b.size(), 24u);
    for (size_t at = 24; at + 28 <= b.size();) {
        const uint32_t incl = Le32(b, at + 8);
        EXPECT_LE(at + 16 + incl, b.size());
        if (at + 16 + incl > b.size())
            break;
        out.push_back({b[at + 16 + 8], Bytes(b.begin() + static_cast<long>(at + 28), b.begin() + static_cast<long>(at + 16 + incl))});
        at += 16 + incl;
    }
    return out;
}

std::string Hex(const Bytes& b)
{
    return HexOf(b.data(), b.size());
}

std::string RunCommand(const std::string& cmd)
{
    std::string out;
    FILE* f = popen(cmd.c_str(), "r");
    if (!f)
        return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        out.append(buf, n);
    pclose(f);
    return out;
}

struct Trace {
    std::string PcBytes;               // everything the simulator heard, in order
    int Requests = 0;                  // frames the blocks dealt with
    std::vector<std::string> Answers;  // their answers, in order
};

Trace ReadTrace(const std::vector<std::string>& lines)
{
    Trace t;
    for (const std::string& l : lines) {
        if (const auto at = l.find("PC -> "); at != std::string::npos) {
            t.PcBytes += (t.PcBytes.empty() ? "" : " ") + l.substr(at + 6);
        } else if (l.find(" <- ") != std::string::npos) {
            ++t.Requests;
            if (const auto a = l.find(", answers "); a != std::string::npos)
                t.Answers.push_back(l.substr(a + 10));
        }
    }
    return t;
}

// Compares the capture with the trace and with tshark's reading of it.
void JudgeCapture(const std::filesystem::path& file, const Trace& trace)
{
    const std::vector<Frame> frames = ReadCapture(file);
    std::string sent;
    std::vector<std::string> received;
    int sentCount = 0;
    for (const Frame& f : frames) {
        if (f.Type == 1) {
            sent += (sent.empty() ? "" : " ") + Hex(f.Data);
            ++sentCount;
        } else {
            EXPECT_EQ(f.Type, 2);
            received.push_back(Hex(f.Data));
        }
    }
    EXPECT_EQ(sent, trace.PcBytes);
    EXPECT_EQ(sentCount, trace.Requests);
    EXPECT_EQ(received, trace.Answers);

    if (RunCommand("command -v tshark 2>/dev/null").find("tshark") == std::string::npos) {
        std::printf("tshark is not installed: the capture was judged by its bytes only\n");
        return;
    }
    const std::string out = RunCommand("tshark -r '" + file.string() +
                                       "' -d rtacser.data,iec60870_101 --disable-protocol iec60870_asdu -T fields"
                                       " -e rtacser.eventtype -e iec60870_101.ctrlfield 2>&1");
    EXPECT_EQ(out.find("cut short"), std::string::npos) << out;
    std::istringstream lines(out);
    int tsharkSent = 0, tsharkReceived = 0, decoded = 0;
    for (std::string l; std::getline(lines, l);) {
        if (l.rfind("0x01\t", 0) == 0)
            ++tsharkSent;
        else if (l.rfind("0x02\t", 0) == 0)
            ++tsharkReceived;
        // Every frame but a lone 0xE5 has a control field.
        if (l.size() > 5 && l.find("\t0x", 4) != std::string::npos)
            ++decoded;
    }
    EXPECT_EQ(tsharkSent, trace.Requests) << out;
    EXPECT_EQ(tsharkReceived, static_cast<int>(trace.Answers.size())) << out;
    int e5 = 0;
    for (const std::string& a : trace.Answers)
        e5 += a == "E5" ? 1 : 0;
    EXPECT_EQ(decoded, trace.Requests + static_cast<int>(trace.Answers.size()) - e5) << out;
    std::printf("capture: %d frames sent, %zu answers; tshark: %d and %d\n", trace.Requests, trace.Answers.size(),
                tsharkSent, tsharkReceived);
}

struct Sim {
    TTempDir dir;
    TChildProcess proc;
    std::string pty;
    bool Start(const std::string& scenario)
    {
        const auto p = dir.Path() / "scenario.txt";
        std::ofstream(p) << scenario;
        return proc.Start({KESTREL_CBSIM, "--scenario", p.string(), "--trace"},
                          {"XDG_CONFIG_HOME=" + dir.Path().string()}) &&
               proc.ReadLine(pty) && pty.rfind("/dev/", 0) == 0;
    }
};

TEST(ConsoleCapture, JournalFetchEveryFrameOnTheWireIsInTheCapture)
{
    Sim sim;
    ASSERT_TRUE(sim.Start("journal 3\n")) << sim.proc.Output();
    const auto file = sim.dir.Path() / "journal.pcap";
    TChildProcess console;
    // 2400 bit/s: the console's waits leave the simulator 160 ms and more.
    ASSERT_TRUE(console.Start({KESTREL_CONSOLE, "--port", sim.pty, "--baud", "2400", "--capture", file.string(),
                               "journal"},
                              {"XDG_CONFIG_HOME=" + sim.dir.Path().string()}));
    ASSERT_TRUE(console.WaitFor("result: ", kGuardMs)) << console.Output();
    EXPECT_EQ(console.StopWith(0, kGuardMs), 0) << console.Output();
    std::vector<std::string> lines;
    ASSERT_TRUE(Fence(sim.proc, lines));
    const Trace trace = ReadTrace(lines);
    // Reset of the link, three records and the empty answer after them.
    EXPECT_GE(trace.Requests, 5) << sim.proc.Output();
    JudgeCapture(file, trace);
    EXPECT_EQ(sim.proc.StopWith(SIGINT), 0);
}

TEST(ConsoleCapture, WatchInterruptedLeavesAWholeCapture)
{
    Sim sim;
    ASSERT_TRUE(sim.Start("uir 2 poll=on control=123\n")) << sim.proc.Output();
    const auto file = sim.dir.Path() / "watch.pcap";
    TChildProcess watch;
    ASSERT_TRUE(watch.Start({KESTREL_CONSOLE, "--port", sim.pty, "--baud", "2400", "--capture", file.string(),
                             "--timestamps", "watch"},
                            {"XDG_CONFIG_HOME=" + sim.dir.Path().string()}));
    ASSERT_TRUE(sim.proc.WaitFor("<- reset-fcb", kGuardMs)) << sim.proc.Output();
    sim.proc.Send("arc 2 3 interval 5");
    EXPECT_TRUE(watch.WaitFor("ДЗ на входе 3, УИР 2, интервал 5", kGuardMs)) << watch.Output();
    EXPECT_EQ(watch.StopWith(SIGINT, kGuardMs), 0) << watch.Output();
    // The event line carries the PC time: "HH:MM:SS.mmm " before the code.
    const std::string& out = watch.Output();
    const auto ev = out.find("ДЗ на входе 3");
    ASSERT_NE(ev, std::string::npos);
    const auto bol = out.rfind('\n', ev) == std::string::npos ? 0 : out.rfind('\n', ev) + 1;
    const std::string line = out.substr(bol, ev - bol);
    ASSERT_GE(line.size(), 13u) << line;
    EXPECT_EQ(line[2], ':');
    EXPECT_EQ(line[5], ':');
    EXPECT_EQ(line[8], '.');
    EXPECT_EQ(line[12], ' ');

    std::vector<std::string> lines;
    ASSERT_TRUE(Fence(sim.proc, lines));
    // Fence reads on from where WaitFor stopped: the trace before it is in Output().
    std::vector<std::string> all;
    std::istringstream whole(sim.proc.Output());
    for (std::string l; std::getline(whole, l);)
        all.push_back(l);
    const Trace trace = ReadTrace(all);
    EXPECT_GE(trace.Requests, 3);
    JudgeCapture(file, trace);
    EXPECT_EQ(sim.proc.StopWith(SIGINT), 0);
}

}  // namespace
}  // namespace kestrel::sim::test
#endif
