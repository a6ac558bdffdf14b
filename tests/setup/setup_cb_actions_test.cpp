// The central-block setup window's logic: value rules of its dialogs, the
// access gate, the file save and the requests it posts, run through the
// real request hand-over with a stand-in for the acquisition thread.
#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "setup/SetupCbActions.h"

namespace kestrel {
namespace {

// Serves the slot from inside the wait's event pumping, like the thread
// would between two looks; `fail` sets the request's error flag.
class ServingUi final : public IWaitUi {
public:
    explicit ServingUi(TGlobalState& s) : state(s) {}
    TGlobalState& state;
    std::vector<int32_t> served;
    std::vector<std::string> log;  // waits and errors in order
    std::map<int32_t, bool> fail;
    std::vector<std::array<uint8_t, 6>> cmdAtServe;

    void ShowWait(const std::string& t) override { log.push_back("wait:" + t); }
    void CloseWait() override {}
    void ProcessEvents() override
    {
        for (int32_t i = 0; i < state.CbCount; ++i) {
            TCbData* cb = state.Cb(i);
            const int32_t code = cb->Request.load();
            if (code == 0)
                continue;
            served.push_back(code);
            state.ApplyRequestData(cb->TakeRequestData());
            std::array<uint8_t, 6> cmd{};
            for (size_t b = 0; b < 6; ++b)
                cmd[b] = state.CmdData[b];
            cmdAtServe.push_back(cmd);
            if (Flag TCbData::*f = ErrorFlagFor(code); f && fail[code])
                (cb->*f) = 1;
            cb->Request = 0;
        }
    }
    void Pause(uint32_t) override {}
    void ShowError(const std::string& text, const std::string& caption) override
    {
        log.push_back("error:" + text + "/" + caption);
    }
};

class ScriptedView final : public ISetupCbView {
public:
    std::deque<bool> access, yesNo;
    std::deque<MtzAnswer> mtz;
    std::vector<std::string> log;
    bool AccessPrompt() override
    {
        log.push_back("access");
        return Pop(access);
    }
    MtzAnswer AskMtz() override
    {
        log.push_back("mtz");
        MtzAnswer a = mtz.empty() ? MtzAnswer::Cancel : mtz.front();
        if (!mtz.empty())
            mtz.pop_front();
        return a;
    }
    bool AskYesNo(const std::string& text, const std::string&, PromptIcon) override
    {
        log.push_back("ask:" + text);
        return Pop(yesNo);
    }
    void Message(const std::string& text, const std::string& caption, PromptIcon) override
    {
        log.push_back("message:" + text + "/" + caption);
    }

private:
    static bool Pop(std::deque<bool>& q)
    {
        if (q.empty())
            return false;
        bool v = q.front();
        q.pop_front();
        return v;
    }
};

struct Rig {
    TGlobalState state;
    ServingUi ui{state};
    ScriptedView view;
    std::deque<int> saveResults;
    int saves = 0;
    TSetupCbActions actions{state, view, [this](const PostArgs& a) { return PostRequestAndWait(state, ui, a); },
                            [this] {
                                ++saves;
                                if (saveResults.empty())
                                    return 0;
                                int r = saveResults.front();
                                saveResults.pop_front();
                                return r;
                            }};
    TCbData& cb() { return *state.Cb(0); }
};

TEST(SetupCbValues, PackedBcdBothWays)
{
    const std::vector<std::pair<int, uint8_t>> cases = {{0, 0x00}, {5, 0x05}, {13, 0x13}, {30, 0x30},
                                                        {50, 0x50}, {59, 0x59}, {99, 0x99}};
    for (auto [v, b] : cases) {
        EXPECT_EQ(ToBcd(v), b) << v;
        EXPECT_EQ(FromBcd(b), v) << v;
    }
    EXPECT_EQ(FromBcd(0x1A), 20);  // nibbles are not checked
}

TEST(SetupCbValues, DayListFollowsMonthAndLeapYears)
{
    struct Case {
        int month, yearItem, days;
    };
    const std::vector<Case> cases = {
        {0, 0, 31},  {1, 12, 28},  // February 2019
        {1, 13, 29},               // February 2020
        {1, 1, 29},                // 2008
        {1, 41, 29},               // 2048
        {1, 43, 28},               // 2050
        {1, -1, 28},               // no year chosen
        {2, 0, 31},  {3, 0, 30},  {5, 0, 30}, {8, 0, 30}, {10, 0, 30}, {11, 0, 31}, {6, 0, 31}, {7, 0, 31},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DaysInMonth(c.month, c.yearItem), c.days) << c.month << " " << c.yearItem;
    // 31 March -> April keeps the last day (30); -> February 2019 / 2020.
    EXPECT_EQ(KeptDayItem(30, DaysInMonth(3, 13)), 29);
    EXPECT_EQ(KeptDayItem(30, DaysInMonth(1, 12)), 27);
    EXPECT_EQ(KeptDayItem(30, DaysInMonth(1, 13)), 28);
    EXPECT_EQ(KeptDayItem(14, 28), 14);
    EXPECT_EQ(YearItemFor(2006), -1);
    EXPECT_EQ(YearItemFor(2007), 0);
    EXPECT_EQ(YearItemFor(2050), 43);
    EXPECT_EQ(YearItemFor(2051), -1);
}

TEST(SetupCbValues, ListsAndBits)
{
    EXPECT_EQ(AddressItem(0), 0);
    EXPECT_EQ(AddressItem(1), 0);
    EXPECT_EQ(AddressItem(32), 31);
    EXPECT_EQ(AddressItem(33), 0);
    EXPECT_EQ(AddressItem(255), kAddressItem255);
    EXPECT_EQ(AddressForItem(kAddressItem255), 255);
    EXPECT_EQ(AddressForItem(4), 5);
    EXPECT_EQ(UrovItem(500), 9);
    EXPECT_EQ(UrovItem(50), 0);
    EXPECT_EQ(UrovItem(230), -1);
    EXPECT_EQ(UrovItem(0), -1);
    EXPECT_EQ(UrovItem(550), -1);
    EXPECT_EQ(UrovMsForItem(2), 150);
    // Bits 6 and 7 survive an edit of a port bit.
    EXPECT_EQ(WithPortBit(0xC0, 3, true), 0xC4);
    EXPECT_EQ(WithPortBit(0xFF, 6, false), 0xDF);
    EXPECT_EQ(WithPortBit(0x00, 7, true), 0x00);
    EXPECT_TRUE(PortBit(0x20, 6));
    EXPECT_FALSE(PortBit(0x40, 6));
}

TEST(SetupCbActions, ClockWriteCarriesPackedBcdAndNeedsAYear)
{
    Rig r;
    TClockChoice c;
    c.YearItem = 6;  // 2013
    c.MonthItem = 9;
    c.DayItem = 1;
    c.Hour = 17;
    c.Minute = 30;
    c.Second = 5;
    r.actions.WriteClock(0, c);
    ASSERT_EQ(r.ui.served, std::vector<int32_t>({kReqWriteClock}));
    EXPECT_EQ(r.ui.cmdAtServe[0], (std::array<uint8_t, 6>{0x05, 0x30, 0x17, 0x02, 0x10, 0x13}));

    c.YearItem = -1;  // the PC clock was outside 2007..2050 and nothing was chosen
    EXPECT_EQ(r.actions.WriteClock(0, c).Status, PostStatus::NotPosted);
    EXPECT_EQ(r.ui.served.size(), 1u);
}

TEST(SetupCbActions, FailedSaveIsReportedAndRecordKeepsValue)
{
    Rig r;
    r.saveResults = {-1};
    r.view.mtz = {MtzAnswer::No};
    r.cb().MtzWait = 1;
    EXPECT_TRUE(r.actions.SetMtz(0));
    EXPECT_EQ(r.cb().MtzWait.load(), 0);
    EXPECT_EQ(r.view.log, (std::vector<std::string>{"mtz", "message:Ошибка записи файла конфигурации!/Внимание!"}));
    // Cancel changes nothing and writes nothing.
    r.view.mtz = {MtzAnswer::Cancel};
    EXPECT_FALSE(r.actions.SetMtz(0));
    EXPECT_EQ(r.saves, 1);
}

TEST(SetupCbActions, FactoryConfigWriteFailureReadsNothingBack)
{
    Rig r;
    r.cb().FuncTable[2][1] = 0x15;
    r.cb().UrovTimeMs = 200;
    r.ui.fail[kReqWriteAllFuncTables] = true;
    EXPECT_FALSE(r.actions.FactoryConfig(0));
    EXPECT_EQ(r.ui.served, std::vector<int32_t>({kReqWriteAllFuncTables}));
    EXPECT_EQ(r.ui.log, (std::vector<std::string>{"wait:Ждите! Идет запись данных!",
                                                  "error:Ошибка записи данных в ЦБ/Внимание!"}));
    EXPECT_EQ(r.cb().FuncWriteError.load(), 0);
    EXPECT_EQ(r.cb().FuncTable[2][1].load(), 0);
    EXPECT_EQ(r.cb().UrovTimeMs.load(), 500);
    EXPECT_EQ(r.cb().MtzWait.load(), 1);
    EXPECT_EQ(r.saves, 0);

    r.ui.fail.clear();
    r.ui.fail[kReqReadAllFuncTables] = true;
    r.ui.log.clear();
    EXPECT_TRUE(r.actions.FactoryConfig(0));
    EXPECT_EQ(r.ui.log, (std::vector<std::string>{"wait:Ждите! Идет запись данных!", "wait:Ждите! Идет получение данных!",
                                                  "error:Ошибка получения данных от ЦБ/Внимание!"}));
    EXPECT_EQ(r.saves, 0);
}

TEST(SetupCbActions, FactoryConfigOnAnUnservedBlockIsShown)
{
    // Nothing is posted to a block that is not served; the record has the
    // factory values, and true tells the window to show them.
    Rig r;
    r.cb().Enabled = 0;
    r.cb().FuncTable[2][1] = 0x15;
    r.cb().UrovTimeMs = 200;
    EXPECT_TRUE(r.actions.FactoryConfig(0));
    EXPECT_TRUE(r.ui.served.empty());
    EXPECT_TRUE(r.ui.log.empty());
    EXPECT_EQ(r.cb().FuncTable[2][1].load(), 0);
    EXPECT_EQ(r.cb().UrovTimeMs.load(), 500);
    EXPECT_EQ(r.saves, 0);  // the factory configuration never writes the file
}

TEST(SetupCbActions, AddressAndSpeedAskFirstAndLeaveTheRecord)
{
    Rig r;
    r.view.yesNo = {false, false};
    r.actions.SetDeviceAddress(0, 4);
    r.actions.SetDeviceSpeed(0, 1);
    EXPECT_TRUE(r.ui.served.empty());

    r.view.yesNo = {true, true};
    r.ui.fail[kReqSetAddress] = true;
    EXPECT_EQ(r.actions.SetDeviceAddress(0, 4).Status, PostStatus::Failed);
    EXPECT_EQ(r.actions.SetDeviceSpeed(0, 1).Status, PostStatus::Done);
    ASSERT_EQ(r.ui.served, std::vector<int32_t>({kReqSetAddress, kReqSetSpeed}));
    EXPECT_EQ(r.ui.cmdAtServe[0][0], 5);
    EXPECT_EQ(r.ui.cmdAtServe[1][0], 1);
    EXPECT_EQ(r.cb().Address.load(), 1);
    EXPECT_EQ(r.cb().Baud.load(), 9600u);
    EXPECT_EQ(r.cb().AddressError.load(), 0);
    // No wait window for either; one error for the address.
    EXPECT_EQ(r.ui.log, std::vector<std::string>{"error:Ошибка выполнения команды/Внимание!"});
}

TEST(SetupCbActions, GatedRequestsAndUngatedOnes)
{
    Rig r;
    r.actions.NeedAccess = true;
    r.view.access = {false, false};
    r.actions.WriteTables(0);
    r.actions.StopClock(0);
    r.actions.ResetCb(0);  // no code asked for a reset
    r.actions.ReadTables(0);
    EXPECT_EQ(r.ui.served, std::vector<int32_t>({kReqResetCb, kReqReadAllFuncTables}));
    EXPECT_EQ(r.view.log, std::vector<std::string>({"access", "access"}));
}

}  // namespace
}  // namespace kestrel
