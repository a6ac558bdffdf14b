// The acquisition loop stepped pass by pass against a scripted link.
#include <gtest/gtest.h>

#include <stdexcept>

#include "FakeAcq.h"
#include "monitor/GetDataThread.h"

namespace kestrel::test {
namespace {

class LoopTest : public ::testing::Test {
protected:
    void SetCbs(int32_t n)
    {
        std::lock_guard lock(state.RecordLock);
        state.EnsureAllocated(n);
        state.CbCount = n;
    }
    // Run n passes; the link calls they made.
    std::string Passes(int n)
    {
        for (int i = 0; i < n; ++i)
            thread.RunPass();
        return ToString(link.Take());
    }
    TCbData& Cb(int i) { return *state.Cb(i); }

    TGlobalState state;
    FakeLink link;
    VirtualClock clock;
    CountingHooks hooks;
    TGetDataThread thread{state, link, clock, hooks};
};

TEST_F(LoopTest, FreshThreadFields)
{
    EXPECT_EQ(thread.Running, 1);
    EXPECT_EQ(thread.Paused, 0);
    EXPECT_EQ(thread.PollState[0], 0);
    EXPECT_EQ(thread.PollTick[0], 0);
    EXPECT_EQ(thread.PollPeriod, 5);
    EXPECT_FALSE(thread.Finished());
}

TEST_F(LoopTest, FirstPollOnFifthPassThenEventCycleEveryFifth)
{
    // Four quiet passes: each only closes the port.
    EXPECT_EQ(Passes(4), "C0 C0 C0 C0 ");
    EXPECT_EQ(Cb(0).FirstPollPending, 1);
    EXPECT_EQ(hooks.closeWait, 0);
    EXPECT_EQ(thread.PollTick[0], 4);

    // Fifth: the journal fetch, FirstPollPending cleared, wait window closed.
    EXPECT_EQ(Passes(1), "O0 D0:107 C0 ");
    EXPECT_EQ(Cb(0).FirstPollPending, 0);
    EXPECT_EQ(hooks.closeWait, 1);
    EXPECT_EQ(thread.PollState[0], TGetDataThread::kPollEvents);
    EXPECT_EQ(thread.PollTick[0], 0);

    // Tenth: the event cycle leaves the port open; the next pass closes it.
    EXPECT_EQ(Passes(4), "C0 C0 C0 C0 ");
    EXPECT_EQ(Passes(1), "O0 D0:106 ");
    EXPECT_TRUE(link.PortOpen());
    EXPECT_EQ(Passes(1), "C0 ");
    EXPECT_FALSE(link.PortOpen());
    // ...and from then on on every fifth pass.
    EXPECT_EQ(Passes(4), "C0 C0 C0 O0 D0:106 ");
    EXPECT_EQ(Passes(5), "C0 C0 C0 C0 O0 D0:106 ");
    EXPECT_EQ(thread.PollState[0], TGetDataThread::kPollEvents);
    EXPECT_EQ(hooks.closeWait, 1);
}

TEST_F(LoopTest, PassTimings)
{
    // A quiet pass: 10 ms before, 10 ms after the visit.
    thread.RunPass();
    EXPECT_EQ(clock.SleptMs(), 20u);
    thread.PollState[0] = TGetDataThread::kPollEvents;
    thread.PollTick[0] = 4;
    // The event-cycle pass: 10 ms, then 20 ms and straight to the next pass.
    const uint64_t before = clock.SleptMs();
    thread.RunPass();
    EXPECT_EQ(clock.SleptMs() - before, 30u);
}

TEST_F(LoopTest, PollStateTransitions)
{
    struct Case {
        int32_t state;
        bool funcChanged, uirChanged;
        const char* calls;
        int32_t next;
        bool portLeftOpen;
    };
    const Case cases[] = {
        {0, false, false, "O0 D0:107 C0 ", 1, false},
        {1, false, false, "O0 D0:106 ", 1, true},
        {1, true, true, "O0 D0:106 ", 2, true},
        {2, false, true, "O0 D0:102 C0 ", 3, false},
        {2, false, false, "O0 D0:102 C0 ", 1, false},
        {3, false, false, "O0 D0:104 C0 ", 1, false},
        {4, false, false, "O0 C0 ", 0, false},
        {-1, false, false, "O0 C0 ", 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.state);
        TGlobalState st;
        FakeLink lk;
        VirtualClock ck;
        CountingHooks hk;
        TGetDataThread t(st, lk, ck, hk);
        t.PollState[0] = c.state;
        t.PollTick[0] = 4;
        st.Cb(0)->FuncTablesChanged = c.funcChanged;
        st.Cb(0)->UirCfgChanged = c.uirChanged;
        t.RunPass();
        EXPECT_EQ(ToString(lk.Take()), c.calls);
        EXPECT_EQ(t.PollState[0], c.next);
        EXPECT_EQ(lk.PortOpen(), c.portLeftOpen);
        // The state that reads a flag clears it; the others leave it.
        if (c.state == 1) {
            EXPECT_EQ(st.Cb(0)->FuncTablesChanged, 0);
        }
        if (c.state == 2) {
            EXPECT_EQ(st.Cb(0)->UirCfgChanged, 0);
        }
    }
}

TEST_F(LoopTest, SettingsMenuEventLeadsToOneTableReadAndOneConfigRead)
{
    thread.PollState[0] = TGetDataThread::kPollEvents;
    int cycles = 0;
    link.OnDispatch = [&](int32_t cb, int32_t code) {
        if (code == 106 && ++cycles == 2) {
            // The cycle received event 0xD4.
            state.Cb(cb)->FuncTablesChanged = 1;
            state.Cb(cb)->UirCfgChanged = 1;
        }
        if (code == 102)
            state.Cb(cb)->FuncReadError = 1;  // a failed read still moves on
    };
    for (int i = 0; i < 60; ++i)
        thread.RunPass();
    const auto d = link.Dispatches();
    std::vector<int32_t> codes;
    for (const auto& [cb, code] : d)
        codes.push_back(code);
    // 60 passes, a poll every fifth, the second cycle reports the change.
    const std::vector<int32_t> expected = {106, 106, 102, 104, 106, 106, 106, 106, 106, 106, 106, 106};
    EXPECT_EQ(codes, expected);
    EXPECT_EQ(Cb(0).FuncTablesChanged, 0);
    EXPECT_EQ(Cb(0).UirCfgChanged, 0);
    EXPECT_EQ(Cb(0).FuncReadError, 1);
}

TEST_F(LoopTest, PostedRequestRunsInsteadOfPollAndKeepsTick)
{
    thread.PollState[0] = TGetDataThread::kPollEvents;
    thread.RunPass();
    thread.RunPass();
    link.Take();
    Cb(0).Request = 102;
    EXPECT_EQ(Passes(1), "O0 D0:102 C0 ");
    EXPECT_EQ(Cb(0).Request, 0);
    EXPECT_EQ(thread.RequestsServed(), 1u);
    // A served request does not count as a visit without a request.
    EXPECT_EQ(thread.PollTick[0], 2);
    EXPECT_EQ(Passes(3), "C0 C0 O0 D0:106 ");
}

TEST_F(LoopTest, RequestPostedDuringPollRunsOnNextVisit)
{
    // The window posts while the journal fetch is running.
    link.OnDispatch = [&](int32_t cb, int32_t code) {
        if (code == 107)
            state.Cb(cb)->Request = 8;
    };
    EXPECT_EQ(Passes(5), "C0 C0 C0 C0 O0 D0:107 C0 ");
    EXPECT_EQ(Cb(0).Request, 8);  // not taken by the pass that polled
    EXPECT_EQ(Passes(1), "O0 D0:8 C0 ");
    EXPECT_EQ(Cb(0).Request, 0);
}

TEST_F(LoopTest, RequestPostedDuringEventCyclePassRunsNext)
{
    thread.PollState[0] = TGetDataThread::kPollEvents;
    thread.PollTick[0] = 4;
    link.OnDispatch = [&](int32_t cb, int32_t code) {
        if (code == 106)
            state.Cb(cb)->Request = 104;
    };
    EXPECT_EQ(Passes(1), "O0 D0:106 ");
    EXPECT_EQ(Passes(1), "O0 D0:104 C0 ");
    EXPECT_EQ(Cb(0).Request, 0);
}

TEST_F(LoopTest, ArgumentsComeFromTheGlobals)
{
    // The link receives only (cb, code); Fcb and UirSegment stay as posted
    // until the command runs.
    state.Fcb = 1;
    state.UirSegment = 7;
    uint8_t seenFcb = 0, seenSeg = 0;
    link.OnDispatch = [&](int32_t, int32_t) {
        seenFcb = state.Fcb;
        seenSeg = state.UirSegment;
    };
    Cb(0).Request = 9;
    thread.RunPass();
    EXPECT_EQ(seenFcb, 1);
    EXPECT_EQ(seenSeg, 7);
}

TEST_F(LoopTest, EveryKnownCodeIsServedAndUnknownCodesStay)
{
    for (int32_t code = -2; code <= 110; ++code) {
        if (code == 0)
            continue;
        SCOPED_TRACE(code);
        Cb(0).Request = code;
        thread.RunPass();
        const auto calls = link.Take();
        if (IsRequestCode(code)) {
            EXPECT_EQ(Cb(0).Request, 0);
            ASSERT_EQ(calls.size(), 3u);
            EXPECT_EQ(calls[1], (LinkCall{'D', 0, code}));
        } else {
            EXPECT_EQ(Cb(0).Request, code);
            EXPECT_EQ(ToString(calls), "O0 C0 ");
        }
    }
    Cb(0).Request = 0;
}

TEST_F(LoopTest, ConsoleOpenDropsRequestsAndHaltsPolling)
{
    state.ConsoleOpen = 1;
    Cb(0).Request = 17;
    EXPECT_EQ(Passes(1), "C0 ");
    EXPECT_EQ(Cb(0).Request, 0);  // dropped, not sent
    EXPECT_EQ(thread.RequestsServed(), 0u);
    std::string quiet;
    for (int i = 0; i < 23; ++i)
        quiet += "C0 ";
    EXPECT_EQ(Passes(23), quiet);
    EXPECT_EQ(thread.PollState[0], 0);
    EXPECT_EQ(Cb(0).FirstPollPending, 1);
    state.ConsoleOpen = 0;
    // Polling resumes where the counter stands (23 visits: tick 3).
    EXPECT_EQ(Passes(2), "C0 O0 D0:107 C0 ");
}

TEST_F(LoopTest, PausedTouchesNothingAndGivesUpAnOpenPort)
{
    thread.PollState[0] = TGetDataThread::kPollEvents;
    thread.PollTick[0] = 4;
    thread.RunPass();  // event cycle leaves the port open
    link.Take();
    ASSERT_TRUE(link.PortOpen());
    EXPECT_FALSE(thread.PauseTaken());
    thread.Paused = 1;
    state.ConsoleOpen = 1;
    Cb(0).Request = 21;
    EXPECT_EQ(Passes(1), "C0 ");
    EXPECT_TRUE(thread.PauseTaken());
    EXPECT_EQ(Passes(20), "");
    EXPECT_EQ(Cb(0).Request, 21);
    EXPECT_EQ(thread.PollTick[0], 0);
    EXPECT_EQ(thread.PollState[0], 1);
    // A paused pass sleeps 10 + 10 ms.
    const uint64_t before = clock.SleptMs();
    thread.RunPass();
    EXPECT_EQ(clock.SleptMs() - before, 20u);
    thread.Paused = 0;
    state.ConsoleOpen = 0;
    EXPECT_EQ(Passes(1), "O0 D0:21 C0 ");
    EXPECT_FALSE(thread.PauseTaken());
}

TEST_F(LoopTest, DisabledCbIsNeverServed)
{
    SetCbs(2);
    Cb(0).Enabled = 0;
    Cb(0).Request = 102;
    for (int i = 0; i < 40; ++i)
        thread.RunPass();
    for (const auto& [cb, code] : link.Dispatches())
        EXPECT_EQ(cb, 1) << code;
    for (const LinkCall& c : link.Calls())
        EXPECT_EQ(c.Cb, 1);
    EXPECT_EQ(Cb(0).Request, 102);  // neither run nor cleared
    EXPECT_EQ(Cb(0).FirstPollPending, 0);
    EXPECT_GE(hooks.closeWait, 20);
}

TEST_F(LoopTest, DisabledOnlyCbAdvancesAndSleeps)
{
    Cb(0).Enabled = 0;
    EXPECT_EQ(Passes(10), "");
    EXPECT_EQ(state.CurrentCb, 0);
    EXPECT_EQ(thread.PollTick[0], 0);
    EXPECT_EQ(clock.SleptMs(), 200u);
}

TEST_F(LoopTest, NoCbsOnlySleeps)
{
    state.CbCount = 0;
    EXPECT_EQ(Passes(5), "");
    EXPECT_EQ(clock.SleptMs(), 100u);
}

TEST_F(LoopTest, CurrentCbBeyondCountStartsOver)
{
    SetCbs(3);
    state.CurrentCb = 2;
    state.CbCount = 2;  // a configuration read shrank the list
    EXPECT_EQ(Passes(1), "");
    EXPECT_EQ(state.CurrentCb, 0);
    EXPECT_EQ(Passes(2), "C0 C1 ");
}

TEST_F(LoopTest, ThreeCbsVisitedInTurnEachRequestOnItsOwnCb)
{
    SetCbs(3);
    Cb(0).Request = 8;
    Cb(1).Request = 102;
    Cb(2).Request = 17;
    EXPECT_EQ(Passes(3), "O0 D0:8 C0 O1 D1:102 C1 O2 D2:17 C2 ");
    EXPECT_EQ(state.CurrentCb, 0);
    // Each CB's fifth visit without a request runs its own journal fetch.
    std::string quiet;
    for (int i = 0; i < 4; ++i)
        quiet += "C0 C1 C2 ";
    EXPECT_EQ(Passes(12), quiet);
    EXPECT_EQ(Passes(3), "O0 D0:107 C0 O1 D1:107 C1 O2 D2:107 C2 ");
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Cb(i).FirstPollPending, 0) << i;
    EXPECT_EQ(Passes(12), quiet);
    // The event cycle stays on its CB: the next pass visits it again.
    EXPECT_EQ(Passes(1), "O0 D0:106 ");
    EXPECT_EQ(state.CurrentCb, 0);
    EXPECT_EQ(Passes(5), "C0 O1 D1:106 C1 O2 D2:106 C2 ");
}

TEST(LoopFairness, EveryCbGetsItsShareOfEventCycles)
{
    // A count shared by all CBs would land on the same CB for ever with two
    // or four of them.
    for (int32_t n = 1; n <= 6; ++n) {
        SCOPED_TRACE(n);
        TGlobalState st;
        {
            std::lock_guard lock(st.RecordLock);
            st.EnsureAllocated(n);
            st.CbCount = n;
        }
        FakeLink lk;
        VirtualClock ck;
        CountingHooks hk;
        TGetDataThread t(st, lk, ck, hk);
        for (int i = 0; i < 60 * n; ++i)
            t.RunPass();
        std::vector<int> cycles(static_cast<size_t>(n), 0), journals(static_cast<size_t>(n), 0);
        for (const auto& [cb, code] : lk.Dispatches()) {
            cycles[static_cast<size_t>(cb)] += code == 106;
            journals[static_cast<size_t>(cb)] += code == 107;
        }
        for (int32_t i = 0; i < n; ++i) {
            EXPECT_EQ(journals[static_cast<size_t>(i)], 1) << i;
            EXPECT_GE(cycles[static_cast<size_t>(i)], 9) << i;
            EXPECT_LE(cycles[static_cast<size_t>(i)], 11) << i;
        }
    }
}

TEST_F(LoopTest, SettingsReReadComesFromTheCbThatReportedIt)
{
    SetCbs(3);
    for (int i = 0; i < 3; ++i)
        thread.PollState[i] = TGetDataThread::kPollEvents;
    bool reported = false;
    link.OnDispatch = [&](int32_t cb, int32_t code) {
        if (code == 106 && cb == 2 && !reported) {
            reported = true;
            state.Cb(cb)->FuncTablesChanged = 1;
            state.Cb(cb)->UirCfgChanged = 1;
        }
    };
    for (int i = 0; i < 120; ++i)
        thread.RunPass();
    ASSERT_TRUE(reported);
    int tables[3] = {0, 0, 0}, configs[3] = {0, 0, 0}, cycles[3] = {0, 0, 0};
    for (const auto& [cb, code] : link.Dispatches()) {
        tables[cb] += code == 102;
        configs[cb] += code == 104;
        cycles[cb] += code == 106;
    }
    EXPECT_EQ(tables[2], 1);
    EXPECT_EQ(configs[2], 1);
    EXPECT_EQ(tables[0] + tables[1] + configs[0] + configs[1], 0);
    for (int i = 0; i < 3; ++i)
        EXPECT_GT(cycles[i], 3) << i;
}

TEST_F(LoopTest, PortLeftOpenIsClosedWhenCurrentCbWasMoved)
{
    SetCbs(2);
    thread.PollState[0] = TGetDataThread::kPollEvents;
    thread.PollTick[0] = 4;
    EXPECT_EQ(Passes(1), "O0 D0:106 ");
    state.CurrentCb = 1;
    EXPECT_EQ(Passes(1), "C0 C1 ");
}

TEST_F(LoopTest, ExceptionCostsThirtyMsAndRetriesTheSameVisit)
{
    SetCbs(2);
    int throws = 1;
    link.OnDispatch = [&](int32_t, int32_t code) {
        if (code == 15 && throws-- > 0)
            throw std::runtime_error("port gone");
    };
    Cb(0).Request = 15;
    const uint64_t before = clock.SleptMs();
    EXPECT_EQ(Passes(1), "O0 D0:15 ");
    EXPECT_EQ(clock.SleptMs() - before, 10u + 20u + 10u);
    EXPECT_EQ(Cb(0).Request, 15);
    EXPECT_EQ(state.CurrentCb, 0);
    EXPECT_EQ(thread.GuardedFailures(), 1u);
    EXPECT_EQ(Passes(1), "O0 D0:15 C0 ");
    EXPECT_EQ(Cb(0).Request, 0);
    EXPECT_EQ(state.CurrentCb, 1);
}

TEST_F(LoopTest, SlotRepostedDuringExecutionIsKept)
{
    // Only the executed code is cleared; a code someone put there meanwhile stays.
    link.OnDispatch = [&](int32_t cb, int32_t code) {
        if (code == 10)
            state.Cb(cb)->Request = 101;
    };
    Cb(0).Request = 10;
    thread.RunPass();
    EXPECT_EQ(Cb(0).Request, 101);
    thread.RunPass();
    EXPECT_EQ(Cb(0).Request, 0);
    EXPECT_EQ(link.Dispatches(), (std::vector<std::pair<int32_t, int32_t>>{{0, 10}, {0, 101}}));
}

TEST_F(LoopTest, StagedFrameCountBitGoesWithItsRequest)
{
    // A window stages the bit with its request; an event cycle may have
    // flipped the global one since. -1 leaves the global bit as it stands.
    struct Case {
        int8_t staged;
        uint8_t globalBefore, seen;
    };
    for (const Case c : {Case{1, 0, 1}, Case{0, 1, 0}, Case{-1, 0, 0}, Case{-1, 1, 1}}) {
        int seenFcb = -1;
        link.OnDispatch = [&](int32_t, int32_t code) {
            if (code == 16)
                seenFcb = state.Fcb.load();
        };
        state.Fcb = c.globalBefore;
        Cb(0).RequestFcb = c.staged;
        Cb(0).Request = 16;
        thread.RunPass();
        EXPECT_EQ(seenFcb, c.seen) << "staged " << int(c.staged);
        EXPECT_EQ(Cb(0).RequestFcb, -1);
    }
}

TEST_F(LoopTest, RunningClearedDuringVisitEndsPassWithoutLastSleep)
{
    link.OnDispatch = [&](int32_t, int32_t) { thread.Running = 0; };
    Cb(0).Request = 20;
    EXPECT_FALSE(thread.RunPass());
    EXPECT_EQ(clock.SleptMs(), 10u);
    EXPECT_EQ(ToString(link.Take()), "O0 D0:20 C0 ");
}

TEST_F(LoopTest, StopWithoutStartDropsRequests)
{
    SetCbs(2);
    Cb(0).Request = 101;
    Cb(1).Request = 104;
    thread.Stop();
    EXPECT_EQ(Cb(0).Request, 0);
    EXPECT_EQ(Cb(1).Request, 0);
    EXPECT_EQ(thread.Running, 0);
    EXPECT_FALSE(thread.Start());
    EXPECT_FALSE(thread.RunPass());
}

}  // namespace
}  // namespace kestrel::test

