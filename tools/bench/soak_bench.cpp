// kestrel-bench-soak: a day of a busy installation in minutes. The program's
// acquisition thread (on its own thread, as the program starts it) runs the
// real protocol and port object against one in-process simulated block on a
// virtual clock: the clock moves only when the thread or the link waits, so a
// simulated day passes as fast as the CPU does the work between the waits.
//
//   kestrel-bench-soak [--hours H] [--quick] [--sample-minutes M]
//
// Load: an arc every simulated minute (UIR, input, MTZ mode and interval
// taken in turn, so the block switches its outputs too), a protection reset
// every ten minutes, and the main window's status sweep once a simulated
// second. The block starts with a journal of 36 records, fetched once.
//
// Sampled every M simulated minutes (default 60): resident memory
// (/proc/self/status VmRSS), open handles (entries of /proc/self/fd), the
// block's event-list size, events the block queued against events the thread
// received. After the last arc one more simulated minute lets the queue drain.
// Verdict: RSS within 2 % of the sample at the end of the first simulated hour
// (with --hours below 4: of the first sample at or after a quarter of the
// run), less what the event list's records grew (the list keeps every event
// by design, up to 86 400; beyond a day they alone pass 2 %), no handle that was not open at the start, every event received once
// and in order, no link loss. Exit status 0 when it holds, 1 when not, 2 for
// bad usage. Linux only (the /proc figures).
//
// The port here is the simulated device, so the handle count watches the
// rest of the process; the OS serial device's open and close are covered by
// kestrel-bench-acq and the pseudo-terminal tests.
#include <dirent.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "SimBus.h"
#include "SoakVerdict.h"
#include "link/ComPort.h"
#include "monitor/GetDataThread.h"
#include "monitor/ProtocolAcqLink.h"
#include "monitor/StatusWalk.h"
#include "protocol/Protocol.h"
#include "state/Clock.h"
#include "state/Model.h"
#include "state/UiHooks.h"

