// The UIR setup window offscreen against the in-process simulated block,
// through the real protocol, link and acquisition pass on a virtual clock:
// what reaches the wire, what comes back, what the operator sees.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include "SimBus.h"
#include "link/ComPort.h"
#include "monitor/GetDataThread.h"
#include "monitor/PostRequest.h"
#include "monitor/ProtocolAcqLink.h"
#include "protocol/Protocol.h"
#include "setup/ui/ChSetupUirForm.h"
#include "setup/ui/SetupUirForm.h"
#include "setup/ui/UirListForm.h"
#include "state/ConfigFile.h"

using namespace kestrel;
using namespace kestrel::sim;

namespace {

// The window's wait loop: each look at the slot lets the acquisition pass run.
struct LoopUi final : IWaitUi {
    TGetDataThread* thread = nullptr;
    QStringList errors;
    QStringList waits;
    void ShowWait(const std::string& t) override { waits << QString::fromStdString(t); }
    void CloseWait() override {}
    void ProcessEvents() override
    {
        QCoreApplication::processEvents();
        thread->RunPass();
    }
    void Pause(uint32_t) override {}
    void ShowError(const std::string& t, const std::string&) override { errors << QString::fromStdString(t); }
};

class ScriptedForm : public TSetupUirForm {
public:
    using TSetupUirForm::TSetupUirForm;
    bool answer = true;
    QStringList questions, messages;
    bool AskYesNo(const std::string& t, const std::string&, PromptIcon) override
    {
        questions << QString::fromStdString(t);
        return answer;
    }
    void Message(const std::string& t, const std::string&, PromptIcon) override
    {
        messages << QString::fromStdString(t);
    }
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
    LoopUi ui;
    int prompts = 0;
    bool grant = true;
    QTemporaryDir dir;
    ScriptedForm form{state, [this](const PostArgs& a) { return PostRequestAndWait(state, ui, a); },
                      [this] {
                          ++prompts;
                          return grant;
                      }};

    Rig() : sim(bus.Attach(1, {}))
    {
        thread.PollPeriod = 1 << 30;
        ui.thread = &thread;
        state.CfgFilePath = dir.filePath("kestrel.cfg").toStdString();
        form.Timer1->stop();  // ticks are driven by the tests
    }
    TUirData& uir(int n) { return state.Cb(0)->Uir[static_cast<size_t>(n - 1)]; }
    void Present(std::initializer_list<int> ns)
    {
        for (int n : ns)
            uir(n).Present = 1;
    }
    // The last valid frame the block received.
    TRequest Last() const
    {
        const auto all = sim.Requests();
        return all.empty() ? TRequest{} : all.back();
    }
};

QString Shown(QLabel* l) { return l->text(); }

}  // namespace

class SetupUirTest : public QObject {
    Q_OBJECT

private slots:
    void CaptionsAndControls()
    {
        Rig r;
        QCOMPARE(r.form.windowTitle(), QString("  Настройки модулей УИР"));
        QCOMPARE(r.form.ChSetupUirForm()->windowTitle(),
                 QString(33, ' ') + QString("Изменение настроек модуля УИР"));
        QCOMPARE(r.form.UirListForm()->windowTitle(), QString("Список УИР"));
        QCOMPARE(r.form.Timer1->interval(), 500);
        QCOMPARE(r.form.bbSetInitCfg->text(), QString("Установить"));
        for (int i = 0; i < kUirCount; ++i)
            QCOMPARE(r.form.UirListForm()->CheckBox[static_cast<size_t>(i)]->text(), QString::number(i + 1));
        QVERIFY(r.form.NeedAccess());
    }

