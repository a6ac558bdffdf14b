// The configuration window and the configuration-file window on a started
// main window, with a block simulated in process behind the real port,
// protocol and acquisition thread: the tick rule, apply and cancel, the lists,
// the file choices and the setup windows' access flags.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QListWidget>
#include <QPushButton>
#include <QtTest>
#include <deque>

#include "SimBus.h"
#include "link/ComPort.h"
#include "monitor/ProtocolAcqLink.h"
#include "monitor/ui/Tiles.h"
#include "protocol/Protocol.h"
#include "setup/ui/CfgForm.h"
#include "setup/ui/SetupCbForm.h"
#include "setup/ui/FileCfgForm.h"
#include "setup/ui/SetupUirForm.h"
#include "monitor/ui/DialogPath.h"
#include "monitor/ui/QtText.h"
#include "state/Access.h"
#include "state/ConfigFile.h"
#include "ui/SimAcquisition.h"
#include "ui/UiTestSupport.h"

using namespace kestrel;
using namespace kestrel::test;

namespace {

constexpr int kWaitMs = 20000;  // only a guard against a hang

class ScriptedFileForm;

struct Rig {
    VirtualClock clock;
    sim::SimBus bus{clock};
    sim::TSimCb& sim;
    TGlobalState state;
    TempStore temp;
    ScriptedPrompt prompt;
    std::unique_ptr<TMainForm> form;
    TSetupUirForm* uirForm = nullptr;
    TCfgForm* cfg = nullptr;
    TSetupCbForm* cbForm = nullptr;

    Rig() : sim(bus.Attach(1, {})) {}

    bool Start(int present = 43)
    {
        TGlobalState seed;
        seed.Cb(0)->Address = 1;
        seed.Cb(0)->PortNumber = 1;
        for (int i = 0; i < kUirCount; ++i)
            seed.Cb(0)->Uir[static_cast<size_t>(i)].Present = i < present ? 1 : 0;
        if (!temp.Seed(seed))
            return false;
        form = std::make_unique<TMainForm>(state, *temp.store, prompt);
        uirForm = AttachSetupUirForm(*form, state);
        cbForm = AttachSetupCbWindows(*form, state);
        cfg = AttachCfgForm(*form, state, uirForm);
        const AcquisitionFactory factory = test::SimBusAcquisition(bus, clock);
        if (form->Startup(factory) != StartupResult::Continue)
            return false;
        form->show();
        if (!QTest::qWaitForWindowExposed(form.get()))
            return false;
        return QTest::qWaitFor([this] { return state.Cb(0)->FirstPollPending == 0; }, kWaitMs);
    }
    // "Конфигурация" with the right code.
    void Open()
    {
        prompt.accessPrompt.push_back(true);
        form->mmiCfgClick();
    }
    TCbData& Cb() { return *state.Cb(0); }
    int Accesses() const
    {
        int n = 0;
        for (const auto& s : prompt.log)
            n += s.kind == "access";
        return n;
    }
    ~Rig()
    {
        if (form)
            form->close();
    }
};

QByteArray Bytes(const std::string& path)
{
    QFile f(QString::fromStdString(path));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

std::string Picture(const TCfgForm& f)
{
    std::string s;
    for (QCheckBox* b : f.CheckBox)
        s += b->isChecked() ? (b->isEnabled() ? '1' : 'x') : (b->isEnabled() ? '-' : '.');
    return s;
}

}  // namespace

class CfgTest : public QObject {
    Q_OBJECT
private slots:
    void OpeningCaptionsAndLists()
    {
        Rig r;
        QVERIFY(r.Start(6));
        r.Cb().Baud = 4800;
        r.Cb().PortNumber = 0;
        QVERIFY(r.form->mmiCfg->isVisible());
        QVERIFY(r.form->ToolButton3->isVisible());
        // A refused code opens nothing.
        r.prompt.accessPrompt.push_back(false);
        r.form->mmiCfgClick();
        QVERIFY(!r.cfg->isVisible());
        r.Open();
        QVERIFY(r.cfg->isVisible());
        QCOMPARE(r.cfg->windowTitle(), QString("Конфигурация"));
        QCOMPARE(r.cfg->ComboBox1->count(), 100);
        QCOMPARE(r.cfg->ComboBox1->itemText(99), QString("COM 100"));
        QCOMPARE(r.cfg->ComboBox1->currentText(), QString("COM 1"));
        QCOMPARE(r.cfg->ComboBox2->currentText(), QString("9600"));
        QCOMPARE(Picture(*r.cfg), std::string(6, '1') + "-" + std::string(36, '.'));
        QVERIFY(!r.cfg->bbApply->isEnabled());
        QCOMPARE(r.Cb().Baud.load(), 4800u);  // showing changes nothing
    }

