#pragma once
// The acquisition thread's view of the real central-block protocol.
#include "monitor/AcqLink.h"
#include "protocol/Protocol.h"

namespace kestrel {

class TProtocolAcqLink final : public IAcqLink {
public:
    explicit TProtocolAcqLink(TCbProtocol& protocol) : protocol_(protocol) {}

    void OpenPortForCb(int32_t cb) override { protocol_.OpenPortForCb(cb); }
    void ClosePortForCb(int32_t cb) override { protocol_.ClosePortForCb(cb); }
    bool IsKnownCode(int32_t code) const override { return TCbProtocol::IsKnownCode(code); }
    void Dispatch(int32_t cb, int32_t code) override { protocol_.Dispatch(cb, code); }
    void RunEventCycle(int32_t cb, const std::function<bool()>& stopRequested) override
    {
        protocol_.ReqEventCycle(cb, stopRequested);
    }

    TCbProtocol& Protocol() { return protocol_; }

private:
    TCbProtocol& protocol_;
};

}  // namespace kestrel
