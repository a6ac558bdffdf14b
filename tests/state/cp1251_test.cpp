#include <gtest/gtest.h>

#include "state/Cp1251.h"

using namespace kestrel;

TEST(Cp1251, EveryByteSurvivesARoundTrip)
{
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    EXPECT_EQ(Utf8ToCp1251(Cp1251ToUtf8(all)), all);
}

TEST(Cp1251, KnownCharacters)
{
    struct Case { std::string utf8; std::string bytes; };
    const Case cases[] = {
        {"СБ №1", "\xD1\xC1\x20\xB9\x31"},
        {"Ёё", "\xA8\xB8"},
        {"€", "\x88"},
        {"\xC2\x98", "\x98"},  // the unassigned byte travels as U+0098
        {"я", "\xFF"},
        {"A", "A"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Utf8ToCp1251(c.utf8), c.bytes) << c.utf8;
        EXPECT_EQ(Cp1251ToUtf8(c.bytes), c.utf8) << c.utf8;
    }
}

TEST(Cp1251, UnmappableAndMalformedBecomeQuestionMarks)
{
    struct Case { std::string utf8; std::string bytes; };
    const Case cases[] = {
        {"日本", "??"},
        {"\xF0\x9F\x98\x80x", "?x"},   // outside the BMP
        {"\xFF\xFEok", "??ok"},
        {"\xD0", "?"},                  // truncated sequence
        {"\xC0\x80", "?"},              // overlong NUL
        {"\xED\xA0\x80", "?"},          // surrogate
    };
    for (const auto& c : cases)
        EXPECT_EQ(Utf8ToCp1251(c.utf8), c.bytes);
}
