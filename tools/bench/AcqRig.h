#pragma once
// The acquisition stack as the program runs it: the OS serial device (its
// COM1 named by a path, e.g. a pseudo-terminal), the port object, the
// protocol and the acquisition thread on the system clock. Shared by the
// acquisition benchmark and kestrel-acq-watch.
//
// Every sleep of the thread and of the link goes through a measuring sleeper,
// and the thread's port handling and event cycles through a timing link, so
// the benchmark can work out the bound its pacing allows from what the waits
// really took in the same run.
#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "link/ComPort.h"
#include "link/SerialDeviceOs.h"
#include "monitor/GetDataThread.h"
#include "monitor/ProtocolAcqLink.h"
#include "protocol/Protocol.h"
#include "state/Clock.h"
#include "state/Model.h"
#include "state/UiHooks.h"

namespace kestrel::bench {

using BenchClock = std::chrono::steady_clock;

inline double MsBetween(BenchClock::time_point a, BenchClock::time_point b)
{
    return std::chrono::duration<double, std::milli>(b - a).count();
}

// Durations of one kind of step, in ms.
struct TDurations {
    std::vector<double> Ms;
    double Mean() const
    {
        double s = 0;
        for (double v : Ms)
            s += v;
        return Ms.empty() ? 0.0 : s / static_cast<double>(Ms.size());
    }
    double Median() const
    {
        if (Ms.empty())
            return 0;
        std::vector<double> v = Ms;
        std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
        return v[v.size() / 2];
    }
};

// Sleeps on the system clock; keeps how long each requested wait really took.
class TMeasuringSleeper final : public ISleeper {
public:
    void SleepMs(uint32_t ms) override
    {
        const auto t0 = BenchClock::now();
        SystemClock::Instance().SleepMs(ms);
        const double took = MsBetween(t0, BenchClock::now());
        std::lock_guard lock(mutex_);
        waits_[ms].Ms.push_back(took);
    }
    // What SleepMs(ms) took, on average; ms itself when it never ran.
    double MeanMs(uint32_t ms) const
    {
        std::lock_guard lock(mutex_);
        const auto it = waits_.find(ms);
        return it == waits_.end() || it->second.Ms.empty() ? static_cast<double>(ms) : it->second.Mean();
    }
    size_t Count(uint32_t ms) const
    {
        std::lock_guard lock(mutex_);
        const auto it = waits_.find(ms);
        return it == waits_.end() ? 0 : it->second.Ms.size();
    }
    void Reset()
    {
        std::lock_guard lock(mutex_);
        waits_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::map<uint32_t, TDurations> waits_;
};

// The thread's link with a stopwatch on the port handling and the event
// cycles (their starts, by block, give the visit cycle actually seen).
class TTimingAcqLink final : public IAcqLink {
public:
    explicit TTimingAcqLink(IAcqLink& inner) : inner_(inner) {}

    void OpenPortForCb(int32_t cb) override { Timed(open_, [&] { inner_.OpenPortForCb(cb); }); }
    void ClosePortForCb(int32_t cb) override { Timed(close_, [&] { inner_.ClosePortForCb(cb); }); }
    bool IsKnownCode(int32_t code) const override { return inner_.IsKnownCode(code); }
    void Dispatch(int32_t cb, int32_t code) override { inner_.Dispatch(cb, code); }
    void RunEventCycle(int32_t cb, const std::function<bool()>& stop) override
    {
        const auto t0 = BenchClock::now();
        inner_.RunEventCycle(cb, stop);
        const auto t1 = BenchClock::now();
        std::lock_guard lock(mutex_);
        cycles_.Ms.push_back(MsBetween(t0, t1));
        starts_[cb].push_back(t0);
    }

    struct TFigures {
        double OpenMs = 0, CloseMs = 0;  // means
        double CycleMs = 0;              // median event cycle (nearly all find nothing)
        double SeenPeriodMs = 0;         // median time between two cycles of one block
        size_t Cycles = 0;
    };
    TFigures Figures() const
    {
        std::lock_guard lock(mutex_);
        TFigures f;
        f.OpenMs = open_.Mean();
        f.CloseMs = close_.Mean();
        f.CycleMs = cycles_.Median();
        f.Cycles = cycles_.Ms.size();
        TDurations periods;
        for (const auto& [cb, starts] : starts_)
            for (size_t i = 1; i < starts.size(); ++i)
                periods.Ms.push_back(MsBetween(starts[i - 1], starts[i]));
        f.SeenPeriodMs = periods.Median();
        return f;
    }
    void Reset()
    {
        std::lock_guard lock(mutex_);
        open_.Ms.clear();
        close_.Ms.clear();
        cycles_.Ms.clear();
        starts_.clear();
    }

private:
    template <class F>
    void Timed(TDurations& d, F f)
    {
        const auto t0 = BenchClock::now();
        f();
        const double took = MsBetween(t0, BenchClock::now());
        std::lock_guard lock(mutex_);
        d.Ms.push_back(took);
    }

    IAcqLink& inner_;
    mutable std::mutex mutex_;
    TDurations open_, close_, cycles_;
    std::map<int32_t, std::vector<BenchClock::time_point>> starts_;
};

struct TAcqRig {
    // One CB record per address, all on COM1 = `devicePath`, at `baud`.
    TAcqRig(const std::string& devicePath, const std::vector<int>& addresses, uint32_t baud)
        : device(MakeOsSerialDevice([devicePath](int32_t) { return devicePath; })),
          port(*device),
          protocol(state, port, sleeper, hooks),
          link(protocol),
          timing(link),
          thread(state, timing, sleeper, hooks)
    {
        std::lock_guard lock(state.RecordLock);
        const int32_t n = static_cast<int32_t>(addresses.size());
        state.EnsureAllocated(n);
        state.CbCount = n;
        for (int32_t i = 0; i < n; ++i) {
            TCbData& cb = *state.Cb(i);
            cb.Address = static_cast<uint8_t>(addresses[static_cast<size_t>(i)]);
            cb.PortNumber = 1;
            cb.Baud = baud;
            for (int u = 0; u < kUirCount; ++u) {
                cb.Uir[u].Present = 1;
                cb.Uir[u].Number = static_cast<uint8_t>(u + 1);
            }
        }
    }
    ~TAcqRig() { thread.Stop(); }

    TGlobalState state;
    IUiHooks hooks;
    TMeasuringSleeper sleeper;
    std::unique_ptr<ISerialDevice> device;
    TComPort port;
    TCbProtocol protocol;
    TProtocolAcqLink link;
    TTimingAcqLink timing;
    TGetDataThread thread;
};

}  // namespace kestrel::bench