    void TickRuleAtTenAndFortyThree()
    {
        Rig r;
        QVERIFY(r.Start(43));
        r.Open();
        r.cfg->CheckBox[9]->click();
        QCOMPARE(Picture(*r.cfg), std::string(9, '1') + "-" + std::string(33, '.'));
        QVERIFY(r.cfg->bbApply->isEnabled());
        r.cfg->CheckBox[9]->click();
        QCOMPARE(Picture(*r.cfg), std::string(10, '1') + "-" + std::string(32, '.'));
        r.cfg->CheckBox[10]->click();
        r.cfg->CheckBox[42]->click();  // disabled: nothing happens
        QCOMPARE(Picture(*r.cfg), std::string(11, '1') + "-" + std::string(31, '.'));
        Rig s;
        QVERIFY(s.Start(43));
        s.Open();
        s.cfg->CheckBox[42]->click();
        QCOMPARE(Picture(*s.cfg), std::string(42, '1') + "-");
        s.cfg->CheckBox[42]->click();
        QCOMPARE(Picture(*s.cfg), std::string(43, '1'));
    }

    void CancelKeepsPresentApplyRewritesTheFileAndTheTiles()
    {
        Rig r;
        QVERIFY(r.Start(43));
        const QByteArray before = Bytes(r.state.CfgFilePath);
        r.Open();
        r.cfg->CheckBox[6]->click();  // UIRs above 6 off
        r.cfg->bbCancel->click();
        QVERIFY(!r.cfg->isVisible());
        for (const TUirData& u : r.Cb().Uir)
            QCOMPARE(u.Present.load(), uint8_t(1));
        QCOMPARE(Bytes(r.state.CfgFilePath), before);

        r.Open();
        QCOMPARE(Picture(*r.cfg), std::string(43, '1'));
        r.cfg->CheckBox[6]->click();
        r.cfg->bbApply->click();
        QVERIFY(r.cfg->isVisible());
        for (int i = 0; i < kUirCount; ++i)
            QCOMPARE(r.Cb().Uir[static_cast<size_t>(i)].Present.load(), uint8_t(i < 6 ? 1 : 0));
        QVERIFY(r.form->Tile(5)->isVisible());
        QVERIFY(!r.form->Tile(6)->isVisible());
        QVERIFY(!r.form->Tile(42)->isVisible());
        TGlobalState back;
        back.CfgFilePath = r.state.CfgFilePath;
        QCOMPARE(ReadConfigFile(back), 0);
        QCOMPARE(back.Cb(0)->Uir[5].Present.load(), uint8_t(1));
        QCOMPARE(back.Cb(0)->Uir[6].Present.load(), uint8_t(0));
        // The main window's status tick finishes the apply.
        QVERIFY(r.cfg->bbApply->isEnabled());
        r.form->Timer1Timer();
        QVERIFY(!r.cfg->bbApply->isEnabled());
        QVERIFY(!r.cfg->Actions().CfgApplied);
    }

