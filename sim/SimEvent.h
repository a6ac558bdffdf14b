#pragma once
// Event messages as the central block stores and sends them, and the
// block's calendar (milliseconds since 2000-01-01 00:00:00.000).
#include <cstdint>
#include <string>
#include <vector>

namespace kestrel::sim {

struct TSimTime {
    int Year = 2000;  // 2000..2099
    int Month = 1;
    int Day = 1;
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
    int Ms = 0;
};

int64_t ToMs2000(const TSimTime& t);
TSimTime FromMs2000(int64_t ms);
// 1 = Monday .. 7 = Sunday.
int DayOfWeek(int64_t ms2000);
bool ValidDate(int year, int month, int day);

// Event codes.
enum : uint8_t {
    EvArc1 = 0xA1, EvArc2 = 0xA2, EvArc3 = 0xA3,
    EvMtz1 = 0xB1, EvMtz2 = 0xB2, EvMtz3 = 0xB3,
    EvOutputs = 0xC0,
    EvPowerOff = 0xD0, EvPowerOn = 0xD1, EvReset = 0xD2, EvMenuEnter = 0xD3, EvMenuLeave = 0xD4,
    EvUirLost = 0xE0, EvSensor1 = 0xE1, EvSensor2 = 0xE2, EvSensor3 = 0xE3,
    EvAbsent = 0xFF,
};

struct TSimEvent {
    uint8_t Code = 0;
    uint8_t Uir = 0;       // arcs and no-answer events
    uint8_t Outputs = 0;   // 0xC0: six output states
    uint8_t Interval = 0;  // arcs: ms from detection to reception, 0..63
    int64_t TimeMs = 0;    // reception by the block, ms since 2000
    bool operator==(const TSimEvent&) const = default;
};

// The 12 data bytes of an event message (after C, A and CI): code, UIR or
// inverted outputs, inverted interval, ms hundreds, ms tens/units, second,
// minute, hour, day of week, day, month, year; time in BCD.
std::vector<uint8_t> EncodeEventData(const TSimEvent& e);

// Short human-readable description for the simulator's own output.
std::string DescribeEvent(const TSimEvent& e);

}  // namespace kestrel::sim
