#pragma once
// The acquisition thread's view of the real central-block protocol.
#include "monitor/AcqLink.h"
#include "protocol/Protocol.h"

namespace kestrel {

// A job that talks to the block through the protocol; the thread runs it
// with the port open for block cb. The service console's tools run it
// directly on their own protocol.
class TProtocolTask : public TRequestTask {
public:
    virtual void Run(TCbProtocol& protocol, int32_t cb) = 0;
};

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
    void RunTask(int32_t cb, TRequestTask& task) override
    {
        if (auto* job = dynamic_cast<TProtocolTask*>(&task))
            job->Run(protocol_, cb);
    }

    TCbProtocol& Protocol() { return protocol_; }

private:
    TCbProtocol& protocol_;
};

}  // namespace kestrel
