#include "SimWire.h"

#include <algorithm>
#include <limits>

namespace kestrel::sim {

uint64_t CharTimeUs(const LineSettings& s)
{
    // Half bits, so that 1.5 stop bits stay exact.
    int halfBits = 2 * (1 + s.DataBits) + (s.Parity != 0 ? 2 : 0);
    halfBits += s.StopBits == 1 ? 3 : s.StopBits == 2 ? 4 : 2;
    if (s.Baud <= 0)
        return 1000000;
    return (static_cast<uint64_t>(halfBits) * 1000000u + static_cast<uint64_t>(s.Baud)) / (2u * static_cast<uint64_t>(s.Baud));
}

bool SameLine(const LineSettings& a, const LineSettings& b)
{
    return a.Baud == b.Baud && a.DataBits == b.DataBits && a.Parity == b.Parity && a.StopBits == b.StopBits;
}

void TSimWire::Attach(TSimCb* cb)
{
    blocks_.push_back(cb);
    parsers_.emplace_back();
}

void TSimWire::ResetParsers()
{
    for (auto& p : parsers_)
        p.Reset();
}

void TSimWire::FromPc(const uint8_t* p, size_t n, uint64_t startUs, const LineSettings& pcLine)
{
    FromPcImpl(p, n, startUs, &pcLine);
}

void TSimWire::FromPcAnyLine(const uint8_t* p, size_t n, uint64_t startUs)
{
    FromPcImpl(p, n, startUs, nullptr);
}

void TSimWire::FromPcImpl(const uint8_t* p, size_t n, uint64_t startUs, const LineSettings* pcLine)
{
    if (n == 0 || blocks_.empty())
        return;
    const LineSettings first = pcLine ? *pcLine : blocks_.front()->Line();
    const uint64_t ct = CharTimeUs(first);
    // A pause of more than three characters between bytes ends any frame a
    // receiver was collecting.
    if (startUs > lastPcByteUs_ + 3 * ct + 1000)
        ResetParsers();
    if (trace_)
        trace_(TTraceRecord{startUs, false, 0, std::vector<uint8_t>(p, p + n), SimCmd::Unknown, false, first});
    for (size_t i = 0; i < n; ++i) {
        for (size_t k = 0; k < blocks_.size(); ++k) {
            TSimCb* cb = blocks_[k];
            // Unknown PC settings: every block is taken to hear it at its own.
            const LineSettings heard = pcLine ? *pcLine : cb->Line();
            // A block at another speed or framing hears only noise.
            if (!SameLine(cb->Line(), heard)) {
                parsers_[k].Reset();
                continue;
            }
            TRequest req;
            if (!parsers_[k].Feed(p[i], req))
                continue;
            const TAnswerPlan plan = cb->Handle(req);
            if (plan.Addressed)
                Schedule(cb, plan, startUs + (i + 1) * CharTimeUs(heard), pcLine ? *pcLine : plan.Line);
        }
    }
    lastPcByteUs_ = startUs + n * ct;
}

void TSimWire::Schedule(TSimCb* cb, const TAnswerPlan& plan, uint64_t requestEndUs, const LineSettings& pcLine)
{
    if (trace_) {
        TTraceRecord r{requestEndUs, true, cb->Address(), plan.AllBytes(), plan.Cmd, plan.Repeated, plan.Line};
        trace_(r);
    }
    if (plan.Empty())
        return;
    const uint64_t ct = CharTimeUs(plan.Line);
    // An answer at a speed the PC is not listening at arrives as noise: the
    // PC sees nothing it could take for a frame.
    const bool intelligible = SameLine(plan.Line, pcLine);
    uint64_t t = std::max(requestEndUs + turnaroundUs_, upBusyUntilUs_);
    for (const auto& chunk : plan.Chunks) {
        t += chunk.GapUs;
        for (uint8_t b : chunk.Bytes) {
            t += ct;
            if (intelligible)
                up_.push_back(TTimedByte{t, b});
        }
    }
    upBusyUntilUs_ = t;
    // Several blocks may answer out of order in time (faults delay some):
    // keep the line's bytes sorted by arrival.
    std::stable_sort(up_.begin(), up_.end(), [](const TTimedByte& a, const TTimedByte& b) { return a.AtUs < b.AtUs; });
}

size_t TSimWire::ToPc(uint8_t* buf, size_t n, uint64_t nowUs)
{
    size_t got = 0;
    while (got < n && !up_.empty() && up_.front().AtUs <= nowUs) {
        buf[got++] = up_.front().B;
        up_.pop_front();
    }
    return got;
}

uint64_t TSimWire::NextArrivalUs() const
{
    return up_.empty() ? std::numeric_limits<uint64_t>::max() : up_.front().AtUs;
}

void TSimWire::DropPending()
{
    up_.clear();
}

}  // namespace kestrel::sim
