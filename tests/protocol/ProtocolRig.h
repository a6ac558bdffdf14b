#pragma once
// One central block behind a scripted device, with the port already open.
#include <gtest/gtest.h>

#include "link/FakeSerialDevice.h"
#include "protocol/Protocol.h"

namespace kestrel::test {

struct ProtocolRig {
    TGlobalState state;
    FakeSerialDevice dev;
    TComPort port{dev};
    RecordingSleeper sleeper;
    RecordingHooks hooks;
    TCbProtocol proto{state, port, sleeper, hooks};

    ProtocolRig() { EXPECT_EQ(proto.OpenPortForCb(0), 0); }
    TCbData& cb() { return *state.Cb(0); }
};

}  // namespace kestrel::test
