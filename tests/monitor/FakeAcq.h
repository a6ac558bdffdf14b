#pragma once
// Scripted stand-ins for the protocol and the windows, shared by the
// acquisition thread tests.
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "monitor/AcqLink.h"
#include "monitor/PostRequest.h"
#include "state/Clock.h"
#include "state/UiHooks.h"

namespace kestrel::test {

struct LinkCall {
    char Op;  // 'O' open, 'C' close, 'D' dispatch
    int32_t Cb;
    int32_t Code;
    friend bool operator==(const LinkCall&, const LinkCall&) = default;
};

inline std::string ToString(const std::vector<LinkCall>& calls)
{
    std::string s;
    for (const LinkCall& c : calls) {
        s += c.Op;
        s += std::to_string(c.Cb);
        if (c.Op == 'D')
            s += ":" + std::to_string(c.Code);
        s += ' ';
    }
    return s;
}

class FakeLink : public IAcqLink {
public:
    void OpenPortForCb(int32_t cb) override
    {
        Record({'O', cb, 0});
        open_ = true;
    }
    void ClosePortForCb(int32_t cb) override
    {
        Record({'C', cb, 0});
        open_ = false;
    }
    bool IsKnownCode(int32_t code) const override { return IsRequestCode(code); }
    void Dispatch(int32_t cb, int32_t code) override
    {
        Record({'D', cb, code});
        if (OnDispatch)
            OnDispatch(cb, code);
    }

    // Calls since the last Take(), then forgets them.
    std::vector<LinkCall> Take()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<LinkCall> out;
        out.swap(calls_);
        return out;
    }
    std::vector<LinkCall> Calls() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }
    // Dispatches only, as "cb:code" pairs.
    std::vector<std::pair<int32_t, int32_t>> Dispatches() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::pair<int32_t, int32_t>> out;
        for (const LinkCall& c : calls_)
            if (c.Op == 'D')
                out.emplace_back(c.Cb, c.Code);
        return out;
    }
    bool PortOpen() const { return open_.load(); }

    std::function<void(int32_t cb, int32_t code)> OnDispatch;

private:
    void Record(const LinkCall& c)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(c);
    }
    mutable std::mutex mutex_;
    std::vector<LinkCall> calls_;
    std::atomic<bool> open_{false};
};

class CountingHooks : public IUiHooks {
public:
    void CloseWaitWindow() override { closeWait.fetch_add(1); }
    void RestoreMainWindow() override { restore.fetch_add(1); }
    std::atomic<int> closeWait{0};
    std::atomic<int> restore{0};
};

// A virtual clock for a real thread: it gives the other thread a chance to
// run at every sleep instead of spinning.
class YieldingClock final : public ISleeper {
public:
    void SleepMs(uint32_t ms) override
    {
        clock.SleepMs(ms);
        std::this_thread::yield();
    }
    VirtualClock clock;
};

// The windowing side of PostRequestAndWait, recording what it was asked to do.
class FakeWaitUi : public IWaitUi {
public:
    void ShowWait(const std::string& text) override { Log.push_back("show:" + text); ++shown; }
    void CloseWait() override { Log.push_back("close"); --shown; }
    void ProcessEvents() override
    {
        ++processed;
        if (OnProcessEvents)
            OnProcessEvents();
    }
    void Pause(uint32_t ms) override
    {
        pauses.push_back(ms);
        if (OnPause)
            OnPause();
    }
    void ShowError(const std::string& text, const std::string& caption) override
    {
        Log.push_back("error:" + text + "|" + caption);
    }
    bool AcquisitionStopped() override { return Stopped; }

    std::vector<std::string> Log;
    int shown = 0;
    int processed = 0;
    std::vector<uint32_t> pauses;
    bool Stopped = false;
    std::function<void()> OnProcessEvents;
    std::function<void()> OnPause;
};

}  // namespace kestrel::test
