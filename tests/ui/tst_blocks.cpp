// Two central blocks on one line, simulated in process (addresses 1 and 2 on
// COM1), behind the real port, protocol and acquisition thread: the shown
// block, the marks of the block list, the status-bar line, and where the
// operator's actions land, checked on the wire.
//
// The link is paced on a virtual clock; only the thread's own 10 ms pauses
// between visits are real. Every check waits for a state to be reached, never
// for a count of passes.
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

#include "SimBus.h"
#include "SimAcquisition.h"
#include "UiTestSupport.h"
#include "journal/JournalRows.h"
#include "journal/ui/HistoryForm.h"
#include "link/ComPort.h"
#include "monitor/ProtocolAcqLink.h"
#include "monitor/ui/Tiles.h"
#include "protocol/Protocol.h"
#include "state/Cp1251.h"

using namespace kestrel;
using namespace kestrel::test;

namespace {

constexpr int kWaitMs = 20000;  // only a guard against a hang

// Questions answered by a script; `onAsk` runs while the question is open.
struct CallbackPrompt final : IPrompt {
    std::vector<std::string> asked, messages;
    bool answer = true;
    std::function<void()> onAsk;
    bool AskYesNo(const std::string& text, const std::string&, PromptIcon) override
    {
        asked.push_back(text);
        if (onAsk)
            onAsk();
        return answer;
    }
    void Message(const std::string& text, const std::string&, PromptIcon) override { messages.push_back(text); }
    bool ChangeCodeDialog(std::string&) override { return false; }
    bool AccessPrompt() override { return false; }
    bool ChooseConfigFile(std::string&) override { return false; }
};

// The frames the PC sent, as the blocks' side cuts them.
std::vector<sim::TRequest> PcFrames(const std::vector<sim::TTraceRecord>& trace)
{
    std::vector<sim::TRequest> out;
    sim::TFrameParser parser;
    for (const auto& r : trace) {
        if (r.ToPc)
            continue;
        sim::TRequest req;
        for (uint8_t b : r.Bytes)
            if (parser.Feed(b, req))
                out.push_back(req);
    }
    return out;
}

QColor Centre(const QIcon& icon)
{
    return QColor(icon.pixmap(14, 14).toImage().pixel(7, 7));
}

// The installation: blocks "ЦБ 1" and "ЦБ 2" at addresses 1 and 2, both on
// COM1, every UIR present; UIR 5 polled with its inputs monitored.
struct Rig {
    VirtualClock clock;
    sim::SimBus bus{clock};
    sim::TSimCb& sim1;
    sim::TSimCb& sim2;
    TGlobalState state;
    TempStore temp;
    CallbackPrompt prompt;
    std::unique_ptr<TMainForm> form;

    static sim::TSimCbOptions At(uint8_t address)
    {
        sim::TSimCbOptions o;
        o.Address = address;
        return o;
    }

    Rig() : sim1(bus.Attach(1, At(1))), sim2(bus.Attach(1, At(2)))
    {
        for (sim::TSimCb* s : {&sim1, &sim2})
            s->ConfigureUir(5, true, true, 0, 1, 2, true, true, true);
    }

    bool Seed()
    {
        TGlobalState seed;
        seed.CbCount = 2;
        if (!seed.EnsureAllocated(2))
            return false;
        for (int i = 0; i < 2; ++i) {
            TCbData& cb = *seed.Cb(i);
            cb.Name = W1251(i == 0 ? "ЦБ 1" : "ЦБ 2");
            cb.Address = static_cast<uint8_t>(i + 1);
            cb.PortNumber = 1;
            for (int u = 0; u < kUirCount; ++u) {
                cb.Uir[u].Present = 1;
                cb.Uir[u].Number = static_cast<uint8_t>(u + 1);
            }
            cb.Uir[4].PollEnabled = 1;
        }
        return temp.Seed(seed);
    }

