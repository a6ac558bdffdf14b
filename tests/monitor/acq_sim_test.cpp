// The acquisition loop with the real protocol and link against the
// in-process simulated blocks, on a virtual clock.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "FakeAcq.h"
#include "SimBus.h"
#include "link/ComPort.h"
#include "monitor/GetDataThread.h"
#include "monitor/PostRequest.h"
#include "monitor/ProtocolAcqLink.h"
#include "protocol/Protocol.h"

namespace kestrel::test {
namespace {

using sim::SimBus;
using sim::SimCmd;
using sim::TSimCb;
using sim::TSimCbOptions;

// Posts a window's request at the start of one chosen code's run.
class PostingLink final : public IAcqLink {
public:
    PostingLink(IAcqLink& inner, TGlobalState& state) : inner_(inner), state_(state) {}
    void OpenPortForCb(int32_t cb) override { inner_.OpenPortForCb(cb); }
    void ClosePortForCb(int32_t cb) override { inner_.ClosePortForCb(cb); }
    bool IsKnownCode(int32_t code) const override { return inner_.IsKnownCode(code); }
    void Dispatch(int32_t cb, int32_t code) override
    {
        if (code == when)
            state_.Cb(cb)->Request = post;
        inner_.Dispatch(cb, code);
    }
    void RunEventCycle(int32_t cb, const std::function<bool()>& stop) override
    {
        if (when == ReqEventCycle)
            state_.Cb(cb)->Request = post;
        inner_.RunEventCycle(cb, stop);
    }
    int32_t when = 0;
    int32_t post = 0;

private:
    IAcqLink& inner_;
    TGlobalState& state_;
};

// Everything from the port object up, on one clock that only moves when
// somebody sleeps on it (the thread's and the link's pauses).
struct Rig {
    explicit Rig(ISleeper& sleeper, IClock& clk) : bus(clk), protocol(state, port, sleeper, hooks)
    {
        thread = std::make_unique<TGetDataThread>(state, posting, sleeper, hooks);
    }
    // A block on `portNumber` at `address`, with a CB record that reaches it.
    TSimCb& AddCb(int32_t portNumber, uint8_t address, uint32_t baud = 9600)
    {
        TSimCbOptions o;
        o.Address = address;
        o.Line.Baud = static_cast<int32_t>(baud);
        TSimCb& sim = bus.Attach(portNumber, o);
        const int32_t index = added++;
        {
            std::lock_guard lock(state.RecordLock);
            state.EnsureAllocated(index + 1);
            state.CbCount = index + 1;
        }
        TCbData& cb = *state.Cb(index);
        cb.PortNumber = static_cast<uint8_t>(portNumber);
        cb.Address = address;
        cb.Baud = baud;
        return sim;
    }
    void Passes(int n)
    {
        for (int i = 0; i < n; ++i)
            thread->RunPass();
    }