namespace {

using namespace kestrel;
using bench::TSoakSample;

constexpr uint64_t kMinuteMs = 60'000;
constexpr uint64_t kHourMs = 60 * kMinuteMs;
constexpr uint64_t kArcPeriodMs = kMinuteMs;
constexpr uint64_t kResetPeriodMs = 10 * kMinuteMs;
constexpr uint64_t kSweepPeriodMs = 1000;
constexpr uint64_t kDrainMs = kMinuteMs;
constexpr int kJournalRecords = 36;

long RssKb()
{
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

long OpenFds()
{
    DIR* d = opendir("/proc/self/fd");
    if (!d)
        return -1;
    long n = 0;
    while (const dirent* e = readdir(d))
        if (e->d_name[0] != '.')
            ++n;
    closedir(d);
    return n - 1;  // the directory's own handle
}

// What the block reported, as the list should show it: the code, and the UIR
// for the events that name one.
uint16_t Key(uint8_t code, uint8_t uir)
{
    const bool namesUir = (code >= 0xA1 && code <= 0xA3) || (code >= 0xE0 && code <= 0xE3);
    return static_cast<uint16_t>(code << 8 | (namesUir ? uir : 0));
}

struct Options {
    double hours = 24;
    double sampleMinutes = 60;
};

// The virtual clock as the thread and the link see it. After every wait it
// does what the installation and the main window would have done by then:
// raise the arcs and resets that are due, run the status sweep, take the
// samples; at the end it tells the main thread. It runs on the acquisition
// thread, between two of its steps, so nothing here races the exchanges.
class SoakSleeper final : public ISleeper {
public:
    SoakSleeper(VirtualClock& clock, TGlobalState& state, sim::TSimCb& block, const Options& o)
        : clock_(clock), state_(state), block_(block)
    {
        endMs_ = static_cast<uint64_t>(o.hours * static_cast<double>(kHourMs));
        samplePeriodMs_ = std::max<uint64_t>(1, static_cast<uint64_t>(o.sampleMinutes * kMinuteMs));
        nextSampleMs_ = samplePeriodMs_;
        // One key per injected event: room for the whole run up front, so the
        // record of what was injected adds nothing to the memory mid-run.
        injected_.reserve(static_cast<size_t>(endMs_ / kArcPeriodMs + 1) * 4 + endMs_ / kResetPeriodMs + 16);
        samples_.reserve(static_cast<size_t>(endMs_ / samplePeriodMs_) + 4);
        block_.SetOnEvent([this](const sim::TSimEvent& e) { injected_.push_back(Key(e.Code, e.Uir)); });
    }

    void SleepMs(uint32_t ms) override
    {
        clock_.SleepMs(ms);
        Tick(clock_.NowMs());
    }

    // Before the thread starts: the sample at time 0.
    void SampleNow() { samples_.push_back(Sample(clock_.NowMs())); }

    void WaitDone()
    {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [this] { return done_; });
    }

    const std::vector<TSoakSample>& Samples() const { return samples_; }
    const std::vector<uint16_t>& Injected() const { return injected_; }
    uint64_t Arcs() const { return arcs_; }
    uint64_t Resets() const { return resets_; }
    uint64_t Sweeps() const { return sweeps_; }

private:
    void Tick(uint64_t now)
    {
        if (finished_)
            return;
        while (nextArcMs_ <= now && nextArcMs_ < endMs_) {
            const uint64_t k = arcs_++;
            const int uir = 1 + static_cast<int>(k % 43);
            const int input = 1 + static_cast<int>(k / 43 % 3);
            const int mtz = 1 + static_cast<int>(k % 3);
            block_.RaiseArc(uir, input, static_cast<int>(k % 64), mtz);
            nextArcMs_ += kArcPeriodMs;
        }
        while (nextResetMs_ <= now && nextResetMs_ < endMs_) {
            ++resets_;
            block_.RaiseReset();
            nextResetMs_ += kResetPeriodMs;
        }
        while (nextSweepMs_ <= now) {
            ++sweeps_;
            (void)StatusSweep(state_);
            nextSweepMs_ += kSweepPeriodMs;
        }
        while (nextSampleMs_ <= now && nextSampleMs_ < endMs_) {
            samples_.push_back(Sample(now));
            nextSampleMs_ += samplePeriodMs_;
        }
        if (now >= endMs_ + kDrainMs) {
            samples_.push_back(Sample(now));
            finished_ = true;
            std::lock_guard lock(mutex_);
            done_ = true;
            cv_.notify_all();
        }
    }

    TSoakSample Sample(uint64_t now) const
    {
        TCbData& cb = *state_.Cb(0);
        TSoakSample s;
        s.Hour = static_cast<double>(now) / static_cast<double>(kHourMs);
        s.RssKb = RssKb();
        s.Fds = OpenFds();
        s.ListSize = cb.Events.Count();
        s.ListKb = static_cast<long>(static_cast<size_t>(s.ListSize) * sizeof(TEventData) / 1024);
        s.Injected = injected_.size();
        s.Received = s.ListSize > kJournalRecords ? static_cast<uint64_t>(s.ListSize - kJournalRecords) : 0;
        s.Pending = block_.PendingEvents();
        s.Timeouts = cb.Timeouts;
        s.ChecksumErrors = cb.ChecksumErrors;
        s.LinkLost = cb.LinkLost != 0;
        return s;
    }

    VirtualClock& clock_;
    TGlobalState& state_;
    sim::TSimCb& block_;
    uint64_t endMs_ = 0, samplePeriodMs_ = 0;
    uint64_t nextArcMs_ = kArcPeriodMs, nextResetMs_ = kResetPeriodMs, nextSweepMs_ = kSweepPeriodMs;
    uint64_t nextSampleMs_ = 0;
    uint64_t arcs_ = 0, resets_ = 0, sweeps_ = 0;
    bool finished_ = false;
    std::vector<uint16_t> injected_;
    std::vector<TSoakSample> samples_;
    std::mutex mutex_;
    std::condition_variable cv_;
    bool done_ = false;
};

void Usage(FILE* f)
{
    std::fprintf(f,
                 "usage: kestrel-bench-soak [--hours H] [--quick] [--sample-minutes M]\n"
                 "  --hours H           simulated hours (default 24)\n"
                 "  --quick             2 simulated hours sampled every 10 minutes\n"
                 "  --sample-minutes M  simulated minutes between samples (default 60)\n");
}

bool ParsePositive(const char* s, double& out)
{
    char* end = nullptr;
    const double v = std::strtod(s, &end);
    if (end == s || *end != '\0' || !(v > 0) || v > 24 * 365)
        return false;
    out = v;
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    Options o;
    bool sampleGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            Usage(stdout);
            return 0;
        }
        if (a == "--quick") {
            o.hours = 2;
            if (!sampleGiven)
                o.sampleMinutes = 10;
        } else if ((a == "--hours" || a == "--sample-minutes") && i + 1 < argc) {
            double v = 0;
            if (!ParsePositive(argv[++i], v)) {
                std::fprintf(stderr, "kestrel-bench-soak: bad value for %s: %s\n", a.c_str(), argv[i]);
                return 2;
            }
            if (a == "--hours")
                o.hours = v;
            else {
                o.sampleMinutes = v;
                sampleGiven = true;
            }
        } else {
            Usage(stderr);
            return 2;
        }
    }

    const auto realStart = std::chrono::steady_clock::now();
    VirtualClock clock;
    sim::SimBus bus(clock);
    sim::TSimCbOptions so;
    so.Address = 1;
    sim::TSimCb& block = bus.Attach(1, so);
    for (int u = 1; u <= kUirCount; ++u)
        block.ConfigureUir(u, true, true, 1, 2, 3, true, true, true);
    for (int i = 0; i < kJournalRecords; ++i)
        block.AddJournalRecord(sim::TSimEvent{sim::EvPowerOn, 0, 0, 0, 1000 * (i + 1)});

    TGlobalState state;
    {
        std::lock_guard lock(state.RecordLock);
        state.EnsureAllocated(1);
        state.CbCount = 1;
        TCbData& cb = *state.Cb(0);
        cb.Address = 1;
        cb.PortNumber = 1;
        cb.Baud = 9600;
        for (int u = 0; u < kUirCount; ++u) {
            cb.Uir[u].Present = 1;
            cb.Uir[u].Number = static_cast<uint8_t>(u + 1);
            cb.Uir[u].PollEnabled = 1;
        }
    }
    IUiHooks hooks;
    SoakSleeper sleeper(clock, state, block, o);
    TComPort port(bus);
    TCbProtocol protocol(state, port, sleeper, hooks);
    TProtocolAcqLink link(protocol);
    TGetDataThread thread(state, link, sleeper, hooks);

    sleeper.SampleNow();
    if (!thread.Start()) {
        std::fprintf(stderr, "kestrel-bench-soak: the acquisition thread did not start\n");
        return 1;
    }
    sleeper.WaitDone();
    thread.Stop();
    const double realSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - realStart).count();

    // The list, oldest first, must be the fetched journal, then every event
    // the block queued, in the order it queued them.
    const std::vector<TEventData> list = state.Cb(0)->Events.Snapshot();
    const std::vector<uint16_t>& injected = sleeper.Injected();
    bool inOrder = list.size() == injected.size() + kJournalRecords;
    for (size_t i = 0; inOrder && i < injected.size(); ++i) {
        const TEventData& e = list[injected.size() - 1 - i];
        inOrder = Key(e.Code, e.UirAddress) == injected[i];
    }
    for (size_t i = injected.size(); inOrder && i < list.size(); ++i)
        inOrder = list[i].Code == sim::EvPowerOn;

    bench::TSoakLimits limits;
    limits.BaselineHour = o.hours >= 4 ? 1.0 : o.hours / 4;
    const std::vector<TSoakSample>& s = sleeper.Samples();
    const bench::TSoakVerdict v = bench::JudgeSoak(s, limits, inOrder);

    std::printf("kestrel-bench-soak: %.2f simulated hours, %llu arcs, %llu resets, %llu status sweeps, %llu passes\n",
                o.hours, static_cast<unsigned long long>(sleeper.Arcs()),
                static_cast<unsigned long long>(sleeper.Resets()), static_cast<unsigned long long>(sleeper.Sweeps()),
                static_cast<unsigned long long>(thread.Passes()));
    std::printf("%8s %9s %5s %7s %9s %9s %8s %9s %9s\n", "sim h", "RSS kB", "fds", "list", "injected", "received",
                "pending", "timeouts", "bad sums");
    for (const TSoakSample& x : s)
        std::printf("%8.2f %9ld %5ld %7ld %9llu %9llu %8llu %9u %9u%s\n", x.Hour, x.RssKb, x.Fds, x.ListSize,
                    static_cast<unsigned long long>(x.Injected), static_cast<unsigned long long>(x.Received),
                    static_cast<unsigned long long>(x.Pending), x.Timeouts, x.ChecksumErrors,
                    x.LinkLost ? "  link lost" : "");
    std::printf("real time %.1f s (%.0f simulated seconds per real second)\n", realSeconds,
                o.hours * 3600.0 / std::max(realSeconds, 1e-6));
    // The list keeps every event by design (up to its limit), so part of any
    // growth is its records: the verdict judges the memory less them.
    {
        const TSoakSample* base = nullptr;
        for (const TSoakSample& x : s)
            if (x.Hour >= limits.BaselineHour) {
                base = &x;
                break;
            }
        if (base)
            std::printf("event list after %.2f h: %+ld records, %+ld kB of records (kept by design, up to %d events);"
                        " memory as measured %+.2f %%\n",
                        base->Hour, s.back().ListSize - base->ListSize, s.back().ListKb - base->ListKb,
                        TKestrelEvents::kDefaultLimit, v.RawGrowthPercent);
    }
    for (const std::string& f : v.Failures)
        std::printf("  FAIL: %s\n", f.c_str());
    std::printf("verdict: %s: RSS %ld -> max %ld kB (%+.2f %% less the list's records, limit %.1f %%), fds %+ld, "
                "events %llu injected, %llu received%s\n",
                v.Ok ? "PASS" : "FAIL", v.BaselineRssKb, v.MaxRssKb, v.RssGrowthPercent, limits.RssGrowthPercent,
                v.FdGrowth, static_cast<unsigned long long>(s.back().Injected),
                static_cast<unsigned long long>(s.back().Received), inOrder ? ", in order" : ", NOT in order");
    return v.Ok ? 0 : 1;
}
