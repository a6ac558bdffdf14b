// The UIR setup window's logic with a scripted view and a recorded hand-over:
// the list, the texts, the guarded actions and what they post.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "setup/SetupUirActions.h"
#include "state/ConfigFile.h"

using namespace kestrel;

namespace {

struct View final : ISetupUirView {
    std::vector<std::string> entries;
    int selected = -2;
    TUirValueTexts values;
    int shownValues = 0;
    bool grant = true, answer = true;
    int gates = 0;
    std::vector<std::string> questions, messages;
    void ShowList(const std::vector<std::string>& e, int s) override
    {
        entries = e;
        selected = s;
    }
    void ShowValues(const TUirValueTexts& t) override
    {
        values = t;
        ++shownValues;
    }
    bool AccessGate() override
    {
        ++gates;
        return grant;
    }
    bool AskYesNo(const std::string& t, const std::string&, PromptIcon) override
    {
        questions.push_back(t);
        return answer;
    }
    void Message(const std::string& t, const std::string&, PromptIcon) override { messages.push_back(t); }
};

struct Posted {
    int32_t code, cb;
    uint8_t segment, fcb;
    std::string wait;
};

struct Rig {
    TGlobalState state;
    View view;
    std::vector<Posted> posted;
    // Codes that fail (the flag is reported and cleared by the hand-over).
    std::vector<int32_t> failing;
    // false: the block is not served and nothing is posted.
    bool served = true;
    TSetupUirActions actions{state, view, [this](const PostArgs& a) {
                                 if (!served)
                                     return PostResult{PostStatus::NotPosted, a.Cb};
                                 // What the thread would send: the request's own data, else the globals.
                                 const auto seg = static_cast<uint8_t>(
                                     a.Data.UirSegment >= 0 ? a.Data.UirSegment : state.UirSegment.load());
                                 const auto fcb = static_cast<uint8_t>(a.Data.Fcb >= 0 ? a.Data.Fcb : state.Fcb.load());
                                 posted.push_back({a.Code, a.Cb, seg, fcb, a.WaitText.value_or("")});
                                 PostResult r;
                                 r.Cb = a.Cb;
                                 r.Status = std::find(failing.begin(), failing.end(), a.Code) != failing.end()
                                                ? PostStatus::Failed
                                                : PostStatus::Done;
                                 return r;
                             }};
    std::filesystem::path dir;
    Rig()
    {
        dir = std::filesystem::temp_directory_path() /
              ("setup_uir_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir);
        state.CfgFilePath = (dir / "kestrel.cfg").string();
    }
    ~Rig() { std::filesystem::remove_all(dir); }
    TUirData& uir(int number) { return state.Cb(0)->Uir[static_cast<size_t>(number - 1)]; }
    void Present(std::initializer_list<int> numbers)
    {
        for (int n : numbers)
            uir(n).Present = 1;
    }
};

}  // namespace

TEST(SetupUirTexts, FromTheRecord)
{
    struct Case {
        uint8_t out, poll, c1, c2, c3, f1, f2, f3;
        TUirValueTexts expected;
    };
    const Case cases[] = {
        {0, 0, 0, 0, 0, 0, 0, 0, {}},
        {1, 1, 1, 0, 1, 3, 2, 1, {{"Разрешен", "Не разрешен", "Разрешен"}, {"F3", "F2", "F1"}, "Да", "Да"}},
        {1, 0, 0, 1, 0, 0, 1, 2, {{"Не разрешен", "Разрешен", "Не разрешен"}, {"F0", "F1", "F2"}, "Да", "Нет"}},
        // A function number above 3 keeps the text shown before (F0 here).
        {0, 1, 1, 1, 1, 4, 7, 255, {{"Разрешен", "Разрешен", "Разрешен"}, {"F0", "F0", "F0"}, "Нет", "Да"}},
    };
    for (const Case& c : cases) {
        TUirData u;
        u.OutputEnabled = c.out;
        u.PollEnabled = c.poll;
        u.InputControl1 = c.c1;
        u.InputControl2 = c.c2;
        u.InputControl3 = c.c3;
        u.InputFunction1 = c.f1;
        u.InputFunction2 = c.f2;
        u.InputFunction3 = c.f3;
        EXPECT_EQ(UirValueTexts(u, TUirValueTexts{}), c.expected) << int(c.f1);
    }
    TUirValueTexts before;
    before.Function = {"F2", "F3", "F1"};
    TUirData u;
    u.InputFunction1 = 9;
    u.InputFunction2 = 0;
    u.InputFunction3 = 8;
    const TUirValueTexts t = UirValueTexts(u, before);
    EXPECT_EQ(t.Function, (std::array<std::string, 3>{"F2", "F0", "F1"}));
}

TEST(SetupUirTexts, ChannelDialogPreset)
{
    TUirValueTexts t;
    t.Control = {"Разрешен", "Не разрешен", "Разрешен"};
    t.Function = {"F3", "F2", "F1"};
    t.Output = "Да";
    t.Poll = "Да";
    TUirEdit e = PresetFromTexts(t);
    EXPECT_EQ(e.Control, (std::array<bool, 3>{true, false, true}));
    // An unmonitored input's selector shows F0.
    EXPECT_EQ(e.Function, (std::array<int, 3>{3, 0, 1}));
    EXPECT_TRUE(e.Output);
    EXPECT_FALSE(e.StopPoll);
    EXPECT_TRUE(e.StopPollVisible);
    t.Poll = "Нет";
    e = PresetFromTexts(t);
    EXPECT_TRUE(e.StopPoll);
    EXPECT_FALSE(e.StopPollVisible);
}

TEST(SetupUirTexts, SegmentOfUir)
{
    const std::pair<int, int> cases[] = {{1, 0}, {3, 0}, {4, 1}, {7, 1}, {8, 2}, {39, 9}, {40, 10}, {43, 10}};
    for (auto [number, segment] : cases)
        EXPECT_EQ(UirSegmentOf(number), segment) << number;
}

TEST(SetupUirActions, ListOfPresentUirsAndSelection)
{
    Rig r;
    r.Present({1, 2, 5});
    r.uir(5).OutputEnabled = 1;
    r.actions.Show(0, -1);
    EXPECT_EQ(r.view.entries, (std::vector<std::string>{"УИР №1", "УИР №2", "УИР №5"}));
    EXPECT_EQ(r.view.selected, 0);
    EXPECT_EQ(r.view.values.Output, "Нет");
    r.actions.Select(2);
    EXPECT_EQ(r.actions.SelectedNumber(), 5);
    EXPECT_EQ(r.view.values.Output, "Да");
    // The caller names a UIR: its entry is selected.
    r.actions.Show(0, 1);
    EXPECT_EQ(r.view.selected, 1);
    // A UIR that is not present: the entry selected before stays.
    r.actions.Show(0, 2);
    EXPECT_EQ(r.view.selected, 1);
    // The previous row beyond a shorter list: the first entry.
    r.uir(2).Present = 0;
    r.uir(5).Present = 0;
    r.actions.Show(0, -1);
    EXPECT_EQ(r.view.entries.size(), 1u);
    EXPECT_EQ(r.view.selected, 0);
    // Nothing present: nothing selected, the values stay as they were.
    r.uir(1).Present = 0;
    const int shown = r.view.shownValues;
    r.actions.Show(0, -1);
    EXPECT_TRUE(r.view.entries.empty());
    EXPECT_EQ(r.view.selected, -1);
    EXPECT_EQ(r.view.shownValues, shown);
}

TEST(SetupUirActions, WriteSegmentOfTheSelectedUir)
{
    Rig r;
    r.Present({1, 2, 5});
    r.state.Fcb = 0;
    r.actions.Show(0, 4);
    r.actions.WriteSegment();
    ASSERT_EQ(r.posted.size(), 1u);
    EXPECT_EQ(r.posted[0].code, 16);
    EXPECT_EQ(r.posted[0].cb, 0);
    EXPECT_EQ(r.posted[0].segment, 1);
    EXPECT_EQ(r.posted[0].fcb, 1);
    EXPECT_EQ(r.posted[0].wait, "Ждите! Идет запись данных!");
    EXPECT_EQ(r.view.questions, (std::vector<std::string>{"Конфигурация УИР будет изменена! Выполнить?"}));
    EXPECT_EQ(r.view.gates, 1);

    // No to the question, or Cancel at the prompt: nothing posted.
    r.view.answer = false;
    r.actions.WriteSegment();
    r.view.answer = true;
    r.view.grant = false;
    r.actions.WriteSegment();
    EXPECT_EQ(r.posted.size(), 1u);
    EXPECT_EQ(r.view.questions.size(), 2u);

    // Without the access flag (configuration window open) no prompt.
    r.actions.NeedAccess = false;
    r.actions.WriteSegment();
    EXPECT_EQ(r.view.gates, 3);
    EXPECT_EQ(r.posted.size(), 2u);
}

TEST(SetupUirActions, WriteWithAnEmptyListIsRefused)
{
    Rig r;
    r.state.UirSegment = 7;
    r.actions.Show(0, -1);
    r.actions.WriteSegment();
    EXPECT_TRUE(r.posted.empty());
    EXPECT_TRUE(r.view.questions.empty());
    EXPECT_EQ(r.view.messages, (std::vector<std::string>{"Неверно задан номер УИР"}));
    EXPECT_EQ(r.state.UirSegment.load(), 7);
    TUirEdit preset;
    EXPECT_FALSE(r.actions.BeginEdit(preset));
    EXPECT_EQ(r.view.messages.size(), 2u);
}

TEST(SetupUirActions, ActionsFollowTheBlockOnScreen)
{
    Rig r;
    {
        std::lock_guard<std::recursive_mutex> lock(r.state.RecordLock);
        r.state.CbCount = 2;
        r.state.EnsureAllocated(2);
    }
    r.Present({1});
    r.state.Cb(1)->Uir[9].Present = 1;
    r.actions.Show(0, 0);
    r.state.ShownCb = 1;
    r.actions.WriteSegment();
    ASSERT_EQ(r.posted.size(), 1u);
    EXPECT_EQ(r.posted[0].cb, 1);
    EXPECT_EQ(r.posted[0].segment, 2);  // UIR 10 of block 2
    EXPECT_EQ(r.view.entries, (std::vector<std::string>{"УИР №10"}));
}

TEST(SetupUirActions, FailedSaveIsReportedOnce)
{
    Rig r;
    r.Present({1});
    r.state.CfgFilePath = (r.dir / "no-such-folder" / "x.cfg").string();
    r.actions.Show(0, 0);
    r.actions.SaveFile();
    EXPECT_EQ(r.view.messages, (std::vector<std::string>{"Ошибка записи файла конфигурации!"}));
    r.view.messages.clear();
    r.state.CfgFilePath = (r.dir / "x.cfg").string();
    r.actions.SaveFile();
    EXPECT_TRUE(r.view.messages.empty());
    EXPECT_TRUE(std::filesystem::exists(r.dir / "x.cfg"));
}

// A block that is not served takes no request: the change the records got
// is still shown and saved (it used to be dropped at the next file read).
TEST(SetupUirActions, ChangeOnAnUnservedBlockIsShownAndSaved)
{
    for (const bool copy : {false, true}) {
        SCOPED_TRACE(copy ? "Применить к выбранным УИР" : "factory configuration");
        Rig r;
        r.served = false;
        r.actions.NeedAccess = false;
        r.Present({1, 2, 3});
        r.uir(1).InputFunction1 = 3;
        r.uir(1).OutputEnabled = 1;
        r.uir(2).PollEnabled = 1;
        r.actions.Show(0, 0);
        const int shownBefore = r.view.shownValues;
        if (copy) {
            std::array<bool, kUirCount> checked{}, enabled{};
            ASSERT_TRUE(r.actions.BeginCopy(checked, enabled));
            r.actions.ApplyCopy(checked);
        } else {
            r.actions.FactoryConfig();
        }
        TGlobalState file;
        file.CfgFilePath = r.state.CfgFilePath;
        ASSERT_EQ(ReadConfigFile(file), 0);
        const TUirData& u2 = file.Cb(0)->Uir[1];
        EXPECT_EQ(u2.InputFunction1.load(), copy ? 3 : 0);
        EXPECT_EQ(u2.InputFunction2.load(), copy ? 0 : 1);
        EXPECT_EQ(u2.OutputEnabled.load(), copy ? 1 : 0);
        EXPECT_EQ(u2.PollEnabled.load(), 0);
        EXPECT_GT(r.view.shownValues, shownBefore);
        EXPECT_EQ(r.view.values.Function[0], copy ? "F3" : "F0");
        EXPECT_TRUE(r.view.messages.empty());
    }
}