    TGlobalState state;
    SimBus bus;
    TComPort port{bus};
    CountingHooks hooks;
    TCbProtocol protocol;
    TProtocolAcqLink link{protocol};
    PostingLink posting{link, state};
    std::unique_ptr<TGetDataThread> thread;
    int32_t added = 0;
};

struct SteppedRig : Rig {
    SteppedRig() : Rig(clock, clock) {}
    VirtualClock clock;
};

// A journal of n power-on records (no reset record, which would end the
// thread's fetch early).
void FillPlainJournal(TSimCb& sim, int n)
{
    for (int i = 0; i < n; ++i)
        sim.AddJournalRecord(sim::TSimEvent{sim::EvPowerOn, 0, 0, 0, 1000 * (i + 1)});
}

// Let UIR `uir` be polled by the simulated block, so arcs on it are reported.
void PollUir(TSimCb& sim, int uir)
{
    sim.ConfigureUir(uir, true, true, 0, 1, 2, true, true, true);
}

TEST(AcqSim, FirstPollFetchesTheJournalOnTheFifthPassThenEventCycles)
{
    SteppedRig r;
    TSimCb& sim = r.AddCb(1, 1);
    FillPlainJournal(sim, 3);
    r.Passes(4);
    EXPECT_EQ(sim.TotalRequests(), 0u);
    EXPECT_EQ(r.bus.OpenPortNumber(), 0);
    EXPECT_EQ(r.state.Cb(0)->FirstPollPending, 1);

    r.Passes(1);
    EXPECT_EQ(sim.RequestCount(SimCmd::ResetLink), 1u);
    EXPECT_EQ(sim.RequestCount(SimCmd::ReadJournal), 4u);  // three records and the end
    EXPECT_EQ(sim.RequestCount(SimCmd::Poll), 0u);
    EXPECT_EQ(r.state.Cb(0)->Events.Count(), 3);
    EXPECT_EQ(r.state.Cb(0)->FirstPollPending, 0);
    EXPECT_EQ(r.state.Cb(0)->JournalError, 0);
    EXPECT_EQ(r.hooks.closeWait, 1);
    EXPECT_EQ(r.bus.OpenPortNumber(), 0);

    sim.ResetCounts();
    r.Passes(4);
    EXPECT_EQ(sim.TotalRequests(), 0u);
    r.Passes(1);
    EXPECT_EQ(sim.RequestCount(SimCmd::ResetFcb), 1u);
    EXPECT_EQ(sim.RequestCount(SimCmd::Poll), 1u);
    EXPECT_EQ(r.bus.OpenPortNumber(), 1);  // left open by the event cycle
    r.Passes(1);
    EXPECT_EQ(r.bus.OpenPortNumber(), 0);
    r.Passes(4);
    EXPECT_EQ(sim.RequestCount(SimCmd::ResetFcb), 2u);
    EXPECT_EQ(sim.RequestCount(SimCmd::ReadTable), 0u);
    EXPECT_EQ(sim.RequestCount(SimCmd::ReadSegment), 0u);
}

TEST(AcqSim, ArcReachesTheModelOnTheNextEventCycle)
{
    SteppedRig r;
    TSimCb& sim = r.AddCb(1, 1);
    PollUir(sim, 5);
    r.Passes(5);
    ASSERT_TRUE(sim.RaiseArc(5, 2, 10, 1));
    EXPECT_EQ(r.state.Cb(0)->Uir[4].ChArc2, 0);
    r.Passes(5);
    TCbData& cb = *r.state.Cb(0);
    EXPECT_EQ(cb.Uir[4].ChArc2, 1);
    EXPECT_EQ(cb.Uir[4].ChArc1, 0);
    EXPECT_EQ(cb.NewEventCount, 3);  // arc, MTZ-1, outputs
    // All three at the front of the list, the arc among them.
    const std::vector<TEventData> list = cb.Events.Snapshot();
    ASSERT_EQ(list.size(), 3u);
    int arcs = 0;
    for (const TEventData& e : list)
        arcs += e.Code == 0xA2 && e.UirAddress == 5 && e.Interval == 10;
    EXPECT_EQ(arcs, 1);
    EXPECT_GE(r.hooks.restore, 1);
}

TEST(AcqSim, SettingsMenuLeftLeadsToExactlyOneTableAndOneConfigRead)
{
    SteppedRig r;
    TSimCb& sim = r.AddCb(1, 1);
    r.Passes(5);  // journal
    sim.EnterMenu();
    sim.LeaveMenu();
    sim.ResetCounts();
    r.Passes(60);
    // Four tables once, eleven UIR segments once, and event cycles around them.
    EXPECT_EQ(sim.RequestCount(SimCmd::ReadTable), 4u);
    EXPECT_EQ(sim.RequestCount(SimCmd::ReadSegment), 11u);
    EXPECT_EQ(sim.RequestCount(SimCmd::ResetFcb), 10u);
    EXPECT_EQ(r.state.Cb(0)->FuncReadError, 0);
    EXPECT_EQ(r.state.Cb(0)->UirReadError, 0);
    EXPECT_EQ(r.state.Cb(0)->FuncTablesChanged, 0);
    EXPECT_EQ(r.state.Cb(0)->UirCfgChanged, 0);
    EXPECT_EQ(r.thread->PollState[0], TGetDataThread::kPollEvents);
}

TEST(AcqSim, TablesReadAfterMenuMatchTheBlock)
{
    SteppedRig r;
    TSimCb& sim = r.AddCb(1, 1);
    r.Passes(5);
    sim.SetTableWire(2, 1, static_cast<uint8_t>(~0x15));
    PollUir(sim, 7);
    sim.EnterMenu();
    sim.LeaveMenu();
    r.Passes(30);
    TCbData& cb = *r.state.Cb(0);
    EXPECT_EQ(cb.FuncTable[1][2], 0x15);
    EXPECT_EQ(cb.Uir[6].PollEnabled, 1);
    EXPECT_EQ(cb.Uir[6].InputFunction3, 2);
}

TEST(AcqSim, RequestPostedDuringJournalFetchRunsOnTheNextVisit)
{
    SteppedRig r;
    TSimCb& sim = r.AddCb(1, 1);
    FillPlainJournal(sim, 20);
    sim.SetClock({2024, 5, 6, 7, 8, 9, 0});
    r.posting.when = ReqFetchJournal2;
    r.posting.post = ReqReadClock;
    r.Passes(5);
    // The fetch was not cut short, and the clock was not read yet.
    EXPECT_EQ(r.state.Cb(0)->Events.Count(), 20);
    EXPECT_EQ(sim.RequestCount(SimCmd::ReadClock), 0u);
    EXPECT_EQ(r.state.Cb(0)->Request, ReqReadClock);
    r.Passes(1);
    EXPECT_EQ(sim.RequestCount(SimCmd::ReadClock), 1u);
    EXPECT_EQ(r.state.Cb(0)->Request, 0);
    EXPECT_EQ(r.state.Cb(0)->ClockHour, 7);
    EXPECT_EQ(r.state.Cb(0)->ClockMinute, 8);
}

TEST(AcqSim, ConsoleOpenStopsAllTrafficAndThePollingState)
{
    SteppedRig r;
    TSimCb& sim = r.AddCb(1, 1);
    r.state.ConsoleOpen = 1;
    r.state.Cb(0)->Request = ReqResetCb;
    r.Passes(40);
    EXPECT_EQ(sim.TotalRequests(), 0u);
    EXPECT_EQ(r.state.Cb(0)->Request, 0);
    EXPECT_EQ(r.thread->PollState[0], TGetDataThread::kPollJournal);
    EXPECT_EQ(r.state.Cb(0)->FirstPollPending, 1);
    r.state.ConsoleOpen = 0;
    r.Passes(5);
    EXPECT_EQ(sim.RequestCount(SimCmd::ResetLink), 1u);
    EXPECT_EQ(sim.RequestCount(SimCmd::ResetCb), 0u);
}

TEST(AcqSim, DisabledBlockIsNeverServed)
{
    SteppedRig r;
    TSimCb& off = r.AddCb(1, 1);
    TSimCb& on = r.AddCb(2, 2);
    r.state.Cb(0)->Enabled = 0;
    r.state.Cb(0)->Request = ReqReadAllFuncTables;
    FakeWaitUi ui;
    ui.OnPause = [&] { r.thread->RunPass(); };
    PostArgs a = PostArgs::Standard(ReqReadClock);
    a.Cb = 0;
    EXPECT_EQ(PostRequestAndWait(r.state, ui, a).Status, PostStatus::NotPosted);
    r.Passes(60);
    EXPECT_EQ(off.TotalRequests(), 0u);
    EXPECT_GT(on.TotalRequests(), 0u);
    EXPECT_EQ(r.state.Cb(0)->Request, ReqReadAllFuncTables);
    EXPECT_EQ(r.state.Cb(0)->FirstPollPending, 0);
}

class AcqSimBlocks : public ::testing::TestWithParam<int> {};

TEST_P(AcqSimBlocks, EachRequestLandsOnItsOwnBlock)
{
    // Blocks on different ports and addresses.
    struct Where {
        int32_t port;
        uint8_t address;
        uint32_t baud;
    };
    const Where where[] = {{1, 3, 9600}, {2, 9, 19200}, {3, 1, 9600}};
    const int n = GetParam();
    SteppedRig r;
    std::vector<TSimCb*> sims;
    for (int i = 0; i < n; ++i) {
        sims.push_back(&r.AddCb(where[i].port, where[i].address, where[i].baud));
        sims.back()->SetClock({2020 + i, 1 + i, 10 + i, 11 + i, 20 + i, 30 + i, 0});
    }
    FakeWaitUi ui;
    ui.OnPause = [&] { r.thread->RunPass(); };
    for (int round = 0; round < 3; ++round) {
        for (int i = n - 1; i >= 0; --i) {
            SCOPED_TRACE(i);
            PostArgs a = PostArgs::Standard(ReqReadClock);
            a.Cb = i;
            const PostResult res = PostRequestAndWait(r.state, ui, a);
            EXPECT_EQ(res.Status, PostStatus::Done);
            EXPECT_EQ(res.Cb, i);
            const TCbData& cb = *r.state.Cb(i);
            EXPECT_EQ(cb.ClockYear, static_cast<uint32_t>(20 + i));
            EXPECT_EQ(cb.ClockMonth, 1 + i);
            EXPECT_EQ(cb.ClockHour, 11 + i);
            EXPECT_EQ(cb.ClockReadError, 0);
        }
    }
    for (int i = 0; i < n; ++i)
        EXPECT_EQ(sims[i]->RequestCount(SimCmd::ReadClock), 3u) << i;
    // The automatic polling visited every block too.
    r.Passes(20 * n);
    for (int i = 0; i < n; ++i)
        EXPECT_EQ(r.state.Cb(i)->FirstPollPending, 0) << i;
    EXPECT_TRUE(ui.Log.empty());
    // Every block's events reach its own record.
    for (int i = 0; i < n; ++i) {
        PollUir(*sims[i], 20 + i);
        ASSERT_TRUE(sims[i]->RaiseArc(20 + i, 1 + i, 5, 1));
    }
    r.Passes(6 * n + 2);
    for (int i = 0; i < n; ++i) {
        SCOPED_TRACE(i);
        for (int j = 0; j < n; ++j)
            EXPECT_EQ(r.state.Cb(i)->Uir[19 + j].ChArc(1 + j), i == j ? 1 : 0) << j;
    }
}

INSTANTIATE_TEST_SUITE_P(TwoAndThree, AcqSimBlocks, ::testing::Values(2, 3));

struct RealRig : Rig {
    RealRig() : Rig(sleeper, sleeper.clock) {}
    YieldingClock sleeper;
};

// A yielding virtual clock that holds the first sleeper for which `HoldIf`
// says so until the test lets it go: the test then acts at a known point of
// the thread's work instead of wherever the scheduler happens to put it.
class HoldingClock final : public ISleeper {
public:
    void SleepMs(uint32_t ms) override
    {
        {
            std::unique_lock lock(m_);
            if (!held_ && HoldIf && HoldIf(ms)) {
                held_ = true;
                cv_.notify_all();
                cv_.wait(lock, [&] { return released_; });
            }
        }
        clock.SleepMs(ms);
        std::this_thread::yield();
    }
    void WaitHeld()
    {
        std::unique_lock lock(m_);
        cv_.wait(lock, [&] { return held_; });
    }
    void Release()
    {
        std::lock_guard lock(m_);
        released_ = true;
        cv_.notify_all();
    }
    // Set before the thread starts; asked on the sleeping thread.
    std::function<bool(uint32_t ms)> HoldIf;
    VirtualClock clock;

private:
    std::mutex m_;
    std::condition_variable cv_;
    bool held_ = false, released_ = false;
};

struct HeldRig : Rig {
    HeldRig() : Rig(sleeper, sleeper.clock) {}
    HoldingClock sleeper;
};

TEST(AcqSimThread, ShutdownDuringJournalFetchFinishesTheFetch)
{
    HeldRig r;
    TSimCb& sim = r.AddCb(1, 1);
    FillPlainJournal(sim, 300);
    // Hold the thread at the 5 ms pause before the 21st record read.
    r.sleeper.HoldIf = [&](uint32_t ms) { return ms == 5 && sim.RequestCount(SimCmd::ReadJournal) >= 20; };
    ASSERT_TRUE(r.thread->Start());
    r.sleeper.WaitHeld();
    ASSERT_EQ(sim.RequestCount(SimCmd::ReadJournal), 20u);
    r.state.Cb(0)->Request = ReqReadAllFuncTables;  // posted, not yet taken
    std::atomic<bool> stopReturned{false};
    std::thread closer([&] {
        r.thread->Stop();
        stopReturned = true;
    });
    // The shutdown has dropped the request and told the loop to end; it
    // waits for the fetch still under way.
    while (r.thread->Running != 0)
        std::this_thread::yield();
    EXPECT_EQ(r.state.Cb(0)->Request, 0);
    EXPECT_FALSE(stopReturned.load());
    EXPECT_FALSE(r.thread->Finished());
    r.sleeper.Release();
    closer.join();
    EXPECT_TRUE(r.thread->Finished());
    // The fetch ran to its limit of 255 records, each read once; the dropped
    // request was never sent and nothing followed the fetch.
    EXPECT_EQ(r.state.Cb(0)->Events.Count(), 255);
    EXPECT_EQ(sim.RequestCount(SimCmd::ReadJournal), 255u);
    EXPECT_EQ(sim.RequestCount(SimCmd::ResetLink), 1u);
    EXPECT_EQ(r.state.Cb(0)->JournalError, 0);
    EXPECT_EQ(r.state.Cb(0)->FirstPollPending, 0);
    EXPECT_EQ(sim.RequestCount(SimCmd::ReadTable), 0u);
    EXPECT_EQ(sim.RequestCount(SimCmd::ResetFcb), 0u);
    EXPECT_EQ(r.state.Cb(0)->Request, 0);
    EXPECT_EQ(r.bus.OpenPortNumber(), 0);
}

TEST(AcqSimThread, WindowRequestsOnThreeBlocksWhileThreadPolls)
{
    RealRig r;
    TSimCb* sims[3] = {&r.AddCb(1, 1), &r.AddCb(1, 2), &r.AddCb(2, 5)};
    for (int i = 0; i < 3; ++i) {
        PollUir(*sims[i], 10 + i);
        sims[i]->EnterMenu();
        sims[i]->LeaveMenu();
    }
    ASSERT_TRUE(r.thread->Start());
    struct SpinUi : FakeWaitUi {
        void Pause(uint32_t) override { std::this_thread::yield(); }
    } ui;
    for (int round = 0; round < 4; ++round) {
        for (int i = 0; i < 3; ++i) {
            PostArgs a = PostArgs::Standard(ReqReadUirConfig, 0);
            a.Cb = i;
            r.state.Cb(i)->Uir[9 + i].PollEnabled = 0;
            ASSERT_EQ(PostRequestAndWait(r.state, ui, a).Status, PostStatus::Done);
            EXPECT_EQ(r.state.Cb(i)->Uir[9 + i].PollEnabled, 1);
        }
    }
    r.thread->Stop();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(sims[i]->RequestCount(SimCmd::ReadSegment) % 11, 0u) << i;
    EXPECT_TRUE(ui.Log.empty());
}

}  // namespace
}  // namespace kestrel::test

