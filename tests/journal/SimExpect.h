#pragma once
// What the PC holds after reading a simulated block's journal record.
#include "SimEvent.h"
#include "state/Events.h"

namespace kestrel::test {

// The record as decoded: the arc time moved back by the interval (and the
// date with it), the fields each code carries.
inline TEventData ExpectedRecord(const sim::TSimEvent& s)
{
    using namespace sim;
    TEventData e;
    e.Code = s.Code;
    int64_t t = s.TimeMs;
    if (s.Code >= EvArc1 && s.Code <= EvArc3) {
        e.UirAddress = s.Uir;
        e.Interval = s.Interval;
        t -= s.Interval;
    } else if (s.Code >= EvUirLost && s.Code <= EvSensor3) {
        e.UirAddress = s.Uir;
    } else if (s.Code == EvOutputs) {
        e.Outputs = s.Outputs;
    }
    const TSimTime tm = FromMs2000(t);
    e.Milliseconds = static_cast<uint16_t>(tm.Ms);
    e.Seconds = static_cast<uint8_t>(tm.Second);
    e.Minutes = static_cast<uint8_t>(tm.Minute);
    e.Hours = static_cast<uint8_t>(tm.Hour);
    e.Day = static_cast<uint8_t>(tm.Day);
    e.Month = static_cast<uint8_t>(tm.Month);
    e.Year = static_cast<uint8_t>(tm.Year - 2000);
    return e;
}

}  // namespace kestrel::test
