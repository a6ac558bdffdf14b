// The central-block setup window against a block simulated in process
// (address 1 on COM1) behind the real port, protocol and acquisition thread:
// the opener from the CB tile, the access gate, the function-table editor,
// the factory configuration, the clock on the wire and the service keys.
//
// The link is paced on a virtual clock; only the thread's 10 ms pauses and
// the windows' pauses between looks at the request slot are real.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <deque>

#include "SimBus.h"
#include "journal/ui/HistoryForm.h"
#include "link/ComPort.h"
#include "monitor/ProtocolAcqLink.h"
#include "monitor/ui/MessageForm.h"
#include "monitor/ui/Tiles.h"
#include "protocol/Protocol.h"
#include "setup/ui/SetupCbForm.h"
#include "setup/ui/SetupUirForm.h"
#include "ui/SimAcquisition.h"
#include "ui/UiTestSupport.h"

using namespace kestrel;
using namespace kestrel::test;

namespace {

constexpr int kWaitMs = 20000;  // only a guard against a hang

struct Prompt final : IPrompt {
    std::deque<bool> access, yesNo;
    std::vector<std::string> log;
    bool AskYesNo(const std::string& text, const std::string&, PromptIcon) override
    {
        log.push_back("ask:" + text);
        return Pop(yesNo);
    }
    void Message(const std::string& text, const std::string&, PromptIcon) override
    {
        log.push_back("message:" + text);
    }
    bool ChangeCodeDialog(std::string&) override { return false; }
    bool AccessPrompt() override
    {
        log.push_back("access");
        return Pop(access);
    }
    bool ChooseConfigFile(std::string&) override { return false; }
    static bool Pop(std::deque<bool>& q)
    {
        if (q.empty())
            return false;
        const bool v = q.front();
        q.pop_front();
        return v;
    }
};

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

struct Rig {
    VirtualClock clock;
    sim::SimBus bus{clock};
    sim::TSimCb& sim;
    TGlobalState state;
    TempStore temp;
    Prompt prompt;
    std::unique_ptr<TMainForm> form;
    THistoryForm* history = nullptr;
    TSetupCbForm* setup = nullptr;
    TSetupUirForm* uirForm = nullptr;

    Rig() : sim(bus.Attach(1, {})) {}

    AcquisitionFactory Factory()
    {
        return test::SimBusAcquisition(bus, clock);
    }

    bool Start()
    {
        TGlobalState seed;
        seed.Cb(0)->Address = 1;
        seed.Cb(0)->PortNumber = 1;
        if (!temp.Seed(seed))
            return false;
        form = std::make_unique<TMainForm>(state, *temp.store, prompt);
        history = new THistoryForm(state, form->WaitUi(), form.get());
        AttachHistoryForm(*form, *history);
        uirForm = AttachSetupUirForm(*form, state);
        setup = AttachSetupCbWindows(*form, state);
        if (form->Startup(Factory()) != StartupResult::Continue)
            return false;
        form->show();
        if (!QTest::qWaitForWindowExposed(form.get()))
            return false;
        return QTest::qWaitFor([this] { return state.Cb(0)->FirstPollPending == 0; }, kWaitMs);
    }

    // The operator's left click on the CB tile.
    void ClickCbTile() { form->CBMouseDown(form->CbTile(), Qt::LeftButton, Qt::NoModifier, QPoint(2, 2)); }

    TCbData& Cb() { return *state.Cb(0); }

    ~Rig()
    {
        if (form)
            form->close();
    }
};

QString Cells(TSetupCbForm& f, int k)
{
    QString s;
    for (QLabel* c : f.Cell[static_cast<size_t>(k)])
        s += c->text();
    return s;
}

}  // namespace

class SetupCbTest : public QObject {
    Q_OBJECT
private slots:
    void tileClickReadsTheTablesAndShowsEachPanelByMode();
    void refusedCodeLeavesTickAndEnabled();
    void editorSetsExactlyOneBitAndCancelKeepsTheTables();
    void dayListFollowsMonthAndLeapYear();
    void factoryConfigurationThatFailsOnWriteReadsNothingBack();
    void clockGoesOutInPackedBcd();
    void serviceKeysInBothLayouts();
    void uirButtonOpensTheUirWindowAndReadsItsConfiguration();
    void openedFromTheConfigurationWindowAsksNoCode();
    void failedSaveIsReportedAndTheRecordKeepsTheChange();
};