    void FailedSaveIsReportedOnce()
    {
        Rig r;
        QVERIFY(r.Start(43));
        r.Open();
        r.state.CfgFilePath = r.temp.Path("no-such-folder/x.cfg");
        r.cfg->CheckBox[20]->click();
        QStringList shown;
        QTimer::singleShot(50, [&shown] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                shown << box->windowTitle() + ": " + box->text();
                box->accept();
            }
        });
        r.cfg->bbApply->click();
        QCOMPARE(shown, QStringList{"Внимание!: Ошибка записи файла конфигурации!"});
        // The ticks are applied all the same.
        QCOMPARE(r.Cb().Uir[20].Present.load(), uint8_t(0));
        QCOMPARE(r.Cb().Uir[19].Present.load(), uint8_t(1));
    }

    void PortAndSpeedAtOnceEvenAfterCancel()
    {
        Rig r;
        QVERIFY(r.Start(3));
        r.Open();
        r.cfg->ComboBox1->setCurrentIndex(2);
        emit r.cfg->ComboBox1->activated(2);
        QCOMPARE(r.Cb().PortNumber.load(), uint8_t(3));
        emit r.cfg->ComboBox2->activated(1);
        QCOMPARE(r.Cb().Baud.load(), 19200u);
        QVERIFY(r.cfg->bbApply->isEnabled());
        r.cfg->bbCancel->click();
        QCOMPARE(r.Cb().PortNumber.load(), uint8_t(3));
        QCOMPARE(r.Cb().Baud.load(), 19200u);
        r.Cb().Baud = 9600;  // put back, so the block keeps answering
        r.Cb().PortNumber = 1;
    }

    void SaveAsThenApplyWritesTheNewFileOnly()
    {
        Rig r;
        QVERIFY(r.Start(43));
        const std::string old = r.state.CfgFilePath;
        const QByteArray oldBytes = Bytes(old);
        const std::string fresh = r.temp.Path("b.cfg");
        r.Open();
        r.cfg->bbCfgFile->click();
        TFileCfgForm* file = r.cfg->FileCfgForm();
        QVERIFY(file->isVisible());
        QCOMPARE(file->windowTitle(), QString("Файл конфигурации"));
        QVERIFY(file->Edit1->text().isEmpty());
        QVERIFY(file->Edit1->isReadOnly());
        std::string offered;
        file->ChooseHook = [&](bool save, std::string& path) {
            offered = path;
            if (!save)
                return false;
            path = fresh;
            return true;
        };
        file->bbSaveAs->click();
        QCOMPARE(offered, old);  // preset with the path in use
        QCOMPARE(r.state.CfgFilePath, fresh);
        QCOMPARE(file->Edit1->text(), QString::fromStdString(fresh));
        QVERIFY(!QFile::exists(QString::fromStdString(fresh)));  // nothing written on choosing
        // The stored setting keeps the old path.
        std::string stored;
        QCOMPARE(r.temp.store->ReadRegString(kRegKeyCfg, stored), 0);
        QCOMPARE(stored, old);
        r.cfg->CheckBox[9]->click();
        r.cfg->bbApply->click();
        QCOMPARE(Bytes(old), oldBytes);
        TGlobalState back;
        back.CfgFilePath = fresh;
        QCOMPARE(ReadConfigFile(back), 0);
        QCOMPARE(back.Cb(0)->Uir[9].Present.load(), uint8_t(0));
        QCOMPARE(back.Cb(0)->Uir[8].Present.load(), uint8_t(1));
    }

    void UnreadableFileKeepsRecordsAndPath()
    {
        Rig r;
        QVERIFY(r.Start(5));
        const std::string old = r.state.CfgFilePath;
        const std::string bad = r.temp.Path("bad.cfg");
        {
            QFile f(QString::fromStdString(bad));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("\x01\x00\x00\x00\x05", 5);  // one block, cut short
        }
        // A good file with UIRs 1 and 2 only.
        const std::string good = r.temp.Path("good.cfg");
        {
            TGlobalState g;
            g.CfgFilePath = good;
            g.Cb(0)->Uir[0].Present = 1;
            g.Cb(0)->Uir[1].Present = 1;
            QCOMPARE(WriteConfigFile(g), 0);
        }
        r.Open();
        r.cfg->bbCfgFile->click();
        TFileCfgForm* file = r.cfg->FileCfgForm();
        std::string pick = bad;
        file->ChooseHook = [&](bool save, std::string& path) {
            if (save)
                return false;
            path = pick;
            return true;
        };
        QStringList messages;
        file->MessageHook = [&](const std::string& t, const std::string&) { messages << QString::fromStdString(t); };
        file->bbFind->click();
        QCOMPARE(messages, QStringList{"Ошибка чтения файла конфигурации!"});
        QCOMPARE(r.state.CfgFilePath, old);
        QVERIFY(file->Edit1->text().isEmpty());
        for (int i = 0; i < kUirCount; ++i)
            QCOMPARE(r.Cb().Uir[static_cast<size_t>(i)].Present.load(), uint8_t(i < 5 ? 1 : 0));
        pick = good;
        file->bbFind->click();
        QCOMPARE(messages.size(), 1);
        QCOMPARE(r.state.CfgFilePath, good);
        QCOMPARE(Picture(*r.cfg), "11-" + std::string(40, '.'));
        QVERIFY(!r.form->Tile(2)->isVisible());
        QVERIFY(r.form->Tile(1)->isVisible());
    }

    // Folders named in Greek and in Cyrillic: "Сохранить как" and "Применить"
    // write exactly the file chosen and "Найти" reads it back; a name that
    // cannot be kept whole is refused by both buttons and changes nothing.
    void FilePathsKeptWhole()
    {
        Rig r;
        QVERIFY(r.Start(43));
        r.Open();
        r.cfg->bbCfgFile->click();
        TFileCfgForm* file = r.cfg->FileCfgForm();
        std::string pick;
        file->ChooseHook = [&](bool, std::string& path) {
            path = pick;
            return true;
        };
        QStringList messages;
        file->MessageHook = [&](const std::string& t, const std::string& c) { messages << Q(c + " " + t); };
        const std::pair<const char*, int> table[] = {{"Δοκιμή", 20}, {"Проверка", 9}};  // folder, UIRs kept
        for (const auto& [folder, present] : table) {
            pick = r.temp.Path(folder) + "/1.cfg";
            QVERIFY(QDir().mkpath(Q(r.temp.Path(folder))));
            file->bbSaveAs->click();
            QCOMPARE(r.state.CfgFilePath, pick);
            r.cfg->CheckBox[static_cast<size_t>(present)]->click();
            r.cfg->bbApply->click();
            QCOMPARE(QDir(Q(r.temp.Path(folder))).entryList(QDir::Files | QDir::Hidden), QStringList{"1.cfg"});
        }
        QCOMPARE(QDir(r.temp.dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 (QStringList{"a.cfg", "registry", "Δοκιμή", "Проверка"}));
        for (const auto& [folder, present] : table) {
            pick = r.temp.Path(folder) + "/1.cfg";
            file->bbFind->click();
            QCOMPARE(r.state.CfgFilePath, pick);
            QCOMPARE(file->Edit1->text(), Q(pick));
            QCOMPARE(Picture(*r.cfg), std::string(static_cast<size_t>(present), '1') + "-" +
                                          std::string(static_cast<size_t>(42 - present), '.'));
        }
        QCOMPARE(messages, QStringList{});

        // What the dialogs hand over for a name Qt could not decode or an
        // unpaired surrogate: no text, refused like U+FFFD itself.
        QCOMPARE(PathFromDialog(Q("/srv/Δοκιμή/1.cfg")), std::string("/srv/Δοκιμή/1.cfg"));
        QCOMPARE(PathFromDialog(QString("a") + QChar(QChar::ReplacementCharacter)), std::string());
        QCOMPARE(PathFromDialog(QString("a") + QChar(0xD800)), std::string());
        const std::string inUse = r.state.CfgFilePath;
        for (const std::string& bad : {std::string(), r.temp.Path("a\xEF\xBF\xBD.cfg")}) {
            for (QPushButton* button : {file->bbFind, file->bbSaveAs}) {
                messages.clear();
                pick = bad;
                button->click();
                QCOMPARE(messages, QStringList{Q(std::string("Внимание! ") + kMsgPathNotKept)});
                QCOMPARE(r.state.CfgFilePath, inUse);
            }
        }
    }

    void NoAccessPromptWhileOpen()
    {
        Rig r;
        QVERIFY(r.Start(3));
        QVERIFY(r.uirForm->NeedAccess());
        r.Open();
        QCOMPARE(r.Accesses(), 1);
        QVERIFY(!r.uirForm->NeedAccess());
        r.uirForm->Display(0, 0);
        r.uirForm->bbSaveUirCfg->click();
        QCOMPARE(r.Accesses(), 1);
        // "Настройки ЦБ": the block window reads its tables and asks no code either.
        const uint32_t tables = r.sim.RequestCount(sim::SimCmd::ReadTable);
        r.cfg->bbSetupCb->click();
        QVERIFY(r.cbForm->isVisible());
        QVERIFY(r.sim.RequestCount(sim::SimCmd::ReadTable) > tables);
        QVERIFY(!r.cbForm->NeedAccess());
        r.cfg->bbOk->click();
        QVERIFY(r.uirForm->NeedAccess());
        QVERIFY(r.cbForm->NeedAccess());
        r.uirForm->bbSaveUirCfg->click();
        QCOMPARE(r.Accesses(), 2);
    }

    void SetupUirOpensTheUirWindowAndReads()
    {
        Rig r;
        r.sim.ConfigureUir(2, true, true, 1, 2, 3, true, true, false);
        QVERIFY(r.Start(3));
        r.Open();
        const uint32_t reads = r.sim.RequestCount(sim::SimCmd::ReadSegment);
        r.cfg->bbSetupUir->click();
        QVERIFY(r.uirForm->isVisible());
        QCOMPARE(r.sim.RequestCount(sim::SimCmd::ReadSegment), reads + 11);
        QCOMPARE(r.uirForm->ListBox1->count(), 3);
        QCOMPARE(r.uirForm->ListBox1->currentRow(), 0);
        r.uirForm->ListBox1->setCurrentRow(1);
        QCOMPARE(r.uirForm->FunctionText[2]->text(), QString("F3"));
        QCOMPARE(r.uirForm->PollText->text(), QString("Да"));
    }
};

QTEST_MAIN(CfgTest)
#include "tst_cfg.moc"
