#include <gtest/gtest.h>

#include <thread>

#include "state/Events.h"

using namespace kestrel;

namespace {
TEventData Ev(uint8_t code) { TEventData e; e.Code = code; return e; }
std::vector<uint8_t> Codes(const TKestrelEvents& l)
{
    std::vector<uint8_t> out;
    for (const auto& e : l.Snapshot())
        out.push_back(e.Code);
    return out;
}
}  // namespace

TEST(Events, InsertPositions)
{
    struct Case { int32_t pos; std::vector<uint8_t> expect; };
    const Case cases[] = {
        {-5, {9, 1, 2, 3}}, {0, {9, 1, 2, 3}}, {1, {1, 9, 2, 3}},
        {3, {1, 2, 3, 9}}, {100, {1, 2, 3, 9}},
    };
    for (const auto& c : cases) {
        TKestrelEvents l;
        for (uint8_t k : {1, 2, 3})
            l.Append(Ev(k));
        l.SetCursor(2);
        ASSERT_TRUE(l.InsertAt(Ev(9), c.pos));
        EXPECT_EQ(Codes(l), c.expect) << "position " << c.pos;
        EXPECT_EQ(l.Cursor(), 0);
    }
}

TEST(Events, FrontInsertsKeepCountingAtTheLimit)
{
    // A watcher tells new events by this count: the list's own count stops
    // at its limit while events keep coming.
    TKestrelEvents l;
    l.SetLimit(3);
    l.Append(Ev(1));
    l.InsertAt(Ev(2), 1);  // behind the front: not a new event
    uint64_t front = 99;
    l.Snapshot(front);
    EXPECT_EQ(front, 0u);
    for (uint8_t k = 10; k < 15; ++k)
        l.InsertAt(Ev(k), k % 2 == 0 ? 0 : -1);
    const std::vector<TEventData> list = l.Snapshot(front);
    EXPECT_EQ(front, 5u);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].Code, 14);
    l.Clear();
    l.Snapshot(front);
    EXPECT_EQ(front, 5u);
}

TEST(Events, CursorBounds)
{
    TKestrelEvents l;
    EXPECT_FALSE(l.SetCursor(0));
    EXPECT_EQ(l.GetCurrent().Code, 0);
    l.Append(Ev(0xA1));
    l.Append(Ev(0xD2));
    EXPECT_TRUE(l.SetCursor(1));
    EXPECT_EQ(l.GetCurrent().Code, 0xD2);
    EXPECT_FALSE(l.SetCursor(2));
    EXPECT_FALSE(l.SetCursor(-1));
    EXPECT_EQ(l.Cursor(), 1);
    l.Clear();
    EXPECT_EQ(l.Count(), 0);
    EXPECT_EQ(l.Cursor(), 0);
}

TEST(Events, WalkStopsWhenTold)
{
    TKestrelEvents l;
    for (uint8_t k : {1, 2, 3, 4})
        l.Append(Ev(k));
    int seen = 0;
    l.Walk([&](const TEventData& e) { ++seen; return e.Code != 2; });
    EXPECT_EQ(seen, 2);
}

TEST(Events, ConcurrentInsertAndWalkSeeWholeList)
{
    TKestrelEvents l;
    std::thread writer([&] {
        for (int i = 0; i < 2000; ++i)
            l.InsertAt(Ev(static_cast<uint8_t>(i)), 0);
    });
    int32_t last = 0;
    while (last < 2000) {
        int32_t n = 0;
        l.Walk([&](const TEventData&) { ++n; return true; });
        EXPECT_GE(n, last);
        last = n;
    }
    writer.join();
    EXPECT_EQ(l.Count(), 2000);
}
