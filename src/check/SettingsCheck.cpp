#include "check/SettingsCheck.h"

#include <array>
#include <cstdio>

namespace kestrel {

namespace {

std::string Word(bool on, const char* yes, const char* no) { return on ? yes : no; }

std::string Change(const std::string& what, const std::string& from, const std::string& to)
{
    return what + ": " + from + check_text::kArrow + to;
}

std::string FunctionName(uint8_t f) { return "F" + std::to_string(f); }

std::string UirName(int number) { return "УИР " + std::to_string(number); }

}  // namespace

std::string ModeName(int mode)
{
    static const char* const kNames[4] = {"Без МТЗ / МТЗ-v", "МТЗ-1", "МТЗ-2", "МТЗ-3"};
    return mode >= 0 && mode < 4 ? kNames[mode] : "";
}

std::string OutputsText(uint8_t funcByte)
{
    std::string s;
    for (int p = 1; p <= 6; ++p) {
        if ((funcByte >> (p - 1)) & 1) {
            if (!s.empty())
                s += ", ";
            s += std::to_string(p);
        }
    }
    return s.empty() ? check_text::kNoOutputs : s;
}

std::string GroupHeading(const TSettingsDifference& d)
{
    switch (d.What) {
    case TSettingsDifference::Kind::Table: return "Таблицы функций";
    case TSettingsDifference::Kind::Block: return "ЦБ";
    case TSettingsDifference::Kind::Uir: return UirName(d.Uir);
    }
    return "";
}

std::vector<TSettingsDifference> CompareDeviceSettings(const TDeviceSettings& a, const TDeviceSettings& b)
{
    std::vector<TSettingsDifference> out;
    for (int m = 0; m < 4; ++m) {
        for (int k = 0; k < 4; ++k) {
            const uint8_t x = a.FuncTable[k][m], y = b.FuncTable[k][m];
            if (x == y)
                continue;
            TSettingsDifference d;
            d.What = TSettingsDifference::Kind::Table;
            d.Mode = m;
            d.Function = k;
            d.Text = ModeName(m) + ", F" + std::to_string(k) + ": выходы " + OutputsText(x) + check_text::kArrow +
                     OutputsText(y);
            out.push_back(d);
        }
    }
    if (a.UrovUnits != b.UrovUnits) {
        TSettingsDifference d;
        d.Text = Change("Время УРОВ", std::to_string(a.UrovUnits * 50) + " мс", std::to_string(b.UrovUnits * 50) + " мс");
        out.push_back(d);
    }
    if (a.MtzWait != b.MtzWait) {
        TSettingsDifference d;
        d.Text = Change("МТЗ", Word(a.MtzWait, "ждать", "не ждать"), Word(b.MtzWait, "ждать", "не ждать"));
        out.push_back(d);
    }
    for (int i = 0; i < kUirCount; ++i) {
        const TDeviceUir& x = a.Uir[i];
        const TDeviceUir& y = b.Uir[i];
        if (x == y)
            continue;
        const std::string name = UirName(i + 1);
        auto add = [&](std::string text) {
            TSettingsDifference d;
            d.What = TSettingsDifference::Kind::Uir;
            d.Uir = i + 1;
            d.Text = std::move(text);
            out.push_back(std::move(d));
        };
        if (x.PollEnabled != y.PollEnabled)
            add(Change(name + ", опрос", Word(x.PollEnabled, "разрешен", "запрещен"),
                       Word(y.PollEnabled, "разрешен", "запрещен")));
        if (x.OutputEnabled != y.OutputEnabled)
            add(Change(name + ", выход", Word(x.OutputEnabled, "разрешен", "запрещен"),
                       Word(y.OutputEnabled, "разрешен", "запрещен")));
        for (int in = 0; in < 3; ++in) {
            const std::string input = name + ", вход " + std::to_string(in + 1);
            if (x.Function[in] != y.Function[in])
                add(Change(input, FunctionName(x.Function[in]), FunctionName(y.Function[in])));
            if (x.Control[in] != y.Control[in])
                add(Change(input + ", контроль", Word(x.Control[in], "включен", "выключен"),
                           Word(y.Control[in], "включен", "выключен")));
        }
    }
    return out;
}

namespace {

uint32_t Crc32(const uint8_t* p, size_t n)
{
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int b = 0; b < 8; ++b)
            c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    return ~c;
}

}  // namespace

std::string SettingsFingerprint(const TDeviceSettings& d)
{
    // A fixed byte order of every setting, so both sides digest the same
    // bytes for the same settings whatever else their records hold.
    std::vector<uint8_t> bytes;
    bytes.reserve(16 + 3 + kUirCount * 8);
    for (int m = 0; m < 4; ++m)
        for (int k = 0; k < 4; ++k)
            bytes.push_back(d.FuncTable[k][m]);
    bytes.push_back(static_cast<uint8_t>(d.UrovUnits & 0xFF));
    bytes.push_back(static_cast<uint8_t>(d.UrovUnits >> 8));
    bytes.push_back(d.MtzWait);
    for (const TDeviceUir& u : d.Uir) {
        bytes.push_back(u.PollEnabled);
        bytes.push_back(u.OutputEnabled);
        for (int in = 0; in < 3; ++in) {
            bytes.push_back(u.Control[in]);
            bytes.push_back(u.Function[in]);
        }
    }
    char text[8];
    std::snprintf(text, sizeof text, "%06X", static_cast<unsigned>(Crc32(bytes.data(), bytes.size()) >> 8));
    return text;
}

std::vector<std::string> RestoreProblems(const TCbSettings& s)
{
    std::vector<std::string> out;
    if (s.UrovTimeMs < 50 || s.UrovTimeMs > 500 || s.UrovTimeMs % 50 != 0)
        out.push_back("Время УРОВ " + std::to_string(s.UrovTimeMs) + " мс: допустимо от 50 до 500 мс с шагом 50 мс");
    for (int i = 0; i < kUirCount; ++i) {
        const TUirSettings& u = s.Uir[i];
        const uint8_t f[3] = {u.InputFunction1, u.InputFunction2, u.InputFunction3};
        for (int in = 0; in < 3; ++in) {
            if (f[in] > 3)
                out.push_back(UirName(i + 1) + ", вход " + std::to_string(in + 1) + ": номер функции " +
                              std::to_string(f[in]) + ", допустимо от 0 до 3");
        }
    }
    return out;
}

}  // namespace kestrel
