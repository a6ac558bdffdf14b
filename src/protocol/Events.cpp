// Event messages: decoding, the arc time correction and the texts.
#include <cstdio>

#include "protocol/Protocol.h"

namespace kestrel {

namespace {

std::string Hex2(unsigned v)
{
    char b[8];
    std::snprintf(b, sizeof b, "%02X", v & 0xFFu);
    return b;
}

std::string Dec(unsigned v)
{
    return std::to_string(v);
}

int DaysInMonth(int month, int year2)
{
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    // Two-digit years are 2000..2099, where every fourth year is a leap year (2000 included).
    if (month == 2 && year2 % 4 == 0)
        return 29;
    return kDays[month - 1];
}

// One day back, for an arc detected before midnight and reported after it.
void PreviousDay(TEventData& e)
{
    if (e.Day > 1) {
        --e.Day;
        return;
    }
    if (e.Month < 1 || e.Month > 12)
        return;  // no calendar to go back in
    if (e.Month == 1) {
        e.Month = 12;
        e.Year = e.Year == 0 ? 99 : static_cast<uint8_t>(e.Year - 1);
    } else {
        --e.Month;
    }
    e.Day = static_cast<uint8_t>(DaysInMonth(e.Month, e.Year));
}

}  // namespace

uint8_t ToBcd(int v)
{
    return static_cast<uint8_t>((v % 10) + 16 * (v / 10));
}

int FromBcd(uint8_t b)
{
    return 10 * (b / 16) + (b % 16);
}

bool DecodeEventData(const uint8_t* d, size_t len, TEventData& out)
{
    if (!d || len < 12)
        return false;
    TEventData e;
    e.Code = d[0];
    if (e.Code == 0xC0) {
        e.Outputs = static_cast<uint8_t>(~d[1] & 0x3F);
    } else if (e.Code >= 0xA1 && e.Code <= 0xA3) {
        e.UirAddress = d[1];
        e.Interval = static_cast<uint8_t>(~d[2] & 0x3F);
    } else if (e.Code >= 0xE0 && e.Code <= 0xE3) {
        e.UirAddress = d[1];
    }
    e.Milliseconds = static_cast<uint16_t>((d[3] & 0x0F) * 100 + (d[4] >> 4) * 10 + (d[4] & 0x0F));
    e.Seconds = static_cast<uint8_t>(FromBcd(d[5]));
    e.Minutes = static_cast<uint8_t>(FromBcd(d[6]));
    e.Hours = static_cast<uint8_t>(FromBcd(d[7]));
    e.Day = static_cast<uint8_t>(FromBcd(d[9]));
    e.Month = static_cast<uint8_t>(FromBcd(d[10]));
    e.Year = static_cast<uint8_t>(FromBcd(d[11]));
    if (e.Code >= 0xA1 && e.Code <= 0xA3) {
        // Store the moment the arc was detected, not the moment the CB heard of it.
        uint32_t t = e.Milliseconds + 1000u * e.Seconds + 60000u * e.Minutes + 3600000u * e.Hours;
        if (t >= e.Interval) {
            t -= e.Interval;
        } else {
            t = t + 86400000u - e.Interval;
            PreviousDay(e);
        }
        e.Hours = static_cast<uint8_t>(t / 3600000u);
        e.Minutes = static_cast<uint8_t>((t % 3600000u) / 60000u);
        e.Seconds = static_cast<uint8_t>((t % 60000u) / 1000u);
        e.Milliseconds = static_cast<uint16_t>(t % 1000u);
    }
    out = e;
    return true;
}

bool DecodeEventMessage(const uint8_t* frame, size_t len, TEventData& out)
{
    if (!frame || len < 19)
        return false;
    return DecodeEventData(frame + 7, len - 7, out);
}

std::string EventCodeText(uint8_t code)
{
    return Hex2(code);
}

std::string EventListText(const TEventData& e)
{
    switch (e.Code) {
    case 0xA1:
    case 0xA2:
    case 0xA3:
        return "ДЗ на входе " + Dec(e.Code - 0xA0u) + ", УИР " + Dec(e.UirAddress) + ", интервал " + Dec(e.Interval);
    case 0xB1: return "МТЗ - 1";
    case 0xB2: return "МТЗ - 2";
    case 0xB3: return "МТЗ - 3";
    case 0xC0: {
        std::string s = "Состояние выходов ЦБ (" + Hex2(e.Outputs) + ")  ";
        for (int bit = 0; bit < 6; ++bit)
            s += ((e.Outputs >> bit) & 1) ? '1' : '0';
        return s;
    }
    case 0xD0: return "Отключение питания";
    case 0xD1: return "Включение питания";
    case 0xD2: return "Сброс ВЖРКН";
    case 0xD3: return "Вход в меню настроек";
    case 0xD4: return "Выход из меню настроек";
    case 0xE0: return "Нет ответа от УИР " + Dec(e.UirAddress);
    case 0xE1:
    case 0xE2:
    case 0xE3:
        return "Нет ответа от ПС на входе " + Dec(e.Code - 0xE0u) + " УИР " + Dec(e.UirAddress);
    default: return {};
    }
}

static std::string TimeText(const TEventData& e)
{
    return Dec(e.Hours) + ":" + Dec(e.Minutes) + ":" + Dec(e.Seconds) + "." + Dec(e.Milliseconds);
}

std::string EventListDate(const TEventData& e)
{
    return Dec(e.Day) + "." + Dec(e.Month) + "." + Dec(2000u + e.Year) + "  " + TimeText(e);
}

std::string EventConsoleText(const TEventData& e)
{
    switch (e.Code) {
    case 0xC0: return "Состояние выходов ЦБ " + Hex2(e.Outputs);
    case 0xD3:
    case 0xD4: return {};
    default: return EventListText(e);
    }
}

std::string EventConsoleDate(const TEventData& e)
{
    return Dec(e.Day) + "." + Dec(e.Month) + "." + Dec(e.Year) + "  " + TimeText(e);
}

std::vector<std::string> EventLogLines(const TEventData& e)
{
    std::vector<std::string> lines;
    lines.push_back("Код вида сообщения: " + Hex2(e.Code) + ";");
    switch (e.Code) {
    case 0xA1:
    case 0xA2:
    case 0xA3:
        lines.push_back("ДЗ на входе " + Dec(e.Code - 0xA0u) + "; Адрес УИР: " + Hex2(e.UirAddress) + "; " +
                        "Интервал времени от обнаружения дуги до получения сообщения ЦБ: " + Hex2(e.Interval));
        break;
    case 0xB1: lines.push_back("МТЗ - 1"); break;
    case 0xB2: lines.push_back("МТЗ - 2"); break;
    case 0xB3: lines.push_back("МТЗ - 3"); break;
    case 0xC0: lines.push_back("Состояние выходов ЦБ: " + Hex2(e.Outputs)); break;
    case 0xE0: lines.push_back("Нет ответа от УИР. Адрес УИР: " + Hex2(e.UirAddress)); break;
    case 0xE1:
    case 0xE2:
    case 0xE3:
        lines.push_back("Нет ответа от ПС на входе " + Dec(e.Code - 0xE0u) + ". Адрес УИР: " + Hex2(e.UirAddress));
        break;
    case 0xFF: lines.push_back("Запрошенные данные отсутствуют"); break;
    default: lines.emplace_back(); break;
    }
    if (e.Code != 0xFF) {
        lines.push_back("Время события: часы " + Dec(e.Hours) + "; минуты " + Dec(e.Minutes) + "; секунды " +
                        Dec(e.Seconds) + "; милисекунды " + Dec(e.Milliseconds) + "; день " + Dec(e.Day) +
                        "; месяц " + Dec(e.Month) + "; год " + Dec(e.Year));
    }
    return lines;
}

std::string MonthName(int month)
{
    static const char* const kNames[12] = {"Январь", "Февраль", "Март", "Апрель", "Май", "Июнь",
                                           "Июль", "Август", "Сентябрь", "Октябрь", "Ноябрь", "Декабрь"};
    if (month < 1 || month > 12)
        return {};
    return kNames[month - 1];
}

}  // namespace kestrel
