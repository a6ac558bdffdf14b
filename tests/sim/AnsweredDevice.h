#pragma once
// The simulator's trace (kestrel-cbsim --trace) read as a record of what it
// heard and answered, for tests against the separate program on a real
// pseudo-terminal: a typed fence instead of quiet windows, and a device that
// takes the simulator's run time out of the program's fixed waits.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "link/SerialDevice.h"
#include "sim/SimProcess.h"

namespace kestrel::sim::test {

// Only a guard against a hang: an answer that is due comes long before it,
// however busy the host.
constexpr int kGuardMs = 30000;

inline std::string HexOf(const uint8_t* p, size_t n)
{
    std::string s;
    char b[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, i ? " %02X" : "%02X", p[i]);
        s += b;
    }
    return s;
}

// Reads the simulator's trace (--trace) until it has heard the PC's bytes
// `hex` ("10 40 01 41 16"), in whatever pieces the terminal delivered them.
// What the blocks made of them is traced right after, in the same turn.
inline bool WaitPcBytes(TChildProcess& p, const std::string& hex)
{
    std::string heard, line;
    while (p.ReadLine(line, kGuardMs)) {
        const auto at = line.find("PC -> ");
        if (at == std::string::npos)
            continue;
        std::string bytes = line.substr(at + 6);
        if (const auto speed = bytes.find(" ("); speed != std::string::npos)
            bytes.erase(speed);
        heard += (heard.empty() ? "" : " ") + bytes;
        if (heard.size() >= hex.size() && heard.compare(heard.size() - hex.size(), hex.size(), hex) == 0)
            return true;
    }
    return false;
}

// Types "status" and reads up to its reply: `lines` gets every line the
// simulator printed before it. The simulator takes a typed line only after
// what the terminal brought in the same turn, hang-up included, so the
// simulator has dealt with everything the test did before the fence.
inline bool Fence(TChildProcess& p, std::vector<std::string>& lines)
{
    p.Send("status");
    std::string line;
    while (p.ReadLine(line, kGuardMs)) {
        if (line.rfind("turnaround ", 0) == 0)
            return true;
        lines.push_back(line);
    }
    return false;
}

// The answers the trace lines announce ("CB 1 <- reset-link, answers E5").
inline std::vector<std::string> Answers(const std::vector<std::string>& lines)
{
    std::vector<std::string> out;
    for (const std::string& l : lines)
        if (l.find(" <- ") != std::string::npos)
            out.push_back(l);
    return out;
}

// The termios device with the simulator's run time taken out of the
// exchange: a write returns only once the simulator's whole answer to it, as
// its trace names it, has come in. The link's own fixed wait then always
// finds the answer, however late a busy host let the simulator run; the
// bytes, the link's waits and its reads stay the program's own. Only for
// answers the PC can hear: one the simulator drops or sends at another
// speed would keep the write waiting for the guard's whole time.
class TAnsweredDevice final : public ISerialDevice {
public:
    TAnsweredDevice(ISerialDevice& inner, TChildProcess& sim) : inner_(inner), sim_(sim) {}
    uint32_t Open(int32_t n) override
    {
        held_.clear();
        return inner_.Open(n);
    }
    void Close() override
    {
        held_.clear();
        inner_.Close();
    }
    bool IsOpen() const override { return inner_.IsOpen(); }
    uint32_t ApplyLineSettings(const LineSettings& s) override { return inner_.ApplyLineSettings(s); }
    void ApplyTimeouts(const PortTimeouts& t) override { inner_.ApplyTimeouts(t); }
    bool Read(uint8_t* buf, size_t n, size_t& got, uint32_t& err) override
    {
        got = std::min(n, held_.size());
        std::copy_n(held_.begin(), got, buf);
        held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(got));
        err = 0;
        if (got == n)
            return true;
        size_t more = 0;
        const bool ok = inner_.Read(buf + got, n - got, more, err);
        got += more;
        return ok;
    }
    bool Write(const uint8_t* buf, size_t n, uint32_t& err) override
    {
        if (!inner_.Write(buf, n, err))
            return false;
        std::vector<std::string> lines;
        if (!WaitPcBytes(sim_, HexOf(buf, n)) || !Fence(sim_, lines))
            return true;  // the link finds no answer and says so
        size_t want = held_.size();
        for (const std::string& l : Answers(lines))
            if (const auto at = l.find(", answers "); at != std::string::npos)
                want += (l.size() - at - 10 + 1) / 3;
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGuardMs);
        while (held_.size() < want && std::chrono::steady_clock::now() < until) {
            uint8_t b[64];
            size_t got = 0;
            uint32_t e = 0;
            inner_.Read(b, std::min(sizeof b, want - held_.size()), got, e);
            held_.insert(held_.end(), b, b + got);
            if (got == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

private:
    ISerialDevice& inner_;
    TChildProcess& sim_;
    std::vector<uint8_t> held_;
};

}  // namespace kestrel::sim::test
