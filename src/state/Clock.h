#pragma once
// Time sources behind interfaces, so that the link pacing and the thread's
// pauses can run on a virtual clock in tests.
#include <atomic>
#include <cstdint>

namespace kestrel {

class ISleeper {
public:
    virtual ~ISleeper() = default;
    virtual void SleepMs(uint32_t ms) = 0;
};

class IClock {
public:
    virtual ~IClock() = default;
    // Monotonic milliseconds since an arbitrary origin.
    virtual uint64_t NowMs() const = 0;
};

// The real thing: std::this_thread::sleep_for and steady_clock.
class SystemClock final : public ISleeper, public IClock {
public:
    void SleepMs(uint32_t ms) override;
    uint64_t NowMs() const override;
    static SystemClock& Instance();
};

// A clock that only moves when somebody sleeps on it. Thread-safe.
class VirtualClock final : public ISleeper, public IClock {
public:
    void SleepMs(uint32_t ms) override { now_.fetch_add(ms); slept_.fetch_add(ms); }
    uint64_t NowMs() const override { return now_.load(); }
    void Advance(uint64_t ms) { now_.fetch_add(ms); }
    // Total of all SleepMs calls (not of Advance): what the code asked to wait.
    uint64_t SleptMs() const { return slept_.load(); }

private:
    std::atomic<uint64_t> now_{0};
    std::atomic<uint64_t> slept_{0};
};

}  // namespace kestrel
