// The hand-over between a window and the real acquisition thread.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "FakeAcq.h"
#include "monitor/GetDataThread.h"
#include "monitor/PostRequest.h"

namespace kestrel::test {
namespace {

// A wait loop on the test thread: no events to pump, a yield per look.
class SpinWaitUi : public FakeWaitUi {
public:
    void Pause(uint32_t) override { std::this_thread::yield(); }
};

void SetCbs(TGlobalState& state, int32_t n)
{
    std::lock_guard lock(state.RecordLock);
    state.EnsureAllocated(n);
    state.CbCount = n;
}

TEST(Handover, RequestsOnThreeCbsEachLandOnItsOwnCb)
{
    TGlobalState state;
    SetCbs(state, 3);
    FakeLink link;
    YieldingClock clock;
    CountingHooks hooks;
    // The thread keeps polling every block on its own between the posts;
    // only the posted code is judged. Each of its dispatches must go to the
    // block the test is waiting on, while that block's slot still holds it,
    // and writes the request's own mark into the record it went to, as a
    // read would.
    constexpr int32_t kCode = 8;
    std::atomic<int32_t> postedTo{-1};
    std::atomic<uint8_t> mark{0};
    std::atomic<int> wrongCb{0}, slotNotHeld{0}, unasked{0};
    link.OnDispatch = [&](int32_t cb, int32_t code) {
        if (code != kCode)
            return;
        const int32_t expected = postedTo.load();
        if (expected < 0)
            unasked.fetch_add(1);
        else if (cb != expected)
            wrongCb.fetch_add(1);
        if (state.Cb(cb)->Request != kCode)
            slotNotHeld.fetch_add(1);
        state.Cb(cb)->ClockSecond = mark.load();
    };
    TGetDataThread thread(state, link, clock, hooks);
    ASSERT_TRUE(thread.Start());
    EXPECT_FALSE(thread.Start());
    SpinWaitUi ui;
    uint8_t last[3] = {0, 0, 0};
    for (int round = 0; round < 30; ++round) {
        for (int32_t cb = 0; cb < 3; ++cb) {
            const auto m = static_cast<uint8_t>(round * 3 + cb + 1);
            mark = m;
            postedTo = cb;
            PostArgs a = PostArgs::Standard(kCode, 0);
            a.Cb = cb;
            const PostResult r = PostRequestAndWait(state, ui, a);
            postedTo = -1;
            ASSERT_EQ(r.Status, PostStatus::Done);
            ASSERT_EQ(r.Cb, cb);
            // Read only after the slot changed: this request's data are in
            // this block's record, and the other two records are untouched.
            last[cb] = m;
            for (int32_t other = 0; other < 3; ++other)
                ASSERT_EQ(state.Cb(other)->ClockSecond, last[other]) << "round " << round << " cb " << cb;
            ASSERT_EQ(state.Cb(cb)->Request, 0);
        }
    }
    thread.Stop();
    EXPECT_TRUE(thread.Finished());
    EXPECT_EQ(wrongCb, 0);
    EXPECT_EQ(slotNotHeld, 0);
    EXPECT_EQ(unasked, 0);
    int served[3] = {0, 0, 0};
    for (const auto& [cb, code] : link.Dispatches())
        if (code == kCode)
            ++served[cb];
    EXPECT_EQ(served[0], 30);
    EXPECT_EQ(served[1], 30);
    EXPECT_EQ(served[2], 30);
    EXPECT_FALSE(link.PortOpen());
}

TEST(Handover, ShutdownDuringJournalFetchFinishesTheVisit)
{
    TGlobalState state;
    FakeLink link;
    YieldingClock clock;
    CountingHooks hooks;
    std::mutex m;
    std::condition_variable cv;
    bool inFetch = false, release = false;
    std::atomic<bool> fetchDone{false};
    link.OnDispatch = [&](int32_t, int32_t code) {
        if (code != 107)
            return;
        std::unique_lock lock(m);
        inFetch = true;
        cv.notify_all();
        cv.wait(lock, [&] { return release; });
        fetchDone = true;
    };
    TGetDataThread thread(state, link, clock, hooks);
    ASSERT_TRUE(thread.Start());
    {
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return inFetch; });
    }
    // A window posted meanwhile; the shutdown drops it.
    state.Cb(0)->Request = 102;
    std::atomic<bool> stopReturned{false};
    std::thread closer([&] {
        thread.Stop();
        stopReturned = true;
    });
    while (thread.Running != 0)
        std::this_thread::yield();
    // The fetch is still under way, so the shutdown is still waiting.
    EXPECT_FALSE(stopReturned.load());
    EXPECT_FALSE(thread.Finished());
    EXPECT_EQ(state.Cb(0)->Request, 0);
    {
        std::lock_guard lock(m);
        release = true;
    }
    cv.notify_all();
    closer.join();
    EXPECT_TRUE(stopReturned.load());
    EXPECT_TRUE(fetchDone.load());
    EXPECT_TRUE(thread.Finished());
    // The visit ended as usual: the port closed, the dropped request never sent.
    const auto calls = link.Calls();
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls.back(), (LinkCall{'C', 0, 0}));
    EXPECT_EQ(ToString({calls.end() - 3, calls.end()}), "O0 D0:107 C0 ");
    EXPECT_EQ(state.Cb(0)->FirstPollPending, 0);
    EXPECT_FALSE(link.PortOpen());
}

TEST(Handover, StopAfterEventCycleClosesThePortItLeftOpen)
{
    TGlobalState state;
    FakeLink link;
    YieldingClock clock;
    CountingHooks hooks;
    TGetDataThread thread(state, link, clock, hooks);
    thread.PollState[0] = TGetDataThread::kPollEvents;
    std::atomic<int> cycles{0};
    link.OnDispatch = [&](int32_t, int32_t code) {
        if (code == 106 && cycles.fetch_add(1) == 2)
            thread.Running = 0;  // the shutdown lands during the cycle
    };
    ASSERT_TRUE(thread.Start());
    while (!thread.Finished())
        std::this_thread::yield();
    thread.Stop();
    EXPECT_EQ(cycles, 3);
    EXPECT_FALSE(link.PortOpen());
}

TEST(Handover, PauseIsTakenBetweenVisits)
{
    TGlobalState state;
    FakeLink link;
    YieldingClock clock;
    CountingHooks hooks;
    TGetDataThread thread(state, link, clock, hooks);
    thread.PollState[0] = TGetDataThread::kPollEvents;
    ASSERT_TRUE(thread.Start());
    while (link.Dispatches().size() < 3)
        std::this_thread::yield();
    // The console: Paused and ConsoleOpen, then wait until the thread is off the port.
    thread.Paused = 1;
    state.ConsoleOpen = 1;
    while (!thread.PauseTaken())
        std::this_thread::yield();
    EXPECT_FALSE(link.PortOpen());
    const size_t callsAtPause = link.Calls().size();
    const uint64_t passes = thread.Passes();
    while (thread.Passes() < passes + 20)
        std::this_thread::yield();
    EXPECT_EQ(link.Calls().size(), callsAtPause);
    thread.Paused = 0;
    state.ConsoleOpen = 0;
    while (link.Calls().size() == callsAtPause)
        std::this_thread::yield();
    thread.Stop();
    EXPECT_TRUE(thread.Finished());
}

}  // namespace
}  // namespace kestrel::test
