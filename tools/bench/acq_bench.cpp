// kestrel-bench-acq: how quickly the acquisition thread brings an event from
// a central block into the model and onto the screen, against the bound the
// thread's pacing allows, and what the thread costs while idle.
//
//   kestrel-bench-acq [--sim PATH] [--events N] [--idle-seconds S]
//                     [--baud 9600] [--blocks 1,2,3]
//
// For each speed and number of blocks it starts kestrel-cbsim on a new
// pseudo-terminal with that many blocks on the one line, runs the real thread
// (system clock, OS serial device) on it, and a stand-in for the main
// window's status tick (the status sweep over every block, once a second).
// It raises N arcs one after another, on the blocks in turn, at random
// moments through the simulator's standard input, and measures from the write
// of the command (the event enters the block's queue right after) to
//   - the flag: the UIR's arc flag set in the model, and
//   - the mark: the first status tick that marks the block red in the block
//     list (as the main window's list and status line show it).
// After each arc a reset quiets the block again (its mark cleared) before the
// next one; the arcs switch no outputs (the blocks wait for MTZ).
//
// The bound: an event queued just after the block's poll found nothing waits
// one full visit cycle, until the block's next event cycle, plus that cycle's
// poll exchange. With N blocks the cycle is N times (four plain visits and
// one polling visit), each built from the waits the thread makes; every wait
// is taken as long as it really took in the same run (measuring sleeper), and
// the port handling and the event cycle as timed in the same run. The mark's
// bound adds one status period, as measured.
//
// The idle cost is the process CPU time over S seconds without events (the
// thread keeps polling), scaled to a minute. A benchmark, not a test: the
// figures depend on the machine.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "AcqRig.h"
#include "monitor/StatusWalk.h"

namespace {

using namespace kestrel;
using Clock = std::chrono::steady_clock;

#ifndef KESTREL_CBSIM_PATH
#define KESTREL_CBSIM_PATH "kestrel-cbsim"
#endif

double Ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

double CpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// kestrel-cbsim as a child: its standard input is ours to write, its output
// is drained by a thread so that it never blocks on a full pipe.
class SimProcess {
public:
    bool Start(const std::string& sim, uint32_t baud, int blocks, std::string& ptyPath)
    {
        int in[2], out[2];
        if (pipe(in) != 0 || pipe(out) != 0)
            return false;
        pid_ = fork();
        if (pid_ < 0)
            return false;
        if (pid_ == 0) {
            dup2(in[0], STDIN_FILENO);
            dup2(out[1], STDOUT_FILENO);
            close(in[0]);
            close(in[1]);
            close(out[0]);
            close(out[1]);
            std::vector<std::string> args{sim, "--baud", std::to_string(baud), "--address"};
            for (int a = 1; a <= blocks; ++a)
                args.push_back(std::to_string(a));
            std::vector<char*> argv;
            for (std::string& s : args)
                argv.push_back(s.data());
            argv.push_back(nullptr);
            execv(sim.c_str(), argv.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        in_ = in[1];
        out_ = out[0];
        // The first line is the terminal's path.
        std::string line;
        char c;
        while (read(out_, &c, 1) == 1 && c != '\n')
            line += c;
        if (line.empty() || line[0] != '/')
            return false;
        ptyPath = line;
        drain_ = std::thread([this] {
            char buf[512];
            while (read(out_, buf, sizeof buf) > 0) {
            }
        });
        return true;
    }
    void Command(const std::string& line)
    {
        const std::string l = line + "\n";
        if (write(in_, l.data(), l.size()) != static_cast<ssize_t>(l.size()))
            std::fprintf(stderr, "kestrel-bench-acq: cannot write to the simulator\n");
    }
    ~SimProcess()
    {
        if (pid_ > 0) {
            Command("quit");
            kill(pid_, SIGTERM);
            int st = 0;
            waitpid(pid_, &st, 0);
        }
        if (in_ >= 0)
            close(in_);
        if (drain_.joinable())
            drain_.join();
        if (out_ >= 0)
            close(out_);
    }

private:
    pid_t pid_ = -1;
    int in_ = -1, out_ = -1;
    std::thread drain_;
};

struct Options {
    std::string sim = KESTREL_CBSIM_PATH;
    int events = 100;
    int idleSeconds = 30;
    std::vector<uint32_t> bauds{9600};
    std::vector<int> blocks{1, 2, 3};
};

template <class T>
bool ParseList(const char* s, std::vector<T>& out)
{
    out.clear();
    std::istringstream in(s);
    for (std::string p; std::getline(in, p, ',');) {
        char* end = nullptr;
        const long v = std::strtol(p.c_str(), &end, 10);
        if (p.empty() || *end != '\0' || v <= 0)
            return false;
        out.push_back(static_cast<T>(v));
    }
    return !out.empty();
}

double Percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    // Nearest rank.
    size_t rank = static_cast<size_t>(p / 100.0 * static_cast<double>(v.size()) + 0.999999);
    rank = std::clamp<size_t>(rank, 1, v.size());
    return v[rank - 1];
}

// The main window's status tick, once a second on its own thread: the sweep
// over every block, and the mark of each block as the block list shows it.
class StatusTicker {
public:
    static constexpr int kPeriodMs = 1000;

