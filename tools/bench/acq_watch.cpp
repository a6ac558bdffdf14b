// kestrel-acq-watch: the acquisition thread on a serial device, printing the
// events it brings into the model, as the main window would see them.
//
//   kestrel-acq-watch DEVICE [--address N ...] [--baud N] [--seconds S]
//
// DEVICE is the path of the serial device (for instance the terminal that
// kestrel-cbsim prints); every block is reached through it. Without
// --seconds it runs until Ctrl-C.
#include <signal.h>

#include <atomic>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "AcqRig.h"

namespace {

using namespace kestrel;

std::atomic<bool> gStop{false};

extern "C" void OnSignal(int)
{
    gStop.store(true);
}

void Print(int address, const char* what, const TEventData& e)
{
    char code[8];
    std::snprintf(code, sizeof code, "%02X", e.Code);
    std::printf("CB %d %s %s  %s  %s\n", address, what, code, EventListDate(e).c_str(), EventListText(e).c_str());
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argv[1][0] == '-') {
        std::fprintf(stderr, "usage: kestrel-acq-watch DEVICE [--address N ...] [--baud N] [--seconds S]\n");
        return 2;
    }
    const std::string device = argv[1];
    std::vector<int> addresses;
    uint32_t baud = 9600;
    int seconds = 0;
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--address" && i + 1 < argc) {
            while (i + 1 < argc && argv[i + 1][0] != '-')
                addresses.push_back(std::atoi(argv[++i]));
        } else if (a == "--baud" && i + 1 < argc) {
            baud = static_cast<uint32_t>(std::atoi(argv[++i]));
        } else if (a == "--seconds" && i + 1 < argc) {
            seconds = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "kestrel-acq-watch: unknown option %s\n", a.c_str());
            return 2;
        }
    }
    if (addresses.empty())
        addresses.push_back(1);
    for (int a : addresses)
        if (a < 1 || a > 254) {
            std::fprintf(stderr, "kestrel-acq-watch: address %d out of 1..254\n", a);
            return 2;
        }

    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    bench::TAcqRig rig(device, addresses, baud);
    rig.thread.Start();
    std::printf("watching %s at %u bit/s, %zu block(s)\n", device.c_str(), baud, addresses.size());
    std::fflush(stdout);

    const size_t n = addresses.size();
    // Events inserted at the front so far, per block: the list's count
    // stops growing once it holds its limit, this does not.
    std::vector<uint64_t> seen(n, 0);
    std::vector<bool> journalDone(n, false);
    std::vector<uint8_t> lost(n, 0);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!gStop.load() && (seconds <= 0 || std::chrono::steady_clock::now() < end)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        for (size_t i = 0; i < n; ++i) {
            TCbData& cb = *rig.state.Cb(static_cast<int32_t>(i));
            uint64_t inserted = 0;
            const std::vector<TEventData> list = cb.Events.Snapshot(inserted);
            if (!journalDone[i]) {
                if (cb.FirstPollPending != 0)
                    continue;
                // The journal fetch appended its records; print them in the
                // order the block sent them.
                for (const TEventData& e : list)
                    Print(addresses[i], "journal", e);
                journalDone[i] = true;
                seen[i] = inserted;
            } else if (inserted > seen[i]) {
                // Polled events are inserted at the front, newest first.
                const size_t fresh = static_cast<size_t>(std::min<uint64_t>(inserted - seen[i], list.size()));
                for (size_t k = fresh; k-- > 0;)
                    Print(addresses[i], "event  ", list[k]);
                seen[i] = inserted;
            }
            if (cb.LinkLost != lost[i]) {
                lost[i] = cb.LinkLost;
                std::printf("CB %d link %s\n", addresses[i], lost[i] ? "lost" : "restored");
            }
        }
        std::fflush(stdout);
    }
    rig.thread.Stop();
    return 0;
}