    AcquisitionFactory Factory()
    {
        return test::SimBusAcquisition(bus, clock);
    }

    // Start-up as the program runs it, then the window shown, then both
    // blocks' first polls.
    bool Start()
    {
        if (!Seed())
            return false;
        form = std::make_unique<TMainForm>(state, *temp.store, prompt);
        if (form->Startup(Factory()) != StartupResult::Continue)
            return false;
        form->show();
        if (!QTest::qWaitForWindowExposed(form.get()))
            return false;
        return QTest::qWaitFor([this] {
            return state.Cb(0)->FirstPollPending == 0 && state.Cb(1)->FirstPollPending == 0;
        }, kWaitMs);
    }

    ~Rig()
    {
        if (form)
            form->close();
    }
};

}  // namespace

class BlocksTest : public QObject {
    Q_OBJECT
private slots:
    void listShowsEveryBlockByNumberAndName();
    void arcOnTheBlockNotShownMarksItAndLeavesTheShownTiles();
    void resetGoesToTheShownBlockOnlyOnTheWire();
    void lostLinkMarksTheEntryMagenta();
    void journalWindowFollowsTheShownBlock();
};

void BlocksTest::listShowsEveryBlockByNumberAndName()
{
    Rig r;
    QVERIFY(r.Start());
    TMainForm& f = *r.form;
    QVERIFY(f.CbListShown());
    QCOMPARE(f.CbList()->count(), 2);
    QCOMPARE(f.CbList()->itemText(0), QStringLiteral("1: ЦБ 1"));
    QCOMPARE(f.CbList()->itemText(1), QStringLiteral("2: ЦБ 2"));
    QCOMPARE(f.CbList()->currentIndex(), 0);
    QCOMPARE(f.CbTile()->Number(), 1);
    // Both blocks polled and quiet: white circles, nothing in the status bar.
    f.Timer1Timer();
    QCOMPARE(Centre(f.CbList()->itemIcon(0)), TTileBase::White);
    QCOMPARE(Centre(f.CbList()->itemIcon(1)), TTileBase::White);
    QCOMPARE(f.AlarmLine()->text(), QString());
}

// An arc on block 2 while block 1 is shown: block 2's entry turns red, the
// status bar names it, a minimised window comes back, block 1's tiles stay
// quiet. Choosing block 2 shows its red tiles at once.
void BlocksTest::arcOnTheBlockNotShownMarksItAndLeavesTheShownTiles()
{
    Rig r;
    QVERIFY(r.Start());
    TMainForm& f = *r.form;
    f.showMinimized();
    QVERIFY(f.isMinimized());
    QVERIFY(r.sim2.RaiseArc(5, 2, 4, 1));
    QTRY_COMPARE_WITH_TIMEOUT(f.BlockMark(1), TCbMark::Alarm, kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(!f.isMinimized(), kWaitMs);
    QCOMPARE(f.BlockMark(0), TCbMark::None);
    QCOMPARE(Centre(f.CbList()->itemIcon(1)), TTileBase::Red);
    QCOMPARE(Centre(f.CbList()->itemIcon(0)), TTileBase::White);
    QCOMPARE(f.AlarmLine()->text(), QStringLiteral("Дуга: ЦБ 2"));
    // Block 1 on screen: untouched.
    QCOMPARE(int(r.state.ShownCb), 0);
    QCOMPARE(f.Tile(4)->ChStatus2(), 1);
    QCOMPARE(f.CbTile()->ArcStatus(), 1);
    QCOMPARE(int(r.state.Cb(0)->Uir[4].ChArc2), 0);

    // The operator picks block 2 in the list (keyboard on the list).
    f.CbList()->setFocus();
    QTest::keyClick(f.CbList(), Qt::Key_Down);
    QCOMPARE(int(r.state.ShownCb), 1);
    QCOMPARE(f.Tile(4)->ChStatus2(), 2);
    QCOMPARE(f.CbTile()->ArcStatus(), 2);  // arc with MTZ
    QCOMPARE(f.CbTile()->Number(), 2);
    QCOMPARE(f.CbTile()->NumberBox()->text(), QStringLiteral("2"));
    QCOMPARE(QColor(f.Tile(4)->grab().toImage().pixel(11, 44)), TTileBase::Red);
    // ... and so it stays on the status ticks.
    f.Timer1Timer();
    QCOMPARE(f.Tile(4)->ChStatus2(), 2);
    QCOMPARE(f.AlarmLine()->text(), QStringLiteral("Дуга: ЦБ 2"));

    // Ctrl+PgUp steps back to block 1, whose tiles are quiet again.
    f.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&f));
    QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget*>(&f));
    QTest::keyClick(&f, Qt::Key_PageUp, Qt::ControlModifier);
    QCOMPARE(int(r.state.ShownCb), 0);
    QCOMPARE(f.CbList()->currentIndex(), 0);
    QCOMPARE(f.Tile(4)->ChStatus2(), 1);
    QCOMPARE(f.CbTile()->ArcStatus(), 1);
    QCOMPARE(f.CbTile()->Number(), 1);
    // Ctrl+PgDn goes round: 1 -> 2 -> 1.
    QTest::keyClick(&f, Qt::Key_PageDown, Qt::ControlModifier);
    QCOMPARE(int(r.state.ShownCb), 1);
    QTest::keyClick(&f, Qt::Key_PageDown, Qt::ControlModifier);
    QCOMPARE(int(r.state.ShownCb), 0);
}