namespace kestrel::test {
namespace {

// The event cycle gets a stop check that reads the thread's shutdown, both
// in the automatic polling and when a window posted code 106.
class StopCheckLink final : public FakeLink {
public:
    void RunEventCycle(int32_t cb, const std::function<bool()>& stop) override
    {
        ASSERT_TRUE(static_cast<bool>(stop));
        before.push_back(stop());
        if (OnCycle)
            OnCycle();
        after.push_back(stop());
        FakeLink::RunEventCycle(cb, stop);
    }
    std::vector<bool> before, after;
    std::function<void()> OnCycle;
};

TEST(LoopStop, EventCycleIsHandedTheThreadsShutdown)
{
    TGlobalState state;
    StopCheckLink link;
    VirtualClock clock;
    CountingHooks hooks;
    TGetDataThread thread(state, link, clock, hooks);
    for (int i = 0; i < 10; ++i)
        thread.RunPass();  // journal, then the first automatic event cycle
    state.Cb(0)->Request = 106;
    thread.RunPass();  // the posted one (the event-cycle pass kept the block)
    link.OnCycle = [&] { thread.Running = 0; };
    state.Cb(0)->Request = 106;
    EXPECT_FALSE(thread.RunPass());
    EXPECT_EQ(link.before, (std::vector<bool>{false, false, false}));
    EXPECT_EQ(link.after, (std::vector<bool>{false, false, true}));
    // Both still reach the link as the code they are.
    EXPECT_EQ(ToString(link.Take()), "C0 C0 C0 C0 O0 D0:107 C0 C0 C0 C0 C0 O0 D0:106 O0 D0:106 C0 O0 D0:106 C0 ");
}

}  // namespace
}  // namespace kestrel::test
