#pragma once
// A scripted serial device for the link and protocol tests: every write takes
// the next scripted answer, which is then waiting in the receive buffer for the
// reads that follow. It records what was written and which calls were made.
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "link/Link.h"
#include "link/SerialDevice.h"
#include "state/Clock.h"
#include "state/UiHooks.h"

namespace kestrel::test {

using Bytes = std::vector<uint8_t>;

class FakeSerialDevice final : public ISerialDevice {
public:
    // Port number -> OS error of its open (absent: the open succeeds).
    std::map<int32_t, uint32_t> OpenErrors;
    uint32_t LineError = 0;
    // When set, decides the error of each line-settings application.
    std::function<uint32_t(const LineSettings&)> LineCheck;
    uint32_t WriteError = 0;
    // Consumed one per read: the OS error of that read (0 = fine).
    std::deque<uint32_t> ReadErrors;
    bool ThrowOnRead = false;

    std::deque<Bytes> Script;  // one answer per write
    std::deque<uint8_t> Rx;    // bytes waiting for a read
    std::vector<Bytes> Writes;
    std::vector<std::string> Calls;
    std::vector<size_t> ReadSizes;
    LineSettings Applied{};
    int32_t OpenPort = 0;

    uint32_t Open(int32_t n) override
    {
        Calls.push_back("open " + std::to_string(n));
        auto it = OpenErrors.find(n);
        if (it != OpenErrors.end() && it->second != 0)
            return it->second;
        open_ = true;
        OpenPort = n;
        return 0;
    }
    void Close() override
    {
        Calls.push_back("close");
        open_ = false;
    }
    bool IsOpen() const override { return open_; }
    uint32_t ApplyLineSettings(const LineSettings& s) override
    {
        Calls.push_back("line " + std::to_string(s.Baud) + " " + std::to_string(s.DataBits) + " " +
                        std::to_string(s.Parity) + " " + std::to_string(s.StopBits));
        Applied = s;
        return LineCheck ? LineCheck(s) : LineError;
    }
    void ApplyTimeouts(const PortTimeouts&) override { Calls.push_back("timeouts"); }
    bool Read(uint8_t* buf, size_t n, size_t& got, uint32_t& err) override
    {
        if (ThrowOnRead)
            throw std::runtime_error("device gone");
        ReadSizes.push_back(n);
        got = 0;
        err = 0;
        if (!open_) {
            err = 9;  // bad handle
            return false;
        }
        while (got < n && !Rx.empty()) {
            buf[got++] = Rx.front();
            Rx.pop_front();
        }
        if (!ReadErrors.empty()) {
            err = ReadErrors.front();
            ReadErrors.pop_front();
            if (err != 0)
                return false;
        }
        return true;
    }
    bool Write(const uint8_t* buf, size_t n, uint32_t& err) override
    {
        err = 0;
        if (!open_) {
            err = 9;
            return false;
        }
        if (WriteError != 0) {
            err = WriteError;
            return false;
        }
        Writes.emplace_back(buf, buf + n);
        if (!Script.empty()) {
            Rx.insert(Rx.end(), Script.front().begin(), Script.front().end());
            Script.pop_front();
        }
        return true;
    }

    // Queue the same answer n times.
    void Answer(const Bytes& b, int n = 1)
    {
        for (int i = 0; i < n; ++i)
            Script.push_back(b);
    }

private:
    bool open_ = false;
};

// Remembers every sleep.
class RecordingSleeper final : public ISleeper {
public:
    std::vector<uint32_t> Sleeps;
    void SleepMs(uint32_t ms) override { Sleeps.push_back(ms); }
    uint64_t Total() const
    {
        uint64_t t = 0;
        for (uint32_t s : Sleeps)
            t += s;
        return t;
    }
};

class RecordingHooks final : public IUiHooks {
public:
    std::vector<std::string> Lines;
    int Restores = 0;
    int JournalShows = 0;
    struct Row { std::string Code, Text, Date; };
    std::vector<Row> JournalRows;
    struct Clock { int Year, Day, Hour, Minute, Second; std::string Month; };
    std::vector<Clock> Clocks;

    void RestoreMainWindow() override { ++Restores; }
    void LogLine(const std::string& s) override { Lines.push_back(s); }
    void ConsoleShowJournal() override { ++JournalShows; }
    void ConsoleJournalRecord(const std::string& c, const std::string& t, const std::string& d) override
    {
        JournalRows.push_back({c, t, d});
    }
    void ConsoleShowClock(int y, const std::string& m, int d, int h, int mi, int s) override
    {
        Clocks.push_back({y, d, h, mi, s, m});
    }
};

inline Bytes LongAnswer(uint8_t c, uint8_t a, uint8_t ci, const Bytes& data)
{
    return TLink::LongFrame(c, a, ci, data);
}

inline Bytes Ack() { return {0xE5}; }

// An event message (L = 15). Time values as plain numbers, encoded here.
struct Ev {
    uint8_t Code = 0xD1, B8 = 0, B9 = 0xFF;
    int Ms = 0, S = 0, Mi = 0, H = 0, D = 1, Mo = 1, Y = 14;
    uint8_t C = 0x08;
};

inline uint8_t Bcd(int v) { return static_cast<uint8_t>((v % 10) + 16 * (v / 10)); }

inline Bytes EventFrame(const Ev& e)
{
    Bytes data{e.Code, e.B8, e.B9, static_cast<uint8_t>(e.Ms / 100), Bcd(e.Ms % 100), Bcd(e.S), Bcd(e.Mi), Bcd(e.H), 0x00,
               Bcd(e.D), Bcd(e.Mo), Bcd(e.Y)};
    return TLink::LongFrame(e.C, 0x01, 0x00, data);
}

// A link over the scripted device, for one block's exchanges.
struct LinkRig {
    TGlobalState state;
    FakeSerialDevice dev;
    TComPort port{dev};
    RecordingSleeper sleeper;
    RecordingHooks hooks;
    TLink link{state, port, sleeper, hooks};

    TCbData& cb() { return *state.Cb(0); }
    TCbData& cb1() { return *state.Cb(1); }
};

}  // namespace kestrel::test
