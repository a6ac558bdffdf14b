#include "SimFrame.h"

namespace kestrel::sim {

uint8_t Sum8(const uint8_t* p, size_t n)
{
    unsigned s = 0;
    for (size_t i = 0; i < n; ++i)
        s += p[i];
    return static_cast<uint8_t>(s & 0xFF);
}

int TFrameParser::Check(TRequest& out) const
{
    const size_t n = buf_.size();
    if (buf_[0] == kShortStart) {
        if (n < 5)
            return 0;
        if (Sum8(&buf_[1], 2) != buf_[3] || buf_[4] != kStop)
            return -1;
        out = TRequest{};
        out.IsLong = false;
        out.C = buf_[1];
        out.A = buf_[2];
        out.Raw = buf_;
        return 1;
    }
    // Long frame: 0x68 L L 0x68 C A CI data CS 0x16.
    if (n >= 2 && buf_[1] < 3)
        return -1;  // every request of ours carries C, A and CI
    if (n >= 3 && buf_[2] != buf_[1])
        return -1;
    if (n >= 4 && buf_[3] != kLongStart)
        return -1;
    if (n < 4)
        return 0;
    const size_t len = buf_[1];
    if (n < len + 6)
        return 0;
    if (Sum8(&buf_[4], len) != buf_[4 + len] || buf_[5 + len] != kStop)
        return -1;
    out = TRequest{};
    out.IsLong = true;
    out.C = buf_[4];
    out.A = buf_[5];
    out.CI = buf_[6];
    out.Data.assign(buf_.begin() + 7, buf_.begin() + 4 + static_cast<std::ptrdiff_t>(len));
    out.Raw = buf_;
    return 1;
}

bool TFrameParser::Feed(uint8_t b, TRequest& out)
{
    if (buf_.empty() && b != kShortStart && b != kLongStart) {
        ++discarded_;
        return false;
    }
    buf_.push_back(b);
    for (;;) {
        const int r = Check(out);
        if (r == 1) {
            buf_.clear();
            return true;
        }
        if (r == 0)
            return false;
        // Broken: drop the start byte and look for the next start in what
        // is left; the rest may hold the real frame.
        ++discarded_;
        buf_.erase(buf_.begin());
        while (!buf_.empty() && buf_[0] != kShortStart && buf_[0] != kLongStart) {
            buf_.erase(buf_.begin());
            ++discarded_;
        }
        if (buf_.empty())
            return false;
    }
}

std::vector<uint8_t> BuildShortFrame(uint8_t c, uint8_t a)
{
    const uint8_t ca[2] = {c, a};
    return {kShortStart, c, a, Sum8(ca, 2), kStop};
}

std::vector<uint8_t> BuildLongFrame(uint8_t c, uint8_t a, uint8_t ci, const std::vector<uint8_t>& data)
{
    const size_t len = 3 + data.size();
    std::vector<uint8_t> f;
    f.reserve(len + 6);
    f.push_back(kLongStart);
    f.push_back(static_cast<uint8_t>(len));
    f.push_back(static_cast<uint8_t>(len));
    f.push_back(kLongStart);
    f.push_back(c);
    f.push_back(a);
    f.push_back(ci);
    f.insert(f.end(), data.begin(), data.end());
    f.push_back(Sum8(&f[4], len));
    f.push_back(kStop);
    return f;
}

uint8_t Bcd(int v)
{
    if (v < 0)
        v = 0;
    v %= 100;
    return static_cast<uint8_t>((v / 10) * 16 + v % 10);
}

bool UnBcd(uint8_t b, int& v)
{
    const int hi = b >> 4, lo = b & 0x0F;
    if (hi > 9 || lo > 9)
        return false;
    v = hi * 10 + lo;
    return true;
}

}  // namespace kestrel::sim
