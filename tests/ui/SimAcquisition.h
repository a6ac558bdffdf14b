#pragma once
// The program's own acquisition (protocol, link and thread) over the
// in-process simulated bus: the link paces on the bus's virtual clock, the
// thread on real time, as window tests with simulated blocks need.
#include <memory>

#include "SimBus.h"
#include "link/ComPort.h"
#include "monitor/ProtocolAcqLink.h"
#include "monitor/ui/MainForm.h"
#include "protocol/Protocol.h"
#include "state/Clock.h"

namespace kestrel::test {

inline AcquisitionFactory SimBusAcquisition(sim::SimBus& bus, ISleeper& linkClock)
{
    return [&bus, &linkClock](TGlobalState& s, IUiHooks& h) {
        auto acq = std::make_unique<TAcquisition>();
        auto port = std::make_shared<TComPort>(bus);
        auto protocol = std::make_shared<TCbProtocol>(s, *port, linkClock, h);
        auto link = std::make_shared<TProtocolAcqLink>(*protocol);
        acq->Thread = std::make_unique<TGetDataThread>(s, *link, SystemClock::Instance(), h);
        acq->Parts = {port, protocol, link};
        return acq;
    };
}

}  // namespace kestrel::test