    explicit StatusTicker(TGlobalState& state) : state_(state)
    {
        const int32_t n = state.CbCount.load();
        marks_.assign(static_cast<size_t>(n), TCbMark::None);
        since_.assign(static_cast<size_t>(n), Clock::time_point{});
        thread_ = std::thread([this] { Run(); });
    }
    ~StatusTicker()
    {
        stop_ = true;
        thread_.join();
    }
    // The block's mark at the last tick, and the tick it first showed there.
    TCbMark Mark(int cb, Clock::time_point& since) const
    {
        std::lock_guard lock(mutex_);
        since = since_[static_cast<size_t>(cb)];
        return marks_[static_cast<size_t>(cb)];
    }
    double MeanPeriodMs() const
    {
        std::lock_guard lock(mutex_);
        return ticks_ > 1 ? bench::MsBetween(first_, last_) / static_cast<double>(ticks_ - 1) : kPeriodMs;
    }
    double MeanSweepMs() const
    {
        std::lock_guard lock(mutex_);
        return ticks_ > 0 ? sweepMs_ / static_cast<double>(ticks_) : 0.0;
    }

private:
    void Run()
    {
        auto next = Clock::now();
        while (!stop_) {
            next += std::chrono::milliseconds(kPeriodMs);
            std::this_thread::sleep_until(next);
            const auto t = Clock::now();
            const TStatusSweep sweep = StatusSweep(state_);
            const auto done = Clock::now();
            std::lock_guard lock(mutex_);
            if (ticks_ == 0)
                first_ = t;
            last_ = t;
            ++ticks_;
            sweepMs_ += bench::MsBetween(t, done);
            for (size_t i = 0; i < sweep.Blocks.size() && i < marks_.size(); ++i) {
                const TCbMark m = sweep.Blocks[i].Alarm.Mark();
                if (m != marks_[i]) {
                    marks_[i] = m;
                    since_[i] = t;
                }
            }
        }
    }

