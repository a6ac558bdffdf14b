// kestrel-console's line stamps: the PC time on every line, the gap since the
// previous frame on lines of frame bytes only.
#include <gtest/gtest.h>

#include "link/StampedLine.h"

namespace kestrel {
namespace {

TEST(StampedLine, FrameBytesLines)
{
    for (const char* yes : {"68; 03; 03; 68; ", "E5; "})
        EXPECT_TRUE(IsFrameBytesLine(yes)) << yes;
    for (const char* no : {"Переданные байты: ", "Контрольная сумма: B6;", "e5; ", "E5;", "E5; 1", "GG; ", ""})
        EXPECT_FALSE(IsFrameBytesLine(no)) << no;
}

TEST(StampedLine, GapsRunFromFrameToFrame)
{
    const int64_t t = 14 * 3600000 + 3 * 60000 + 7000;
    const std::vector<int64_t> times = {t + 42, t + 42, t + 242, t + 242, t + 243, t + 250, 86400000 - 5, 3};
    size_t next = 0;
    TLineStamper s([&] { return times.at(next++); });
    const std::vector<std::pair<std::string, std::string>> lines = {
        {"Переданные байты: ", "14:03:07.042 Переданные байты: "},
        {"10; 40; 01; 41; 16; ", "14:03:07.042 10; 40; 01; 41; 16; "},
        {"Полученные байты: ", "14:03:07.242 Полученные байты: "},
        {"68; 09; 09; 68; ", "14:03:07.242 +200 мс 68; 09; 09; 68; "},
        {"08; 01; 3C; B6; 16; ", "14:03:07.243 +1 мс 08; 01; 3C; B6; 16; "},
        {"result: 0", "14:03:07.250 result: 0"},
        {"E5; ", "23:59:59.995 +35812752 мс E5; "},
        {"E5; ", "00:00:00.003 +8 мс E5; "},  // across midnight
    };
    for (const auto& [in, out] : lines)
        EXPECT_EQ(s.Stamp(in), out);
    const int64_t now = LocalMsOfDay();
    EXPECT_TRUE(now >= 0 && now < 86400000) << now;
}

}  // namespace
}  // namespace kestrel
