#pragma once
// Frames as the central block sees them: the PC's requests arrive byte by
// byte and are cut into frames here; answers are built here. Written from the
// device's side only, so that a fault in the PC's framing cannot hide behind
// the same fault in the device.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrel::sim {

constexpr uint8_t kAck = 0xE5;
constexpr uint8_t kShortStart = 0x10;
constexpr uint8_t kLongStart = 0x68;
constexpr uint8_t kStop = 0x16;
constexpr uint8_t kFcbBit = 0x20;
constexpr uint8_t kFcvBit = 0x10;

// Arithmetic sum modulo 256.
uint8_t Sum8(const uint8_t* p, size_t n);

struct TRequest {
    bool IsLong = false;
    uint8_t C = 0;
    uint8_t A = 0;
    uint8_t CI = 0;              // long frames only
    std::vector<uint8_t> Data;   // long frames: bytes after CI
    std::vector<uint8_t> Raw;    // the whole frame as received
};

// Cuts a byte stream into valid request frames. A byte that cannot start a
// frame is skipped; a frame that fails its length, check sum or stop byte is
// dropped and the search for a start byte goes on after its first byte, as a
// receiver that lost sync would.
class TFrameParser {
public:
    // True when `b` completed a valid frame (then in `out`).
    bool Feed(uint8_t b, TRequest& out);
    void Reset() { buf_.clear(); }
    bool Idle() const { return buf_.empty(); }
    // Bytes thrown away (garbage, broken frames).
    uint64_t Discarded() const { return discarded_; }

private:
    // 1: complete and valid, 0: needs more, -1: broken.
    int Check(TRequest& out) const;

    std::vector<uint8_t> buf_;
    uint64_t discarded_ = 0;
};

std::vector<uint8_t> BuildShortFrame(uint8_t c, uint8_t a);
std::vector<uint8_t> BuildLongFrame(uint8_t c, uint8_t a, uint8_t ci, const std::vector<uint8_t>& data);

// Packed BCD, tens in the high nibble.
uint8_t Bcd(int v);
// False when a nibble is not a decimal digit.
bool UnBcd(uint8_t b, int& v);

}  // namespace kestrel::sim