    TGlobalState& state_;
    mutable std::mutex mutex_;
    std::vector<TCbMark> marks_;
    std::vector<Clock::time_point> since_;
    Clock::time_point first_{}, last_{};
    uint64_t ticks_ = 0;
    double sweepMs_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The bound the pacing allows, from what the waits took in this run.
struct Bound {
    double plainVisitMs = 0;  // sleep 10, close the port, sleep 10
    double pollVisitMs = 0;   // sleep 10, open, event cycle, sleep 20
    double cycleMs = 0;       // one full visit cycle: N x (4 plain + 1 polling)
    double pollExchangeMs = 0;
    double flagMs = 0;        // cycle + poll exchange
    double tickMs = 0;        // measured status period (+ the sweep)
    double markMs = 0;        // flag bound + one status period
};

Bound WorkOutBound(const bench::TAcqRig& rig, const bench::TTimingAcqLink::TFigures& f, int blocks,
                   const StatusTicker& ticker)
{
    const double s10 = rig.sleeper.MeanMs(10), s20 = rig.sleeper.MeanMs(20);
    Bound b;
    b.plainVisitMs = s10 + f.CloseMs + s10;
    b.pollVisitMs = s10 + f.OpenMs + f.CycleMs + s20;
    b.cycleMs = blocks * (4 * b.plainVisitMs + b.pollVisitMs);
    // A cycle that finds nothing: the frame-count reset, 10 ms, one poll; the
    // two exchanges have the same wait.
    b.pollExchangeMs = std::max(0.0, (f.CycleMs - s10) / 2);
    b.flagMs = b.cycleMs + b.pollExchangeMs;
    b.tickMs = ticker.MeanPeriodMs() + ticker.MeanSweepMs();
    b.markMs = b.flagMs + b.tickMs;
    return b;
}

bool RunOne(const Options& o, uint32_t baud, int blocks)
{
    SimProcess sim;
    std::string pty;
    if (!sim.Start(o.sim, baud, blocks, pty)) {
        std::fprintf(stderr, "kestrel-bench-acq: cannot start %s\n", o.sim.c_str());
        return false;
    }
    std::vector<int> addresses;
    for (int a = 1; a <= blocks; ++a) {
        addresses.push_back(a);
        // Every UIR polled; outputs switch only with MTZ, so an arc without
        // MTZ is one event and a reset leaves the block quiet again.
        sim.Command("cb " + std::to_string(a) + " uir 1-43 poll=on");
        sim.Command("cb " + std::to_string(a) + " mtz-wait on");
    }
    bench::TAcqRig rig(pty, addresses, baud);
    for (int i = 0; i < blocks; ++i)
        for (int u = 0; u < kUirCount; ++u)
            rig.state.Cb(i)->Uir[u].PollEnabled = 1;
    rig.thread.Start();

    // Every block's journal fetch first (the program's start-up).
    const auto startDeadline = Clock::now() + std::chrono::seconds(60);
    for (int i = 0; i < blocks; ++i)
        while (rig.state.Cb(i)->FirstPollPending != 0 && Clock::now() < startDeadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    StatusTicker ticker(rig.state);
    rig.sleeper.Reset();
    rig.timing.Reset();

    auto waitMark = [&](int cb, TCbMark want, Clock::time_point after, Clock::time_point& at) {
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (Clock::now() < deadline) {
            Clock::time_point since;
            if (ticker.Mark(cb, since) == want && since >= after) {
                at = since;
                return true;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        return false;
    };

    std::mt19937 rnd(12345u + baud + static_cast<uint32_t>(blocks));
    // Gaps spread the arcs over the visit cycle and the status period alike.
    std::uniform_int_distribution<int> gap(0, 1500);
    std::vector<double> flagLat, markLat;
    int lost = 0, unmarked = 0, stuck = 0;
    for (int k = 0; k < o.events; ++k) {
        const int cbIndex = k % blocks;
        const int uir = 1 + (k / blocks) % kUirCount;
        const int input = 1 + (k / blocks / kUirCount) % 3;
        TCbData& cb = *rig.state.Cb(cbIndex);
        std::this_thread::sleep_for(std::chrono::milliseconds(gap(rnd)));
        const auto t0 = Clock::now();
        sim.Command("cb " + std::to_string(cbIndex + 1) + " arc " + std::to_string(uir) + " " + std::to_string(input) +
                    " mtz 0");
        const auto deadline = t0 + std::chrono::seconds(5);
        while (cb.Uir[uir - 1].ChArc(input) == 0 && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        if (cb.Uir[uir - 1].ChArc(input) == 0)
            ++lost;
        else
            flagLat.push_back(Ms(Clock::now() - t0));
        Clock::time_point marked;
        if (waitMark(cbIndex, TCbMark::Alarm, t0, marked))
            markLat.push_back(Ms(marked - t0));
        else
            ++unmarked;
        // Quiet again before the next arc: the reset at the head of the list
        // clears the flags and the mark on a later tick.
        const auto r0 = Clock::now();
        sim.Command("cb " + std::to_string(cbIndex + 1) + " reset");
        Clock::time_point cleared;
        if (!waitMark(cbIndex, TCbMark::None, r0, cleared))
            ++stuck;
    }
    const bench::TTimingAcqLink::TFigures fig = rig.timing.Figures();
    const Bound bound = WorkOutBound(rig, fig, blocks, ticker);
    const double s10 = rig.sleeper.MeanMs(10), s20 = rig.sleeper.MeanMs(20), s40 = rig.sleeper.MeanMs(40);

    // Idle: the thread keeps polling, nothing happens on the blocks.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const double cpu0 = CpuSeconds();
    const auto w0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(o.idleSeconds));
    const double cpu = CpuSeconds() - cpu0;
    const double wall = std::chrono::duration<double>(Clock::now() - w0).count();
    const uint64_t passes = rig.thread.Passes();
    rig.thread.Stop();

    std::printf("%u bit/s, %d block%s: %zu arcs flagged, %zu marked (lost %d, unmarked %d, not cleared %d)\n", baud,
                blocks, blocks == 1 ? "" : "s", flagLat.size(), markLat.size(), lost, unmarked, stuck);
    std::printf("  flag  p50 %7.1f ms  p95 %7.1f ms  max %7.1f ms   bound %7.1f ms = visit cycle %.1f + poll exchange %.1f\n",
                Percentile(flagLat, 50), Percentile(flagLat, 95),
                flagLat.empty() ? 0.0 : *std::max_element(flagLat.begin(), flagLat.end()), bound.flagMs, bound.cycleMs,
                bound.pollExchangeMs);
    std::printf("  mark  p50 %7.1f ms  p95 %7.1f ms  max %7.1f ms   bound %7.1f ms = flag bound %.1f + status period %.1f\n",
                Percentile(markLat, 50), Percentile(markLat, 95),
                markLat.empty() ? 0.0 : *std::max_element(markLat.begin(), markLat.end()), bound.markMs, bound.flagMs,
                bound.tickMs);
    std::printf("  waits as measured: sleep 10 -> %.2f ms, 20 -> %.2f ms, 40 (post-write) -> %.2f ms; port open %.2f ms,"
                " close %.2f ms; quiet event cycle %.1f ms (%zu cycles)\n",
                s10, s20, s40, fig.OpenMs, fig.CloseMs, fig.CycleMs, fig.Cycles);
    std::printf("  visits: plain %.1f ms, polling %.1f ms; visit cycle seen between two cycles of a block: %.1f ms"
                " (median, events included)\n",
                bound.plainVisitMs, bound.pollVisitMs, fig.SeenPeriodMs);
    std::printf("  idle CPU %6.0f ms/min = %5.2f %% of one core  (%llu passes)\n", cpu / wall * 60000.0, cpu / wall * 100.0,
                static_cast<unsigned long long>(passes));
    std::fflush(stdout);
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
        bool ok = v != nullptr;
        if (a == "--sim" && ok)
            o.sim = v;
        else if (a == "--events" && ok)
            ok = (o.events = std::atoi(v)) > 0;
        else if (a == "--idle-seconds" && ok)
            ok = (o.idleSeconds = std::atoi(v)) > 0;
        else if (a == "--baud" && ok)
            ok = ParseList(v, o.bauds);
        else if (a == "--blocks" && ok)
            ok = ParseList(v, o.blocks);
        else
            ok = false;
        if (!ok) {
            std::fprintf(stderr,
                         "usage: kestrel-bench-acq [--sim PATH] [--events N] [--idle-seconds S] "
                         "[--baud 9600] [--blocks 1,2,3]\n");
            return 2;
        }
        ++i;
    }
    signal(SIGPIPE, SIG_IGN);
    std::printf("acquisition latency: arc queued in the simulated block -> arc flag in the model, and -> the block's\n"
                "mark in the block list (status tick); each beside the bound the thread's pacing allows; idle cost\n");
    for (uint32_t baud : o.bauds)
        for (int blocks : o.blocks)
            if (!RunOne(o, baud, blocks))
                return 1;
    return 0;
}