void SetupCbTest::tileClickReadsTheTablesAndShowsEachPanelByMode()
{
    Rig r;
    r.sim.SetTableWire(0, 2, static_cast<uint8_t>(~0x05));
    r.sim.SetTableWire(3, 2, static_cast<uint8_t>(~0x2A));
    r.sim.SetTableWire(3, 0, static_cast<uint8_t>(~0x3F));
    r.sim.SetTableWire(0, 0, 0xFF);
    r.sim.SetUrovUnits(4);
    r.sim.SetMtzWaitByte(0);
    QVERIFY(r.Start());
    const uint32_t readsBefore = r.sim.RequestCount(sim::SimCmd::ReadTable);

    // The longest stall of the event loop while the read waits, beside the
    // longest of an idle loop over the same time in the same run (the
    // machine's own scheduling noise). The window is laid out once before.
    r.setup->show();
    r.setup->hide();
    QElapsedTimer gap, total;
    qint64 longest = 0;
    QTimer tick;
    tick.setInterval(5);
    QObject::connect(&tick, &QTimer::timeout, [&] { longest = std::max(longest, gap.restart()); });
    const uint64_t virtualBefore = r.clock.NowMs();
    gap.start();
    total.start();
    tick.start();
    r.ClickCbTile();
    tick.stop();
    const qint64 wall = total.elapsed();
    const qint64 busyLongest = longest;
    longest = 0;
    gap.restart();
    tick.start();
    QTest::qWait(static_cast<int>(std::max<qint64>(wall, 50)));
    tick.stop();
    const qint64 idleLongest = longest;
    qInfo("CB tile to tables shown: %lld ms wall, %llu ms of paced link waits; longest event-loop stall %lld ms "
          "(idle loop %lld ms)",
          static_cast<long long>(wall), static_cast<unsigned long long>(r.clock.NowMs() - virtualBefore),
          static_cast<long long>(busyLongest), static_cast<long long>(idleLongest));
    // Only a loop that stood still is judged: on a busy machine a single
    // slice of preemption alone can pass 50 ms, and the figures are printed.
    QVERIFY(busyLongest < 500 + idleLongest);

    TSetupCbForm& f = *r.setup;
    QVERIFY(f.isVisible());
    QVERIFY(f.NeedAccess());
    QCOMPARE(r.sim.RequestCount(sim::SimCmd::ReadTable) - readsBefore, 4u);
    QVERIFY(r.prompt.log.empty());
    QCOMPARE(f.UrovText->text(), QStringLiteral("200"));
    QCOMPARE(f.MtzText->text(), QStringLiteral("Не ждать"));
    QVERIFY(f.CheckBox1->isChecked());
    QCOMPARE(f.ComboBox1->currentText(), QStringLiteral("1"));
    QCOMPARE(Cells(f, 2), QStringLiteral("101000"));  // 0x05, mode 0, port 1 first
    QCOMPARE(Cells(f, 0), QStringLiteral("000000"));
    // F: 2 to "МТЗ: 3": its bits of mode 3; the other panels stay.
    f.ModeList[2]->setCurrentIndex(3);
    emit f.ModeList[2]->activated(3);
    QCOMPARE(Cells(f, 2), QStringLiteral("010101"));
    QCOMPARE(Cells(f, 0), QStringLiteral("000000"));
    f.ModeList[0]->setCurrentIndex(3);
    emit f.ModeList[0]->activated(3);
    QCOMPARE(Cells(f, 0), QStringLiteral("111111"));
    QCOMPARE(r.sim.RequestCount(sim::SimCmd::ReadTable) - readsBefore, 4u);  // nothing read for a panel
}

void SetupCbTest::refusedCodeLeavesTickAndEnabled()
{
    Rig r;
    QVERIFY(r.Start());
    r.ClickCbTile();
    TSetupCbForm& f = *r.setup;
    r.prompt.access = {false};
    f.CheckBox1->click();
    QVERIFY(f.CheckBox1->isChecked());
    QCOMPARE(int(r.Cb().Enabled), 1);
    QCOMPARE(r.prompt.log, std::vector<std::string>{"access"});

    // Address "255": memory only, shown again on the next opening.
    r.prompt.access = {true};
    f.ComboBox1->setCurrentIndex(kAddressItem255);
    emit f.ComboBox1->activated(kAddressItem255);
    QCOMPARE(int(r.Cb().Address), 255);
    f.hide();
    QVERIFY(!f.NeedAccess());
    r.Cb().Address = 1;  // back, so the link keeps working
    r.ClickCbTile();
    QCOMPARE(f.ComboBox1->currentText(), QStringLiteral("1"));
}

