// The window side of the hand-over, with the thread's passes run from the
// wait loop's event pumping so every interleaving is deterministic.
#include <gtest/gtest.h>

#include "FakeAcq.h"
#include "monitor/GetDataThread.h"
#include "monitor/PostRequest.h"

namespace kestrel::test {
namespace {

class PostTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // While the window pumps its messages the thread makes one pass.
        ui.OnPause = [this] { thread.RunPass(); };
    }
    void SetCbs(int32_t n)
    {
        std::lock_guard lock(state.RecordLock);
        state.EnsureAllocated(n);
        state.CbCount = n;
    }
    TCbData& Cb(int i) { return *state.Cb(i); }

    TGlobalState state;
    FakeLink link;
    VirtualClock clock;
    CountingHooks hooks;
    TGetDataThread thread{state, link, clock, hooks};
    FakeWaitUi ui;
};

// A standard request for the block on screen, `cb`.
PostArgs For(int32_t cb, int32_t code, uint32_t pauseMs = 100)
{
    PostArgs a = PostArgs::Standard(code, pauseMs);
    a.Cb = cb;
    return a;
}

TEST(ErrorFlagTable, EachRequestReportsThroughItsOwnFlag)
{
    const std::pair<int32_t, Flag TCbData::*> table[] = {
        {101, &TCbData::JournalError},     {107, &TCbData::JournalError},
        {102, &TCbData::FuncReadError},    {103, &TCbData::FuncWriteError},
        {104, &TCbData::UirReadError},     {16, &TCbData::UirWriteError},
        {105, &TCbData::UirWriteError},    {17, &TCbData::ResetError},
        {18, &TCbData::AddressError},      {19, &TCbData::SpeedError},
        {10, &TCbData::ClearJournalError}, {8, &TCbData::ClockReadError},
        {15, &TCbData::ClockWriteError},
    };
    int withFlag = 0;
    for (int32_t code = 0; code <= 110; ++code) {
        Flag TCbData::*expected = nullptr;
        for (const auto& [c, f] : table)
            if (c == code)
                expected = f;
        EXPECT_EQ(ErrorFlagFor(code), expected) << code;
        withFlag += ErrorFlagFor(code) != nullptr;
    }
    EXPECT_EQ(withFlag, 13);
}

TEST_F(PostTest, PostsWaitsAndReportsSuccess)
{
    int32_t seenInSlot = 0;
    link.OnDispatch = [&](int32_t cb, int32_t code) {
        seenInSlot = state.Cb(cb)->Request;
        EXPECT_EQ(code, 102);
    };
    PostArgs a = For(0, 102, 250);
    a.WaitText = "Чтение таблиц";
    const PostResult r = PostRequestAndWait(state, ui, a);
    EXPECT_EQ(r.Status, PostStatus::Done);
    EXPECT_EQ(r.Cb, 0);
    EXPECT_EQ(seenInSlot, 102);  // the slot holds the code while it runs
    EXPECT_EQ(Cb(0).Request, 0);
    EXPECT_EQ(ui.Log, (std::vector<std::string>{"show:Чтение таблиц", "close"}));
    EXPECT_EQ(ui.shown, 0);
    ASSERT_FALSE(ui.pauses.empty());
    for (uint32_t ms : ui.pauses)
        EXPECT_EQ(ms, 250u);
    EXPECT_EQ(ui.processed, static_cast<int>(ui.pauses.size()));
    EXPECT_EQ(link.Dispatches().size(), 1u);
}

TEST_F(PostTest, FailureFlagShowsTheMessageAndIsCleared)
{
    link.OnDispatch = [&](int32_t cb, int32_t code) {
        if (code == 15)
            state.Cb(cb)->ClockWriteError = 1;
    };
    const PostResult r = PostRequestAndWait(state, ui, For(0, 15));
    EXPECT_EQ(r.Status, PostStatus::Failed);
    EXPECT_EQ(ui.Log, (std::vector<std::string>{"error:Ошибка выполнения команды|Внимание!"}));
    EXPECT_EQ(Cb(0).ClockWriteError, 0);
}

