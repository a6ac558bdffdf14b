// The client's commands and composite sequences against the simulated block,
// on a virtual clock: the two sides were written apart, so agreement here
// means both read the wire the same way.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "SimBus.h"
#include "SimEvent.h"
#include "link/ComPort.h"
#include "protocol/Protocol.h"
#include "state/UiHooks.h"

namespace kestrel::sim {
namespace {

struct ClientRig {
    VirtualClock clock;
    SimBus bus{clock};
    TSimCb& sim;
    TGlobalState state;
    TComPort port{bus};
    IUiHooks hooks;
    TCbProtocol proto{state, port, clock, hooks};

    ClientRig() : sim(bus.Attach(1))
    {
        sim.SetClock(TSimTime{2013, 10, 2, 17, 30, 5, 0});
        EXPECT_EQ(proto.OpenPortForCb(0), 0);
    }
    TCbData& rec() { return *state.Cb(0); }
    std::vector<TEventData> Events()
    {
        std::vector<TEventData> v;
        TEventData e;
        for (int32_t i = 0; rec().Events.At(i, e); ++i)
            v.push_back(e);
        return v;
    }
    // Control fields of the requests of one kind the block heard.
    std::vector<uint8_t> Cs(SimCmd cmd)
    {
        std::vector<uint8_t> cs;
        for (const auto& r : sim.Requests())
            if (ClassifyRequest(r) == cmd)
                cs.push_back(r.C);
        return cs;
    }
};

TFaultRule Fault(FaultKind k, std::optional<SimCmd> cmd, uint32_t param = 0, int32_t times = -1)
{
    TFaultRule r;
    r.Kind = k;
    r.Cmd = cmd;
    r.Param = param;
    r.Remaining = times;
    return r;
}

// A journal without reset records (the second fetch stops at one).
void FillPlainJournal(TSimCb& sim, int n)
{
    const int64_t t0 = ToMs2000(TSimTime{2013, 9, 1, 8, 0, 0, 0});
    for (int i = 0; i < n; ++i) {
        TSimEvent e{static_cast<uint8_t>(i % 2 ? EvMtz1 + i % 3 : EvSensor1 + i % 3)};
        e.Uir = e.Code >= EvSensor1 ? static_cast<uint8_t>(1 + i % 43) : 0;
        e.TimeMs = t0 - int64_t{i} * 61001;
        sim.AddJournalRecord(e);
    }
}

// ---------------------------------------------------------------- journal

TEST(ClientAgainstSim, JournalFetchesOfEverySize)
{
    struct Case {
        int records;
        bool second;
        size_t reads;   // record requests the block hears
        size_t stored;
    };
    const Case cases[] = {
        {0, false, 10, 0},    {0, true, 1, 0},      {1, false, 2, 1},     {1, true, 2, 1},
        {255, false, 255, 255}, {255, true, 255, 255}, {300, false, 255, 255}, {300, true, 255, 255},
    };
    for (const auto& c : cases) {
        ClientRig r;
        FillPlainJournal(r.sim, c.records);
        r.rec().JournalError = 1;
        const int res = c.second ? r.proto.ReqFetchJournal2(0) : r.proto.ReqFetchJournal(0);
        const std::string name = std::to_string(c.records) + (c.second ? " by 107" : " by 101");
        EXPECT_EQ(res, 0) << name;
        EXPECT_EQ(r.rec().JournalError.load(), 0) << name;
        EXPECT_EQ(r.sim.RequestCount(SimCmd::ResetLink), 1u) << name;
        EXPECT_EQ(r.sim.RequestCount(SimCmd::ReadJournal), c.reads) << name;
        const auto events = r.Events();
        ASSERT_EQ(events.size(), c.stored) << name;
        const auto journal = r.sim.Journal();
        for (size_t i = 0; i < events.size(); ++i) {
            const TSimTime t = FromMs2000(journal[i].TimeMs);
            EXPECT_EQ(events[i].Code, journal[i].Code) << name << " #" << i;
            EXPECT_EQ(events[i].UirAddress, journal[i].Uir) << name << " #" << i;
            EXPECT_EQ(events[i].Minutes, t.Minute) << name << " #" << i;
            EXPECT_EQ(events[i].Seconds, t.Second) << name << " #" << i;
            EXPECT_EQ(events[i].Milliseconds, t.Ms) << name << " #" << i;
            EXPECT_EQ(events[i].Day, t.Day) << name << " #" << i;
        }
        // The FCB alternates from record to record.
        const auto cs = r.Cs(SimCmd::ReadJournal);
        for (size_t i = 0; i + 1 < cs.size() && i < c.stored; ++i)
            EXPECT_NE(cs[i] & 0x20, cs[i + 1] & 0x20) << name << " #" << i;
        EXPECT_EQ(r.sim.RepeatedAnswers(), c.records == 0 && !c.second ? 9u : 0u) << name;
    }
}

TEST(ClientAgainstSim, SecondFetchStopsAtAResetRecord)
{
    ClientRig r;
    for (uint8_t code : {EvArc1, EvMtz1, EvReset, EvArc2}) {
        TSimEvent e{code};
        e.Uir = 3;
        r.sim.AddJournalRecord(e);
    }
    EXPECT_EQ(r.proto.ReqFetchJournal2(0), 0);
    ASSERT_EQ(r.Events().size(), 3u);
    EXPECT_EQ(r.rec().Uir[2].ChArc1.load(), 0);
    EXPECT_EQ(r.rec().MtzActive[0].load(), 0);

    ClientRig all;
    for (uint8_t code : {EvArc1, EvMtz1, EvReset, EvArc2}) {
        TSimEvent e{code};
        e.Uir = 3;
        all.sim.AddJournalRecord(e);
    }
    EXPECT_EQ(all.proto.ReqFetchJournal(0), 0);
    ASSERT_EQ(all.Events().size(), 4u);
    EXPECT_EQ(all.rec().Uir[2].ChArc2.load(), 1);
    EXPECT_EQ(all.rec().Uir[2].ChArc1.load(), 0);
}

TEST(ClientAgainstSim, LostAnswerIsRecoveredThroughTheFcb)
{
    ClientRig r;
    FillPlainJournal(r.sim, 6);
    r.sim.Inject(Fault(FaultKind::NoAnswer, SimCmd::ReadJournal, 0, 2));
    EXPECT_EQ(r.proto.ReqFetchJournal(0), 0);
    const auto events = r.Events();
    const auto journal = r.sim.Journal();
    ASSERT_EQ(events.size(), 6u);  // none skipped, none twice
    for (size_t i = 0; i < 6; ++i)
        EXPECT_EQ(events[i].Code, journal[i].Code) << i;
    EXPECT_EQ(r.sim.RepeatedAnswers(), 2u);
    EXPECT_EQ(r.rec().FailCount.load(), 0);
}

TEST(ClientAgainstSim, ClearJournalThenReadBack)
{
    ClientRig r;
    FillPlainJournal(r.sim, 5);
    EXPECT_EQ(r.proto.ReqClearJournal(0), 0);
    EXPECT_EQ(r.rec().ClearJournalError.load(), 0);
    EXPECT_TRUE(r.sim.Journal().empty());
    EXPECT_EQ(r.proto.ReqFetchJournal(0), 0);
    EXPECT_TRUE(r.Events().empty());
}

// ---------------------------------------------------------------- events

TEST(ClientAgainstSim, EventCycleWithThreeEvents)
{
    ClientRig r;
    r.sim.ConfigureUir(5, true, true, 0, 1, 2, true, true, true);
    r.sim.SetTableWire(1, 1, static_cast<uint8_t>(~0x06));
    ASSERT_TRUE(r.sim.RaiseArc(5, 2, 10, 1));  // arc, MTZ-1, outputs
    TEventData older;
    older.Code = 0xD1;
    r.rec().Events.Append(older);

    EXPECT_EQ(r.proto.ReqEventCycle(0), 0);
    EXPECT_EQ(r.rec().NewEventCount.load(), 3);
    EXPECT_EQ(r.Cs(SimCmd::Poll), (std::vector<uint8_t>{0x7B, 0x5B, 0x7B, 0x5B}));
    EXPECT_EQ(r.sim.RequestCount(SimCmd::ResetFcb), 1u);
    // The client keeps the list newest first (its status walk stops at the
    // newest reset), so the cycle's events stand reversed before the old one.
    const auto ev = r.Events();
    ASSERT_EQ(ev.size(), 4u);
    EXPECT_EQ(ev[2].Code, 0xA2);
    EXPECT_EQ(ev[2].UirAddress, 5);
    EXPECT_EQ(ev[2].Interval, 10);
    EXPECT_EQ(ev[1].Code, 0xB1);
    EXPECT_EQ(ev[0].Code, 0xC0);
    EXPECT_EQ(ev[0].Outputs, 0x06);
    EXPECT_EQ(ev[3].Code, 0xD1);
    // The arc's time is moved back by its interval.
    const int64_t rx = r.sim.Journal()[2].TimeMs;
    const TSimTime det = FromMs2000(rx - 10);
    EXPECT_EQ(ev[2].Seconds, det.Second);
    EXPECT_EQ(ev[2].Milliseconds, det.Ms);
    EXPECT_EQ(r.rec().Uir[4].ChArc2.load(), 1);
    EXPECT_EQ(r.rec().MtzActive[0].load(), 1);
    EXPECT_EQ(r.sim.PendingEvents(), 0u);

    // A reset on the installation clears the alarms at the next cycle.
    r.sim.RaiseReset();
    EXPECT_EQ(r.proto.ReqEventCycle(0), 0);
    EXPECT_EQ(r.rec().Uir[4].ChArc2.load(), 0);
    EXPECT_EQ(r.rec().MtzActive[0].load(), 0);
}

TEST(ClientAgainstSim, SettingsMenuLeftLeadsToAReRead)
{
    ClientRig r;
    // The PC holds the block's settings ...
    ASSERT_EQ(r.proto.ReqReadAllFuncTables(0, true), 0);
    ASSERT_EQ(r.proto.ReqReadUirConfig(0, true), 0);
    // ... then someone changes them at the block's own menu.
    r.sim.EnterMenu();
    r.sim.SetTableWire(2, 3, 0x5A);
    r.sim.ConfigureUir(17, true, false, 3, 2, 1, true, false, true);
    r.sim.LeaveMenu();
    EXPECT_EQ(r.proto.ReqEventCycle(0), 0);
    EXPECT_EQ(r.rec().NewEventCount.load(), 2);
    ASSERT_EQ(r.rec().FuncTablesChanged.load(), 1);
    ASSERT_EQ(r.rec().UirCfgChanged.load(), 1);
    // What the acquisition thread does next.
    EXPECT_EQ(r.proto.ReqReadAllFuncTables(0, r.state.Fcb.load() != 0), 0);
    EXPECT_EQ(r.proto.ReqReadUirConfig(0, r.state.Fcb.load() != 0), 0);
    EXPECT_EQ(r.rec().FuncTable[3][2].load(), 0xA5);
    const TUirData& u = r.rec().Uir[16];
    EXPECT_EQ(u.PollEnabled.load(), 1);
    EXPECT_EQ(u.OutputEnabled.load(), 0);
    EXPECT_EQ(u.InputFunction1.load(), 3);
    EXPECT_EQ(u.InputFunction2.load(), 2);
    EXPECT_EQ(u.InputFunction3.load(), 1);
    EXPECT_EQ(u.InputControl1.load(), 1);
    EXPECT_EQ(u.InputControl2.load(), 0);
    EXPECT_EQ(u.InputControl3.load(), 1);
    EXPECT_EQ(r.sim.RequestCount(SimCmd::ReadTable), 8u);
    EXPECT_EQ(r.sim.RequestCount(SimCmd::ReadSegment), 22u);
}

// ---------------------------------------------------------------- settings round trips

TEST(ClientAgainstSim, TablesWrittenAndReadBackUnchanged)
{
    ClientRig r;
    for (int k = 0; k < 4; ++k)
        for (int m = 0; m < 4; ++m)
            r.rec().FuncTable[k][m] = static_cast<uint8_t>(0x11 * k + 0x40 * m + 3);
    r.rec().UrovTimeMs = 250;
    r.rec().MtzWait = 1;
    r.rec().FuncWriteError = 1;
    ASSERT_EQ(r.proto.ReqWriteAllFuncTables(0), 0);
    EXPECT_EQ(r.rec().FuncWriteError.load(), 0);
    for (int k = 0; k < 4; ++k)
        for (int m = 0; m < 4; ++m)
            EXPECT_EQ(r.sim.TableWire(m, k), static_cast<uint8_t>(~(0x11 * k + 0x40 * m + 3))) << k << m;
    EXPECT_EQ(r.sim.UrovUnits(), 5);
    EXPECT_EQ(r.sim.MtzWaitByte(), 1);

    for (int k = 0; k < 4; ++k)
        for (int m = 0; m < 4; ++m)
            r.rec().FuncTable[k][m] = 0;
    r.rec().UrovTimeMs = 0;
    r.rec().MtzWait = 0;
    r.sim.SetOutputs(0x2A);
    ASSERT_EQ(r.proto.ReqReadAllFuncTables(0, false), 0);
    for (int k = 0; k < 4; ++k)
        for (int m = 0; m < 4; ++m)
            EXPECT_EQ(r.rec().FuncTable[k][m].load(), static_cast<uint8_t>(0x11 * k + 0x40 * m + 3)) << k << m;
    EXPECT_EQ(r.rec().UrovTimeMs.load(), 250);
    EXPECT_EQ(r.rec().MtzWait.load(), 1);
    EXPECT_EQ(r.rec().OutputsState.load(), 0x2A);
}

TEST(ClientAgainstSim, UirConfigurationWrittenAndReadBackUnchanged)
{
    ClientRig r;
    auto fill = [](TUirData& u, int i) {
        u.PollEnabled = i % 2;
        u.OutputEnabled = (i / 2) % 2;
        u.InputFunction1 = static_cast<uint8_t>(i % 4);
        u.InputFunction2 = static_cast<uint8_t>((i + 1) % 4);
        u.InputFunction3 = static_cast<uint8_t>((i + 3) % 4);
        u.InputControl1 = (i / 3) % 2;
        u.InputControl2 = (i / 5) % 2;
        u.InputControl3 = (i / 7) % 2;
    };
    for (int i = 0; i < kUirCount; ++i)
        fill(r.rec().Uir[i], i);
    ASSERT_EQ(r.proto.ReqWriteUirConfig(0, true), 0);
    EXPECT_EQ(r.sim.RequestCount(SimCmd::WriteSegment), 11u);
    // UIR 4 (i = 3): poll 1, output 1, functions 3, 0, 2; inputs 1 only.
    EXPECT_EQ(r.sim.UirSlot(4), (TUirSlot{0xE3, 0x01}));

    for (int i = 0; i < kUirCount; ++i) {
        TUirData& u = r.rec().Uir[i];
        u.PollEnabled = 0;
        u.OutputEnabled = 0;
        u.InputFunction1 = u.InputFunction2 = u.InputFunction3 = 0;
        u.InputControl1 = u.InputControl2 = u.InputControl3 = 0;
    }
    ASSERT_EQ(r.proto.ReqReadUirConfig(0, false), 0);
    for (int i = 0; i < kUirCount; ++i) {
        TUirData want;
        fill(want, i);
        const TUirData& u = r.rec().Uir[i];
        EXPECT_EQ(u.PollEnabled.load(), want.PollEnabled.load()) << i;
        EXPECT_EQ(u.OutputEnabled.load(), want.OutputEnabled.load()) << i;
        EXPECT_EQ(u.InputFunction1.load(), want.InputFunction1.load()) << i;
        EXPECT_EQ(u.InputFunction2.load(), want.InputFunction2.load()) << i;
        EXPECT_EQ(u.InputFunction3.load(), want.InputFunction3.load()) << i;
        EXPECT_EQ(u.InputControl1.load(), want.InputControl1.load()) << i;
        EXPECT_EQ(u.InputControl2.load(), want.InputControl2.load()) << i;
        EXPECT_EQ(u.InputControl3.load(), want.InputControl3.load()) << i;
    }
}

TEST(ClientAgainstSim, ClockAddressSpeedReset)
{
    ClientRig r;
    r.sim.SetClockRunning(false);
    ASSERT_EQ(r.proto.ReqReadClock(0, false), 0);
    EXPECT_EQ(r.rec().ClockHour.load(), 17);
    EXPECT_EQ(r.rec().ClockMinute.load(), 30);
    EXPECT_EQ(r.rec().ClockSecond.load(), 5);
    EXPECT_EQ(r.rec().ClockDay.load(), 2);
    EXPECT_EQ(r.rec().ClockMonth.load(), 10);
    EXPECT_EQ(r.rec().ClockYear.load(), 13u);

    const uint8_t when[6] = {0x59, 0x58, 0x23, 0x31, 0x12, 0x26};
    for (int i = 0; i < 6; ++i)
        r.state.CmdData[i] = when[i];
    ASSERT_EQ(r.proto.ReqWriteClock(0), 0);
    const TSimTime t = r.sim.ClockNow();
    EXPECT_EQ(t.Year, 2026);
    EXPECT_EQ(t.Month, 12);
    EXPECT_EQ(t.Day, 31);
    EXPECT_EQ(t.Hour, 23);
    EXPECT_TRUE(r.sim.ClockRunning());
    EXPECT_EQ(r.proto.ReqStopClock(0), 0);
    EXPECT_FALSE(r.sim.ClockRunning());

    // A date the block refuses: no confirmation, the flag is set.
    r.state.CmdData[4] = 0x13;
    EXPECT_EQ(r.proto.ReqWriteClock(0), -6);
    EXPECT_EQ(r.rec().ClockWriteError.load(), 1);

    ASSERT_EQ(r.proto.ReqResetCb(0), 0);
    EXPECT_EQ(r.sim.PendingEvents(), 1u);
    EXPECT_EQ(r.proto.ReqLinkStatus(0, false), 0);

    r.state.CmdData[0] = 1;  // 19200
    ASSERT_EQ(r.proto.ReqSetSpeed(0), 0);
    EXPECT_EQ(r.sim.Line().Baud, 19200);
    // The PC keeps its configured speed: the block no longer hears it.
    EXPECT_EQ(r.proto.ReqLinkStatus(0, false), -6);
    r.rec().Baud = 19200;
    r.proto.ClosePortForCb(0);
    ASSERT_EQ(r.proto.OpenPortForCb(0), 0);
    EXPECT_EQ(r.proto.ReqLinkStatus(0, false), 0);

    r.state.CmdData[0] = 7;
    ASSERT_EQ(r.proto.ReqSetAddress(0), 0);
    EXPECT_EQ(r.sim.Address(), 7);
    EXPECT_EQ(r.proto.ReqLinkStatus(0, false), -6);
    r.rec().Address = 7;
    EXPECT_EQ(r.proto.ReqLinkStatus(0, false), 0);
    EXPECT_EQ(r.rec().AddressError.load(), 0);
    EXPECT_EQ(r.rec().SpeedError.load(), 0);
}

// ---------------------------------------------------------------- faults

TEST(ClientAgainstSim, SilentBlockExhaustsEveryRetryAndLosesTheLink)
{
    struct Case {
        const char* name;
        int (*run)(TCbProtocol&);
        int result;
        SimCmd cmd;
        uint32_t tries;
        Flag TCbData::*flag;
    };
    const Case cases[] = {
        {"101", [](TCbProtocol& p) { return p.ReqFetchJournal(0); }, -2, SimCmd::ResetLink, 10, &TCbData::JournalError},
        {"102", [](TCbProtocol& p) { return p.ReqReadAllFuncTables(0, true); }, -2, SimCmd::ReadTable, 10, &TCbData::FuncReadError},
        {"103", [](TCbProtocol& p) { return p.ReqWriteAllFuncTables(0); }, -2, SimCmd::WriteTable, 100, &TCbData::FuncWriteError},
        {"104", [](TCbProtocol& p) { return p.ReqReadUirConfig(0, true); }, -2, SimCmd::ReadSegment, 10, &TCbData::UirReadError},
        {"105", [](TCbProtocol& p) { return p.ReqWriteUirConfig(0, true); }, -2, SimCmd::WriteSegment, 10, &TCbData::UirWriteError},
        {"106", [](TCbProtocol& p) { return p.ReqEventCycle(0); }, -3, SimCmd::ResetFcb, 10, nullptr},
    };
    for (const auto& c : cases) {
        ClientRig r;
        r.sim.Inject(Fault(FaultKind::NoAnswer, std::nullopt));
        EXPECT_EQ(c.run(r.proto), c.result) << c.name;
        EXPECT_EQ(r.sim.RequestCount(c.cmd), c.tries) << c.name;
        EXPECT_EQ(r.sim.TotalRequests(), c.tries) << c.name;
        if (c.flag) {
            EXPECT_EQ((r.rec().*c.flag).load(), 1) << c.name;
        }
        const int32_t fails = static_cast<int32_t>(std::min<uint32_t>(c.tries, 51));
        EXPECT_EQ(r.rec().FailCount.load(), fails) << c.name;
        EXPECT_EQ(r.rec().LinkLost.load(), c.tries > 50 ? 1 : 0) << c.name;
        // The next good exchange restores the link.
        r.sim.ClearFaults();
        EXPECT_EQ(r.proto.ReqResetLink(0), 0) << c.name;
        EXPECT_EQ(r.rec().FailCount.load(), 0) << c.name;
        EXPECT_EQ(r.rec().LinkLost.load(), 0) << c.name;
    }
}

TEST(ClientAgainstSim, SpoiledAnswersAreRetriedAsSpecified)
{
    struct Case {
        const char* name;
        TFaultRule fault;
        int (*run)(TCbProtocol&);
        int result;
        SimCmd cmd;
        uint32_t requests;
        int32_t failCount;  // after the run
        Flag TCbData::*flag = nullptr;  // set after the run (all others clear)
    };
    const Case cases[] = {
        // One bad check sum on a table read: one retry, then all four read.
        {"badsum table", Fault(FaultKind::BadSum, SimCmd::ReadTable, 0, 1),
         [](TCbProtocol& p) { return p.ReqReadAllFuncTables(0, true); }, 0, SimCmd::ReadTable, 5, 0},
        // Bad check sums for ever on the clock read: a single try, -5.
        {"badsum clock", Fault(FaultKind::BadSum, SimCmd::ReadClock),
         [](TCbProtocol& p) { return p.ReqReadClock(0, true); }, -5, SimCmd::ReadClock, 1, 1, &TCbData::ClockReadError},
        // A wrong first byte on a write acknowledgement: -5 each time, 100 tries.
        {"badstart write", Fault(FaultKind::BadStart, SimCmd::WriteTable),
         [](TCbProtocol& p) { return p.ReqWriteAllFuncTables(0); }, -2, SimCmd::WriteTable, 100, 51, &TCbData::FuncWriteError},
        // A wrong first byte on journal records: -2 from each read, ten tries.
        {"badstart journal", Fault(FaultKind::BadStart, SimCmd::ReadJournal),
         [](TCbProtocol& p) { return p.ReqFetchJournal(0); }, -3, SimCmd::ReadJournal, 10, 10, &TCbData::JournalError},
        // Every second segment read unheard: each segment takes two tries.
        {"every 2", Fault(FaultKind::EveryNth, SimCmd::ReadSegment, 2),
         [](TCbProtocol& p) { return p.ReqReadUirConfig(0, false); }, 0, SimCmd::ReadSegment, 22, 0},
        // Garbage ahead of one FCB-reset acknowledgement: one retry 50 ms on.
        {"garbage reset-fcb", Fault(FaultKind::Garbage, SimCmd::ResetFcb, 3, 1),
         [](TCbProtocol& p) { return p.ReqEventCycle(0); }, 0, SimCmd::ResetFcb, 2, 0},
        // An answer split with a short pause still arrives within the wait.
        {"split inside the wait", Fault(FaultKind::Split, SimCmd::ReadSegment, 20),
         [](TCbProtocol& p) { return p.ReqReadUirConfig(0, true); }, 0, SimCmd::ReadSegment, 11, 0},
        // A late answer (beyond the 200 ms wait) on every clock read.
        {"late clock", Fault(FaultKind::Late, SimCmd::ReadClock, 250),
         [](TCbProtocol& p) { return p.ReqReadClock(0, false); }, -6, SimCmd::ReadClock, 1, 1, &TCbData::ClockReadError},
    };
    for (const auto& c : cases) {
        ClientRig r;
        FillPlainJournal(r.sim, 3);
        r.sim.Inject(c.fault);
        EXPECT_EQ(c.run(r.proto), c.result) << c.name;
        EXPECT_EQ(r.sim.RequestCount(c.cmd), c.requests) << c.name;
        EXPECT_EQ(r.rec().FailCount.load(), c.failCount) << c.name;
        EXPECT_EQ(r.rec().LinkLost.load(), c.failCount > 50 ? 1 : 0) << c.name;
        for (Flag TCbData::*f : {&TCbData::ClockReadError, &TCbData::FuncWriteError, &TCbData::JournalError,
                                 &TCbData::FuncReadError, &TCbData::UirReadError})
            EXPECT_EQ((r.rec().*f).load(), f == c.flag ? 1 : 0) << c.name;
    }
}

TEST(ClientAgainstSim, PortErrorsOfThePcSide)
{
    ClientRig r;
    r.bus.FailWrites(kErrGenFailure);
    EXPECT_EQ(r.proto.ReqReadClock(0, false), -3);
    EXPECT_EQ(r.rec().LastPortError.load(), kErrGenFailure);
    EXPECT_EQ(r.rec().ClockReadError.load(), 1);
    EXPECT_EQ(r.sim.TotalRequests(), 0u);  // nothing reached the line

    // A read error while the answer's bytes arrive.
    r.bus.FailReads(kErrGenFailure);
    EXPECT_EQ(r.proto.ReqResetLink(0), -4);
    EXPECT_EQ(r.rec().FailCount.load(), 2);
    EXPECT_EQ(r.sim.RequestCount(SimCmd::ResetLink), 1u);
    EXPECT_EQ(r.proto.ReqReadClock(0, false), 0);
    EXPECT_EQ(r.rec().ClockReadError.load(), 0);
    EXPECT_EQ(r.rec().LastPortError.load(), 0u);

    // A port number with nothing attached.
    r.proto.ClosePortForCb(0);
    r.rec().PortNumber = 2;
    EXPECT_LT(r.proto.OpenPortForCb(0), 0);
    EXPECT_EQ(r.rec().LastPortError.load(), kErrFileNotFound);
}

TEST(ClientAgainstSim, SplitAnswerBeyondTheWaitIsRecoveredByRetries)
{
    ClientRig r;
    r.sim.SetTableWire(0, 0, 0x12);
    r.sim.Inject(Fault(FaultKind::Split, SimCmd::ReadTable, 300, 1));
    EXPECT_EQ(r.proto.ReqReadAllFuncTables(0, true), 0);
    EXPECT_GT(r.sim.RequestCount(SimCmd::ReadTable), 4u);
    EXPECT_EQ(r.rec().FuncTable[0][0].load(), 0xED);
    EXPECT_EQ(r.rec().FuncReadError.load(), 0);
}

TEST(ClientAgainstSim, LateAnswerLandsInTheNextExchange)
{
    // The clock answer comes 250 ms late, after the PC stopped waiting. The
    // next exchange of the visit (a table read) finds it in the buffer: its
    // header and check sum are sound, and the table read does not compare
    // CI, so the clock's bytes are taken for the table. The table's own
    // answer then waits in the buffer for the exchange after that.
    ClientRig r;
    r.sim.SetClockRunning(false);  // 17:30:05: second byte 0x05
    r.sim.Inject(Fault(FaultKind::Late, SimCmd::ReadClock, 250, 1));
    EXPECT_EQ(r.proto.ReqReadClock(0, false), -6);
    EXPECT_EQ(r.rec().ClockReadError.load(), 1);
    EXPECT_EQ(r.proto.ReqReadFuncTableNoMtz(0, false), 0);
    EXPECT_EQ(r.rec().FuncTable[0][0].load(), 0xFA);  // NOT 0x05
    EXPECT_EQ(r.rec().FuncTable[1][0].load(), 0xCF);  // NOT 0x30
    EXPECT_EQ(r.bus.PendingBytes(), 13u);             // the table's answer
    EXPECT_EQ(r.sim.RequestCount(SimCmd::ReadTable), 1u);
    // Closing the port at the end of the visit drops it.
    r.proto.ClosePortForCb(0);
    EXPECT_EQ(r.bus.PendingBytes(), 0u);
}

TEST(ClientAgainstSim, WholeStackRunsInVirtualTime)
{
    const auto start = std::chrono::steady_clock::now();
    ClientRig r;
    r.sim.ConfigureUir(1, true, true, 0, 1, 2, true, true, true);
    FillPlainJournal(r.sim, 255);
    ASSERT_EQ(r.proto.ReqFetchJournal(0), 0);
    for (int i = 0; i < 20; ++i) {
        r.sim.RaiseArc(1, 1 + i % 3);
        ASSERT_EQ(r.proto.ReqEventCycle(0), 0);
    }
    ASSERT_EQ(r.proto.ReqReadAllFuncTables(0, true), 0);
    ASSERT_EQ(r.proto.ReqReadUirConfig(0, true), 0);
    EXPECT_EQ(r.Events().size(), 255u + 60u);
    // Minutes of bus time ...
    const uint64_t busMs = r.clock.NowMs();
    EXPECT_GT(busMs, 60000u);
    // ... in a small part of that in real time (were the link's waits slept
    // for real, the two would be about equal). Judged against this run's bus
    // time, not a fixed budget a busy host could overrun.
    const auto realMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_LT(static_cast<uint64_t>(realMs.count()), busMs / 4) << "bus time " << busMs << " ms";
}

}  // namespace
}  // namespace kestrel::sim

namespace kestrel::sim {
namespace {

// The installation acts while the PC side polls from another thread, as the
// stdin console and the acquisition thread do with the real program.
TEST(ClientAgainstSim, BlockDrivenWhileAnotherThreadPolls)
{
    ClientRig r;
    r.sim.ConfigureUir(9, true, true, 1, 1, 1, true, true, true);
    std::atomic<bool> done{false};
    std::thread pc([&] {
        for (int i = 0; i < 200 && !done.load(); ++i)
            r.proto.ReqEventCycle(0);
    });
    for (int i = 0; i < 30; ++i) {
        r.sim.RaiseArc(9, 1 + i % 3);
        std::string reply;
        r.bus.Command("mtz 2", reply);
        std::this_thread::yield();
    }
    done = true;
    pc.join();
    // Whatever the cycles did not drain yet comes with the next one.
    while (r.sim.PendingEvents() > 0)
        ASSERT_EQ(r.proto.ReqEventCycle(0), 0);
    EXPECT_EQ(r.Events().size(), 30u * 4u);
}

}  // namespace
}  // namespace kestrel::sim