// "Сброс устройства" with block 2 shown resets block 2 only, even when the
// operator switches to block 1 while the question is open. The reset event
// at the head of block 2's list then clears its mark.
void BlocksTest::resetGoesToTheShownBlockOnlyOnTheWire()
{
    Rig r;
    QVERIFY(r.Start());
    TMainForm& f = *r.form;
    QVERIFY(r.sim2.RaiseSensorFault(5, 1));  // a failure, outputs not switched
    QTRY_COMPARE_WITH_TIMEOUT(f.BlockMark(1), TCbMark::Alarm, kWaitMs);
    QCOMPARE(f.AlarmLine()->text(), QStringLiteral("Отказ: ЦБ 2"));
    f.ShowCb(1);
    QCOMPARE(f.Tile(4)->ChStatus1(), 3);

    r.prompt.onAsk = [&] { f.ShowCb(0); };
    r.bus.ClearTrace();
    f.mmResetCb->trigger();
    QCOMPARE(r.prompt.asked.size(), size_t(1));
    QCOMPARE(r.prompt.asked[0], std::string("Внимание! Будет выполнен сброс дуговой защиты! Продолжить?"));
    QVERIFY(r.prompt.messages.empty());
    QCOMPARE(r.sim2.RequestCount(sim::SimCmd::ResetCb), 1u);
    QCOMPARE(r.sim1.RequestCount(sim::SimCmd::ResetCb), 0u);
    int resets = 0;
    for (const sim::TRequest& req : PcFrames(r.bus.Trace())) {
        if (sim::ClassifyRequest(req) != sim::SimCmd::ResetCb)
            continue;
        ++resets;
        QCOMPARE(int(req.A), 2);
    }
    QCOMPARE(resets, 1);

    QTRY_COMPARE_WITH_TIMEOUT(f.BlockMark(1), TCbMark::None, kWaitMs);
    QCOMPARE(f.AlarmLine()->text(), QString());
    QCOMPARE(int(r.state.Cb(1)->Uir[4].ChFault1), 0);
}