void SetupCbTest::editorSetsExactlyOneBitAndCancelKeepsTheTables()
{
    Rig r;
    QVERIFY(r.Start());
    r.ClickCbTile();
    TSetupCbForm& f = *r.setup;
    for (size_t k = 0; k < 4; ++k)
        for (size_t m = 0; m < 4; ++m)
            r.Cb().FuncTable[k][m] = static_cast<uint8_t>(0xC0 | ((k * 4 + m) & 0x3B));  // bit 2 clear
    const TFuncBytes before = CopyFuncTable(r.Cb());

    // Cancel after edits: nothing changes.
    r.prompt.access = {true, true};
    f.bbChFuncCb->click();
    TCbSetFuncForm& e = *f.CbSetFuncForm;
    QVERIFY(e.isVisible());
    e.Port[0][0]->setCurrentIndex(1);
    emit e.Port[0][0]->activated(1);
    e.bbCancel->click();
    QVERIFY(!e.isVisible());
    f.Timer1Timer();
    QVERIFY(CopyFuncTable(r.Cb()) == before);

    // F: 1, "МТЗ: 2", port 3 to "1", confirm: bit 2 of [1][2] only.
    f.bbChFuncCb->click();
    e.Mode[1]->setCurrentIndex(2);
    emit e.Mode[1]->activated(2);
    e.Port[1][2]->setCurrentIndex(1);
    emit e.Port[1][2]->activated(1);
    e.bbOk->click();
    TFuncBytes expected = before;
    expected[1][2] = static_cast<uint8_t>(before[1][2] | 0x04);
    QVERIFY(CopyFuncTable(r.Cb()) == expected);
    // The timer takes the result over: the panel and the file.
    f.ModeList[1]->setCurrentIndex(2);
    emit f.ModeList[1]->activated(2);
    QTRY_VERIFY_WITH_TIMEOUT(!e.Confirmed, 2000);
    QCOMPARE(Cells(f, 1), QStringLiteral("011000"));  // 0xC2 | 0x04
    std::vector<TCbSettings> saved;
    QCOMPARE(LoadConfigFile(std::string(r.state.CfgFilePath), saved), 0);
    QCOMPARE(int(saved[0].FuncTable[1][2]), int(expected[1][2]));
    QCOMPARE(r.prompt.log, (std::vector<std::string>{"access", "access"}));
}

void SetupCbTest::dayListFollowsMonthAndLeapYear()
{
    Rig r;
    TMainForm main(r.state, *r.temp.store, r.prompt);
    TSetupCbForm f(r.state, main, &main);
    TSetDateTimeForm& d = *f.SetDateTimeForm;
    struct Case {
        int yearItem, toMonth, days, day;
    };
    // From 31 March.
    for (const Case& c : {Case{13, 3, 30, 30}, Case{12, 1, 28, 28}, Case{13, 1, 29, 29}}) {
        TClockChoice start;
        start.YearItem = c.yearItem;
        start.MonthItem = 2;
        start.DayItem = 30;
        d.Preset(start);
        QCOMPARE(d.Day->currentText(), QStringLiteral("31"));
        d.Month->setCurrentIndex(c.toMonth);
        QCOMPARE(d.Day->count(), c.days);
        QCOMPARE(d.Day->currentText(), QString::number(c.day));
    }
    // Another year with February kept rebuilds; with April it does not.
    d.Year->setCurrentIndex(12);
    QCOMPARE(d.Day->count(), 28);
    d.Month->setCurrentIndex(3);
    d.Day->setCurrentIndex(14);
    d.Year->setCurrentIndex(13);
    QCOMPARE(d.Day->count(), 30);
    QCOMPARE(d.Day->currentIndex(), 14);
    // A PC year outside the list leaves no year, and confirming is refused.
    TClockChoice none;
    none.YearItem = YearItemFor(2051);
    d.Preset(none);
    QCOMPARE(d.Year->currentIndex(), -1);
}

