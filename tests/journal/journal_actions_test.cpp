#include <gtest/gtest.h>

#include <map>

#include "journal/JournalActions.h"
#include "journal/JournalRows.h"
#include "monitor/PostRequest.h"
#include "protocol/Protocol.h"

using namespace kestrel;

namespace {

TEventData Ev(uint8_t code, uint16_t ms = 0)
{
    TEventData e;
    e.Code = code;
    e.Milliseconds = ms;
    return e;
}

struct FakeView final : IJournalView {
    std::vector<std::vector<TJournalRow>> shown;
    std::vector<std::string> questions, messages;
    std::vector<PromptIcon> icons;
    bool answer = false;
    std::function<void()> onAsk;  // runs while the question is on screen
    bool choose = true;
    std::string path = "out.txt";
    int dialogs = 0;

    void ShowRows(const std::vector<TJournalRow>& rows) override { shown.push_back(rows); }
    bool AskYesNo(const std::string& text, const std::string& caption, PromptIcon icon) override
    {
        questions.push_back(text + " / " + caption);
        icons.push_back(icon);
        if (onAsk)
            onAsk();
        return answer;
    }
    void Message(const std::string& text, const std::string& caption, PromptIcon icon) override
    {
        messages.push_back(text + " / " + caption);
        icons.push_back(icon);
    }
    bool ChooseExportFile(std::string& p) override
    {
        ++dialogs;
        p = path;
        return choose;
    }
};

struct Post {
    int32_t cb;
    int32_t code;
    std::string waitText;
    uint32_t pauseMs;
};

// Plays the acquisition thread: each post runs `serve` (which may look at the
// window a few times, as the real wait does), then frees the slot.
struct FakeDevice {
    TGlobalState& state;
    std::vector<Post> posts;
    std::function<void(int32_t code, const std::function<void()>& onLook)> serve;

    TPostRequestFn Fn()
    {
        return [this](int32_t index, int32_t code, const std::string& wait, uint32_t pause,
                      const std::function<void()>& onLook) {
            posts.push_back({index, code, wait, pause});
            TCbData* cb = state.Cb(index);
            if (!cb || !cb->Enabled)
                return;
            cb->Request = code;
            if (serve)
                serve(code, onLook);
            cb->Request = 0;
        };
    }
};

// Files in memory for the export.
struct MemFiles final : IExportFiles {
    std::map<std::string, std::string> disk;
    std::string open;
    bool failWrite = false;
    bool Create(const std::string& p) override { open = p; disk[p].clear(); return true; }
    bool Write(const char* d, size_t n) override
    {
        if (failWrite)
            return false;
        disk[open].append(d, n);
        return true;
    }
    bool Close() override { return true; }
    bool Replace(const std::string& from, const std::string& to) override
    {
        disk[to] = disk[from];
        disk.erase(from);
        return true;
    }
    void Remove(const std::string& p) override { disk.erase(p); }
};

class JournalActionsTest : public ::testing::Test {
protected:
    TGlobalState state;
    FakeView view;
    FakeDevice device{state, {}, {}};
    TJournalActions actions{state, view, device.Fn()};
    TCbData& cb() { return *state.Shown(); }
    void SetCbs(int32_t n)
    {
        std::lock_guard lock(state.RecordLock);
        state.EnsureAllocated(n);
        state.CbCount = n;
    }
};

}  // namespace

TEST_F(JournalActionsTest, RefusingTheClearQuestionSendsNothing)
{
    cb().Events.Append(Ev(0xD1));
    cb().Events.Append(Ev(0xD0));
    view.answer = false;
    actions.ClearJournal();
    ASSERT_EQ(view.questions.size(), 1u);
    EXPECT_EQ(view.questions[0],
              "Внимание! Все записи журнала событий контроллера будут удалены! Выполнить? / Внимание!");
    EXPECT_EQ(view.icons[0], PromptIcon::Warning);
    EXPECT_TRUE(device.posts.empty());
    EXPECT_EQ(cb().Request.load(), 0);
    EXPECT_EQ(cb().Events.Count(), 2);
    EXPECT_TRUE(view.shown.empty());
}

