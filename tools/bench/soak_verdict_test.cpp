// The soak benchmark's verdict on made-up sample tables: each rule catches
// its own fault and says which one; a healthy run passes.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "SoakVerdict.h"

namespace kestrel::bench {
namespace {

// A healthy day: 25 samples an hour apart, memory settling in the first hour,
// one event a minute injected and received.
std::vector<TSoakSample> HealthyDay()
{
    std::vector<TSoakSample> s;
    for (int h = 0; h <= 24; ++h) {
        TSoakSample x;
        x.Hour = h;
        x.RssKb = h == 0 ? 3000 : 4000 + ((h + 1) % 2) * 40;  // 1 % wobble after the first hour
        x.Fds = 5;
        x.Injected = static_cast<uint64_t>(h) * 60;
        x.Received = x.Injected;
        x.ListSize = static_cast<long>(x.Received) + 36;
        s.push_back(x);
    }
    return s;
}

struct Case {
    const char* name;
    std::function<void(std::vector<TSoakSample>&)> spoil;
    bool inOrder;
    const char* failure;  // nullptr: passes; else a piece of the one failure line
};

TEST(SoakVerdict, EachRuleCatchesItsFault)
{
    const std::vector<Case> cases = {
        {"healthy", [](auto&) {}, true, nullptr},
        {"growth before the baseline does not count", [](auto& s) { s[0].RssKb = 1000; }, true, nullptr},
        {"exactly 2 % is allowed", [](auto& s) { s[20].RssKb = 4080; }, true, nullptr},
        {"just over 2 %", [](auto& s) { s[20].RssKb = 4082; }, true, "resident memory grew 2.05 %"},
        {"growth of the list's records is not counted",
         [](auto& s) { for (size_t i = 1; i < s.size(); ++i) { s[i].ListKb = 20 * static_cast<long>(i); s[i].RssKb += 20 * static_cast<long>(i); } },
         true, nullptr},
        {"growth beyond the list's records is",
         [](auto& s) { for (size_t i = 1; i < s.size(); ++i) { s[i].ListKb = 10 * static_cast<long>(i); s[i].RssKb += 20 * static_cast<long>(i); } },
         true, "resident memory grew 6.72 % after 1.00 h beyond the event list's records"},
        {"a list that shrank does not hide a leak",
         [](auto& s) { s[1].ListKb = 100; s[20].RssKb = 4100; }, true, "resident memory grew 2.50 %"},
        {"slow leak to the end", [](auto& s) { for (size_t i = 2; i < s.size(); ++i) s[i].RssKb = 4000 + 10 * static_cast<long>(i); },
         true, "resident memory grew"},
        {"unreadable memory at the baseline", [](auto& s) { s[1].RssKb = -1; }, true, "resident memory could not be read"},
        {"unreadable memory later", [](auto& s) { s[17].RssKb = -1; }, true, "resident memory could not be read"},
        {"one handle more at the end", [](auto& s) { s.back().Fds = 6; }, true, "open handles grew by 1"},
        {"handle leaked and closed again still counts", [](auto& s) { s[12].Fds = 9; }, true, "open handles grew by 4"},
        {"uncountable handles", [](auto& s) { s[3].Fds = -1; }, true, "open handles could not be counted"},
        {"one event in flight mid-run is slack", [](auto& s) { s[5].Received -= 1; }, true, nullptr},
        {"pending mid-run is slack",
         [](auto& s) { s[5].Received -= 3; s[5].Pending = 2; }, true, nullptr},
        {"two lost mid-run", [](auto& s) { s[5].Received -= 2; }, true, "at 5.00 h: 300 injected, 298 received"},
        {"more received than injected", [](auto& s) { s[7].Received += 1; }, true, "at 7.00 h"},
        {"last event lost", [](auto& s) { s.back().Received -= 1; }, true, "at the end 1440 injected, 1439 received"},
        {"left pending at the end", [](auto& s) { s.back().Pending = 1; s.back().Received -= 1; }, true,
         "1 still pending"},
        {"nothing injected", [](auto& s) { for (auto& x : s) x.Injected = x.Received = 0; }, true, "no event was injected"},
        {"out of order", [](auto&) {}, false, "not the injected events in order"},
        {"link lost", [](auto& s) { s[9].LinkLost = true; }, true, "the link was lost at 9.00 h"},
        {"run ends at the baseline", [](auto& s) { s.resize(2); }, true, "ends before any sample after the warm-up"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<TSoakSample> s = HealthyDay();
        c.spoil(s);
        const TSoakVerdict v = JudgeSoak(s, TSoakLimits{}, c.inOrder);
        if (c.failure == nullptr) {
            EXPECT_TRUE(v.Ok);
            EXPECT_TRUE(v.Failures.empty()) << v.Failures.front();
        } else {
            EXPECT_FALSE(v.Ok);
            ASSERT_EQ(v.Failures.size(), 1u) << v.Failures.front();
            EXPECT_NE(v.Failures.front().find(c.failure), std::string::npos) << v.Failures.front();
        }
    }
}

TEST(SoakVerdict, BaselineIsTheFirstSampleAtOrAfterTheWarmUp)
{
    std::vector<TSoakSample> s = HealthyDay();
    // Memory still climbing at 1 h, settled from 3 h: judged from 3 h it
    // passes, from 1 h it does not.
    s[1].RssKb = 3500;
    s[2].RssKb = 3800;
    TSoakLimits fromOne;
    EXPECT_FALSE(JudgeSoak(s, fromOne, true).Ok);
    EXPECT_EQ(JudgeSoak(s, fromOne, true).BaselineRssKb, 3500);
    TSoakLimits fromThree;
    fromThree.BaselineHour = 2.5;
    const TSoakVerdict v = JudgeSoak(s, fromThree, true);
    EXPECT_TRUE(v.Ok);
    EXPECT_EQ(v.BaselineRssKb, 4000);
    EXPECT_EQ(v.MaxRssKb, 4040);
    EXPECT_DOUBLE_EQ(v.RssGrowthPercent, 1.0);
}

}  // namespace
}  // namespace kestrel::bench
