// The simulated block must survive whatever reaches it: the first input byte
// chooses between raw bytes on the wire and typed scenario text. Answers
// must stay well-formed frames whatever was asked.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "SimBus.h"

namespace {

using namespace kestrel;
using namespace kestrel::sim;

// True when `b` is a run of whole answers: E5, short frames, long frames.
bool WellFormed(const std::vector<uint8_t>& b)
{
    size_t i = 0;
    while (i < b.size()) {
        if (b[i] == 0xE5) {
            ++i;
        } else if (b[i] == 0x10) {
            if (i + 5 > b.size() || static_cast<uint8_t>(b[i + 1] + b[i + 2]) != b[i + 3] || b[i + 4] != 0x16)
                return false;
            i += 5;
        } else if (b[i] == 0x68) {
            if (i + 4 > b.size() || b[i + 1] != b[i + 2] || b[i + 3] != 0x68)
                return false;
            const size_t len = b[i + 1];
            if (i + len + 6 > b.size())
                return false;
            uint8_t sum = 0;
            for (size_t k = 0; k < len; ++k)
                sum = static_cast<uint8_t>(sum + b[i + 4 + k]);
            if (sum != b[i + 4 + len] || b[i + 5 + len] != 0x16)
                return false;
            i += len + 6;
        } else {
            return false;
        }
    }
    return true;
}

void Wire(const uint8_t* d, size_t n)
{
    VirtualClock clock;
    SimBus bus(clock);
    TSimCb& cb = bus.Attach(1);
    cb.ConfigureUir(1, true, true, 0, 1, 2, true, true, true);
    cb.FillJournal(3);
    cb.RaiseArc(1, 2);
    bus.Open(1);
    bus.ApplyLineSettings({9600, 8, 2, 0});
    uint8_t buf[600];
    std::vector<uint8_t> answers;
    // Chunks: a length byte (low 6 bits) and a pause byte, then the bytes.
    size_t i = 0;
    while (i + 2 <= n) {
        const size_t len = d[i] & 0x3F;
        const uint32_t pause = d[i + 1];
        i += 2;
        const size_t take = std::min(len, n - i);
        uint32_t err = 0;
        bus.Write(d + i, take, err);
        i += take;
        clock.Advance(pause);
        size_t got = 0;
        bus.Read(buf, sizeof buf, got, err);
        if (got > sizeof buf)
            __builtin_trap();
        answers.insert(answers.end(), buf, buf + got);
    }
    // Whatever was answered must be E5, a short frame or a long frame with a
    // matching length and check sum (no fault was injected).
    clock.Advance(1000);
    size_t got = 0;
    uint32_t err = 0;
    bus.Read(buf, sizeof buf, got, err);
    answers.insert(answers.end(), buf, buf + got);
    if (!WellFormed(answers))
        __builtin_trap();
    (void)cb.Status();
}

void Text(const uint8_t* d, size_t n)
{
    VirtualClock clock;
    SimBus bus(clock);
    bus.Attach(1);
    const std::string text(reinterpret_cast<const char*>(d), n);
    std::string error;
    if (bus.LoadScenario(text, error)) {
        clock.Advance(60 * 1000);
        bus.Pump();
    }
    size_t start = 0;
    for (size_t k = 0; k <= text.size(); ++k)
        if (k == text.size() || text[k] == '\n') {
            std::string reply;
            bus.Command(text.substr(start, k - start), reply);
            start = k + 1;
        }
    clock.Advance(60 * 1000);
    bus.Pump();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* d, size_t n)
{
    if (n == 0)
        return 0;
    if (d[0] & 1)
        Wire(d + 1, n - 1);
    else
        Text(d + 1, n - 1);
    return 0;
}
