// Scenario files and typed commands on a virtual clock.
#include <gtest/gtest.h>

#include "SimBus.h"
#include "SimScenario.h"

namespace kestrel::sim {
namespace {

TEST(SimScenario, Durations)
{
    struct Case {
        const char* text;
        bool ok;
        uint64_t ms;
    };
    const Case cases[] = {
        {"90", true, 90000},     {"2.5", true, 2500},      {"500ms", true, 500},  {"90s", true, 90000},
        {"2m", true, 120000},    {"1h", true, 3600000},    {"1:30", true, 90000}, {"1:02:03", true, 3723000},
        {"0:00.5", true, 500},   {"", false, 0},           {"abc", false, 0},     {"1:", false, 0},
        {"5x", false, 0},        {"-1", false, 0},         {"1:2:3:4", false, 0}, {"1.5:00", false, 0},
        {"1e300", false, 0},     {"nan", false, 0},        {"inf", false, 0},     {"99999999999:00", false, 0},
    };
    for (const auto& c : cases) {
        uint64_t ms = 12345;
        EXPECT_EQ(ParseDurationMs(c.text, ms), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(ms, c.ms) << c.text;
        }
    }
}

TEST(SimScenario, BadFilesNameTheLineAndScheduleNothing)
{
    struct Case {
        const char* text;
        const char* error;
    };
    const Case cases[] = {
        {"journal 5\narc 5", "line 2: error: arc UIR INPUT"},
        {"at soon arc 5 2", "line 1: bad time \"soon\""},
        {"every 0 mtz 1", "line 1: a period of 0"},
        {"at 10", "line 1: a time without a command"},
        {"# fine\n\ncb 9 reset", "line 3: error: no block at address 9"},
        {"quit", "line 1: quit is for typed commands only"},
        {"inject late for poll", "line 1: error: late needs a number"},
        {"inject noanswer for nothing", "line 1: error: unknown command nothing"},
        {"uir 1-50 poll=on", "line 1: error: uir LIST"},
        {"uir 1 f=1,2", "line 1: error: uir: f=F1,F2,F3"},
        {"table 4 0 1", "line 1: error: table MODE"},
        {"clock 2013-02-30 10:00:00", "line 1: error: clock YYYY-MM-DD"},
        {"frobnicate", "line 1: error: unknown command \"frobnicate\""},
    };
    for (const auto& c : cases) {
        VirtualClock clock;
        SimBus bus(clock);
        bus.Attach(1);
        std::string error;
        EXPECT_FALSE(bus.LoadScenario(c.text, error)) << c.text;
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << c.text << " -> " << error;
        EXPECT_TRUE(bus.Cb().Journal().empty()) << c.text;
    }
}

TEST(SimScenario, TimedLinesFireOnTheBusClock)
{
    VirtualClock clock;
    SimBus bus(clock);
    TSimCb& cb = bus.Attach(1);
    const char* text =
        "# demo\n"
        "uir 5,7-8 poll=on control=13 f=0,1,2\n"
        "journal 4\n"
        "at 10 arc 5 2 interval 7 mtz 2\n"
        "every 60 from 30 until 150 sensor 7 2\n"
        "at 1:00 menu\n";
    std::string error;
    ASSERT_TRUE(bus.LoadScenario(text, error)) << error;
    EXPECT_EQ(cb.Journal().size(), 4u);
    EXPECT_EQ(cb.UirSlot(5), (TUirSlot{0x64, 0x05}));
    EXPECT_EQ(cb.UirSlot(8), (TUirSlot{0x64, 0x05}));
    EXPECT_EQ(cb.UirSlot(6), (TUirSlot{}));

    auto at = [&](uint64_t s) {
        clock.Advance(s * 1000 - clock.NowMs());
        bus.Pump();
        return cb.PendingEvents();
    };
    EXPECT_EQ(at(9), 0u);
    EXPECT_EQ(at(10), 3u);  // arc, MTZ-2, outputs
    EXPECT_EQ(cb.Journal()[2].Interval, 7);
    EXPECT_EQ(cb.Journal()[1].Code, EvMtz2);
    EXPECT_EQ(at(29), 3u);
    EXPECT_EQ(at(30), 3u);  // input 2 of UIR 7 is not monitored: ignored
    cb.ClearPendingEvents();
    EXPECT_EQ(at(60), 2u);  // menu entered and left
    EXPECT_EQ(at(300), 2u);
    EXPECT_EQ(cb.Journal().size(), 4u + 3u + 2u);
}

TEST(SimScenario, PeriodicLinesRepeatUntilTheirEnd)
{
    VirtualClock clock;
    SimBus bus(clock);
    TSimCb& cb = bus.Attach(1);
    std::string error;
    ASSERT_TRUE(bus.LoadScenario("every 60 from 30 until 150 mtz 1\nevery 1m mtz 3", error)) << error;
    clock.Advance(1000 * 1000);
    bus.Pump();
    int mtz1 = 0, mtz3 = 0;
    for (const auto& e : cb.Journal()) {
        mtz1 += e.Code == EvMtz1;
        mtz3 += e.Code == EvMtz3;
    }
    EXPECT_EQ(mtz1, 3);   // 30, 90, 150
    EXPECT_EQ(mtz3, 16);  // 60 .. 960
}

TEST(SimScenario, TypedCommandsAndBlockSelection)
{
    VirtualClock clock;
    SimBus bus(clock);
    TSimCb& one = bus.Attach(1);
    TSimCbOptions o;
    o.Address = 2;
    TSimCb& two = bus.Attach(1, o);
    std::string reply;
    EXPECT_TRUE(bus.Command("cb 2 mtz 3", reply));
    EXPECT_EQ(reply, "ok");
    EXPECT_EQ(two.PendingEvents(), 1u);
    EXPECT_EQ(one.PendingEvents(), 0u);
    EXPECT_TRUE(bus.Command("in 5s power cycle", reply));
    EXPECT_EQ(reply, "scheduled");
    clock.Advance(4999);
    bus.Pump();
    EXPECT_EQ(one.PendingEvents(), 0u);
    clock.Advance(1);
    bus.Pump();
    EXPECT_EQ(one.PendingEvents(), 2u);
    EXPECT_FALSE(bus.Command("arc 5 2", reply) && reply == "ok");
    EXPECT_EQ(reply, "ignored: UIR 5 is not polled by the block");
    EXPECT_FALSE(bus.Command("cb 3 reset", reply));
    EXPECT_EQ(reply, "error: no block at address 3");

    EXPECT_TRUE(bus.Command("table 1 2 0x21", reply));
    EXPECT_EQ(one.TableWire(1, 2), 0xDE);
    EXPECT_TRUE(bus.Command("urov 230", reply));
    EXPECT_EQ(one.UrovUnits(), 4);
    EXPECT_TRUE(bus.Command("mtz-wait on", reply));
    EXPECT_EQ(one.MtzWaitByte(), 1);
    EXPECT_TRUE(bus.Command("cb 2 address 9", reply));
    EXPECT_EQ(two.Address(), 9);
    EXPECT_TRUE(bus.Command("speed 19200", reply));
    EXPECT_EQ(one.Line().Baud, 19200);
    EXPECT_TRUE(bus.Command("clock 2013-10-02 17:30:05", reply));
    EXPECT_EQ(one.ClockNow().Minute, 30);
    EXPECT_TRUE(bus.Command("clock stop", reply));
    EXPECT_FALSE(one.ClockRunning());
    EXPECT_TRUE(bus.Command("turnaround 12", reply));
    EXPECT_EQ(bus.TurnaroundMs(), 12u);
    EXPECT_TRUE(bus.Command("event 0xD4", reply));
    EXPECT_EQ(one.Journal().front().Code, EvMenuLeave);
    EXPECT_TRUE(bus.Command("status", reply));
    EXPECT_NE(reply.find("CB 1:"), std::string::npos);
    EXPECT_NE(reply.find("CB 9:"), std::string::npos);
    EXPECT_TRUE(bus.Command("silent on", reply));
    EXPECT_TRUE(one.Silent());
    EXPECT_TRUE(bus.Command("   # just a comment", reply));
    EXPECT_EQ(reply, "");
}

TEST(SimScenario, InjectAndClearFaults)
{
    VirtualClock clock;
    SimBus bus(clock);
    TSimCb& cb = bus.Attach(1);
    std::string reply;
    ASSERT_TRUE(bus.Command("inject late 300 for read-table times 2", reply)) << reply;
    ASSERT_TRUE(bus.Command("inject every 4", reply)) << reply;
    ASSERT_TRUE(bus.Command("inject garbage-after 3 for poll", reply)) << reply;
    auto f = cb.Faults();
    ASSERT_EQ(f.size(), 3u);
    EXPECT_EQ(f[0].Kind, FaultKind::Late);
    EXPECT_EQ(f[0].Param, 300u);
    EXPECT_EQ(f[0].Cmd, SimCmd::ReadTable);
    EXPECT_EQ(f[0].Remaining, 2);
    EXPECT_EQ(f[1].Kind, FaultKind::EveryNth);
    EXPECT_FALSE(f[1].Cmd.has_value());
    EXPECT_EQ(f[2].Kind, FaultKind::GarbageAfter);
    ASSERT_TRUE(bus.Command("inject off poll", reply));
    EXPECT_EQ(cb.Faults().size(), 2u);
    ASSERT_TRUE(bus.Command("inject off", reply));
    EXPECT_TRUE(cb.Faults().empty());
    EXPECT_FALSE(bus.Command("inject sideways", reply));
}

}  // namespace
}  // namespace kestrel::sim