TEST_F(PostTest, CustomMessageAndNoFlag)
{
    link.OnDispatch = [&](int32_t cb, int32_t) { state.Cb(cb)->ResetError = 1; };
    PostArgs a;
    a.Cb = 0;
    a.Code = 17;
    a.PauseMs = 0;
    // No flag given: nothing is reported and the flag stays for whoever owns it.
    EXPECT_EQ(PostRequestAndWait(state, ui, a).Status, PostStatus::Done);
    EXPECT_TRUE(ui.Log.empty());
    EXPECT_EQ(Cb(0).ResetError, 1);
    a.ErrorFlag = &TCbData::ResetError;
    a.ErrorText = "Сброс не выполнен";
    a.ErrorCaption = "Сброс";
    EXPECT_EQ(PostRequestAndWait(state, ui, a).Status, PostStatus::Failed);
    EXPECT_EQ(ui.Log, (std::vector<std::string>{"error:Сброс не выполнен|Сброс"}));
}

TEST_F(PostTest, StaleFlagFromAnEarlierRunIsNotReported)
{
    // The automatic poll failed a table read earlier; this read succeeds.
    Cb(0).FuncReadError = 1;
    EXPECT_EQ(PostRequestAndWait(state, ui, For(0, 102)).Status, PostStatus::Done);
    EXPECT_TRUE(ui.Log.empty());
}

TEST_F(PostTest, NothingPostedForDisabledOrMissingCb)
{
    SetCbs(2);
    Cb(1).Enabled = 0;
    Cb(1).FuncReadError = 1;
    struct Case {
        int32_t cb;
        int32_t current;
    };
    // Disabled, beyond CbCount, beyond the records, and no block named: a
    // negative index never falls back on the block the thread is visiting.
    const Case cases[] = {{1, 0}, {2, 0}, {7, 0}, {-1, 0}, {-1, 1}, {-5, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cb * 100 + c.current);
        state.CurrentCb = c.current;
        PostArgs a = PostArgs::Standard(102);
        a.Cb = c.cb;
        a.WaitText = "Ждите";
        const PostResult r = PostRequestAndWait(state, ui, a);
        EXPECT_EQ(r.Status, PostStatus::NotPosted);
        EXPECT_EQ(r.Cb, c.cb);
        EXPECT_TRUE(ui.Log.empty());
        EXPECT_EQ(ui.processed, 0);
        EXPECT_EQ(Cb(0).Request, 0);
        EXPECT_EQ(Cb(1).Request, 0);
    }
    EXPECT_EQ(Cb(1).FuncReadError, 1);  // not ours to report
    EXPECT_TRUE(link.Calls().empty());
}

TEST_F(PostTest, WaitsForAFreeSlotInsteadOfOverwriting)
{
    Cb(0).Request = 104;  // another handler's code, not yet taken
    std::vector<int32_t> slotBeforeOurPost;
    ui.OnPause = [&] {
        slotBeforeOurPost.push_back(Cb(0).Request);
        thread.RunPass();
    };
    const PostResult r = PostRequestAndWait(state, ui, For(0, 8));
    EXPECT_EQ(r.Status, PostStatus::Done);
    EXPECT_EQ(link.Dispatches(), (std::vector<std::pair<int32_t, int32_t>>{{0, 104}, {0, 8}}));
    ASSERT_FALSE(slotBeforeOurPost.empty());
    EXPECT_EQ(slotBeforeOurPost.front(), 104);
}

TEST_F(PostTest, NestedHandlerPostsAfterTheOuterRequest)
{
    // A timer fires while the first request waits and posts its own.
    bool nestedDone = false;
    ui.OnProcessEvents = [&] {
        if (nestedDone || Cb(0).Request != 101)
            return;
        nestedDone = true;
        FakeWaitUi inner;
        inner.OnPause = [&] { thread.RunPass(); };
        EXPECT_EQ(PostRequestAndWait(state, inner, For(0, 10)).Status, PostStatus::Done);
    };
    EXPECT_EQ(PostRequestAndWait(state, ui, For(0, 101)).Status, PostStatus::Done);
    EXPECT_TRUE(nestedDone);
    EXPECT_EQ(link.Dispatches(), (std::vector<std::pair<int32_t, int32_t>>{{0, 101}, {0, 10}}));
    EXPECT_EQ(Cb(0).Request, 0);
}