TEST_F(JournalActionsTest, ClearPostsClearThenFetchAndReportsOnlyTheClearFlag)
{
    struct Case { uint8_t clearErr, journalErr; size_t messages; };
    for (const Case c : {Case{0, 0, 0}, Case{1, 0, 1}, Case{0, 1, 0}, Case{1, 1, 1}}) {
        device.posts.clear();
        view.messages.clear();
        view.shown.clear();
        cb().Events.Append(Ev(0xB1));
        view.answer = true;
        int looks = 0;
        device.serve = [&](int32_t code, const std::function<void()>& onLook) {
            if (onLook) {
                onLook();
                ++looks;
            }
            if (code == ReqClearJournal) {
                EXPECT_EQ(cb().Events.Count(), 0) << "list emptied before the clear is posted";
                cb().ClearJournalError = c.clearErr;
            } else {
                cb().Events.Append(Ev(0xD1, 7));
                cb().JournalError = c.journalErr;
            }
        };
        actions.ClearJournal();
        ASSERT_EQ(device.posts.size(), 2u);
        EXPECT_EQ(device.posts[0].code, 10);
        EXPECT_EQ(device.posts[1].code, 101);
        EXPECT_EQ(device.posts[0].waitText, "");
        EXPECT_EQ(device.posts[1].waitText, "");
        EXPECT_EQ(looks, 0) << "no rendering while the clear runs";
        ASSERT_EQ(view.shown.size(), 1u);
        ASSERT_EQ(view.shown[0].size(), 1u);
        EXPECT_EQ(view.shown[0][0][1], "D1");
        ASSERT_EQ(view.messages.size(), c.messages);
        if (c.messages) {
            EXPECT_EQ(view.messages[0], "Ошибка выполнения команды / Внимание!");
        }
        EXPECT_EQ(cb().ClearJournalError.load(), 0);
        cb().JournalError = 0;
        cb().Events.Clear();
    }
}

TEST_F(JournalActionsTest, FetchRendersWhileRecordsArrive)
{
    cb().Events.Append(Ev(0xB3));  // emptied before the fetch
    cb().JournalError = 1;         // left over from the automatic fetch: not this one's
    std::vector<size_t> sizes;
    device.serve = [&](int32_t code, const std::function<void()>& onLook) {
        EXPECT_EQ(code, 101);
        EXPECT_EQ(cb().Events.Count(), 0);
        for (int k = 0; k < 3; ++k) {
            cb().Events.Append(Ev(0xA1, static_cast<uint16_t>(k)));
            onLook();
            sizes.push_back(view.shown.back().size());
        }
    };
    actions.FetchJournal();
    ASSERT_EQ(device.posts.size(), 1u);
    EXPECT_EQ(device.posts[0].waitText, "Ждите! Идет получение архивных данных!");
    EXPECT_EQ(device.posts[0].pauseMs, 100u);
    EXPECT_EQ(sizes, (std::vector<size_t>{1, 2, 3}));
    ASSERT_FALSE(view.shown.empty());
    EXPECT_EQ(view.shown.back().size(), 3u);
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(actions.Rows().size(), 3u);
}

TEST_F(JournalActionsTest, FetchFailureIsReportedOnceAndCleared)
{
    device.serve = [&](int32_t, const std::function<void()>&) {
        cb().Events.Append(Ev(0xD1));
        cb().JournalError = 1;
    };
    actions.FetchJournal();
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0], "Ошибка выполнения команды / Внимание!");
    EXPECT_EQ(view.icons.back(), PromptIcon::Error);
    EXPECT_EQ(cb().JournalError.load(), 0);
    EXPECT_EQ(view.shown.back().size(), 1u) << "the table shows what arrived";
}

TEST_F(JournalActionsTest, NotServedPostsNothingAndGoesOn)
{
    cb().Enabled = 0;
    cb().Events.Append(Ev(0xD1));
    actions.FetchJournal();
    view.answer = true;
    actions.ClearJournal();
    EXPECT_EQ(cb().Request.load(), 0);
    EXPECT_TRUE(view.messages.empty());
    ASSERT_EQ(view.shown.size(), 2u);
    EXPECT_TRUE(view.shown[0].empty());
    EXPECT_TRUE(view.shown[1].empty());
}

