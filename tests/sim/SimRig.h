#pragma once
// A simulated block on COM1 and a raw PC side that writes bytes and reads
// what has arrived, all on a virtual clock.
#include <cstdint>
#include <vector>

#include "SimBus.h"
#include "state/Clock.h"

namespace kestrel::sim::test {

using Bytes = std::vector<uint8_t>;

struct TRig {
    VirtualClock clock;
    SimBus bus{clock};
    TSimCb& cb;

    explicit TRig(const TSimCbOptions& opt = {}, LineSettings pc = {9600, 8, 2, 0}) : cb(bus.Attach(1, opt))
    {
        bus.Open(1);
        bus.ApplyLineSettings(pc);
    }
    void Send(const Bytes& b)
    {
        uint32_t err = 0;
        bus.Write(b.data(), b.size(), err);
    }
    Bytes ReadNow()
    {
        Bytes out(512);
        size_t got = 0;
        uint32_t err = 0;
        bus.Read(out.data(), out.size(), got, err);
        out.resize(got);
        return out;
    }
    // Writes, waits as a patient PC would, reads everything that came.
    Bytes Exchange(const Bytes& req, uint32_t waitMs = 300)
    {
        Send(req);
        clock.Advance(waitMs);
        return ReadNow();
    }
};

inline Bytes Short(uint8_t c, uint8_t a)
{
    return {0x10, c, a, static_cast<uint8_t>(c + a), 0x16};
}

// Builds a long frame by hand (independently of both sides' builders).
inline Bytes Long(uint8_t c, uint8_t a, uint8_t ci, const Bytes& data = {})
{
    Bytes f;
    f.reserve(data.size() + 9);
    for (uint8_t b : {uint8_t{0x68}, static_cast<uint8_t>(3 + data.size()), static_cast<uint8_t>(3 + data.size()),
                      uint8_t{0x68}, c, a, ci})
        f.push_back(b);
    for (uint8_t b : data)
        f.push_back(b);
    unsigned s = 0;
    for (size_t i = 4; i < f.size(); ++i)
        s += f[i];
    f.push_back(static_cast<uint8_t>(s));
    f.push_back(0x16);
    return f;
}

}  // namespace kestrel::sim::test
