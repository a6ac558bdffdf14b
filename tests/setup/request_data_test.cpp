// A request's data travel with it: whatever runs between the window's
// action and the request's turn (another window's write-all, which uses
// CmdData as scratch; a console command with its own Fcb, segment and bytes)
// cannot change what goes on the wire. Real thread, protocol and link
// against the in-process simulated block, stepped from the wait loop.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "SimBus.h"
#include "link/ComPort.h"
#include "monitor/FakeAcq.h"
#include "monitor/GetDataThread.h"
#include "monitor/ProtocolAcqLink.h"
#include "setup/Rs485Setup.h"
#include "setup/SetupCbActions.h"
#include "setup/SetupUirActions.h"

namespace kestrel {
namespace {

using Bytes = std::vector<uint8_t>;

struct YesView final : ISetupCbView, ISetupUirView {
    bool AccessPrompt() override { return true; }
    MtzAnswer AskMtz() override { return MtzAnswer::Yes; }
    bool AskYesNo(const std::string&, const std::string&, PromptIcon) override { return true; }
    void Message(const std::string&, const std::string&, PromptIcon) override {}
    void ShowList(const std::vector<std::string>&, int) override {}
    void ShowValues(const TUirValueTexts&) override {}
    bool AccessGate() override { return true; }
};

enum class Between { WriteAllAhead, ConsoleCommand };

struct Rig {
    VirtualClock clock;
    sim::SimBus bus{clock};
    TGlobalState state;
    TComPort port{bus};
    test::CountingHooks hooks;
    TCbProtocol protocol{state, port, clock, hooks};
    TProtocolAcqLink link{protocol};
    TGetDataThread thread{state, link, clock, hooks};
    test::FakeWaitUi ui;
    YesView view;
    sim::TSimCb& sim;

    explicit Rig(Between between) : sim(bus.Attach(1))
    {
        TCbData& cb = *state.Cb(0);
        cb.PortNumber = 1;
        cb.Address = 1;
        state.MarkAllUirsPresent();
        // Table bytes unlike any request's data, so the write-all's scratch shows.
        for (auto& row : cb.FuncTable)
            for (auto& b : row)
                b = 0x2A;
        thread.PollState[0] = TGetDataThread::kPollEvents;
        int pauses = 0;
        if (between == Between::WriteAllAhead) {
            // Another window's "Записать конфигурацию ЦБ" holds the slot.
            cb.Request = ReqWriteAllFuncTables;
            ui.OnPause = [this] { thread.RunPass(); };
        } else {
            // The console runs a command of its own after the window's
            // action, before the thread takes the request.
            ui.OnPause = [this, pauses]() mutable {
                if (++pauses == 1) {
                    TRs485Selection s{0, 9, 7, 3, 9, 1, false};  // MTZ-3 table write, segment 9, FCB clear
                    Rs485Run(protocol, state, 0, Rs485StageCommand(state, s));
                }
                thread.RunPass();
            };
        }
    }
    PostResult Post(const PostArgs& a) { return PostRequestAndWait(state, ui, a); }

    // The last frame of kind `cmd` the PC sent (the block's answer names
    // the kind of the request it answers).
    Bytes Sent(sim::SimCmd cmd) const
    {
        Bytes last, request;
        for (const sim::TTraceRecord& t : bus.Trace()) {
            if (!t.ToPc)
                request = t.Bytes;
            else if (t.Cmd == cmd)
                last = request;
        }
        return last;
    }
};

struct Case {
    const char* name;
    sim::SimCmd cmd;
    std::function<void(Rig&)> act;
    // C, A, CI and data of the frame the action must send; C 0 = not judged
    // (the action leaves the frame-count bit as it stands).
    Bytes frame;
};

Bytes LongFrame(const Bytes& body)
{
    Bytes f{0x68, static_cast<uint8_t>(body.size()), static_cast<uint8_t>(body.size()), 0x68};
    uint8_t sum = 0;
    for (uint8_t b : body)
        sum = static_cast<uint8_t>(sum + b);
    f.insert(f.end(), body.begin(), body.end());
    f.push_back(sum);
    f.push_back(0x16);
    return f;
}

TEST(RequestData, StagedBytesReachTheWireWhateverRunsBeforeTheirTurn)
{
    auto cbActions = [](Rig& r) {
        return TSetupCbActions(r.state, r.view, [&r](const PostArgs& a) { return r.Post(a); }, [] { return 0; });
    };
    const Case cases[] = {
        {"set address 5", sim::SimCmd::SetAddress, [&](Rig& r) { cbActions(r).SetDeviceAddress(0, 4); },
         {0, 0x01, 0x4C, 0x05}},
        {"set speed 19200", sim::SimCmd::SetSpeed, [&](Rig& r) { cbActions(r).SetDeviceSpeed(0, 1); },
         {0, 0x01, 0x50, 0x01}},
        {"clock 11.12.2026 10:20:30", sim::SimCmd::WriteClock,
         [&](Rig& r) {
             TClockChoice c;
             c.YearItem = YearItemFor(2026);
             c.MonthItem = 11;
             c.DayItem = 10;
             c.Hour = 10;
             c.Minute = 20;
             c.Second = 30;
             cbActions(r).WriteClock(0, c);
         },
         {0, 0x01, 0x3C, 0x30, 0x20, 0x10, 0x11, 0x12, 0x26}},
        {"UIR 12: segment 3 with FCB", sim::SimCmd::WriteSegment,
         [](Rig& r) {
             TSetupUirActions uir(r.state, r.view, [&r](const PostArgs& a) { return r.Post(a); });
             uir.NeedAccess = false;
             uir.Show(0, 11);
             uir.WriteSegment();
         },
         {0x73, 0x01, 0x40, 0x0C, 0, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        for (Between between : {Between::WriteAllAhead, Between::ConsoleCommand}) {
            SCOPED_TRACE(std::string(c.name) + (between == Between::WriteAllAhead ? ", write-all ahead" : ", console"));
            Rig r(between);
            c.act(r);
            // The other request did run first.
            const sim::SimCmd other = sim::SimCmd::WriteTable;
            ASSERT_FALSE(r.Sent(other).empty());
            const Bytes sent = r.Sent(c.cmd);
            ASSERT_FALSE(sent.empty());
            Bytes expected = LongFrame(c.frame);
            if (c.frame[0] == 0) {
                ASSERT_GE(sent.size(), 5u);
                expected = LongFrame([&] {
                    Bytes body = c.frame;
                    body[0] = sent[4];
                    return body;
                }());
            }
            EXPECT_EQ(sent, expected);
            EXPECT_EQ(r.state.Cb(0)->Request, 0);
        }
    }
}

}  // namespace
}  // namespace kestrel
