#include "monitor/GetDataThread.h"

#include <mutex>

#include "monitor/ThreadPriority.h"

namespace kestrel {

TGetDataThread::TGetDataThread(TGlobalState& state, IAcqLink& link, ISleeper& sleeper, IUiHooks& hooks)
    : state_(state), link_(link), sleeper_(sleeper), hooks_(hooks)
{
}

TGetDataThread::~TGetDataThread()
{
    if (thread_.joinable())
        Stop();
}

bool TGetDataThread::Start()
{
    if (thread_.joinable() || Finished() || Running.load() == 0)
        return false;
    thread_ = std::thread([this] { ThreadMain(); });
    return true;
}

void TGetDataThread::Stop()
{
    // A request not yet taken is dropped, on every block: its poster stops
    // waiting, and nothing is sent at exit. A request being executed keeps
    // running; the thread's own clearing then finds the slot already empty.
    const int32_t allocated = state_.Allocated();
    for (int32_t i = 0; i < allocated; ++i) {
        if (TCbData* cb = state_.Cb(i))
            cb->Request = 0;
    }
    if (thread_.joinable() && Running.load() != 0)
        sleeper_.SleepMs(50);
    Running = 0;
    if (thread_.joinable())
        thread_.join();
}

void TGetDataThread::ThreadMain()
{
    LowerCurrentThreadPriority();
    while (RunPass()) {
    }
    try {
        CloseLeftOpen();
    } catch (...) {
    }
    finished_ = 1;
}

bool TGetDataThread::RunPass()
{
    passes_.store(passes_.load() + 1);
    sleeper_.SleepMs(10);
    try {
        Visit();
    } catch (...) {
        // Nothing is undone: CurrentCb stays and the slot keeps its code, so
        // the same visit is tried again on a later pass.
        guarded_.store(guarded_.load() + 1);
        sleeper_.SleepMs(20);
        sleeper_.SleepMs(10);
    }
    return Running.load() != 0;
}

void TGetDataThread::Visit()
{
    if (Paused.load() != 0) {
        // The console is about to use the port: give it up first.
        CloseLeftOpen();
        pauseTaken_ = 1;
        sleeper_.SleepMs(10);
        return;
    }
    pauseTaken_ = 0;
    // Paused may have been set between the look above and the line before,
    // by a console that still saw the pause taken: leave the port to it.
    if (Paused.load() != 0)
        return;

    const int32_t count = state_.CbCount;
    if (count <= 0 || state_.Allocated() <= 0) {
        CloseLeftOpen();
        sleeper_.SleepMs(10);
        return;
    }
    const int32_t index = state_.CurrentCb;
    if (openFor_ >= 0 && openFor_ != index)
        CloseLeftOpen();  // CurrentCb was moved since the port was left open
    TCbData* cb = state_.Cb(index);
    if (cb == nullptr) {
        // The configuration now has fewer blocks than the index: start over.
        CloseLeftOpen();
        state_.CurrentCb = 0;
        sleeper_.SleepMs(10);
        return;
    }
    if (cb->Enabled.load() == 0) {
        // Not served: a code in its slot is neither run nor cleared.
        CloseLeftOpen();
        cb->FirstPollPending = 0;
        hooks_.CloseWaitWindow();
        Advance(index);
        sleeper_.SleepMs(10);
        return;
    }

    // The slot is read once per visit, so a code posted in the middle of the
    // visit waits for the next one instead of running on a closed port.
    int32_t code = cb->Request;
    const bool console = state_.ConsoleOpen.load() != 0;
    if (!console && code != 0)
        OpenPort(index);

    if (code == 0) {
        if (AutoPoll(index, *cb) == VisitEnd::KeepOpen)
            return;
    } else if (code == kReqRunTask) {
        const std::shared_ptr<TRequestTask> task = cb->TakeRequestTask();
        cb->TakeRequestData();
        if (!console && task) {
            link_.RunTask(index, *task);
            served_.store(served_.load() + 1);
        }
        cb->Request.compareExchange(code, 0);
    } else if (link_.IsKnownCode(code)) {
        // Taken also when the console drops the request, so nothing of it
        // is left for the next one.
        const TRequestData data = cb->TakeRequestData();
        if (!console) {
            // The data the poster staged go with its request, whatever ran
            // on the globals since (an event cycle's bit, the write-all's
            // scratch bytes, the console).
            state_.ApplyRequestData(data);
            if (code == kReqEventCycle)
                link_.RunEventCycle(index, StopCheck());
            else
                link_.Dispatch(index, code);
            served_.store(served_.load() + 1);
        }
        // Only this code is cleared: a poster may already have put the next
        // one there (or the shutdown dropped it).
        cb->Request.compareExchange(code, 0);
    }
    // Any other code stays in the slot.

    ClosePort(index);
    Advance(index);
    if (Running.load() == 0)
        return;
    sleeper_.SleepMs(10);
}

TGetDataThread::VisitEnd TGetDataThread::AutoPoll(int32_t index, TCbData& cb)
{
    Atom<int32_t>& pollTick = PollTick[static_cast<size_t>(index)];
    const int32_t tick = pollTick.load() + 1;
    pollTick = tick;
    if (tick < PollPeriod.load())
        return VisitEnd::Close;
    pollTick = 0;
    if (state_.ConsoleOpen.load() != 0)
        return VisitEnd::Close;

    OpenPort(index);
    Atom<int32_t>& pollState = PollState[static_cast<size_t>(index)];
    switch (pollState.load()) {
    case kPollJournal:
        link_.Dispatch(index, kReqFetchJournal2);
        cb.FirstPollPending = 0;
        hooks_.CloseWaitWindow();
        pollState = kPollEvents;
        return VisitEnd::Close;
    case kPollEvents: {
        // At most 255 events a cycle, and the shutdown ends it between
        // two exchanges: a block that always has another event cannot keep
        // the thread from the other blocks, the posted requests or the exit.
        link_.RunEventCycle(index, StopCheck());
        const bool changed = cb.FuncTablesChanged.exchange(0) != 0;
        pollState = changed ? kPollFuncTables : kPollEvents;
        // Stay on this CB with the port open; the next pass closes it.
        sleeper_.SleepMs(20);
        return VisitEnd::KeepOpen;
    }
    case kPollFuncTables: {
        link_.Dispatch(index, kReqReadAllFuncTables);
        // The records take what the block now holds, as always; the block
        // is marked when that is no longer what the file holds.
        FlagWhenChangedOnSite(cb);
        const bool changed = cb.UirCfgChanged.exchange(0) != 0;
        pollState = changed ? kPollUirConfig : kPollEvents;
        return VisitEnd::Close;
    }
    case kPollUirConfig:
        link_.Dispatch(index, kReqReadUirConfig);
        FlagWhenChangedOnSite(cb);
        pollState = kPollEvents;
        return VisitEnd::Close;
    default:
        pollState = kPollJournal;
        return VisitEnd::Close;
    }
}

std::function<bool()> TGetDataThread::StopCheck()
{
    return [this] { return Running.load() == 0; };
}

void TGetDataThread::OpenPort(int32_t index)
{
    // The CB's line settings are read under the record lock, so a
    // configuration read never hands the port half of an old record.
    std::lock_guard<std::recursive_mutex> lock(state_.RecordLock);
    link_.OpenPortForCb(index);
    openFor_ = index;
}

void TGetDataThread::ClosePort(int32_t index)
{
    link_.ClosePortForCb(index);
    openFor_ = -1;
}

void TGetDataThread::CloseLeftOpen()
{
    if (openFor_ >= 0)
        ClosePort(openFor_);
}

void TGetDataThread::Advance(int32_t index)
{
    const int32_t count = state_.CbCount;
    const int32_t next = index + 1;
    state_.CurrentCb = (next >= count || next < 0) ? 0 : next;
}

}  // namespace kestrel
