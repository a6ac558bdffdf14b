// The configuration window's logic: the tick rule, the lists, apply, cancel
// and the status tick that finishes an apply.
#include <gtest/gtest.h>

#include "setup/CfgActions.h"

using namespace kestrel;

namespace {

struct Rig {
    TGlobalState state;
    int saves = 0, relayouts = 0;
    TCfgActions cfg{state, [this] { return ++saves, true; }, [this] { ++relayouts; }};
    TCbData& cb() { return *state.Cb(0); }
    void PresentRun(int n)
    {
        for (int i = 0; i < kUirCount; ++i)
            cb().Uir[static_cast<size_t>(i)].Present = i < n ? 1 : 0;
    }
    // Boxes as "1" for ticked and enabled, "x" ticked but disabled, "-"
    // unticked and enabled, "." unticked and disabled.
    std::string Picture() const
    {
        std::string s;
        for (size_t i = 0; i < kUirCount; ++i)
            s += cfg.Checked[i] ? (cfg.Enabled[i] ? '1' : 'x') : (cfg.Enabled[i] ? '-' : '.');
        return s;
    }
};

std::string TickRun(int ticked, char rest = '.')
{
    std::string s(static_cast<size_t>(ticked), '1');
    if (ticked < kUirCount)
        s += '-';
    s += std::string(static_cast<size_t>(std::max(0, kUirCount - ticked - 1)), rest);
    return s.substr(0, kUirCount);
}

}  // namespace

TEST(CfgActions, OpeningFollowsPresentInOrder)
{
    struct Case {
        std::vector<int> present;  // UIR numbers
        std::string picture;
    };
    const Case cases[] = {
        {{1, 2, 3, 4, 5, 6}, TickRun(6)},
        {{}, "-" + std::string(42, '.')},
        // A gap: 5 ticked after 4 was unticked stays disabled, and enables 6.
        {{1, 2, 3, 5}, "111-x-" + std::string(37, '.')},
    };
    for (const Case& c : cases) {
        Rig r;
        r.PresentRun(0);
        for (int n : c.present)
            r.cb().Uir[static_cast<size_t>(n - 1)].Present = 1;
        r.cfg.Prepare(0);
        EXPECT_EQ(r.Picture(), c.picture) << c.present.size();
        EXPECT_FALSE(r.cfg.UirTicksChanged);
    }
}

TEST(CfgActions, PortAndSpeedAtOnceAndOnTheStatusTick)
{
    Rig r;
    struct Case {
        uint8_t port;
        uint32_t baud;
        int portItem, speedItem;
    };
    for (const Case& c : {Case{0, 9600, 0, 0}, Case{1, 19200, 0, 1}, Case{3, 4800, 2, 0}, Case{100, 115200, 99, 0},
                          Case{200, 19200, 99, 1}}) {
        r.cb().PortNumber = c.port;
        r.cb().Baud = c.baud;
        r.cfg.Prepare(0);
        EXPECT_EQ(r.cfg.PortItem, c.portItem) << int(c.port);
        EXPECT_EQ(r.cfg.SpeedItem, c.speedItem) << c.baud;
    }
    r.cb().Baud = 4800;
    r.cfg.Prepare(0);
    r.cfg.ChoosePort(2);
    EXPECT_EQ(r.cb().PortNumber.load(), 3);
    r.cfg.Cancel();
    EXPECT_EQ(r.cb().PortNumber.load(), 3) << "a port choice stays after Cancel";
    EXPECT_EQ(r.cb().Baud.load(), 4800u) << "the speed untouched until chosen";
    r.cfg.ChooseSpeed(1);
    EXPECT_EQ(r.cb().Baud.load(), 19200u);
    // The status tick does nothing until an apply, then copies the lists once more.
    r.cb().PortNumber = 9;
    r.cfg.StatusTick();
    EXPECT_EQ(r.cb().PortNumber.load(), 9);
    r.cfg.Apply();
    EXPECT_TRUE(r.cfg.ApplyEnabled);
    r.cfg.StatusTick();
    EXPECT_EQ(r.cb().PortNumber.load(), 3);
    EXPECT_FALSE(r.cfg.ApplyEnabled);
    EXPECT_FALSE(r.cfg.CfgApplied);
}
