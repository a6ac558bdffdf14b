// kestrel-console watch --capture against kestrel-cbsim, ended by Ctrl-C: the
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

TEST(ConsoleCapture, WatchEndedByCtrlCLeavesEveryFrameInTheCapture)
{
    TTempDir dir;
    TChildProcess sim;
    std::string pty;
    ASSERT_TRUE(StartTracedSim(sim, KESTREL_CBSIM, dir, "uir 2 poll=on control=123\n", {}, pty)) << sim.Output();
    const auto file = dir.Path() / "watch.pcap";
    TChildProcess watch;
    // 2400 bit/s: the console's waits leave the simulator 160 ms and more.
    ASSERT_TRUE(watch.Start({KESTREL_CONSOLE, "--port", pty, "--baud", "2400", "--capture", file.string(), "watch"},
                            {"XDG_CONFIG_HOME=" + dir.Path().string()}));
    ASSERT_TRUE(sim.WaitFor("<- reset-fcb", kGuardMs)) << sim.Output();
    sim.Send("arc 2 3 interval 5");
    EXPECT_TRUE(watch.WaitFor("ДЗ на входе 3, УИР 2, интервал 5", kGuardMs)) << watch.Output();
    EXPECT_EQ(watch.StopWith(SIGINT, kGuardMs), 0) << watch.Output();
    std::vector<std::string> rest;
    ASSERT_TRUE(Fence(sim, rest));  // the simulator has dealt with every byte

    // The trace: all bytes heard, the frames dealt with, their answers.
    std::string heard;
    int requests = 0;
    std::vector<std::string> answers;
    std::istringstream trace(sim.Output());
    for (std::string l; std::getline(trace, l);) {
        if (const auto at = l.find("PC -> "); at != std::string::npos)
            heard += (heard.empty() ? "" : " ") + l.substr(at + 6);
        else if (l.find(" <- ") != std::string::npos && ++requests && l.find(", answers ") != std::string::npos)
            answers.push_back(l.substr(l.find(", answers ") + 10));
    }
    // The capture: 24-byte file header, then 16-byte record and 12-byte serial headers.
    std::ifstream in(file, std::ios::binary);
    const std::vector<uint8_t> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string sent;
    int sentFrames = 0;
    std::vector<std::string> received;
    size_t at = 24;
    while (at + 28 <= b.size()) {
        const size_t len = b[at + 8] | b[at + 9] << 8;
        const std::string hex = HexOf(b.data() + at + 28, len - 12);
        if (b[at + 24] == 1) {
            sent += (sent.empty() ? "" : " ") + hex;
            ++sentFrames;
        } else {
            received.push_back(hex);
        }
        at += 16 + len;
    }
    EXPECT_EQ(at, b.size()) << "the last record is cut";
    EXPECT_GE(requests, 3);
    EXPECT_EQ(sent, heard);
    EXPECT_EQ(sentFrames, requests);
    EXPECT_EQ(received, answers);

    if (RunCommand("command -v tshark").empty())
        GTEST_SKIP() << "tshark is not installed; the capture was judged by its bytes";
    const std::string out = RunCommand("tshark -r '" + file.string() +
                                       "' -d rtacser.data,iec60870_101 --disable-protocol iec60870_asdu -T fields"
                                       " -e rtacser.eventtype -e iec60870_101.ctrlfield 2>&1");
    int tsharkSent = 0, tsharkReceived = 0;
    std::istringstream lines(out);
    for (std::string l; std::getline(lines, l);) {
        tsharkSent += l.rfind("0x01\t0x", 0) == 0;  // a request with its control field decoded
        tsharkReceived += l.rfind("0x02\t", 0) == 0;
    }
    EXPECT_EQ(tsharkSent, requests) << out;
    EXPECT_EQ(tsharkReceived, static_cast<int>(answers.size())) << out;
    std::printf("trace: %d frames, %zu answers; tshark: %d and %d\n", requests, answers.size(), tsharkSent,
                tsharkReceived);
    EXPECT_EQ(sim.StopWith(SIGINT), 0);
}

}  // namespace
}  // namespace kestrel::sim::test
#endif
