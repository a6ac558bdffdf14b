// The journal window's fetch, clear and export against the in-process
// simulated central block, through the real protocol, link and acquisition
// loop, on a virtual clock.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "SimBus.h"
#include "SimExpect.h"
#include "journal/JournalActions.h"
#include "journal/JournalRows.h"
#include "link/ComPort.h"
#include "monitor/GetDataThread.h"
#include "monitor/PostRequest.h"
#include "monitor/ProtocolAcqLink.h"
#include "protocol/Protocol.h"

using namespace kestrel;
using namespace kestrel::sim;

namespace {

struct View final : IJournalView {
    std::vector<size_t> sizes;
    std::vector<std::string> messages;
    bool answer = true;
    void ShowRows(const std::vector<TJournalRow>& rows) override { sizes.push_back(rows.size()); }
    bool AskYesNo(const std::string&, const std::string&, PromptIcon) override { return answer; }
    void Message(const std::string& text, const std::string&, PromptIcon) override { messages.push_back(text); }
    bool ChooseExportFile(std::string&) override { return false; }
};

// The wait loop of the window; `pump` plays whatever else runs meanwhile.
struct LoopUi final : IWaitUi {
    std::function<void()> pump;
    int rounds = 0;
    void ShowWait(const std::string&) override {}
    void CloseWait() override {}
    void ProcessEvents() override
    {
        ++rounds;
        if (pump)
            pump();
    }
    void Pause(uint32_t) override { std::this_thread::yield(); }
    void ShowError(const std::string&, const std::string&) override {}
};

struct Rig {
    VirtualClock clock;
    SimBus bus{clock};
    TSimCb& sim;
    TGlobalState state;
    IUiHooks hooks;
    TComPort port{bus};
    TCbProtocol protocol{state, port, clock, hooks};
    TProtocolAcqLink link{protocol};
    TGetDataThread thread{state, link, clock, hooks};
    View view;
    LoopUi ui;
    TJournalActions actions{state, view, MakePostRequest(state, ui)};

    static TSimCbOptions Options()
    {
        TSimCbOptions o;
        o.ClockStartMs2000 = ToMs2000(TSimTime{2024, 6, 15, 12, 0, 0, 0});
        return o;
    }
    Rig() : sim(bus.Attach(1, Options()))
    {
        // The automatic polling (the start-up's journal read, the event
        // cycles) is not what these tests look at.
        thread.PollPeriod = 1 << 30;
    }
    TCbData& cb() { return *state.Cb(0); }
    std::vector<TEventData> ExpectedJournal(size_t limit = 255)
    {
        std::vector<TEventData> out;
        for (const TSimEvent& s : sim.Journal()) {
            if (out.size() == limit)
                break;
            out.push_back(test::ExpectedRecord(s));
        }
        return out;
    }
};

}  // namespace

TEST(JournalSim, FetchReadsTheWholeJournalInTheBlocksOrder)
{
    Rig r;
    r.sim.FillJournal(255);
    r.sim.RaiseArc(7, 2, 11, 1);  // newest records: arc, MTZ, outputs
    r.cb().Events.Append(TEventData{});  // stale entry, dropped by the fetch
    r.ui.pump = [&] { r.thread.RunPass(); };
    r.actions.FetchJournal();
    EXPECT_EQ(r.cb().Request.load(), 0);
    EXPECT_EQ(r.cb().JournalError.load(), 0);
    EXPECT_TRUE(r.view.messages.empty());
    const std::vector<TEventData> expected = r.ExpectedJournal();
    ASSERT_EQ(expected.size(), 255u);
    EXPECT_EQ(r.cb().Events.Snapshot(), expected);
    EXPECT_EQ(r.actions.Rows(), RenderJournal(expected));
    EXPECT_EQ(r.sim.RequestCount(SimCmd::ResetLink), 1u);
    EXPECT_EQ(r.sim.RequestCount(SimCmd::ReadJournal), 255u);
    // The table was rendered while the request was open, and again at the end.
    EXPECT_GE(r.view.sizes.size(), 2u);
    EXPECT_EQ(r.view.sizes.back(), 255u);
    // The export holds the same lines as the block's journal.
    EXPECT_EQ(JournalExportBytes(r.actions.Rows()), JournalExportBytes(RenderJournal(expected)));
}

TEST(JournalSim, ClearErasesTheBlocksJournal)
{
    Rig r;
    r.sim.FillJournal(20);
    r.ui.pump = [&] { r.thread.RunPass(); };
    r.view.answer = false;
    r.actions.ClearJournal();
    EXPECT_EQ(r.sim.TotalRequests(), 0u) << "refusing the question sends nothing";
    EXPECT_EQ(r.sim.Journal().size(), 20u);

    r.view.answer = true;
    r.actions.ClearJournal();
    EXPECT_EQ(r.sim.RequestCount(SimCmd::ClearJournal), 1u);
    EXPECT_TRUE(r.sim.Journal().empty());
    EXPECT_EQ(r.cb().Events.Count(), 0);
    EXPECT_TRUE(r.view.messages.empty());
    EXPECT_EQ(r.view.sizes.back(), 0u);
}

TEST(JournalSim, SilentBlockReportsTheFailureOnce)
{
    Rig r;
    r.sim.FillJournal(3);
    r.sim.SetSilent(true);
    r.ui.pump = [&] { r.thread.RunPass(); };
    r.actions.FetchJournal();
    ASSERT_EQ(r.view.messages.size(), 1u);
    EXPECT_EQ(r.view.messages[0], "Ошибка выполнения команды");
    EXPECT_EQ(r.cb().JournalError.load(), 0);
    EXPECT_EQ(r.view.sizes.back(), 0u);
}

// The real acquisition thread takes the request while the window renders
// the list it fills (the hand-over the sanitizer builds look at).
TEST(JournalSim, FetchWithTheAcquisitionThreadRunning)
{
    Rig r;
    r.sim.FillJournal(255);
    ASSERT_TRUE(r.thread.Start());
    r.actions.FetchJournal();
    r.thread.Stop();
    EXPECT_EQ(r.cb().JournalError.load(), 0);
    EXPECT_EQ(r.cb().Events.Snapshot(), r.ExpectedJournal());
    EXPECT_EQ(r.view.sizes.back(), 255u);
    for (size_t k = 1; k < r.view.sizes.size(); ++k)
        EXPECT_GE(r.view.sizes[k], r.view.sizes[k - 1]) << "the table only grows during a fetch";
}