    // Segment = UIR number div 4, named by its first slot; FCB set (C = 0x73).
    void SegmentOnTheWire_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<int>("firstSlot");
        QTest::newRow("3") << 3 << 0;
        QTest::newRow("4") << 4 << 4;
        QTest::newRow("43") << 43 << 40;
    }
    void SegmentOnTheWire()
    {
        QFETCH(int, number);
        QFETCH(int, firstSlot);
        Rig r;
        r.Present({1, 3, 4, 43});
        r.state.Fcb = 0;
        TUirData& u = r.uir(number);
        u.PollEnabled = 1;
        u.InputFunction1 = 3;
        u.InputFunction3 = 2;
        u.InputControl2 = 1;
        r.form.Display(0, number - 1);
        QCOMPARE(r.form.ListBox1->currentItem()->text(), QString("УИР №%1").arg(number));
        r.form.bbSendDataToUir->click();
        QCOMPARE(r.form.questions, QStringList{"Конфигурация УИР будет изменена! Выполнить?"});
        QCOMPARE(r.prompts, 1);
        const TRequest q = r.Last();
        QVERIFY(q.IsLong);
        QCOMPARE(int(q.C), 0x73);
        QCOMPARE(int(q.CI), 0x40);
        QCOMPARE(q.Data.size(), size_t(9));
        QCOMPARE(int(q.Data[0]), firstSlot);
        const int j = number - firstSlot;
        QCOMPARE(int(q.Data[static_cast<size_t>(1 + 2 * j)]), 0x23 + 0x40);
        QCOMPARE(int(q.Data[static_cast<size_t>(2 + 2 * j)]), 0x02);
        QCOMPARE(int(r.sim.UirSlot(number).A), 0x63);
        QVERIFY(r.ui.errors.isEmpty());
        QCOMPARE(r.ui.waits, QStringList{"Ждите! Идет запись данных!"});
    }

    void EmptyListRefusesTheWrite()
    {
        Rig r;
        r.form.Display(0, 0);
        QCOMPARE(r.form.ListBox1->count(), 0);
        r.form.bbSendDataToUir->click();
        QCOMPARE(r.form.messages, QStringList{"Неверно задан номер УИР"});
        QCOMPARE(r.sim.TotalRequests(), 0u);
        r.form.BitBtn2->click();
        QCOMPARE(r.form.messages.size(), 2);
        QVERIFY(!r.form.ChSetupUirForm()->isVisible());
    }

    void ReadShowsTheBlocksSettings()
    {
        Rig r;
        r.Present({1, 2, 5});
        r.sim.ConfigureUir(5, true, true, 1, 3, 2, true, false, true);
        r.form.Display(0, 4);
        QCOMPARE(Shown(r.form.PollText), QString("Нет"));
        r.form.bbGetDataFrUir->click();
        QCOMPARE(r.prompts, 0);  // reading is not guarded
        QCOMPARE(Shown(r.form.PollText), QString("Да"));
        QCOMPARE(Shown(r.form.OutputText), QString("Да"));
        QCOMPARE(Shown(r.form.ControlText[0]), QString("Разрешен"));
        QCOMPARE(Shown(r.form.ControlText[1]), QString("Не разрешен"));
        QCOMPARE(Shown(r.form.FunctionText[1]), QString("F3"));
        QCOMPARE(Shown(r.form.FunctionText[2]), QString("F2"));
        QCOMPARE(r.ui.waits, QStringList{"Ждите! Идет получение данных!"});
        // Another entry shows its own record.
        r.form.ListBox1->setCurrentRow(0);
        QCOMPARE(Shown(r.form.PollText), QString("Нет"));
    }

    void ChannelDialogPollingBox()
    {
        Rig r;
        r.Present({2});
        r.uir(2).PollEnabled = 1;
        r.uir(2).InputControl2 = 1;
        r.uir(2).InputFunction2 = 2;
        r.form.show();
        r.form.Display(0, 1);
        r.form.BitBtn2->click();
        TChSetupUirForm* ch = r.form.ChSetupUirForm();
        QVERIFY(ch->isVisible());
        QVERIFY(!r.form.ListBox1->isEnabled());
        QVERIFY(ch->cbStopPoll->isVisible());
        QVERIFY(!ch->cbStopPoll->isChecked());
        QCOMPARE(ch->InputFunction[1]->currentText(), QString("F2"));
        // Unticking input 2's monitoring: F0 and no choice.
        ch->InputControl[1]->click();
        QCOMPARE(ch->InputFunction[1]->currentText(), QString("F0"));
        QVERIFY(!ch->InputFunction[1]->isEnabled());
        ch->cbStopPoll->click();
        ch->bbOk->click();
        QVERIFY(!ch->isVisible());
        QVERIFY(r.form.ListBox1->isEnabled());
        QCOMPARE(r.uir(2).PollEnabled.load(), uint8_t(1));  // taken up by the timer only
        r.form.Timer1Timer();
        QCOMPARE(r.uir(2).PollEnabled.load(), 0);
        QCOMPARE(r.uir(2).InputControl2.load(), 0);
        QCOMPARE(r.uir(2).InputFunction2.load(), 0);
        QCOMPARE(Shown(r.form.PollText), QString("Нет"));
        QCOMPARE(r.sim.TotalRequests(), 0u);
        QVERIFY(QFile::exists(QString::fromStdString(r.state.CfgFilePath)));
        // Polling off: the box is hidden and checked, so it cannot come back on.
        r.form.BitBtn2->click();
        QVERIFY(!ch->cbStopPoll->isVisible());
        QVERIFY(ch->cbStopPoll->isChecked());
        ch->bbCancel->click();
        QVERIFY(r.form.ListBox1->isEnabled());
        r.form.Timer1Timer();
        QCOMPARE(r.uir(2).PollEnabled.load(), uint8_t(0));
        // "Закрыть" with the dialog open closes it unconfirmed and frees the list.
        r.form.BitBtn2->click();
        QVERIFY(ch->isVisible());
        r.form.bbClose->click();
        QVERIFY(!ch->isVisible());
        QVERIFY(!ch->Accepted);
        QVERIFY(r.form.ListBox1->isEnabled());
    }

    void ApplyToSelectedCopiesToTwoAndThreeOnly()
    {
        Rig r;
        r.Present({1, 2, 3, 4});
        for (int n : {1, 2, 3, 4})
            r.sim.ConfigureUir(n, true, false, 0, 0, 0, false, false, false);
        r.sim.ConfigureUir(1, true, true, 3, 1, 2, true, false, true);
        r.form.show();
        r.form.Display(0, 0);
        r.form.bbGetDataFrUir->click();
        r.form.BitBtn1->click();
        TUirListForm* list = r.form.UirListForm();
        QVERIFY(list->isVisible());
        QVERIFY(!list->CheckBox[0]->isChecked());
        QVERIFY(list->CheckBox[3]->isChecked());
        QVERIFY(!list->CheckBox[4]->isEnabled());
        QVERIFY(!list->CheckBox[4]->isChecked());
        list->CheckBox[3]->click();  // UIR 4 off
        QTimer::singleShot(0, [] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box)
                box->button(QMessageBox::Yes)->click();
        });
        list->bbOk->click();
        QVERIFY(list->Accepted);
        QVERIFY(!list->isVisible());
        r.sim.ResetCounts();
        r.form.Timer1Timer();
        QVERIFY(!list->Accepted);
        // UIR 1's inputs and output, polling off, on 2 and 3; 1 and 4 as they were.
        const TUirSlot copied{0x80 | 0x23 | 0x04, 0x05};
        QCOMPARE(r.sim.UirSlot(2), copied);
        QCOMPARE(r.sim.UirSlot(3), copied);
        QCOMPARE(int(r.sim.UirSlot(1).A), 0xC0 | 0x23 | 0x04);
        QCOMPARE(int(r.sim.UirSlot(4).A), 0x40);
        QCOMPARE(r.uir(2).PollEnabled.load(), 0);
        QCOMPARE(r.uir(4).PollEnabled.load(), 1);
        QCOMPARE(r.uir(1).PollEnabled.load(), 1);
        // All eleven segments written, then all eleven read back.
        QCOMPARE(r.sim.RequestCount(SimCmd::WriteSegment), 11u);
        QCOMPARE(r.sim.RequestCount(SimCmd::ReadSegment), 11u);
        QVERIFY(r.ui.errors.isEmpty());
    }

    void FactoryConfigurationAsReadBack()
    {
        Rig r;
        r.Present({1, 7});
        for (int n = 1; n <= 43; ++n)
            r.sim.ConfigureUir(n, true, true, 3, 3, 3, false, false, false);
        r.form.Display(0, 1);
        r.form.bbSetInitCfg->click();
        QCOMPARE(r.prompts, 1);
        for (int n = 1; n <= 43; ++n)
            QCOMPARE(r.sim.UirSlot(n), (TUirSlot{0x24, 0x07}));
        QCOMPARE(Shown(r.form.FunctionText[0]), QString("F0"));
        QCOMPARE(Shown(r.form.FunctionText[1]), QString("F1"));
        QCOMPARE(Shown(r.form.FunctionText[2]), QString("F2"));
        QCOMPARE(Shown(r.form.OutputText), QString("Нет"));
        QCOMPARE(Shown(r.form.PollText), QString("Нет"));
        QCOMPARE(r.ui.waits, (QStringList{"Ждите! Идет запись данных!", "Ждите! Идет получение данных!"}));
        TGlobalState back;
        back.CfgFilePath = r.state.CfgFilePath;
        QCOMPARE(ReadConfigFile(back), 0);
        QCOMPARE(int(back.Cb(0)->Uir[42].InputFunction3.load()), 2);
    }

    void SilentBlockWriteSkipsTheRead()
    {
        Rig r;
        r.Present({1});
        r.form.Display(0, 0);
        r.sim.SetSilent(true);
        r.form.bbSetInitCfg->click();
        QCOMPARE(r.ui.errors, QStringList{"Ошибка выполнения команды"});
        QCOMPARE(r.ui.waits, QStringList{"Ждите! Идет запись данных!"});
        QCOMPARE(r.state.Cb(0)->UirWriteError.load(), 0);
        QVERIFY(!QFile::exists(QString::fromStdString(r.state.CfgFilePath)));
    }

    void AccessGate()
    {
        Rig r;
        r.Present({1});
        r.form.Display(0, 0);
        r.grant = false;
        r.form.bbSendDataToUir->click();
        r.form.BitBtn2->click();
        r.form.BitBtn1->click();
        r.form.bbSaveUirCfg->click();
        r.form.bbSetInitCfg->click();
        QCOMPARE(r.prompts, 5);
        QCOMPARE(r.sim.TotalRequests(), 0u);
        QVERIFY(!r.form.ChSetupUirForm()->isVisible());
        QVERIFY(!r.form.UirListForm()->isVisible());
        QVERIFY(r.form.questions.isEmpty());
        r.form.SetNeedAccess(false);
        r.form.bbSaveUirCfg->click();
        QCOMPARE(r.prompts, 5);
        QVERIFY(QFile::exists(QString::fromStdString(r.state.CfgFilePath)));
    }
};

QTEST_MAIN(SetupUirTest)
#include "tst_setup_uir.moc"