TEST_F(JournalActionsTest, TimerConsumesNewEventCount)
{
    EXPECT_FALSE(actions.RefreshIfNew());
    EXPECT_TRUE(view.shown.empty());
    cb().Events.InsertAt(Ev(0xB1), 0);
    cb().Events.InsertAt(Ev(0xB2), 1);
    cb().NewEventCount = 2;
    EXPECT_TRUE(actions.RefreshIfNew());
    EXPECT_EQ(cb().NewEventCount.load(), 0);
    ASSERT_EQ(view.shown.size(), 1u);
    EXPECT_EQ(view.shown[0].size(), 2u);
    EXPECT_FALSE(actions.RefreshIfNew());
    EXPECT_EQ(view.shown.size(), 1u);
    // Another block on screen: its count is the one looked at, wherever the
    // thread happens to be.
    SetCbs(2);
    state.Cb(1)->NewEventCount = 1;
    state.CurrentCb = 0;
    state.Cb(0)->NewEventCount = 5;
    state.ShownCb = 1;
    EXPECT_TRUE(actions.RefreshIfNew());
    EXPECT_TRUE(view.shown.back().empty());
    EXPECT_EQ(state.Cb(1)->NewEventCount.load(), 0);
    EXPECT_EQ(state.Cb(0)->NewEventCount.load(), 5);
    EXPECT_EQ(state.Cb(0)->Events.Count(), 2);
}

TEST_F(JournalActionsTest, ConsoleRecordsFollowTheRenderedRows)
{
    cb().Events.Append(Ev(0xD1));
    cb().Events.Append(Ev(0xD0));
    actions.Render();
    actions.AddConsoleRecord("C0", "Состояние выходов ЦБ 05", "5.3.18  9:7:5.30");
    actions.AddConsoleRecord("D3", "", "5.3.18  9:7:5.31");
    const auto& rows = actions.Rows();
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[1][1], "D0") << "a rendered event is never overwritten";
    EXPECT_EQ(rows[2], (TJournalRow{"3", "C0", "Состояние выходов ЦБ 05", "5.3.18  9:7:5.30"}));
    EXPECT_EQ(rows[3], (TJournalRow{"4", "D3", "", "5.3.18  9:7:5.31"}));
    EXPECT_EQ(view.shown.back(), rows);
    // The next rendering replaces them by the list.
    actions.Render();
    EXPECT_EQ(actions.Rows().size(), 2u);
}

TEST_F(JournalActionsTest, ExportCancelSuccessFailure)
{
    MemFiles files;
    actions.SetExportFiles(&files);
    cb().Events.Append(Ev(0xD2));
    actions.Render();

    view.choose = false;
    EXPECT_EQ(actions.ExportTable(), 1);
    EXPECT_TRUE(files.disk.empty());
    EXPECT_TRUE(view.messages.empty());

    view.choose = true;
    EXPECT_EQ(actions.ExportTable(), kExportOk);
    EXPECT_EQ(files.disk["out.txt"], JournalExportBytes(actions.Rows()));
    EXPECT_TRUE(view.messages.empty()) << "success is not announced";

    files.failWrite = true;
    EXPECT_EQ(actions.ExportTable(), kExportWriteFailed);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0], "Невозможно сохранить данные! / Внимание!");
    EXPECT_EQ(view.icons.back(), PromptIcon::Warning);
    EXPECT_EQ(files.disk["out.txt"], JournalExportBytes(actions.Rows())) << "the good file stays";
    EXPECT_EQ(files.disk.size(), 1u);
}

namespace {

// A wait UI that counts what the handshake asks of the window.
struct CountingWaitUi final : IWaitUi {
    TCbData* cb = nullptr;
    int processed = 0, shows = 0, closes = 0, serveAfter = 3;
    std::vector<uint32_t> pauses;
    std::string waitText;
    void ShowWait(const std::string& t) override { ++shows; waitText = t; }
    void CloseWait() override { ++closes; }
    void ProcessEvents() override
    {
        if (++processed == serveAfter)
            cb->Request = 0;
    }
    void Pause(uint32_t ms) override { pauses.push_back(ms); }
    void ShowError(const std::string&, const std::string&) override { ADD_FAILURE() << "the journal reports its own flags"; }
};

}  // namespace