void BlocksTest::lostLinkMarksTheEntryMagenta()
{
    Rig r;
    QVERIFY(r.Start());
    TMainForm& f = *r.form;
    r.state.Cb(1)->FailLimit = 2;  // the third failure marks the link lost
    r.sim2.SetSilent(true);
    QTRY_COMPARE_WITH_TIMEOUT(f.BlockMark(1), TCbMark::LinkLost, kWaitMs);
    QCOMPARE(Centre(f.CbList()->itemIcon(1)), TTileBase::Magenta);
    QCOMPARE(f.AlarmLine()->text(), QStringLiteral("Нет связи: ЦБ 2"));
    QCOMPARE(f.CbTile()->PowerStatus(), 1);  // block 1 on screen is served
    r.sim2.SetSilent(false);
    QTRY_COMPARE_WITH_TIMEOUT(f.BlockMark(1), TCbMark::None, kWaitMs);
    QCOMPARE(Centre(f.CbList()->itemIcon(1)), TTileBase::White);
    QCOMPARE(f.AlarmLine()->text(), QString());
}

// The journal window shows the block on screen and follows a change at once;
// its fetch reads the journal of the block shown.
void BlocksTest::journalWindowFollowsTheShownBlock()
{
    Rig r;
    // Journals of 3 and 5 records (power off and on), no reset among them.
    for (int k = 0; k < 5; ++k) {
        sim::TSimEvent e{static_cast<uint8_t>(k % 2 ? 0xD0 : 0xD1)};
        e.TimeMs = 1000000 - 60000 * k;
        if (k < 3)
            r.sim1.AddJournalRecord(e);
        r.sim2.AddJournalRecord(e);
    }
    QVERIFY(r.Seed());
    r.form = std::make_unique<TMainForm>(r.state, *r.temp.store, r.prompt);
    auto* journal = new THistoryForm(r.state, r.form->WaitUi(), r.form.get());
    AttachHistoryForm(*r.form, *journal);
    QCOMPARE(r.form->Startup(r.Factory()), StartupResult::Continue);
    r.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(r.form.get()));
    QTRY_VERIFY_WITH_TIMEOUT(r.state.Cb(0)->FirstPollPending == 0 && r.state.Cb(1)->FirstPollPending == 0, kWaitMs);
    TMainForm& f = *r.form;
    const auto rows = [&](int cb) { return RenderJournal(r.state.Cb(cb)->Events); };
    QCOMPARE(rows(0).size(), size_t(3));
    QCOMPARE(rows(1).size(), size_t(5));

    f.ToolButton4->trigger();
    QVERIFY(journal->isVisible());
    QCOMPARE(journal->StringGrid1->rowCount(), int(rows(0).size()));
    f.ShowCb(1);
    QCOMPARE(journal->Actions().Rows(), rows(1));
    QCOMPARE(journal->StringGrid1->rowCount(), int(rows(1).size()));

    // "Обновить список событий" with block 2 on screen reads block 2's journal.
    const uint32_t before1 = r.sim1.RequestCount(sim::SimCmd::ReadJournal);
    const uint32_t before2 = r.sim2.RequestCount(sim::SimCmd::ReadJournal);
    QTest::mouseClick(journal->bbGetListEvents, Qt::LeftButton);
    QCOMPARE(r.sim1.RequestCount(sim::SimCmd::ReadJournal), before1);
    QVERIFY(r.sim2.RequestCount(sim::SimCmd::ReadJournal) > before2);
    QCOMPARE(rows(1).size(), size_t(5));
    QCOMPARE(journal->Actions().Rows(), rows(1));
    QCOMPARE(journal->StringGrid1->rowCount(), 5);
    QCOMPARE(journal->StringGrid1->item(4, 1)->text(), QStringLiteral("D1"));

    // Back to block 1 by the keys, pressed in the journal window itself.
    journal->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(journal));
    QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget*>(journal));
    QTest::keyClick(journal->StringGrid1, Qt::Key_PageUp, Qt::ControlModifier);
    QCOMPARE(int(r.state.ShownCb), 0);
    QCOMPARE(f.CbList()->currentIndex(), 0);
    QCOMPARE(journal->Actions().Rows(), rows(0));
}

QTEST_MAIN(BlocksTest)
#include "tst_blocks.moc"
