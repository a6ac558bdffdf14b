// The acquisition loop over the termios device when the USB adapter of a
// block is pulled out and plugged back: COM1 is mapped to a link standing for
// the adapter's /dev/serial/by-id/ name, which is removed and made again.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "link/ComPort.h"
#include "link/SerialDeviceOs.h"
#include "monitor/GetDataThread.h"
#include "monitor/ProtocolAcqLink.h"
#include "protocol/Protocol.h"
#include "sim/AnsweredDevice.h"
#include "sim/SimProcess.h"
#include "state/SettingsStoreFile.h"
#include "state/UiHooks.h"

namespace kestrel::sim::test {
namespace {

TEST(AcqReplug, LostAdapterIsLostThenResumesByItselfWithTheHeldEvent)
{
    TTempDir dir;
    TChildProcess sim;
    std::string pty;
    ASSERT_TRUE(StartTracedSim(sim, KESTREL_CBSIM, dir,
                               "uir 5 poll=on control=123\n", {"--register", "COM1"}, pty)) << sim.Output();
    const auto registry = dir.Path() / "KestrelUtilite" / "registry";
    const auto adapter = dir.Path() / "usb-adapter-if00";
    std::filesystem::create_symlink(pty, adapter);
    std::ofstream(registry / "Software" / "KestrelUtilite" / "Ports" / "COM1", std::ios::trunc) << adapter.string();

    TFileSettingsStore store(registry);
    auto os = MakeOsSerialDevice(MakeSettingsPortResolver(store));
    TAnsweredDevice device(*os, sim);
    TGlobalState state;
    TComPort port(device);
    IUiHooks hooks;
    TCbProtocol proto(state, port, SystemClock::Instance(), hooks);
    TProtocolAcqLink link(proto);
    TGetDataThread thread(state, link, SystemClock::Instance(), hooks);
    {
        std::lock_guard lock(state.RecordLock);
        state.EnsureAllocated(1);
        state.CbCount = 1;
    }
    TCbData& cb = *state.Cb(0);
    cb.PortNumber = 1;

    // Passes until cond holds; the count, or -1 at the guard (a hang, not a measure).
    const auto passesUntil = [&](const auto& cond) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(90);
        for (int n = 1; n <= 5000 && std::chrono::steady_clock::now() < until; ++n) {
            thread.RunPass();
            if (cond())
                return n;
        }
        return -1;
    };
    ASSERT_GT(passesUntil([&] { return cb.FirstPollPending.load() == 0; }), 0) << sim.Output();
    sim.Send("arc 5 2 interval 4");
    ASSERT_GT(passesUntil([&] { return cb.Uir[4].ChArc2.load() == 1; }), 0) << sim.Output();
    const int eventsBefore = cb.Events.Count();
    ASSERT_EQ(cb.LinkLost.load(), 0);

    std::filesystem::remove(adapter);  // pulled out
    const int toLost = passesUntil([&] { return cb.LinkLost.load() == 1; });
    ASSERT_GT(toLost, 0) << sim.Output();
    // The failed open's error, kept through the exchanges that fail on the closed port after it.
    EXPECT_EQ(cb.LastPortError.load(), static_cast<uint32_t>(ENOENT));
    sim.Send("arc 5 1 interval 6");  // the block keeps it while nobody asks

    std::filesystem::create_symlink(pty, adapter);  // plugged back
    const int toBack = passesUntil([&] { return cb.LinkLost.load() == 0; });
    ASSERT_GT(toBack, 0) << sim.Output();
    // One visit cycle: the next automatic poll of the block, no restart.
    EXPECT_LE(toBack, thread.PollPeriod.load()) << "passes to lost " << toLost;
    const int toEvent = passesUntil([&] { return cb.Uir[4].ChArc1.load() == 1; });
    EXPECT_GT(toEvent, 0) << sim.Output();
    EXPECT_GT(cb.Events.Count(), eventsBefore);
    EXPECT_EQ(cb.LastPortError.load(), 0u);
    std::printf("adapter out: link lost after %d passes; back: link restored after %d, held arc read %d later\n",
                toLost, toBack, toEvent);
    thread.Stop();
    EXPECT_EQ(sim.StopWith(SIGTERM), 0);
}

}  // namespace
}  // namespace kestrel::sim::test
