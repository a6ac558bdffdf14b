#pragma once
// One RS-485 line between the PC and the blocks attached to it, in time:
// the PC's bytes reach the blocks one character time after another, a block
// starts its answer a turnaround after the request's last byte, and each
// answer byte becomes readable by the PC only when it has fully arrived.
// Answers that come after the PC stopped waiting simply stay in the receive
// buffer and are read by the next exchange, as on a real bus.
//
// Time is in microseconds on whatever clock the owner uses; the owner calls
// in with the current time. Not locked by itself: the owner holds the mutex.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "SimCb.h"
#include "SimFrame.h"
#include "link/SerialDevice.h"

namespace kestrel::sim {

// Microseconds one character takes: start bit, data bits, parity, stop bits.
uint64_t CharTimeUs(const LineSettings& s);
bool SameLine(const LineSettings& a, const LineSettings& b);

struct TTraceRecord {
    uint64_t AtUs = 0;
    bool ToPc = false;       // false: the PC sent it
    uint8_t Address = 0;     // the block that answered (ToPc)
    std::vector<uint8_t> Bytes;
    SimCmd Cmd = SimCmd::Unknown;
    bool Repeated = false;
    LineSettings Line;       // the sender's line settings
};

class TSimWire {
public:
    void Attach(TSimCb* cb);
    const std::vector<TSimCb*>& Blocks() const { return blocks_; }

    // The PC writes bytes starting at `startUs` with its line settings.
    // Frames complete at their last byte and are answered at once, in time.
    void FromPc(const uint8_t* p, size_t n, uint64_t startUs, const LineSettings& pcLine);
    // The same when the PC's settings cannot be known (a pseudo-terminal
    // keeps none): every block hears it and is heard at its own settings.
    void FromPcAnyLine(const uint8_t* p, size_t n, uint64_t startUs);
    // Moves bytes that have arrived by `nowUs` (at most n) into buf.
    size_t ToPc(uint8_t* buf, size_t n, uint64_t nowUs);
    // Bytes still on their way or waiting to be read.
    size_t Pending() const { return up_.size(); }
    // Arrival time of the next byte for the PC, or UINT64_MAX.
    uint64_t NextArrivalUs() const;
    // Everything in flight is lost (the PC closed the port).
    void DropPending();
    // The PC's side forgets partial frames (after a long silence or a close).
    void ResetParsers();

    void SetTurnaroundUs(uint64_t us) { turnaroundUs_ = us; }
    uint64_t TurnaroundUs() const { return turnaroundUs_; }
    void SetTrace(std::function<void(const TTraceRecord&)> f) { trace_ = std::move(f); }

private:
    struct TTimedByte {
        uint64_t AtUs;
        uint8_t B;
    };
    void FromPcImpl(const uint8_t* p, size_t n, uint64_t startUs, const LineSettings* pcLine);
    void Schedule(TSimCb* cb, const TAnswerPlan& plan, uint64_t requestEndUs, const LineSettings& pcLine);

    std::vector<TSimCb*> blocks_;
    std::vector<TFrameParser> parsers_;  // one per block, as each block listens alone
    std::deque<TTimedByte> up_;
    uint64_t upBusyUntilUs_ = 0;
    uint64_t lastPcByteUs_ = 0;
    uint64_t turnaroundUs_ = 5000;
    std::function<void(const TTraceRecord&)> trace_;
};

}  // namespace kestrel::sim
