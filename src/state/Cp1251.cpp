#include "state/Cp1251.h"

#include <array>
#include <cstdint>

namespace kestrel {
namespace {

// Code points of bytes 0x80..0xBF; 0xC0..0xFF are U+0410..U+044F.
constexpr std::array<char16_t, 64> kHigh = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
};

uint32_t CodePoint(uint8_t b)
{
    if (b < 0x80)
        return b;
    if (b >= 0xC0)
        return 0x0410u + (b - 0xC0u);
    return kHigh[b - 0x80u];
}

void PutUtf8(std::string& out, uint32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

char ToByte(uint32_t cp)
{
    if (cp < 0x80)
        return static_cast<char>(cp);
    if (cp >= 0x0410 && cp <= 0x044F)
        return static_cast<char>(0xC0 + (cp - 0x0410));
    for (size_t i = 0; i < kHigh.size(); ++i)
        if (kHigh[i] == cp)
            return static_cast<char>(0x80 + i);
    return '?';
}

// The character at in[i]: its length, or 0 when the sequence there is
// malformed (cut short, overlong, a surrogate or beyond U+10FFFF).
size_t DecodeUtf8(std::string_view in, size_t i, uint32_t& cp)
{
    const auto b = static_cast<uint8_t>(in[i]);
    size_t len = 0;
    if (b < 0x80) { len = 1; cp = b; }
    else if ((b & 0xE0) == 0xC0) { len = 2; cp = b & 0x1Fu; }
    else if ((b & 0xF0) == 0xE0) { len = 3; cp = b & 0x0Fu; }
    else if ((b & 0xF8) == 0xF0) { len = 4; cp = b & 0x07u; }
    if (len == 0 || i + len > in.size())
        return 0;
    for (size_t k = 1; k < len; ++k) {
        const auto cb = static_cast<uint8_t>(in[i + k]);
        if ((cb & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (cb & 0x3Fu);
    }
    static constexpr uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return len;
}

}  // namespace

std::string Cp1251ToUtf8(std::string_view in)
{
    std::string out;
    out.reserve(in.size() * 2);
    for (char c : in)
        PutUtf8(out, CodePoint(static_cast<uint8_t>(c)));
    return out;
}

std::string Utf8ToCp1251(std::string_view in)
{
    std::string out;
    out.reserve(in.size());
    size_t i = 0;
    while (i < in.size()) {
        uint32_t cp = 0;
        const size_t len = DecodeUtf8(in, i, cp);
        if (len == 0) {
            out += '?';
            ++i;  // resynchronise on the next byte
            while (i < in.size() && (static_cast<uint8_t>(in[i]) & 0xC0) == 0x80)
                ++i;
            continue;
        }
        out += ToByte(cp);
        i += len;
    }
    return out;
}

bool IsUtf8(std::string_view text)
{
    size_t i = 0;
    while (i < text.size()) {
        uint32_t cp = 0;
        const size_t len = DecodeUtf8(text, i, cp);
        if (len == 0)
            return false;
        i += len;
    }
    return true;
}

}  // namespace kestrel