TEST(JournalPostRequest, LooksAtTheWindowEveryRound)
{
    TGlobalState state;
    CountingWaitUi ui;
    ui.cb = state.Cb(0);
    state.Cb(0)->JournalError = 1;
    TPostRequestFn post = MakePostRequest(state, ui);
    int looks = 0;
    post(0, ReqFetchJournal, "Ждите!", 100, [&] {
        ++looks;
        EXPECT_EQ(state.Cb(0)->Request.load(), ReqFetchJournal);
    });
    EXPECT_EQ(ui.shows, 1);
    EXPECT_EQ(ui.closes, 1);
    EXPECT_EQ(ui.waitText, "Ждите!");
    EXPECT_EQ(looks, ui.processed);
    EXPECT_GE(looks, 3);
    for (uint32_t p : ui.pauses)
        EXPECT_EQ(p, 100u);
    EXPECT_EQ(state.Cb(0)->JournalError.load(), 1) << "flags are the caller's";

    // No wait text: no wait window.
    CountingWaitUi quiet;
    quiet.cb = state.Cb(0);
    quiet.serveAfter = 1;
    MakePostRequest(state, quiet)(0, ReqClearJournal, "", 100, {});
    EXPECT_EQ(quiet.shows, 0);
    EXPECT_EQ(quiet.closes, 0);
}

// The acquisition thread moves CurrentCb on and the operator picks another
// block while a fetch runs: the fetch stays with the block shown when it
// started (its slot, its list, its flag); the table shows the block on screen.
TEST_F(JournalActionsTest, FetchStaysWithItsBlockWhileTheShownBlockChanges)
{
    SetCbs(2);
    state.ShownCb = 1;
    state.Cb(0)->Events.Append(Ev(0xB3));
    state.Cb(0)->JournalError = 1;
    std::vector<std::vector<TJournalRow>> looks;
    device.serve = [&](int32_t, const std::function<void()>& onLook) {
        state.CurrentCb = 0;
        state.Cb(1)->Events.Append(Ev(0xD1));
        state.Cb(1)->Events.Append(Ev(0xD0));
        onLook();
        looks.push_back(view.shown.back());
        state.ShownCb = 0;  // the operator switches to block 1
        state.CurrentCb = 1;
        onLook();
        looks.push_back(view.shown.back());
        state.Cb(1)->JournalError = 1;
    };
    actions.FetchJournal();
    ASSERT_EQ(device.posts.size(), 1u);
    EXPECT_EQ(device.posts[0].cb, 1);
    ASSERT_EQ(looks.size(), 2u);
    EXPECT_EQ(looks[0].size(), 2u) << "the fetched block while it is on screen";
    EXPECT_EQ(looks[0][0][1], "D1");
    EXPECT_EQ(looks[1], RenderJournal(state.Cb(0)->Events)) << "then the block on screen";
    EXPECT_EQ(view.shown.back(), RenderJournal(state.Cb(0)->Events));
    ASSERT_EQ(view.messages.size(), 1u) << "the fetched block's failure is still reported";
    EXPECT_EQ(state.Cb(1)->JournalError.load(), 0);
    EXPECT_EQ(state.Cb(0)->JournalError.load(), 1) << "another block's flag is not this fetch's";
    EXPECT_EQ(state.Cb(0)->Events.Count(), 1);
    EXPECT_EQ(state.Cb(1)->Events.Count(), 2);
}

// The clear question is asked for the block on screen; switching blocks
// while it is open does not move the clear to the other block.
TEST_F(JournalActionsTest, ClearKeepsTheBlockOfTheButtonPress)
{
    SetCbs(3);
    state.ShownCb = 2;
    for (int i = 0; i < 3; ++i)
        state.Cb(i)->Events.Append(Ev(0xD1));
    view.answer = true;
    view.onAsk = [&] { state.ShownCb = 0; };
    device.serve = [&](int32_t code, const std::function<void()>&) {
        if (code == ReqClearJournal)
            state.Cb(2)->ClearJournalError = 1;
    };
    actions.ClearJournal();
    ASSERT_EQ(device.posts.size(), 2u);
    EXPECT_EQ(device.posts[0].cb, 2);
    EXPECT_EQ(device.posts[1].cb, 2);
    EXPECT_EQ(state.Cb(2)->Events.Count(), 0);
    EXPECT_EQ(state.Cb(0)->Events.Count(), 1);
    EXPECT_EQ(state.Cb(1)->Events.Count(), 1);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(state.Cb(2)->ClearJournalError.load(), 0);
    EXPECT_EQ(view.shown.back().size(), 1u) << "the table shows block 1, now on screen";
}