namespace kestrel::test {
namespace {

// Block 0 on COM1, which is there; block 1 on COM5, which is not. The failed
// open of COM5 must not make block 0 look lost: its link stays up and its
// events arrive, while block 1 alone counts failures.
TEST(AcqSimPorts, MissingPortOfOneBlockLeavesTheOtherBlocksLinkAlone)
{
    SteppedRig r;
    TSimCb& sim = r.AddCb(1, 1);
    PollUir(sim, 5);
    {
        std::lock_guard lock(r.state.RecordLock);
        r.state.EnsureAllocated(2);
        r.state.CbCount = 2;
    }
    TCbData& zero = *r.state.Cb(0);
    TCbData& one = *r.state.Cb(1);
    one.PortNumber = 5;
    one.Address = 2;
    // Journal fetches and a few event cycles on both blocks.
    r.Passes(60);
    ASSERT_TRUE(sim.RaiseArc(5, 3, 7, 2));
    r.Passes(20);

    EXPECT_EQ(zero.LinkLost, 0);
    EXPECT_EQ(zero.FailCount, 0);
    EXPECT_EQ(zero.LastPortError, 0u);
    EXPECT_EQ(zero.Uir[4].ChArc3, 1);
    EXPECT_EQ(zero.MtzActive[1], 1);
    EXPECT_GE(sim.RequestCount(SimCmd::ResetFcb), 3u);
    EXPECT_EQ(sim.RequestCount(SimCmd::ResetLink), 1u);  // one journal fetch, no retries
    EXPECT_EQ(one.LinkLost, 1);
    EXPECT_EQ(one.FailCount, one.FailLimit + 1);
    EXPECT_NE(one.LastPortError, 0u);
    EXPECT_EQ(one.Events.Count(), 0);
}

}  // namespace
}  // namespace kestrel::test

