#include "SimEvent.h"

#include <cstdio>

#include "SimFrame.h"

namespace kestrel::sim {

namespace {

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(static_cast<int64_t>(yoe) + era * 400 + (m <= 2));
}

const int64_t kDays2000 = DaysFromCivil(2000, 1, 1);
constexpr int64_t kDayMs = 86400000;

}  // namespace

bool ValidDate(int year, int month, int day)
{
    if (month < 1 || month > 12 || day < 1)
        return false;
    static const int kLen[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int len = kLen[month - 1];
    if (month == 2 && ((year % 4 == 0 && year % 100 != 0) || year % 400 == 0))
        len = 29;
    return day <= len;
}

int64_t ToMs2000(const TSimTime& t)
{
    const int64_t days = DaysFromCivil(t.Year, static_cast<unsigned>(t.Month), static_cast<unsigned>(t.Day)) - kDays2000;
    return days * kDayMs + ((t.Hour * 60 + t.Minute) * 60 + t.Second) * int64_t{1000} + t.Ms;
}

TSimTime FromMs2000(int64_t ms)
{
    int64_t days = ms / kDayMs;
    int64_t rest = ms % kDayMs;
    if (rest < 0) {
        rest += kDayMs;
        --days;
    }
    TSimTime t;
    CivilFromDays(days + kDays2000, t.Year, t.Month, t.Day);
    t.Ms = static_cast<int>(rest % 1000);
    rest /= 1000;
    t.Second = static_cast<int>(rest % 60);
    rest /= 60;
    t.Minute = static_cast<int>(rest % 60);
    t.Hour = static_cast<int>(rest / 60);
    return t;
}

int DayOfWeek(int64_t ms2000)
{
    int64_t days = ms2000 / kDayMs;
    if (ms2000 % kDayMs < 0)
        --days;
    // 2000-01-01 was a Saturday (6).
    int64_t w = (days + 5) % 7;
    if (w < 0)
        w += 7;
    return static_cast<int>(w) + 1;
}

std::vector<uint8_t> EncodeEventData(const TSimEvent& e)
{
    const TSimTime t = FromMs2000(e.TimeMs);
    uint8_t b8 = 0, b9 = 0xFF;
    if (e.Code == EvOutputs) {
        b8 = static_cast<uint8_t>(~e.Outputs & 0xFF);
    } else if (e.Code >= EvArc1 && e.Code <= EvArc3) {
        b8 = e.Uir;
        b9 = static_cast<uint8_t>(~(e.Interval & 0x3F) & 0xFF);
    } else if (e.Code >= EvUirLost && e.Code <= EvSensor3) {
        b8 = e.Uir;
    }
    return {
        e.Code,
        b8,
        b9,
        static_cast<uint8_t>(t.Ms / 100),
        Bcd(t.Ms % 100),
        Bcd(t.Second),
        Bcd(t.Minute),
        Bcd(t.Hour),
        static_cast<uint8_t>(DayOfWeek(e.TimeMs)),
        Bcd(t.Day),
        Bcd(t.Month),
        Bcd(t.Year % 100),
    };
}

std::string DescribeEvent(const TSimEvent& e)
{
    const TSimTime t = FromMs2000(e.TimeMs);
    char when[48];
    std::snprintf(when, sizeof when, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.Year, t.Month, t.Day, t.Hour, t.Minute,
                  t.Second, t.Ms);
    char what[64];
    switch (e.Code) {
    case EvArc1: case EvArc2: case EvArc3:
        std::snprintf(what, sizeof what, "arc UIR %d input %d interval %d ms", e.Uir, e.Code - EvArc1 + 1, e.Interval);
        break;
    case EvMtz1: case EvMtz2: case EvMtz3:
        std::snprintf(what, sizeof what, "MTZ %d", e.Code - EvMtz1 + 1);
        break;
    case EvOutputs:
        std::snprintf(what, sizeof what, "outputs 0x%02X", e.Outputs);
        break;
    case EvPowerOff: std::snprintf(what, sizeof what, "power off"); break;
    case EvPowerOn: std::snprintf(what, sizeof what, "power on"); break;
    case EvReset: std::snprintf(what, sizeof what, "protection reset"); break;
    case EvMenuEnter: std::snprintf(what, sizeof what, "settings menu entered"); break;
    case EvMenuLeave: std::snprintf(what, sizeof what, "settings menu left"); break;
    case EvUirLost: std::snprintf(what, sizeof what, "UIR %d not answering", e.Uir); break;
    case EvSensor1: case EvSensor2: case EvSensor3:
        std::snprintf(what, sizeof what, "sensor fault UIR %d input %d", e.Uir, e.Code - EvSensor1 + 1);
        break;
    default:
        std::snprintf(what, sizeof what, "code 0x%02X", e.Code);
        break;
    }
    return std::string(when) + " " + what;
}

}  // namespace kestrel::sim
