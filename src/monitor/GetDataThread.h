#pragma once
// The acquisition thread: the only user of the serial port while the program
// runs (the service console uses it only while the thread is paused). It
// visits the configured central blocks in turn; on each visit it runs the
// request a window posted into that block's slot, or, with nothing posted,
// advances the automatic polling cycle (journal fetch once, then the event
// cycle, with a re-read of the function tables and the UIR configuration
// after the block reports that its local settings menu was left).
//
// Polling is kept per CB: PollTick[cb] counts the visits of that CB without
// a request, and every PollPeriod-th of them runs the CB's next automatic
// poll, whose state is PollState[cb]. So every block gets its own journal
// fetch and its own event cycles (a count shared by all blocks would, with
// two or four blocks and the event-cycle pass that stays on its block, land
// on the same block for ever), and the tables and the UIR configuration are
// re-read from the block that reported the change. With one block this is
// the same as a single counter.
//
// Threads: Running, Paused, PollState and PollTick are Atom<> so the
// user-interface thread may read and write them while the thread runs. The
// thread touches no window: it asks IUiHooks, whose implementation queues the
// work to the user-interface thread.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

#include "monitor/AcqLink.h"
#include "state/Atom.h"
#include "state/Clock.h"
#include "state/Model.h"
#include "state/UiHooks.h"

namespace kestrel {

class TGetDataThread {
public:
    // Polling states.
    static constexpr int32_t kPollJournal = 0;
    static constexpr int32_t kPollEvents = 1;
    static constexpr int32_t kPollFuncTables = 2;
    static constexpr int32_t kPollUirConfig = 3;

    TGetDataThread(TGlobalState& state, IAcqLink& link, ISleeper& sleeper, IUiHooks& hooks);
    // Stops and joins a thread still running.
    ~TGetDataThread();
    TGetDataThread(const TGetDataThread&) = delete;
    TGetDataThread& operator=(const TGetDataThread&) = delete;

    // Start the loop on its own thread, one priority step below normal.
    // false when it was started before or Running was already cleared.
    bool Start();

    // Shutdown: drop every request not yet taken, wait 50 ms, clear Running
    // and wait for the thread without a time limit. A visit under way (a long
    // composite such as a journal fetch) is finished first. Call from the
    // user-interface thread; safe to call twice, or without Start().
    void Stop();

    // The thread function has returned.
    bool Finished() const { return finished_.load() != 0; }

    // The thread has seen Paused and is between visits: the port is closed
    // and the thread will not touch it until Paused is cleared. The service
    // console waits for this after setting Paused, before its first command.
    bool PauseTaken() const { return pauseTaken_.load() != 0; }

    // One pass of the loop (steps 1 to 12), on the calling thread. Returns
    // false when the loop should end (Running is 0). Tests step the loop with
    // it; the real thread calls nothing else.
    bool RunPass();

    // Counters for tests and the benchmark; written only by the loop.
    uint64_t Passes() const { return passes_.load(); }
    uint64_t RequestsServed() const { return served_.load(); }
    uint64_t GuardedFailures() const { return guarded_.load(); }

    Atom<int32_t> Running{1};
    Atom<int32_t> Paused{0};
    // By CB index.
    std::array<Atom<int32_t>, kMaxCbCount> PollState{};
    std::array<Atom<int32_t>, kMaxCbCount> PollTick{};
    Atom<int32_t> PollPeriod{5};

private:
    enum class VisitEnd { Close, KeepOpen };

    void ThreadMain();
    void Visit();
    VisitEnd AutoPoll(int32_t index, TCbData& cb);
    void OpenPort(int32_t index);
    void ClosePort(int32_t index);
    // Close a port the previous pass left open (after the event cycle).
    void CloseLeftOpen();
    void Advance(int32_t index);
    // What the event cycle asks between two exchanges: has the shutdown begun?
    std::function<bool()> StopCheck();

    TGlobalState& state_;
    IAcqLink& link_;
    ISleeper& sleeper_;
    IUiHooks& hooks_;

    std::thread thread_;
    // Index of the CB the port was opened for and not yet closed; -1 none.
    // Touched only by the loop.
    int32_t openFor_ = -1;
    Atom<int32_t> finished_{0};
    Atom<int32_t> pauseTaken_{0};
    Atom<uint64_t> passes_{0};
    Atom<uint64_t> served_{0};
    Atom<uint64_t> guarded_{0};
};

}  // namespace kestrel
