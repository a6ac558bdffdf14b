// The console's line stamps: the PC time on every line, the gap since the
// previous frame on lines of frame bytes only.
#include <gtest/gtest.h>

#include "link/StampedLine.h"

namespace kestrel {
namespace {

TEST(StampedLine, FrameBytesLines)
{
    struct Case { const char* Line; bool Frame; };
    const Case cases[] = {
        {"68; 03; 03; 68; ", true},
        {"E5; ", true},
        {"08; 01; 3C; 05; 30; 17; 02; 10; 13; B6; 16; ", true},
        {"Переданные байты: ", false},
        {"Контрольная сумма: B6;", false},
        {"e5; ", false},   // the log writes upper case only
        {"E5;", false},
        {"E5; 1", false},
        {"GG; ", false},
        {"", false},
        {"D1;   Включение питания;   3.3.2014  9:7:5.40", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsFrameBytesLine(c.Line), c.Frame) << c.Line;
}

TEST(StampedLine, GapsRunFromFrameToFrame)
{
    // The times of day each Stamp call sees, in order.
    const int64_t day = 86400000;
    std::vector<int64_t> times = {
        14 * 3600000 + 3 * 60000 + 7000 + 42,  // sent heading
        14 * 3600000 + 3 * 60000 + 7000 + 42,  // sent bytes
        14 * 3600000 + 3 * 60000 + 7000 + 242, // received heading
        14 * 3600000 + 3 * 60000 + 7000 + 242, // received header
        14 * 3600000 + 3 * 60000 + 7000 + 243, // body
        14 * 3600000 + 3 * 60000 + 7000 + 250, // text
        day - 5,                               // a frame just before midnight
        3,                                     // and one just after
    };
    size_t next = 0;
    TLineStamper s([&] { return times[next++]; });
    const std::vector<std::pair<std::string, std::string>> lines = {
        {"Переданные байты: ", "14:03:07.042 Переданные байты: "},
        {"10; 40; 01; 41; 16; ", "14:03:07.042 10; 40; 01; 41; 16; "},
        {"Полученные байты: ", "14:03:07.242 Полученные байты: "},
        {"68; 09; 09; 68; ", "14:03:07.242 +200 мс 68; 09; 09; 68; "},
        {"08; 01; 3C; B6; 16; ", "14:03:07.243 +1 мс 08; 01; 3C; B6; 16; "},
        {"result: 0", "14:03:07.250 result: 0"},
        {"E5; ", "23:59:59.995 +35812752 мс E5; "},
        {"E5; ", "00:00:00.003 +8 мс E5; "},
    };
    for (const auto& [in, out] : lines)
        EXPECT_EQ(s.Stamp(in), out);
    EXPECT_EQ(next, times.size());
}

TEST(StampedLine, LocalTimeOfDayIsWithinADay)
{
    const int64_t ms = LocalMsOfDay();
    EXPECT_GE(ms, 0);
    EXPECT_LT(ms, 86400000);
}

}  // namespace
}  // namespace kestrel
