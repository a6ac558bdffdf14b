// kestrel-bench-acq: how quickly the acquisition thread brings an event from
// a central block into the model, and what the thread costs while idle.
//
//   kestrel-bench-acq [--sim PATH] [--events N] [--idle-seconds S]
//                     [--baud 9600,19200] [--blocks 1,3]
//
// For each speed and number of blocks it starts kestrel-cbsim on a new
// pseudo-terminal, runs the real thread (system clock, OS serial device) on
// it, and raises N arcs one after another at random moments through the
// simulator's standard input. Latency is measured from the write of the
// command (the event enters the simulator's queue right after) to the moment
// the UIR's arc flag is set in the model. The idle cost is the process CPU
// time over S seconds without events (the thread keeps polling), scaled to a
// minute. A benchmark, not a test: the figures depend on the machine.
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
    std::vector<uint32_t> bauds{9600, 19200};
    std::vector<int> blocks{1, 3};
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
        sim.Command("cb " + std::to_string(a) + " uir 1-43 poll=on");
    }
    bench::TAcqRig rig(pty, addresses, baud);
    rig.thread.Start();

    // Every block's journal fetch first (the program's start-up).
    const auto startDeadline = Clock::now() + std::chrono::seconds(60);
    for (int i = 0; i < blocks; ++i)
        while (rig.state.Cb(i)->FirstPollPending != 0 && Clock::now() < startDeadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));

    std::mt19937 rnd(12345u + baud + static_cast<uint32_t>(blocks));
    std::uniform_int_distribution<int> gap(0, 400);
    std::vector<double> lat;
    int lost = 0, listedButNoFlag = 0;
    for (int k = 0; k < o.events; ++k) {
        const int cbIndex = k % blocks;
        const int uir = 1 + (k / blocks) % kUirCount;
        const int input = 1 + (k / blocks / kUirCount) % 3;
        TCbData& cb = *rig.state.Cb(cbIndex);
        cb.Uir[uir - 1].ChArc(input) = 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(gap(rnd)));
        const auto t0 = Clock::now();
        sim.Command("cb " + std::to_string(cbIndex + 1) + " arc " + std::to_string(uir) + " " +
                    std::to_string(input));
        const auto deadline = t0 + std::chrono::seconds(5);
        while (cb.Uir[uir - 1].ChArc(input) == 0 && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        if (cb.Uir[uir - 1].ChArc(input) == 0) {
            ++lost;
            // Not in the list either: the answer was lost on the link (an
            // answer that came after the wait is read as garbage by the next
            // poll, which then ends the cycle).
            bool listed = false;
            for (const TEventData& e : cb.Events.Snapshot())
                listed = listed || (e.Code == 0xA0 + input && e.UirAddress == uir);
            if (listed)
                ++listedButNoFlag;
        } else
            lat.push_back(Ms(Clock::now() - t0));
    }

    // Idle: the thread keeps polling, nothing happens on the blocks.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const double cpu0 = CpuSeconds();
    const auto w0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(o.idleSeconds));
    const double cpu = CpuSeconds() - cpu0;
    const double wall = std::chrono::duration<double>(Clock::now() - w0).count();
    const uint64_t passes = rig.thread.Passes();
    rig.thread.Stop();

    std::printf("%6u bit/s, %d block%s: events %zu (lost %d, %d of them listed)  latency median %6.1f ms  p95 %6.1f ms  max %6.1f ms"
                "  | idle CPU %6.0f ms/min = %5.2f %% of one core  (%llu passes)\n",
                baud, blocks, blocks == 1 ? " " : "s", lat.size(), lost, listedButNoFlag, Percentile(lat, 50), Percentile(lat, 95),
                lat.empty() ? 0.0 : *std::max_element(lat.begin(), lat.end()), cpu / wall * 60000.0,
                cpu / wall * 100.0, static_cast<unsigned long long>(passes));
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
                         "[--baud 9600,19200] [--blocks 1,3]\n");
            return 2;
        }
        ++i;
    }
    signal(SIGPIPE, SIG_IGN);
    std::printf("acquisition latency (arc raised in the simulator -> arc flag in the model) and idle cost\n");
    for (uint32_t baud : o.bauds)
        for (int blocks : o.blocks)
            if (!RunOne(o, baud, blocks))
                return 1;
    return 0;
}