TEST_F(PostTest, PosterWatchesTheCbItPostedTo)
{
    SetCbs(3);
    state.CurrentCb = 0;
    // The thread moves CurrentCb on after every visit; the window stays with CB 2.
    const PostResult r = PostRequestAndWait(state, ui, For(2, 104));
    EXPECT_EQ(r.Cb, 2);
    EXPECT_EQ(r.Status, PostStatus::Done);
    EXPECT_EQ(link.Dispatches(), (std::vector<std::pair<int32_t, int32_t>>{{2, 104}}));
    // An explicit index, while the thread happens to stand elsewhere.
    state.CurrentCb = 0;
    PostArgs a = PostArgs::Standard(102);
    a.Cb = 1;
    link.OnDispatch = [&](int32_t cb, int32_t) { state.Cb(cb)->FuncReadError = 1; };
    EXPECT_EQ(PostRequestAndWait(state, ui, a).Status, PostStatus::Failed);
    EXPECT_EQ(link.Dispatches().back(), (std::pair<int32_t, int32_t>{1, 102}));
    EXPECT_EQ(Cb(1).FuncReadError, 0);
    EXPECT_EQ(Cb(0).FuncReadError, 0);
}

TEST_F(PostTest, ConsoleDropEndsTheWaitWithoutAMessage)
{
    state.ConsoleOpen = 1;
    Cb(0).UirWriteError = 1;
    EXPECT_EQ(PostRequestAndWait(state, ui, For(0, 105)).Status, PostStatus::Done);
    EXPECT_TRUE(link.Dispatches().empty());
    EXPECT_TRUE(ui.Log.empty());
    EXPECT_EQ(Cb(0).Request, 0);
}

TEST_F(PostTest, StoppedAcquisitionWithdrawsTheCode)
{
    // The main window closes while we wait: the thread no longer runs.
    int looks = 0;
    ui.OnPause = [&] {
        if (++looks == 3)
            ui.Stopped = true;
    };
    PostArgs a = For(0, 103);
    a.WaitText = "Запись";
    EXPECT_EQ(PostRequestAndWait(state, ui, a).Status, PostStatus::Done);
    EXPECT_EQ(Cb(0).Request, 0);
    EXPECT_EQ(ui.shown, 0);
    // ...and a later post does nothing at all.
    ui.Log.clear();
    EXPECT_EQ(PostRequestAndWait(state, ui, a).Status, PostStatus::NotPosted);
    EXPECT_TRUE(ui.Log.empty());
}

TEST_F(PostTest, GivesUpWaitingForAFreeSlotWhenCbIsDisabled)
{
    Cb(0).Request = 104;
    ui.OnPause = [&] { Cb(0).Enabled = 0; };
    PostArgs a = For(0, 8);
    a.WaitText = "x";
    EXPECT_EQ(PostRequestAndWait(state, ui, a).Status, PostStatus::NotPosted);
    EXPECT_EQ(Cb(0).Request, 104);  // the other code is left alone
    EXPECT_EQ(ui.Log, (std::vector<std::string>{"show:x", "close"}));
}

TEST_F(PostTest, UnknownCodeIsStillWaitedForUntilWithdrawn)
{
    // Only the catalogue's codes are taken; anything else would block its
    // poster, so the stop check is its way out.
    int looks = 0;
    ui.OnPause = [&] {
        thread.RunPass();
        if (++looks == 50)
            ui.Stopped = true;
    };
    PostArgs a;
    a.Cb = 0;
    a.Code = 55;
    PostRequestAndWait(state, ui, a);
    EXPECT_EQ(looks, 50);
    EXPECT_EQ(Cb(0).Request, 0);
    EXPECT_TRUE(link.Dispatches().empty());
}

}  // namespace
}  // namespace kestrel::test