namespace kestrel::test {
namespace {

// A block that answers every poll with another event (for ever, or `times`).
void Flood(TSimCb& sim, int32_t times = -1)
{
    sim::TFaultRule r;
    r.Kind = sim::FaultKind::Flood;
    r.Remaining = times;
    sim.Inject(r);
}

// One event cycle takes 255 events of a flooding block and ends; a request
// posted in the middle of it runs on the very next pass.
TEST(AcqSimFlood, CycleEndsAfter255EventsAndAPostedRequestRunsNext)
{
    SteppedRig r;
    TSimCb& sim = r.AddCb(1, 1);
    r.Passes(5);  // journal fetch
    Flood(sim, 1000);
    sim.ResetCounts();
    int raised = 0;
    sim.SetOnEvent([&](const sim::TSimEvent&) {
        if (++raised == 10)
            r.state.Cb(0)->Request = ReqReadClock;
    });
    r.Passes(4);
    EXPECT_EQ(sim.TotalRequests(), 0u);
    r.Passes(1);  // the event cycle
    EXPECT_EQ(sim.RequestCount(SimCmd::Poll), 255u);
    EXPECT_EQ(raised, 255);
    TCbData& cb = *r.state.Cb(0);
    EXPECT_EQ(cb.NewEventCount, 255);
    EXPECT_EQ(cb.Request, ReqReadClock);
    r.Passes(1);
    EXPECT_EQ(cb.Request, 0);
    EXPECT_EQ(sim.RequestCount(SimCmd::ReadClock), 1u);
    EXPECT_EQ(cb.ClockReadError, 0);
    EXPECT_EQ(cb.LinkLost, 0);
    // The rest of the flood comes 255 at a time, one cycle every fifth pass.
    r.Passes(5);
    EXPECT_EQ(sim.RequestCount(SimCmd::Poll), 510u);
    EXPECT_EQ(sim.RequestCount(SimCmd::ResetFcb), 2u);
}

// Block 0 floods for ever; block 1 still gets its requests and its events.
TEST(AcqSimFlood, OtherBlockIsStillServed)
{
    SteppedRig r;
    TSimCb& flooding = r.AddCb(1, 1);
    TSimCb& quiet = r.AddCb(2, 2);
    PollUir(quiet, 8);
    r.Passes(20);  // both journals
    ASSERT_EQ(r.state.Cb(1)->FirstPollPending, 0);
    Flood(flooding);
    TCbData& cb1 = *r.state.Cb(1);
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        // Posted while block 0 is in its cycle.
        bool posted = false;
        flooding.SetOnEvent([&](const sim::TSimEvent&) {
            if (!posted && r.state.CurrentCb == 0) {
                cb1.Request = ReqReadClock;
                posted = true;
            }
        });
        int passes = 0;
        while (!posted && passes < 20) {
            r.thread->RunPass();
            ++passes;
        }
        ASSERT_TRUE(posted);
        // The cycle's pass, the pass that closes block 0's port, then block 1.
        int served = 0;
        while (cb1.Request != 0 && served < 10) {
            r.thread->RunPass();
            ++served;
        }
        EXPECT_EQ(cb1.Request, 0);
        EXPECT_LE(served, 2);
        flooding.SetOnEvent({});
    }
    EXPECT_EQ(quiet.RequestCount(SimCmd::ReadClock), 3u);
    ASSERT_TRUE(quiet.RaiseArc(8, 1, 4, 0));
    int passes = 0;
    while (cb1.Uir[7].ChArc1 == 0 && passes < 40) {
        r.thread->RunPass();
        ++passes;
    }
    EXPECT_EQ(cb1.Uir[7].ChArc1, 1);
    // Block 1's next event cycle: at most five of its visits, each at most
    // three passes apart (block 0's cycle keeps its port for one more pass).
    EXPECT_LE(passes, 15);
    EXPECT_EQ(cb1.LinkLost, 0);
}

// The list of a flooding block stays at its limit, the newest at its head.
TEST(AcqSimFlood, EventListStaysAtItsLimit)
{
    SteppedRig r;
    TSimCb& sim = r.AddCb(1, 1);
    TCbData& cb = *r.state.Cb(0);
    cb.Events.SetLimit(300);
    r.Passes(5);
    Flood(sim);
    sim::TSimEvent last{};
    sim.SetOnEvent([&](const sim::TSimEvent& e) { last = e; });
    int passes = 0;
    while (sim.RequestCount(SimCmd::Poll) < 1000 && passes < 100) {
        r.thread->RunPass();
        ++passes;
        ASSERT_LE(cb.Events.Count(), 300);
    }
    EXPECT_GE(sim.RequestCount(SimCmd::Poll), 1000u);
    EXPECT_EQ(cb.Events.Count(), 300);
    // The last event the block raised was answered to the last poll: it heads the list.
    const sim::TSimTime t = sim::FromMs2000(last.TimeMs);
    TEventData head;
    ASSERT_TRUE(cb.Events.At(0, head));
    EXPECT_EQ(head.Code, 0xC0);
    EXPECT_EQ(head.Outputs, last.Outputs);
    EXPECT_EQ(head.Seconds, t.Second);
    EXPECT_EQ(head.Milliseconds, t.Ms);
}

// The shutdown ends a cycle between two exchanges, not after 255 events.
TEST(AcqSimFlood, ShutdownEndsTheCycleBetweenTwoExchanges)
{
    SteppedRig r;
    TSimCb& sim = r.AddCb(1, 1);
    r.Passes(9);
    Flood(sim);
    int raised = 0;
    sim.SetOnEvent([&](const sim::TSimEvent&) {
        if (++raised == 40)
            r.thread->Running = 0;
    });
    EXPECT_FALSE(r.thread->RunPass());
    EXPECT_EQ(sim.RequestCount(SimCmd::Poll), 40u);
    EXPECT_EQ(r.state.Cb(0)->NewEventCount, 40);
}

// The real thread with a block that floods for ever: a window's request is
// taken, and Stop() returns with the port closed.
TEST(AcqSimFloodThread, RequestIsTakenAndStopReturns)
{
    RealRig r;
    TSimCb& sim = r.AddCb(1, 1);
    Flood(sim);
    ASSERT_TRUE(r.thread->Start());
    while (sim.RequestCount(SimCmd::Poll) < 600)
        std::this_thread::yield();
    struct SpinUi : FakeWaitUi {
        void Pause(uint32_t) override { std::this_thread::yield(); }
    } ui;
    sim.SetClock({2031, 3, 4, 5, 6, 7, 0});
    PostArgs a = PostArgs::Standard(ReqReadClock);
    a.Cb = 0;
    EXPECT_EQ(PostRequestAndWait(r.state, ui, a).Status, PostStatus::Done);
    EXPECT_EQ(r.state.Cb(0)->ClockYear, 31u);
    EXPECT_TRUE(ui.Log.empty());
    r.thread->Stop();
    EXPECT_TRUE(r.thread->Finished());
    EXPECT_EQ(r.bus.OpenPortNumber(), 0);
    EXPECT_LE(r.state.Cb(0)->Events.Count(), TKestrelEvents::kDefaultLimit);
}

}  // namespace
}  // namespace kestrel::test
