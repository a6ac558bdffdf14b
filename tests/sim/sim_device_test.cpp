// The simulated block from the wire: request bytes built by hand, exact
// answer bytes, the frame-count rule, timing and injected faults.
#include <gtest/gtest.h>

#include "SimEvent.h"
#include "SimFrame.h"
#include "sim/SimRig.h"

namespace kestrel::sim::test {
namespace {

const Bytes kAckOnly{0xE5};

TFaultRule R(FaultKind k, std::optional<SimCmd> cmd = std::nullopt, uint32_t param = 0, int32_t remaining = -1)
{
    TFaultRule r;
    r.Kind = k;
    r.Cmd = cmd;
    r.Param = param;
    r.Remaining = remaining;
    return r;
}

TSimTime At(int y, int mo, int d, int h, int mi, int s, int ms = 0)
{
    return TSimTime{y, mo, d, h, mi, s, ms};
}

// ------------------------------------------------------------------ parser

TEST(SimFrameParser, CutsValidFramesAndSkipsBrokenOnes)
{
    struct Case {
        const char* name;
        Bytes stream;
        std::vector<Bytes> frames;  // raw frames expected, in order
    };
    const Bytes reset = Short(0x40, 1);
    const Bytes clock = Long(0x5B, 1, 0x3C);
    Bytes badSum = reset;
    badSum[3] ^= 0xFF;
    Bytes badStop = clock;
    badStop.back() = 0x17;
    Bytes badL = clock;
    badL[2] = 4;
    const Case cases[] = {
        {"short", reset, {reset}},
        {"long", clock, {clock}},
        {"garbage only", Bytes{0x00, 0xFF, 0x16}, {}},
        {"noise then frame", [&] { Bytes b{0x01, 0x02, 0xE5}; b.insert(b.end(), reset.begin(), reset.end()); return b; }(), {reset}},
        {"bad sum dropped", badSum, {}},
        {"bad stop dropped", badStop, {}},
        {"L mismatch dropped", badL, {}},
        {"broken then good", [&] { Bytes b = badSum; b.insert(b.end(), clock.begin(), clock.end()); return b; }(), {clock}},
        // A long header whose length swallows a short frame: the parser alone
        // keeps waiting (the wire resets it after a pause).
        {"truncated long then short", [&] { Bytes b{0x68, 0x09, 0x09, 0x68, 0x5B}; b.insert(b.end(), reset.begin(), reset.end()); return b; }(), {}},
        {"two frames", [&] { Bytes b = reset; b.insert(b.end(), clock.begin(), clock.end()); return b; }(), {reset, clock}},
    };
    for (const auto& c : cases) {
        TFrameParser p;
        std::vector<Bytes> got;
        for (uint8_t b : c.stream) {
            TRequest r;
            if (p.Feed(b, r))
                got.push_back(r.Raw);
        }
        EXPECT_EQ(got, c.frames) << c.name;
    }
}

TEST(SimFrameParser, DecodesFields)
{
    TFrameParser p;
    TRequest r;
    const Bytes f = Long(0x73, 7, 0x40, {0x08, 1, 2, 3, 4, 5, 6, 7, 8});
    bool done = false;
    for (uint8_t b : f)
        done = p.Feed(b, r);
    ASSERT_TRUE(done);
    EXPECT_TRUE(r.IsLong);
    EXPECT_EQ(r.C, 0x73);
    EXPECT_EQ(r.A, 7);
    EXPECT_EQ(r.CI, 0x40);
    EXPECT_EQ(r.Data, (Bytes{0x08, 1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST(SimFrame, BuildersAndBcd)
{
    EXPECT_EQ(BuildShortFrame(0x40, 0x01), (Bytes{0x10, 0x40, 0x01, 0x41, 0x16}));
    EXPECT_EQ(BuildLongFrame(0x44, 0x01, 0x44, {}), (Bytes{0x68, 3, 3, 0x68, 0x44, 0x01, 0x44, 0x89, 0x16}));
    EXPECT_EQ(Bcd(59), 0x59);
    EXPECT_EQ(Bcd(7), 0x07);
    int v = -1;
    EXPECT_TRUE(UnBcd(0x42, v));
    EXPECT_EQ(v, 42);
    EXPECT_FALSE(UnBcd(0x1A, v));
    EXPECT_FALSE(UnBcd(0xA1, v));
}

TEST(SimEvent, CalendarRoundTripsAndKnowsWeekdays)
{
    for (const TSimTime t : {At(2000, 1, 1, 0, 0, 0), At(2013, 10, 2, 17, 30, 5, 999), At(2024, 2, 29, 23, 59, 59, 1),
                             At(2099, 12, 31, 12, 0, 0)}) {
        const TSimTime back = FromMs2000(ToMs2000(t));
        EXPECT_EQ(back.Year, t.Year);
        EXPECT_EQ(back.Month, t.Month);
        EXPECT_EQ(back.Day, t.Day);
        EXPECT_EQ(back.Hour, t.Hour);
        EXPECT_EQ(back.Minute, t.Minute);
        EXPECT_EQ(back.Second, t.Second);
        EXPECT_EQ(back.Ms, t.Ms);
    }
    EXPECT_EQ(DayOfWeek(ToMs2000(At(2000, 1, 1, 0, 0, 0))), 6);  // Saturday
    EXPECT_EQ(DayOfWeek(ToMs2000(At(2014, 3, 3, 12, 0, 0))), 1); // Monday
    EXPECT_EQ(DayOfWeek(ToMs2000(At(2026, 12, 13, 23, 0, 0))), 7);
    EXPECT_FALSE(ValidDate(2013, 2, 29));
    EXPECT_TRUE(ValidDate(2024, 2, 29));
    EXPECT_FALSE(ValidDate(2013, 13, 1));
}

TEST(SimEvent, EncodesEveryField)
{
    TSimEvent arc{EvArc2};
    arc.Uir = 5;
    arc.Interval = 10;
    arc.TimeMs = ToMs2000(At(2014, 3, 3, 12, 0, 0, 5));
    EXPECT_EQ(EncodeEventData(arc), (Bytes{0xA2, 0x05, 0xF5, 0x00, 0x05, 0x00, 0x00, 0x12, 0x01, 0x03, 0x03, 0x14}));

    TSimEvent out{EvOutputs};
    out.Outputs = 0x0D;
    out.TimeMs = ToMs2000(At(2013, 10, 2, 17, 30, 5, 987));
    EXPECT_EQ(EncodeEventData(out), (Bytes{0xC0, 0xF2, 0xFF, 0x09, 0x87, 0x05, 0x30, 0x17, 0x03, 0x02, 0x10, 0x13}));

    TSimEvent sensor{EvSensor3};
    sensor.Uir = 43;
    sensor.TimeMs = ToMs2000(At(2050, 12, 31, 23, 59, 59, 100));
    EXPECT_EQ(EncodeEventData(sensor), (Bytes{0xE3, 43, 0xFF, 0x01, 0x00, 0x59, 0x59, 0x23, 0x06, 0x31, 0x12, 0x50}));
}

// ------------------------------------------------------------------ answers

class SimAnswers : public ::testing::Test {
protected:
    TRig rig;
    void SetUp() override
    {
        rig.cb.SetClock(At(2013, 10, 2, 17, 30, 5));
        rig.cb.SetClockRunning(false);
    }
};

TEST_F(SimAnswers, LinkCommandsAndStatus)
{
    EXPECT_EQ(rig.Exchange({0x10, 0x40, 0x01, 0x41, 0x16}), kAckOnly);
    EXPECT_EQ(rig.Exchange({0x10, 0x47, 0x01, 0x48, 0x16}), kAckOnly);
    EXPECT_EQ(rig.Exchange({0x10, 0x49, 0x01, 0x4A, 0x16}), (Bytes{0x10, 0x0B, 0x01, 0x0C, 0x16}));
    EXPECT_EQ(rig.Exchange({0x10, 0x69, 0x01, 0x6A, 0x16}), (Bytes{0x10, 0x0B, 0x01, 0x0C, 0x16}));
    // Another address: silence.
    EXPECT_EQ(rig.Exchange({0x10, 0x40, 0x02, 0x42, 0x16}), Bytes{});
    EXPECT_EQ(rig.cb.RequestCount(SimCmd::ResetLink), 1u);
    EXPECT_EQ(rig.cb.RequestCount(SimCmd::LinkStatus), 2u);
}

TEST_F(SimAnswers, ClockReadWriteStop)
{
    EXPECT_EQ(rig.Exchange({0x68, 0x03, 0x03, 0x68, 0x5B, 0x01, 0x3C, 0x98, 0x16}),
              (Bytes{0x68, 0x09, 0x09, 0x68, 0x08, 0x01, 0x3C, 0x05, 0x30, 0x17, 0x02, 0x10, 0x13, 0xB6, 0x16}));

    rig.cb.SetClock(At(2020, 1, 1, 0, 0, 0));
    rig.cb.SetClockRunning(true);
    EXPECT_EQ(rig.Exchange({0x68, 0x09, 0x09, 0x68, 0x53, 0x01, 0x3C, 0x05, 0x30, 0x17, 0x02, 0x10, 0x13, 0x01, 0x16}),
              kAckOnly);
    const TSimTime t = rig.cb.ClockNow();
    EXPECT_EQ(t.Year, 2013);
    EXPECT_EQ(t.Month, 10);
    EXPECT_EQ(t.Day, 2);
    EXPECT_EQ(t.Hour, 17);
    EXPECT_EQ(t.Minute, 30);
    EXPECT_EQ(t.Second, 5);

    // The clock runs on the bus clock ...
    rig.clock.Advance(61000);
    EXPECT_EQ(rig.cb.ClockNow().Minute, 31);
    // ... until stopped; the stop is never answered.
    EXPECT_EQ(rig.Exchange({0x68, 0x03, 0x03, 0x68, 0x44, 0x01, 0x54, 0x99, 0x16}), Bytes{});
    EXPECT_FALSE(rig.cb.ClockRunning());
    const int64_t frozen = rig.cb.ClockNowMs2000();
    rig.clock.Advance(5000);
    EXPECT_EQ(rig.cb.ClockNowMs2000(), frozen);
    // Writing the clock starts it again.
    rig.Exchange(Long(0x73, 1, 0x3C, {0x00, 0x00, 0x08, 0x01, 0x01, 0x26}));
    EXPECT_TRUE(rig.cb.ClockRunning());
}

TEST_F(SimAnswers, InvalidClockIsRefused)
{
    const int64_t before = rig.cb.ClockNowMs2000();
    for (const Bytes& data : {Bytes{0x00, 0x00, 0x00, 0x01, 0x13, 0x20},    // month 13
                              Bytes{0x60, 0x00, 0x00, 0x01, 0x01, 0x20},    // second 60
                              Bytes{0x00, 0x00, 0x00, 0x30, 0x02, 0x13},    // 30 February
                              Bytes{0x0A, 0x00, 0x00, 0x01, 0x01, 0x20},    // not BCD
                              Bytes{0x00, 0x00, 0x00, 0x01, 0x01}}) {       // short
        EXPECT_EQ(rig.Exchange(Long(0x53, 1, 0x3C, data)), Bytes{});
        rig.Exchange(Short(0x47, 1));  // next frame is new whatever its FCB
    }
    EXPECT_EQ(rig.cb.ClockNowMs2000(), before);
}

TEST_F(SimAnswers, FunctionTablesTravelComplemented)
{
    rig.cb.SetTableWire(0, 0, 0x38);
    rig.cb.SetTableWire(0, 1, 0x38);
    rig.cb.SetTableWire(0, 2, 0x00);
    rig.cb.SetTableWire(0, 3, 0x00);
    EXPECT_EQ(rig.Exchange({0x68, 0x03, 0x03, 0x68, 0x5B, 0x01, 0x2C, 0x88, 0x16}),
              (Bytes{0x68, 0x07, 0x07, 0x68, 0x08, 0x01, 0x2C, 0x38, 0x38, 0x00, 0x00, 0xA5, 0x16}));

    EXPECT_EQ(rig.Exchange({0x68, 0x09, 0x09, 0x68, 0x53, 0x01, 0x38, 0x38, 0x38, 0x39, 0x3E, 0x04, 0x01, 0x78, 0x16}),
              kAckOnly);
    EXPECT_EQ(rig.cb.TableWire(3, 2), 0x39);
    EXPECT_EQ(rig.cb.UrovUnits(), 4);
    EXPECT_EQ(rig.cb.MtzWaitByte(), 1);
    rig.cb.SetOutputs(0x05);
    rig.cb.SetMtzWaitByte(0x03);
    EXPECT_EQ(rig.Exchange(Long(0x7B, 1, 0x38)),
              (Bytes{0x68, 0x0A, 0x0A, 0x68, 0x08, 0x01, 0x38, 0x38, 0x38, 0x39, 0x3E, 0x04, 0x05, 0x03, 0x34, 0x16}));

    // Modes 1 and 2 by their CI; a write of the wrong length is not confirmed.
    EXPECT_EQ(rig.Exchange(Long(0x53, 1, 0x30, {1, 2, 3, 4})), kAckOnly);
    EXPECT_EQ(rig.Exchange(Long(0x73, 1, 0x34, {5, 6, 7, 8})), kAckOnly);
    EXPECT_EQ(rig.Exchange(Long(0x53, 1, 0x34, {9, 9, 9})), Bytes{});
    EXPECT_EQ(rig.Exchange(Long(0x73, 1, 0x38, {9, 9, 9, 9})), Bytes{});
    EXPECT_EQ(rig.cb.TableWire(1, 3), 4);
    EXPECT_EQ(rig.cb.TableWire(2, 0), 5);
    EXPECT_EQ(rig.cb.TableWire(3, 0), 0x38);
}

TEST_F(SimAnswers, UirSegments)
{
    rig.cb.SetUirSlot(4, TUirSlot{0xE4, 0x07});
    EXPECT_EQ(rig.Exchange({0x68, 0x04, 0x04, 0x68, 0x5B, 0x01, 0x40, 0x04, 0xA0, 0x16}),
              (Bytes{0x68, 0x0C, 0x0C, 0x68, 0x08, 0x01, 0x40, 0x04, 0xE4, 0x07, 0, 0, 0, 0, 0, 0, 0x38, 0x16}));

    EXPECT_EQ(rig.Exchange({0x68, 0x0C, 0x0C, 0x68, 0x53, 0x01, 0x40, 0x04, 0x24, 0x07, 0x24, 0x07, 0x24, 0x07, 0x24,
                            0x07, 0x44, 0x16}),
              kAckOnly);
    for (int s = 4; s < 8; ++s)
        EXPECT_EQ(rig.cb.UirSlot(s), (TUirSlot{0x24, 0x07})) << s;

    // Segment 10 holds UIRs 40..43; slot 44 (segment 11) holds nothing.
    rig.cb.SetUirSlot(43, TUirSlot{0x55, 0x05});
    const Bytes seg10 = rig.Exchange(Long(0x7B, 1, 0x40, {40}));
    ASSERT_EQ(seg10.size(), 18u);
    EXPECT_EQ(seg10[7], 40);
    EXPECT_EQ(seg10[14], 0x55);
    EXPECT_EQ(seg10[15], 0x05);
    const Bytes seg11 = rig.Exchange(Long(0x5B, 1, 0x40, {44}));
    ASSERT_EQ(seg11.size(), 18u);
    EXPECT_EQ(seg11[7], 44);
    EXPECT_EQ(rig.Exchange(Long(0x53, 1, 0x40, {44, 1, 1, 1, 1, 1, 1, 1, 1})), kAckOnly);
    // A misaligned slot number is answered with its segment's first slot.
    EXPECT_EQ(rig.Exchange(Long(0x7B, 1, 0x40, {6}))[7], 4);
    EXPECT_EQ(rig.Exchange(Long(0x73, 1, 0x40, {6, 1, 1, 1, 1, 1, 1, 1, 1})), Bytes{});
}

TEST_F(SimAnswers, AddressSpeedResetClearAndUnknown)
{
    // Set address 5: confirmed at the old address, then only 5 answers.
    EXPECT_EQ(rig.Exchange({0x68, 0x04, 0x04, 0x68, 0x53, 0x01, 0x4C, 0x05, 0xA5, 0x16}), kAckOnly);
    EXPECT_EQ(rig.Exchange(Short(0x40, 1)), Bytes{});
    EXPECT_EQ(rig.Exchange(Short(0x40, 5)), kAckOnly);
    EXPECT_EQ(rig.cb.Address(), 5);

    // Set speed 19200: confirmed at 9600, then deaf at 9600.
    EXPECT_EQ(rig.Exchange(Long(0x53, 5, 0x50, {0x01})), kAckOnly);
    EXPECT_EQ(rig.Exchange(Short(0x40, 5)), Bytes{});
    rig.bus.ApplyLineSettings({19200, 8, 2, 0});
    EXPECT_EQ(rig.Exchange(Short(0x40, 5)), kAckOnly);
    EXPECT_EQ(rig.Exchange(Long(0x73, 5, 0x50, {0x07})), Bytes{});  // no such speed code
    EXPECT_EQ(rig.cb.Line().Baud, 19200);

    // Reset of the block: confirmed, and a protection-reset event follows.
    EXPECT_EQ(rig.Exchange(Long(0x73, 5, 0x48)), kAckOnly);
    ASSERT_EQ(rig.cb.PendingEvents(), 1u);
    EXPECT_EQ(rig.cb.Journal().front().Code, EvReset);

    // Clear journal: never answered, journal emptied.
    rig.cb.FillJournal(3);
    EXPECT_EQ(rig.Exchange(Long(0x44, 5, 0x44)), Bytes{});
    EXPECT_TRUE(rig.cb.Journal().empty());

    // A data request the block does not know: "requested data absent".
    const Bytes absent = rig.Exchange(Long(0x5B, 5, 0x99));
    ASSERT_EQ(absent.size(), 21u);
    EXPECT_EQ(absent[7], 0xFF);
    // An unknown send: nothing.
    EXPECT_EQ(rig.Exchange(Long(0x53, 5, 0x99)), Bytes{});
    EXPECT_EQ(rig.cb.RequestCount(SimCmd::Unknown), 2u);
}

TEST_F(SimAnswers, TwoBlocksOnOneLineAnswerOnlyTheirOwnAddress)
{
    TSimCbOptions o2;
    o2.Address = 2;
    TSimCb& second = rig.bus.Attach(1, o2);
    rig.bus.Close();
    ASSERT_EQ(rig.bus.Open(1), 0u);
    rig.bus.ApplyLineSettings({9600, 8, 2, 0});
    EXPECT_EQ(rig.Exchange(Short(0x49, 2)), (Bytes{0x10, 0x0B, 0x02, 0x0D, 0x16}));
    EXPECT_EQ(rig.Exchange(Short(0x49, 1)), (Bytes{0x10, 0x0B, 0x01, 0x0C, 0x16}));
    EXPECT_EQ(second.TotalRequests(), 1u);
    EXPECT_EQ(rig.cb.TotalRequests(), 1u);
}

// ------------------------------------------------------------------ events, journal, FCB

Bytes Poll(bool fcb) { return Short(fcb ? 0x7B : 0x5B, 1); }

TEST_F(SimAnswers, EventQueueMarksMoreDataAndHonoursTheFcb)
{
    rig.cb.RaiseMtz(1);
    rig.cb.RaiseMtz(2);
    rig.cb.RaiseMtz(3);
    EXPECT_EQ(rig.Exchange(Short(0x47, 1)), kAckOnly);
    const Bytes first = rig.Exchange(Poll(true));
    ASSERT_EQ(first.size(), 21u);
    EXPECT_EQ(first[4], 0x28);
    EXPECT_EQ(first[7], EvMtz1);
    // Same FCB again: the PC lost the answer; it gets the same frame.
    EXPECT_EQ(rig.Exchange(Poll(true)), first);
    EXPECT_EQ(rig.cb.RepeatedAnswers(), 1u);
    const Bytes second = rig.Exchange(Poll(false));
    EXPECT_EQ(second[4], 0x28);
    EXPECT_EQ(second[7], EvMtz2);
    const Bytes third = rig.Exchange(Poll(true));
    EXPECT_EQ(third[4], 0x08);
    EXPECT_EQ(third[7], EvMtz3);
    EXPECT_EQ(rig.Exchange(Poll(false)), kAckOnly);
    // After an FCB reset the first poll is new even with the old FCB.
    rig.cb.RaiseMtz(1);
    rig.Exchange(Short(0x47, 1));
    EXPECT_EQ(rig.Exchange(Poll(false))[7], EvMtz1);
    EXPECT_EQ(rig.cb.RequestCount(SimCmd::Poll), 6u);
}

TEST_F(SimAnswers, SameFcbButAnotherRequestIsCarriedOut)
{
    // The PC reads all four tables with one FCB; each is a new request.
    for (int m = 0; m < 4; ++m)
        rig.cb.SetTableWire(m, 0, static_cast<uint8_t>(0x10 + m));
    for (int m = 0; m < 4; ++m) {
        const Bytes a = rig.Exchange(Long(0x7B, 1, static_cast<uint8_t>(0x2C + 4 * m)));
        ASSERT_GE(a.size(), 8u);
        EXPECT_EQ(a[7], 0x10 + m);
    }
    EXPECT_EQ(rig.cb.RepeatedAnswers(), 0u);
}

TEST_F(SimAnswers, JournalNewestFirstOnePerRequestAfterLinkReset)
{
    for (int i = 0; i < 3; ++i) {
        TSimEvent e{static_cast<uint8_t>(EvMtz1 + i)};
        e.TimeMs = ToMs2000(At(2013, 1, 1, 0, 0, i));
        rig.cb.RaiseEvent(e);
    }
    rig.cb.ClearPendingEvents();
    auto read = [&](bool fcb) { return rig.Exchange(Long(fcb ? 0x7B : 0x5B, 1, 0xF0)); };
    rig.Exchange(Short(0x40, 1));
    EXPECT_EQ(read(true)[7], EvMtz3);
    EXPECT_EQ(read(true)[7], EvMtz3);  // repeated: the PC lost it
    EXPECT_EQ(read(false)[7], EvMtz2);
    EXPECT_EQ(read(true)[7], EvMtz1);
    EXPECT_EQ(read(false), kAckOnly);
    // A link reset starts over.
    rig.Exchange(Short(0x40, 1));
    EXPECT_EQ(read(true)[7], EvMtz3);

    rig.cb.SetJournalNewestFirst(false);
    rig.Exchange(Short(0x40, 1));
    EXPECT_EQ(read(true)[7], EvMtz1);
    EXPECT_EQ(read(false)[7], EvMtz2);
    const Bytes rec = read(true);
    EXPECT_EQ(rec[4], 0x08);
    EXPECT_EQ(rec[6], 0xF0);
    EXPECT_EQ(rec[7], EvMtz3);
}

TEST(SimJournal, CapacityDropsTheOldest)
{
    TSimCbOptions o;
    o.JournalCapacity = 5;
    TRig rig(o);
    rig.cb.FillJournal(5);
    rig.cb.RaiseMtz(2);
    const auto j = rig.cb.Journal();
    ASSERT_EQ(j.size(), 5u);
    EXPECT_EQ(j.front().Code, EvMtz2);
    rig.cb.FillJournal(10);  // full: nothing older fits
    EXPECT_EQ(rig.cb.Journal().size(), 5u);
}

TEST(SimJournal, GeneratedHistoryEndsCalmAndNamesPolledUirs)
{
    TRig rig;
    rig.cb.ConfigureUir(4, true, false, 0, 0, 0, true, true, true);
    rig.cb.ConfigureUir(9, true, false, 0, 0, 0, true, true, true);
    rig.cb.FillJournal(30);
    const auto j = rig.cb.Journal();
    ASSERT_EQ(j.size(), 30u);
    EXPECT_EQ(j.front().Code, EvReset);
    for (size_t i = 0; i < j.size(); ++i) {
        if (i > 0) {
            EXPECT_LT(j[i].TimeMs, j[i - 1].TimeMs) << i;  // newest first
        }
        if ((j[i].Code >= EvArc1 && j[i].Code <= EvArc3) || (j[i].Code >= EvUirLost && j[i].Code <= EvSensor3)) {
            EXPECT_TRUE(j[i].Uir == 4 || j[i].Uir == 9) << i;
        }
    }
    // More records continue further back in time.
    rig.cb.FillJournal(5);
    const auto more = rig.cb.Journal();
    EXPECT_LT(more.back().TimeMs, j.back().TimeMs);
}

// ------------------------------------------------------------------ model effects

TEST(SimModel, ArcRaisesArcMtzAndTheTableOutputs)
{
    TRig rig;
    rig.cb.ConfigureUir(5, true, true, 0, 2, 1, true, true, true);
    rig.cb.SetTableWire(1, 2, static_cast<uint8_t>(~0x21));  // F2 in MTZ-1: outputs 1 and 6
    ASSERT_TRUE(rig.cb.RaiseArc(5, 2, 10, 1));
    const auto j = rig.cb.Journal();
    ASSERT_EQ(j.size(), 3u);
    EXPECT_EQ(j[2].Code, EvArc2);
    EXPECT_EQ(j[2].Uir, 5);
    EXPECT_EQ(j[2].Interval, 10);
    EXPECT_EQ(j[1].Code, EvMtz1);
    EXPECT_EQ(j[0].Code, EvOutputs);
    EXPECT_EQ(j[0].Outputs, 0x21);
    EXPECT_EQ(rig.cb.Outputs(), 0x21);
    EXPECT_EQ(rig.cb.PendingEvents(), 3u);

    // Protection reset: 0xD2 and the outputs released.
    rig.cb.RaiseReset();
    EXPECT_EQ(rig.cb.Journal()[1].Code, EvReset);
    EXPECT_EQ(rig.cb.Journal()[0].Code, EvOutputs);
    EXPECT_EQ(rig.cb.Outputs(), 0);
}

TEST(SimModel, WhatTheBlockDoesNotWatchRaisesNothing)
{
    TRig rig;
    rig.cb.ConfigureUir(7, false, false, 0, 0, 0, true, true, true);
    rig.cb.ConfigureUir(8, true, false, 0, 0, 0, true, false, false);
    EXPECT_FALSE(rig.cb.RaiseArc(7, 1));
    EXPECT_FALSE(rig.cb.RaiseUirLost(7));
    EXPECT_FALSE(rig.cb.RaiseSensorFault(8, 2));  // input 2 not monitored
    EXPECT_FALSE(rig.cb.RaiseArc(8, 4));
    EXPECT_FALSE(rig.cb.RaiseArc(44, 1));
    EXPECT_EQ(rig.cb.PendingEvents(), 0u);
    EXPECT_TRUE(rig.cb.RaiseSensorFault(8, 1));
    EXPECT_TRUE(rig.cb.RaiseUirLost(8));
    EXPECT_EQ(rig.cb.Journal()[1].Code, EvSensor1);
    EXPECT_EQ(rig.cb.Journal()[0].Code, EvUirLost);

    // Waiting for MTZ: an arc without it does not trip the outputs.
    rig.cb.SetMtzWaitByte(1);
    rig.cb.ClearJournalRecords();
    EXPECT_TRUE(rig.cb.RaiseArc(8, 1, 3, 0));
    ASSERT_EQ(rig.cb.Journal().size(), 1u);
    EXPECT_EQ(rig.cb.Outputs(), 0);
}

TEST(SimModel, SettingsMenuVisit)
{
    TRig rig;
    rig.cb.EnterMenu();
    EXPECT_TRUE(rig.cb.InMenu());
    rig.cb.LeaveMenu();
    EXPECT_FALSE(rig.cb.InMenu());
    const auto j = rig.cb.Journal();
    ASSERT_EQ(j.size(), 2u);
    EXPECT_EQ(j[1].Code, EvMenuEnter);
    EXPECT_EQ(j[0].Code, EvMenuLeave);
}

// ------------------------------------------------------------------ timing

TEST(SimTiming, AnswerArrivesAfterRequestTurnaroundAndItsOwnBytes)
{
    TRig rig;
    rig.Send(Short(0x40, 1));
    // 5 request bytes + 5 ms + 1 answer byte at 11 bits / 9600 bit/s: 11.9 ms.
    rig.clock.Advance(11);
    EXPECT_EQ(rig.ReadNow(), Bytes{});
    rig.clock.Advance(1);
    EXPECT_EQ(rig.ReadNow(), kAckOnly);

    // A 21-byte event: bytes become readable one by one.
    rig.cb.RaiseMtz(1);
    rig.Send(Poll(true));
    rig.clock.Advance(34);
    EXPECT_EQ(rig.ReadNow().size(), 20u);
    rig.clock.Advance(1);
    EXPECT_EQ(rig.ReadNow().size(), 1u);
}

TEST(SimTiming, TurnaroundAndParityChangeTheTimes)
{
    TRig rig({}, {9600, 8, 0, 0});
    rig.cb.SetLine({9600, 8, 0, 0});
    rig.bus.SetTurnaroundMs(0);
    rig.Send(Short(0x40, 1));
    // 10 bits a character: 6 characters take 6.25 ms.
    rig.clock.Advance(6);
    EXPECT_EQ(rig.ReadNow(), Bytes{});
    rig.clock.Advance(1);
    EXPECT_EQ(rig.ReadNow(), kAckOnly);
}

TEST(SimTiming, LateAnswerLandsInTheNextExchange)
{
    // At 115200 bit/s an event needs 7.5 ms; a PC that waits 5 ms misses it.
    TSimCbOptions o;
    o.Line.Baud = 115200;
    TRig rig(o, {115200, 8, 2, 0});
    rig.cb.RaiseMtz(2);
    rig.Send(Poll(true));
    rig.clock.Advance(5);
    EXPECT_EQ(rig.ReadNow(), Bytes{});
    rig.clock.Advance(5);
    rig.Send(Poll(true));  // the retry finds the first answer waiting ...
    rig.clock.Advance(5);
    const Bytes got = rig.ReadNow();
    ASSERT_GE(got.size(), 21u);
    EXPECT_EQ(got[7], EvMtz2);
    rig.clock.Advance(5);
    EXPECT_EQ(rig.ReadNow().size(), 21u);  // ... and its own (repeated) answer after it
}

TEST(SimTiming, ClosingThePortDropsWhatIsOnItsWay)
{
    TRig rig;
    rig.Send(Short(0x40, 1));
    rig.bus.Close();
    rig.clock.Advance(100);
    ASSERT_EQ(rig.bus.Open(1), 0u);
    EXPECT_EQ(rig.ReadNow(), Bytes{});
}

TEST(SimTiming, BlockAtAnotherSpeedOrFramingHearsNothing)
{
    for (const LineSettings pc : {LineSettings{19200, 8, 2, 0}, LineSettings{9600, 8, 0, 0}, LineSettings{9600, 7, 2, 0},
                                  LineSettings{9600, 8, 2, 2}}) {
        TRig rig({}, pc);
        EXPECT_EQ(rig.Exchange(Short(0x40, 1)), Bytes{}) << pc.Baud << " " << pc.DataBits << " " << pc.Parity;
        EXPECT_EQ(rig.cb.TotalRequests(), 0u);
    }
}

// ------------------------------------------------------------------ port

TEST(SimPort, OpenAndErrors)
{
    VirtualClock clock;
    SimBus bus(clock);
    bus.Attach(3);
    uint8_t buf[8]{};
    size_t got = 0;
    uint32_t err = 0;
    EXPECT_FALSE(bus.Read(buf, 8, got, err));
    EXPECT_EQ(err, kErrInvalidHandle);
    EXPECT_FALSE(bus.Write(buf, 1, err));
    EXPECT_EQ(err, kErrInvalidHandle);
    EXPECT_EQ(bus.ApplyLineSettings({}), kErrInvalidHandle);
    EXPECT_EQ(bus.Open(1), kErrFileNotFound);
    EXPECT_EQ(bus.Open(4), kErrFileNotFound);
    bus.SetPortBusy(3, true);
    EXPECT_EQ(bus.Open(3), kErrAccessDenied);
    bus.SetPortBusy(3, false);
    EXPECT_EQ(bus.Open(3), 0u);
    EXPECT_EQ(bus.Open(3), kErrAccessDenied);
    EXPECT_EQ(bus.OpenPortNumber(), 3);
    EXPECT_EQ(bus.ApplyLineSettings({9600, 9, 2, 0}), kErrInvalidParameter);
    EXPECT_EQ(bus.ApplyLineSettings({0, 8, 2, 0}), kErrInvalidParameter);
    EXPECT_EQ(bus.ApplyLineSettings({19200, 8, 1, 2}), 0u);
    EXPECT_EQ(bus.PcLine().Baud, 19200);

    bus.FailWrites(kErrGenFailure, 1);
    EXPECT_FALSE(bus.Write(buf, 1, err));
    EXPECT_EQ(err, kErrGenFailure);
    EXPECT_TRUE(bus.Write(buf, 1, err));
    bus.FailReads(kErrGenFailure, 1);
    EXPECT_FALSE(bus.Read(buf, 8, got, err));
    EXPECT_EQ(err, kErrGenFailure);
    EXPECT_TRUE(bus.Read(buf, 8, got, err));
    bus.Close();
    EXPECT_FALSE(bus.IsOpen());
}

TEST(SimPort, BlockIsReachableOnlyThroughItsPort)
{
    VirtualClock clock;
    SimBus bus(clock);
    TSimCbOptions o2;
    o2.Address = 2;
    bus.Attach(1);
    TSimCb& other = bus.Attach(2, o2);
    ASSERT_EQ(bus.Open(1), 0u);
    uint32_t err;
    const Bytes req = Short(0x40, 2);
    bus.Write(req.data(), req.size(), err);
    clock.Advance(100);
    uint8_t buf[8];
    size_t got = 9;
    bus.Read(buf, 8, got, err);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(other.TotalRequests(), 0u);
    EXPECT_EQ(bus.Find(2), &other);
    EXPECT_EQ(bus.Find(2, 1), nullptr);
}

// ------------------------------------------------------------------ faults

struct FaultCase {
    const char* name;
    TFaultRule rule;
    Bytes expect;  // bytes of a clock read (first exchange) after the fault
};

TEST(SimFaults, EachKindSpoilsTheAnswerAsNamed)
{
    const Bytes good{0x68, 0x09, 0x09, 0x68, 0x08, 0x01, 0x3C, 0x05, 0x30, 0x17, 0x02, 0x10, 0x13, 0xB6, 0x16};
    Bytes badSum = good;
    badSum[13] = 0xB7;
    Bytes badStart = good;
    badStart[0] = 0x69;
    const FaultCase cases[] = {
        {"noanswer", R(FaultKind::NoAnswer), {}},
        {"ignore", R(FaultKind::Ignore), {}},
        {"badsum", R(FaultKind::BadSum), badSum},
        {"badstart", R(FaultKind::BadStart), badStart},
        {"late", R(FaultKind::Late, std::nullopt, 500), {}},
        {"other command", R(FaultKind::NoAnswer, SimCmd::Poll), good},
        {"this command", R(FaultKind::NoAnswer, SimCmd::ReadClock), {}},
    };
    for (const auto& c : cases) {
        TRig rig;
        rig.cb.SetClock(At(2013, 10, 2, 17, 30, 5));
        rig.cb.SetClockRunning(false);
        rig.cb.Inject(c.rule);
        EXPECT_EQ(rig.Exchange(Long(0x5B, 1, 0x3C), 200), c.expect) << c.name;
    }
}

TEST(SimFaults, AcknowledgementsSpoiled)
{
    TRig rig;
    rig.cb.Inject(R(FaultKind::BadSum, SimCmd::ResetLink, 0, 1));
    EXPECT_EQ(rig.Exchange(Short(0x40, 1)), (Bytes{0x10, 0x00, 0x01, 0x02, 0x16}));
    EXPECT_EQ(rig.Exchange(Short(0x40, 1)), kAckOnly);  // used up
    rig.cb.Inject(R(FaultKind::BadStart, SimCmd::ResetLink, 0, 1));
    EXPECT_EQ(rig.Exchange(Short(0x40, 1)), Bytes{0xE4});
}

TEST(SimFaults, LostAnswerIsCarriedOutAndResentOnTheSameFcb)
{
    TRig rig;
    rig.cb.FillJournal(2);
    const auto journal = rig.cb.Journal();
    rig.Exchange(Short(0x40, 1));
    rig.cb.Inject(R(FaultKind::NoAnswer, SimCmd::ReadJournal, 0, 1));
    EXPECT_EQ(rig.Exchange(Long(0x7B, 1, 0xF0)), Bytes{});
    const Bytes again = rig.Exchange(Long(0x7B, 1, 0xF0));
    ASSERT_EQ(again.size(), 21u);
    EXPECT_EQ(again[7], journal[0].Code);
    EXPECT_EQ(rig.Exchange(Long(0x5B, 1, 0xF0))[7], journal[1].Code);

    // An ignored request was not heard: the journal does not move on.
    rig.Exchange(Short(0x40, 1));
    rig.cb.Inject(R(FaultKind::Ignore, SimCmd::ReadJournal, 0, 1));
    EXPECT_EQ(rig.Exchange(Long(0x7B, 1, 0xF0)), Bytes{});
    EXPECT_EQ(rig.Exchange(Long(0x7B, 1, 0xF0))[7], journal[0].Code);
    EXPECT_EQ(rig.cb.RepeatedAnswers(), 1u);
}

TEST(SimFaults, SplitLateGarbageAndEveryNth)
{
    {
        TRig rig;
        rig.cb.Inject(R(FaultKind::Split, SimCmd::LinkStatus, 20));
        rig.Send(Short(0x49, 1));
        rig.clock.Advance(20);
        EXPECT_EQ(rig.ReadNow(), (Bytes{0x10, 0x0B}));
        rig.clock.Advance(20);
        EXPECT_EQ(rig.ReadNow(), (Bytes{0x01, 0x0C, 0x16}));
    }
    {
        TRig rig;
        rig.cb.Inject(R(FaultKind::Late, SimCmd::ResetLink, 50));
        rig.Send(Short(0x40, 1));
        rig.clock.Advance(60);
        EXPECT_EQ(rig.ReadNow(), Bytes{});
        rig.clock.Advance(5);
        EXPECT_EQ(rig.ReadNow(), kAckOnly);
    }
    {
        TRig rig;
        rig.cb.Inject(R(FaultKind::Garbage, SimCmd::ResetLink, 3));
        const Bytes got = rig.Exchange(Short(0x40, 1));
        ASSERT_EQ(got.size(), 4u);
        EXPECT_EQ(got.back(), 0xE5);
        for (int i = 0; i < 3; ++i) {
            EXPECT_NE(got[i], 0xE5);
            EXPECT_NE(got[i], 0x68);
            EXPECT_NE(got[i], 0x10);
        }
    }
    {
        TRig rig;
        rig.cb.Inject(R(FaultKind::GarbageAfter, SimCmd::ResetLink, 2));
        const Bytes got = rig.Exchange(Short(0x40, 1));
        ASSERT_EQ(got.size(), 3u);
        EXPECT_EQ(got.front(), 0xE5);
    }
    {
        TRig rig;
        rig.cb.Inject(R(FaultKind::EveryNth, std::nullopt, 3));
        int answered = 0;
        for (int i = 0; i < 9; ++i)
            answered += rig.Exchange(Short(0x40, 1)) == kAckOnly;
        EXPECT_EQ(answered, 3);
    }
    {
        TRig rig;
        rig.cb.Inject(R(FaultKind::NoAnswer, std::nullopt, 0, 2));
        EXPECT_EQ(rig.Exchange(Short(0x40, 1)), Bytes{});
        EXPECT_EQ(rig.Exchange(Short(0x47, 1)), Bytes{});
        EXPECT_EQ(rig.Exchange(Short(0x40, 1)), kAckOnly);
        EXPECT_TRUE(rig.cb.Faults().empty() || rig.cb.Faults()[0].Remaining == 0);
    }
}

TEST(SimFaults, SilentBlock)
{
    TRig rig;
    rig.cb.SetSilent(true);
    EXPECT_EQ(rig.Exchange(Short(0x40, 1)), Bytes{});
    EXPECT_EQ(rig.cb.TotalRequests(), 0u);
    rig.cb.SetSilent(false);
    EXPECT_EQ(rig.Exchange(Short(0x40, 1)), kAckOnly);
}

}  // namespace
}  // namespace kestrel::sim::test

namespace kestrel::sim::test {
namespace {

// A flooding block: every poll finds another event (output 1 chattering),
// after whatever was really queued; "times N" makes it N events.
TEST(SimFaults, FloodingBlockAnswersEveryPollWithAnotherEvent)
{
    TRig rig;
    std::string reply;
    rig.cb.RaiseMtz(2);
    ASSERT_TRUE(rig.bus.Command("inject flood times 3", reply)) << reply;
    ASSERT_EQ(rig.cb.Faults().size(), 1u);
    EXPECT_EQ(rig.cb.Faults()[0].Kind, FaultKind::Flood);
    EXPECT_EQ(rig.Exchange(Short(0x47, 1)), kAckOnly);
    bool fcb = true;
    auto poll = [&] {
        const Bytes a = rig.Exchange(Poll(fcb));
        fcb = !fcb;
        return a;
    };
    const Bytes real = poll();
    ASSERT_EQ(real.size(), 21u);
    EXPECT_EQ(real[7], EvMtz2);  // the real event first
    EXPECT_EQ(real[4], 0x28);
    const struct {
        uint8_t c;
        uint8_t outputs;
    } flood[] = {{0x28, 0x01}, {0x28, 0x00}, {0x08, 0x01}};
    for (const auto& f : flood) {
        const Bytes a = poll();
        ASSERT_EQ(a.size(), 21u);
        EXPECT_EQ(a[4], f.c);
        EXPECT_EQ(a[7], EvOutputs);
        EXPECT_EQ(static_cast<uint8_t>(~a[8] & 0x3F), f.outputs);
    }
    EXPECT_EQ(poll(), kAckOnly);
    // The flood went into the journal as well.
    EXPECT_EQ(rig.cb.Journal().size(), 4u);

    // Without a count it never ends; the same FCB again is the same answer,
    // not one more event; "inject off" stops it.
    ASSERT_TRUE(rig.bus.Command("inject flood", reply)) << reply;
    for (int i = 0; i < 300; ++i) {
        const Bytes a = poll();
        ASSERT_EQ(a.size(), 21u) << i;
        ASSERT_EQ(a[4], 0x28) << i;
    }
    const size_t journal = rig.cb.Journal().size();
    fcb = !fcb;
    const Bytes again = poll();
    EXPECT_EQ(again.size(), 21u);
    EXPECT_EQ(rig.cb.Journal().size(), journal);
    ASSERT_TRUE(rig.bus.Command("inject off", reply));
    EXPECT_EQ(poll(), kAckOnly);
    EXPECT_EQ(rig.cb.PendingEvents(), 0u);
}

}  // namespace
}  // namespace kestrel::sim::test