void SetupCbTest::factoryConfigurationThatFailsOnWriteReadsNothingBack()
{
    Rig r;
    QVERIFY(r.Start());
    r.ClickCbTile();
    TSetupCbForm& f = *r.setup;
    sim::TFaultRule rule;
    rule.Kind = sim::FaultKind::Ignore;
    rule.Cmd = sim::SimCmd::WriteTable;
    r.sim.Inject(rule);
    const uint32_t reads = r.sim.RequestCount(sim::SimCmd::ReadTable);
    r.prompt.access = {true};
    r.prompt.log.clear();
    f.bbSetInitCfg->click();
    QCOMPARE(r.prompt.log, (std::vector<std::string>{"access", "message:Ошибка записи данных в ЦБ"}));
    QCOMPARE(r.sim.RequestCount(sim::SimCmd::ReadTable), reads);
    QCOMPARE(r.sim.RequestCount(sim::SimCmd::WriteTable), 100u);  // the attempts of the first mode
    QCOMPARE(int(r.Cb().FuncWriteError), 0);

    // Working link: the defaults reach the block and come back.
    r.sim.ClearFaults();
    r.sim.SetTableWire(1, 3, 0x00);
    r.prompt.access = {true};
    r.prompt.log.clear();
    f.bbSetInitCfg->click();
    QCOMPARE(r.prompt.log, std::vector<std::string>{"access"});
    QCOMPARE(int(r.sim.TableWire(1, 3)), 0xFF);
    QCOMPARE(int(r.sim.UrovUnits()), 10);
    QCOMPARE(int(r.sim.MtzWaitByte()), 1);
    QCOMPARE(f.MtzText->text(), QStringLiteral("Ждать"));
    QCOMPARE(f.UrovText->text(), QStringLiteral("500"));
}

void SetupCbTest::clockGoesOutInPackedBcd()
{
    Rig r;
    QVERIFY(r.Start());
    r.ClickCbTile();
    TSetupCbForm& f = *r.setup;
    r.prompt.access = {true};
    r.bus.ClearTrace();
    QTimer::singleShot(0, [&] {
        TSetDateTimeForm& d = *f.SetDateTimeForm;
        TClockChoice c;
        c.YearItem = 6;  // 2013
        c.MonthItem = 9;
        c.DayItem = 1;
        c.Hour = 17;
        c.Minute = 30;
        c.Second = 5;
        d.Preset(c);
        d.bbOk->click();
    });
    f.bbSetDateTime->click();
    QVERIFY(!f.SetDateTimeForm->isVisible());
    std::vector<std::vector<uint8_t>> writes;
    for (const sim::TRequest& q : PcFrames(r.bus.Trace()))
        if (sim::ClassifyRequest(q) == sim::SimCmd::WriteClock)
            writes.push_back(q.Raw);
    QCOMPARE(writes.size(), size_t(1));
    const std::vector<uint8_t> raw = writes[0];
    QCOMPARE(raw.size(), size_t(15));
    QCOMPARE(std::vector<uint8_t>(raw.begin() + 7, raw.begin() + 13),
             (std::vector<uint8_t>{0x05, 0x30, 0x17, 0x02, 0x10, 0x13}));
    QCOMPARE(r.sim.ClockNow().Year, 2013);
    QCOMPARE(r.sim.ClockNow().Month, 10);

    // Cancelled: nothing sent.
    r.prompt.access = {true};
    r.bus.ClearTrace();
    QTimer::singleShot(0, [&] { f.SetDateTimeForm->bbCancel->click(); });
    f.bbSetDateTime->click();
    for (const sim::TRequest& q : PcFrames(r.bus.Trace()))
        QVERIFY(sim::ClassifyRequest(q) != sim::SimCmd::WriteClock);
}

void SetupCbTest::serviceKeysInBothLayouts()
{
    Rig r;
    QVERIFY(r.Start());
    r.ClickCbTile();
    TSetupCbForm& f = *r.setup;
    QVERIFY(!r.form->ServiceButtonsVisible());
    QVERIFY(!f.StopClockVisible());
    QVERIFY(!r.history->ClearButtonVisible());

    // Latin M, then Russian "ь" (the same key) delivered to a list inside the window.
    QTest::keyClick(&f, Qt::Key_M, Qt::ControlModifier);
    QVERIFY(r.form->ServiceButtonsVisible());
    QKeyEvent softSign(QEvent::KeyPress, 0x42C, Qt::ControlModifier, QStringLiteral("ь"));
    QApplication::sendEvent(f.ComboBox1, &softSign);
    QVERIFY(!r.form->ServiceButtonsVisible());

    QTest::keyClick(&f, Qt::Key_V, Qt::ControlModifier);
    QVERIFY(f.StopClockVisible());
    QVERIFY(!f.StaticText1->isHidden());
    QVERIFY(r.history->ClearButtonVisible());
    QKeyEvent em(QEvent::KeyPress, 0x41C, Qt::ControlModifier, QStringLiteral("м"));
    QApplication::sendEvent(f.ModeList[1], &em);
    QVERIFY(!f.StopClockVisible());
    QVERIFY(!r.history->ClearButtonVisible());

    // Without Ctrl the letters do nothing.
    QTest::keyClick(&f, Qt::Key_V);
    QVERIFY(!f.StopClockVisible());
    QCOMPARE(r.sim.RequestCount(sim::SimCmd::StopClock), 0u);
}

