#pragma once
// The acquisition stack as the program runs it: the OS serial device (its
// COM1 named by a path, e.g. a pseudo-terminal), the port object, the
// protocol and the acquisition thread on the system clock. Shared by the
// acquisition benchmark and kestrel-acq-watch.
#include <memory>
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

struct TAcqRig {
    // One CB record per address, all on COM1 = `devicePath`, at `baud`.
    TAcqRig(const std::string& devicePath, const std::vector<int>& addresses, uint32_t baud)
        : device(MakeOsSerialDevice([devicePath](int32_t) { return devicePath; })),
          port(*device),
          protocol(state, port, SystemClock::Instance(), hooks),
          link(protocol),
          thread(state, link, SystemClock::Instance(), hooks)
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
    std::unique_ptr<ISerialDevice> device;
    TComPort port;
    TCbProtocol protocol;
    TProtocolAcqLink link;
    TGetDataThread thread;
};

}  // namespace kestrel::bench
