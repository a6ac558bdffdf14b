// The demo of `make run`: the two scenario files on a bus of two simulated
// blocks, polled through the client's protocol on a virtual clock, and the
// configuration kestrel-democfg writes for them.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "SimBus.h"
#include "link/ComPort.h"
#include "monitor/StatusWalk.h"
#include "protocol/Protocol.h"
#include "state/ConfigFile.h"
#include "state/Cp1251.h"

namespace kestrel::sim::test {
namespace {

std::string ReadScenario(const char* name)
{
    std::ifstream in(std::string(KESTREL_SOURCE_DIR "/sim/scenarios/") + name, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

struct DemoBus {
    VirtualClock clock;
    SimBus bus{clock};
    TSimCb& one;
    TSimCb& two;
    DemoBus() : one(Attach(1)), two(Attach(2)) {}
    TSimCb& Attach(uint8_t address)
    {
        TSimCbOptions o;
        o.Address = address;
        return bus.Attach(1, o);
    }
};

TEST(Demo, ScenariosNeedBothBlocksAndLoadTogether)
{
    const std::string first = ReadScenario("demo.txt");
    const std::string second = ReadScenario("demo-cb2.txt");
    ASSERT_FALSE(first.empty());
    ASSERT_FALSE(second.empty());
    std::string error;
    {
        // The second block's file names a block the one-block bus lacks.
        VirtualClock clock;
        SimBus lone(clock);
        lone.Attach(1);
        EXPECT_TRUE(lone.LoadScenario(first, error)) << error;
        EXPECT_FALSE(lone.LoadScenario(second, error));
        EXPECT_NE(error.find("no block at address 2"), std::string::npos) << error;
    }
    DemoBus d;
    ASSERT_TRUE(d.bus.LoadScenario(first, error)) << error;
    ASSERT_TRUE(d.bus.LoadScenario(second, error)) << error;
    // Each file set up its own block only.
    EXPECT_EQ(d.one.Journal().size(), 36u);
    EXPECT_EQ(d.two.Journal().size(), 12u);
    EXPECT_EQ(d.one.UrovUnits(), 4u);  // 200 ms
    EXPECT_EQ(d.two.UrovUnits(), 6u);  // 300 ms
}

// Ten minutes of the demo, each block polled once a second as the thread
// would: block 2 raises its arcs (on UIRs the block polls, so they are not
// ignored), they mark block 2 only, and each reset clears the mark again.
TEST(Demo, BlockTwoRaisesArcsNowAndThenAndTheyReachItsRecord)
{
    DemoBus d;
    std::string error;
    ASSERT_TRUE(d.bus.LoadScenario(ReadScenario("demo.txt"), error)) << error;
    ASSERT_TRUE(d.bus.LoadScenario(ReadScenario("demo-cb2.txt"), error)) << error;
    std::map<uint8_t, int> raised1, raised2;
    d.one.SetOnEvent([&](const TSimEvent& e) { ++raised1[e.Code]; });
    d.two.SetOnEvent([&](const TSimEvent& e) { ++raised2[e.Code]; });

    TGlobalState state;
    {
        std::lock_guard lock(state.RecordLock);
        state.EnsureAllocated(2);
        state.CbCount = 2;
    }
    state.Cb(1)->Address = 2;
    // As after the thread's journal fetch: the status tick walks the blocks.
    state.Cb(0)->FirstPollPending = 0;
    state.Cb(1)->FirstPollPending = 0;
    TComPort port(d.bus);
    IUiHooks hooks;
    TCbProtocol proto(state, port, d.clock, hooks);
    int arcSeenOn2 = 0, clearedOn2 = 0;
    bool was = false;
    // The link's own waits move the clock too: stop at ten minutes of it.
    while (d.clock.NowMs() < 600000) {
        d.clock.Advance(1000);
        for (int cb = 0; cb < 2; ++cb) {
            ASSERT_EQ(proto.OpenPortForCb(cb), 0);
            ASSERT_GE(proto.ReqEventCycle(cb), 0);
            proto.ClosePortForCb(cb);
        }
        // The status tick's view: block 2's mark in the block list.
        const bool arc = CbMark(*state.Cb(1)) == TCbMark::Alarm;
        arcSeenOn2 += arc && !was;
        clearedOn2 += !arc && was;
        was = arc;
        EXPECT_EQ(arc, state.Cb(1)->Uir[1].ChArc1.load() != 0 || state.Cb(1)->Uir[3].ChArc3.load() != 0);
    }
    // Arcs at 45 s and every two minutes after, each reset a minute later.
    EXPECT_EQ(raised2[0xA1], 5);
    EXPECT_EQ(raised2[0xA3], 2);
    EXPECT_EQ(raised2[0xD2], 5);
    EXPECT_EQ(raised2[0xC0], 0);  // no outputs switched: the reset leaves the block quiet
    EXPECT_EQ(arcSeenOn2, 5);
    EXPECT_EQ(clearedOn2, 5);
    EXPECT_EQ(state.Cb(1)->Uir[3].ChArc3.load(), 0);  // the last one was reset too
    EXPECT_EQ(state.Cb(1)->LinkLost.load(), 0);
    // Block 1 has its own life: arcs, and none of block 2's.
    EXPECT_GT(raised1[0xA2], 0);
    EXPECT_EQ(state.Cb(0)->Uir[1].ChArc1.load(), 0);
    EXPECT_EQ(state.Cb(0)->LinkLost.load(), 0);
}

#ifdef KESTREL_DEMOCFG
// The configuration of the demo profile: both blocks on COM1 at addresses 1
// and 2, named "ЦБ 1" and "ЦБ 2", polling the UIRs the scenarios raise arcs on.
TEST(Demo, ConfigurationOfTwoBlocksMatchesTheScenarios)
{
    const auto file = std::filesystem::temp_directory_path() / ("kestrel-demo-" + std::to_string(::getpid()) + ".cfg");
    const std::string cmd = std::string(KESTREL_DEMOCFG) + " --cbs 2 " + file.string();
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    TGlobalState state;
    state.CfgFilePath = file.string();
    ASSERT_EQ(ReadConfigFile(state), 0);
    std::filesystem::remove(file);
    ASSERT_EQ(state.CbCount.load(), 2);

    DemoBus d;
    std::string error;
    ASSERT_TRUE(d.bus.LoadScenario(ReadScenario("demo.txt"), error)) << error;
    ASSERT_TRUE(d.bus.LoadScenario(ReadScenario("demo-cb2.txt"), error)) << error;
    TSimCb* sims[2] = {&d.one, &d.two};
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const TCbData& cb = *state.Cb(i);
        EXPECT_EQ(U8(cb.Name), "ЦБ " + std::to_string(i + 1));
        EXPECT_EQ(cb.Address.load(), i + 1);
        EXPECT_EQ(cb.PortNumber.load(), 1);
        EXPECT_EQ(cb.Baud.load(), 9600u);
        for (int u = 1; u <= kUirCount; ++u) {
            const bool simPolls = (sims[i]->UirSlot(u).A & 0x40) != 0;
            EXPECT_EQ(cb.Uir[u - 1].PollEnabled.load() != 0, simPolls) << "UIR " << u;
            EXPECT_EQ(cb.Uir[u - 1].Present.load(), 1) << "UIR " << u;
        }
    }
}
#endif

}  // namespace
}  // namespace kestrel::sim::test