void SetupCbTest::uirButtonOpensTheUirWindowAndReadsItsConfiguration()
{
    Rig r;
    QVERIFY(r.Start());
    r.ClickCbTile();
    TSetupCbForm& f = *r.setup;
    const uint32_t before = r.sim.RequestCount(sim::SimCmd::ReadSegment);
    f.bbSetupUir->click();
    QVERIFY(r.uirForm->isVisible());
    QVERIFY(r.sim.RequestCount(sim::SimCmd::ReadSegment) > before);
    QVERIFY(!r.form->MessageForm()->isVisible());
    QVERIFY(r.prompt.log.empty());  // no code asked, no failure

    // A block that does not answer: the failure is reported once.
    sim::TFaultRule rule;
    rule.Kind = sim::FaultKind::Ignore;
    rule.Cmd = sim::SimCmd::ReadSegment;
    r.sim.Inject(rule);
    f.bbSetupUir->click();
    QCOMPARE(r.prompt.log, std::vector<std::string>{"message:Ошибка получения конфигурации УИР"});
    QCOMPARE(int(r.Cb().UirReadError), 0);
}

void SetupCbTest::openedFromTheConfigurationWindowAsksNoCode()
{
    Rig r;
    r.sim.SetUrovUnits(3);
    QVERIFY(r.Start());
    const uint32_t reads = r.sim.RequestCount(sim::SimCmd::ReadTable);
    TSetupCbForm& f = *r.setup;
    f.OpenFromCfg();
    QVERIFY(f.isVisible());
    QVERIFY(!f.NeedAccess());
    QCOMPARE(r.sim.RequestCount(sim::SimCmd::ReadTable) - reads, 4u);
    QCOMPARE(f.UrovText->text(), QStringLiteral("150"));
    f.CheckBox1->click();  // unticked with no code asked
    QCOMPARE(int(r.Cb().Enabled), 0);
    QVERIFY(r.prompt.log.empty());
    // Served no more: "Сброс устройства" posts nothing and says nothing.
    f.bbResetCb->click();
    QCOMPARE(r.sim.RequestCount(sim::SimCmd::ResetCb), 0u);
    QVERIFY(r.prompt.log.empty());
    // A failure the last automatic re-read left is reported by this opener
    // as by the tile's, once, and nothing is posted.
    for (const bool fromTile : {false, true}) {
        r.Cb().FuncReadError = 1;
        const uint32_t before = r.sim.RequestCount(sim::SimCmd::ReadTable);
        for (int i = 0; i < 2; ++i) {
            if (fromTile)
                r.ClickCbTile();
            else
                f.OpenFromCfg();
        }
        QCOMPARE(r.prompt.log, std::vector<std::string>{"message:Ошибка получения конфигурации ЦБ"});
        QCOMPARE(int(r.Cb().FuncReadError), 0);
        QCOMPARE(r.sim.RequestCount(sim::SimCmd::ReadTable), before);
        r.prompt.log.clear();
    }
}

void SetupCbTest::failedSaveIsReportedAndTheRecordKeepsTheChange()
{
    Rig r;
    QVERIFY(r.Start());
    r.ClickCbTile();
    TSetupCbForm& f = *r.setup;
    r.state.CfgFilePath = r.temp.Path("missing-folder/1.cfg");
    r.prompt.access = {true, true};
    f.bbSaveUirCfg->click();
    f.ComboBox1->setCurrentIndex(4);
    emit f.ComboBox1->activated(4);
    QCOMPARE(r.prompt.log, (std::vector<std::string>{"access", "message:Ошибка записи файла конфигурации!", "access",
                                                      "message:Ошибка записи файла конфигурации!"}));
    QCOMPARE(int(r.Cb().Address), 5);
    QCOMPARE(f.ComboBox1->currentText(), QStringLiteral("5"));
}

QTEST_MAIN(SetupCbTest)
#include "tst_setup_cb.moc"
