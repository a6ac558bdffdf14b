// The settings-check window against a block simulated in process (address 1
// on COM1) behind the real port, protocol and acquisition thread: opened from
// the main menu and from the block setup window, the block equal to the file,
// a changed table written back or taken into the file, and the main window's
// mark of a block changed on its own menu.
//
// The link is paced on a virtual clock; only the thread's pauses are real.
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTreeWidget>
#include <QtTest>

#include "SimBus.h"
#include "check/ui/SettingsCheckForm.h"
#include "monitor/ui/MainForm.h"
#include "monitor/ui/Tiles.h"
#include "setup/ui/SetupCbForm.h"
#include "state/ConfigFile.h"
#include "state/FileIo.h"
#include "ui/SimAcquisition.h"
#include "ui/UiTestSupport.h"

using namespace kestrel;
using namespace kestrel::test;

namespace {

constexpr int kWaitMs = 20000;  // only a guard against a hang
// МТЗ-1, F2 in the file and, to start with, in the block: outputs 1 and 3.
constexpr uint8_t kFileOutputs = 0x05;
constexpr uint8_t kSiteOutputs = 0x09;  // outputs 1 and 4
const QString kDifference = QStringLiteral("МТЗ-1, F2: выходы 1, 3 → 1, 4");

struct Rig {
    VirtualClock clock;
    sim::SimBus bus{clock};
    sim::TSimCb& sim;
    TGlobalState state;
    TempStore temp;
    ScriptedPrompt prompt;
    std::unique_ptr<TMainForm> form;
    TSetupCbForm* setup = nullptr;
    TSettingsCheckForm* check = nullptr;

    Rig() : sim(bus.Attach(1, {})) {}
    ~Rig()
    {
        if (form)
            form->close();
    }

    bool Start()
    {
        TGlobalState seed;
        seed.Cb(0)->Address = 1;
        seed.Cb(0)->PortNumber = 1;
        seed.Cb(0)->FuncTable[2][1] = kFileOutputs;
        if (!temp.Seed(seed))
            return false;
        // The block holds what the file says.
        const TDeviceSettings file = DeviceSettingsOf(*seed.Cb(0));
        for (int k = 0; k < 4; ++k)
            for (int m = 0; m < 4; ++m)
                sim.SetTableWire(m, k, static_cast<uint8_t>(~file.FuncTable[k][m]));
        sim.SetUrovUnits(static_cast<uint8_t>(file.UrovUnits));
        form = std::make_unique<TMainForm>(state, *temp.store, prompt);
        setup = AttachSetupCbWindows(*form, state);
        check = AttachSettingsCheckForm(*form, state);
        if (form->Startup(SimBusAcquisition(bus, clock)) != StartupResult::Continue)
            return false;
        form->show();
        return QTest::qWaitForWindowExposed(form.get()) &&
               QTest::qWaitFor([this] { return state.Cb(0)->FirstPollPending == 0; }, kWaitMs);
    }

    TCbSettings File() const
    {
        std::vector<TCbSettings> cbs;
        return LoadConfigFile(NativePath(state.CfgFilePath), cbs) == 0 && !cbs.empty() ? cbs[0] : TCbSettings{};
    }
    int FileOutputs() const { return File().FuncTable[2][1] & 0x3F; }
    // МТЗ-1, F2 as the block holds it.
    int SiteOutputs() const { return static_cast<uint8_t>(~sim.TableWire(1, 2)) & 0x3F; }
    QString Summary() const { return check->SummaryLine->text(); }
    // "heading|line" of every difference listed.
    QStringList Listed() const
    {
        QStringList out;
        for (int g = 0; g < check->DifferenceList->topLevelItemCount(); ++g) {
            const QTreeWidgetItem* group = check->DifferenceList->topLevelItem(g);
            for (int i = 0; i < group->childCount(); ++i)
                out << group->text(0) + "|" + group->child(i)->text(0);
        }
        return out;
    }
    void Accept()
    {
        prompt.accessPrompt = {true};
        prompt.yesNo = {true};
    }
};

QString S(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

class SettingsCheckTest : public QObject {
    Q_OBJECT
private slots:
    void equalBlockSaysSoWithItsFingerprint();
    void changedTableWrittenBackOrTakenIntoTheFile();
    void menuVisitThatChangedTheBlockIsMarkedUntilDecided();
    void severalMarkedBlocksInTheStatusBarAndTheList();
};

void SettingsCheckTest::equalBlockSaysSoWithItsFingerprint()
{
    Rig r;
    QVERIFY(r.Start());
    QCOMPARE(r.form->mmSettingsCheck->text(), QStringLiteral("Сверка настроек ЦБ"));
    r.form->mmSettingsCheck->trigger();
    TSettingsCheckForm& f = *r.check;
    QVERIFY(f.isVisible());
    const QString fp = S(SettingsFingerprint(DeviceSettingsOf(r.File())));
    QCOMPARE(r.Summary(), QStringLiteral("Настройки ЦБ 1 совпадают с файлом конфигурации. Отпечаток: ") + fp);
    QCOMPARE(f.FileFingerprint->text() + f.BlockFingerprint->text(), fp + fp);
    QVERIFY(f.DifferenceList->isHidden());
    QVERIFY(!f.bbWriteToCb->isEnabled() && !f.bbTakeFromCb->isEnabled() && f.bbSaveSheet->isEnabled());
    QVERIFY(r.prompt.log.empty());

    // The sheet: what was read, named and stamped.
    const TSheetData sheet = f.SheetData();
    QCOMPARE(S(sheet.Source + "|" + sheet.Fingerprint + "|" + sheet.Installation), "ЦБ|" + fp + "|a.cfg");
    QVERIFY(QRegularExpression(R"(^\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d$)").match(S(sheet.ReadAt)).hasMatch());
    const std::string pdf = r.temp.Path("лист.pdf");
    struct Case {
        std::string chosen;
        std::vector<std::string> said;
    } const cases[] = {
        {"", {"message:Лист настроек не сохранён: такое имя файла сохранить нельзя."}},  // a name the OS cannot keep
        {pdf, {}},
    };
    for (const Case& c : cases) {
        QString offered;
        f.ChooseSheetFile = [&](const QString& name, std::string& path) {
            offered = name;
            path = c.chosen;
            return true;
        };
        r.prompt.log.clear();
        f.bbSaveSheet->click();
        QCOMPARE(offered, QStringLiteral("ЦБ 1 — лист настроек.pdf"));
        QCOMPARE(r.prompt.Lines(), c.said);
    }
    QFile written(S(pdf));
    QVERIFY(written.open(QIODevice::ReadOnly) && written.read(5) == "%PDF-");

    // A block that does not answer: no fingerprint of it, the sheet is the file's.
    sim::TFaultRule rule;
    rule.Kind = sim::FaultKind::Ignore;
    rule.Cmd = sim::SimCmd::ReadTable;
    r.sim.Inject(rule);
    f.bbReadAgain->click();
    QVERIFY(!r.Summary().isEmpty() && !r.Summary().contains(QStringLiteral("совпадают")));
    QCOMPARE(f.BlockFingerprint->text(), QStringLiteral("—"));
    QCOMPARE(S(f.SheetData().Source + "|" + f.SheetData().Fingerprint), "файл конфигурации|" + fp);
    QVERIFY(!f.bbWriteToCb->isEnabled());
}

void SettingsCheckTest::changedTableWrittenBackOrTakenIntoTheFile()
{
    struct Case {
        const char* name;
        bool write;  // "Записать в ЦБ", else "Принять из ЦБ"
        bool code;   // the access code accepted
        int blockAfter, fileAfter;
        QString cellsAfter;  // the open block setup window's F2 panel
    } const cases[] = {
        {"write", true, true, kFileOutputs, kFileOutputs, "101000"},
        {"take", false, true, kSiteOutputs, kSiteOutputs, "100100"},
        {"code refused", true, false, kSiteOutputs, kFileOutputs, "100100"},
    };
    for (const Case& c : cases) {
        qInfo("case: %s", c.name);
        Rig r;
        QVERIFY(r.Start());
        r.sim.SetTableWire(1, 2, static_cast<uint8_t>(~kSiteOutputs));
        // From the block setup window, F2 shown in МТЗ-1.
        r.form->CBMouseDown(r.form->CbTile(), Qt::LeftButton, Qt::NoModifier, QPoint(2, 2));
        r.setup->ModeList[2]->setCurrentIndex(1);
        r.setup->ShowPanel(2);
        r.setup->bbSettingsCheck->click();
        TSettingsCheckForm& f = *r.check;
        QVERIFY(f.isVisible());
        QCOMPARE(r.Listed(), QStringList{QStringLiteral("Таблицы функций|") + kDifference});
        QVERIFY(r.Summary().startsWith(QStringLiteral("Настройки ЦБ 1 отличаются от файла конфигурации: 1 значение.")));
        QVERIFY(f.bbWriteToCb->isEnabled() && f.bbTakeFromCb->isEnabled());

        r.Accept();
        r.prompt.accessPrompt = {c.code};
        (c.write ? f.bbWriteToCb : f.bbTakeFromCb)->click();
        QCOMPARE(r.SiteOutputs(), c.blockAfter);
        QCOMPARE(r.FileOutputs(), c.fileAfter);
        QString cells;
        for (QLabel* cell : r.setup->Cell[2])
            cells += cell->text();
        QCOMPARE(cells, c.cellsAfter);
        // The code, then the question naming the change and the report; nothing after a refusal.
        QCOMPARE(r.prompt.log.size(), size_t(c.code ? 3 : 1));
        QCOMPARE(r.Summary().contains(QStringLiteral("совпадают")), c.code);
        QCOMPARE(f.bbWriteToCb->isEnabled() || !f.DifferenceList->isHidden(), !c.code);
        if (!c.code)
            continue;
        QVERIFY(S(r.prompt.log[1].text).contains(kDifference));
        f.bbReadAgain->click();
        QVERIFY(r.Summary().contains(QStringLiteral("совпадают")));
    }
}

void SettingsCheckTest::menuVisitThatChangedTheBlockIsMarkedUntilDecided()
{
    for (const bool change : {true, false}) {
        qInfo("table changed: %d", change);
        Rig r;
        QVERIFY(r.Start());
        QLabel* line = r.form->SettingsChangedLine();
        const uint32_t segments = r.sim.RequestCount(sim::SimCmd::ReadSegment);
        r.sim.EnterMenu();
        if (change)
            r.sim.SetTableWire(1, 2, static_cast<uint8_t>(~kSiteOutputs));
        r.sim.LeaveMenu();
        // The thread re-reads the UIR configuration after the menu; its next
        // request after the last segment comes once it has judged it.
        QTRY_VERIFY_WITH_TIMEOUT(r.sim.RequestCount(sim::SimCmd::ReadSegment) >= segments + 11, kWaitMs);
        const uint32_t total = r.sim.TotalRequests();
        QTRY_VERIFY_WITH_TIMEOUT(r.sim.TotalRequests() > total, kWaitMs);
        r.form->Timer1Timer();
        QCOMPARE(line->isHidden(), !change);
        QCOMPARE(line->text(), change ? QStringLiteral("Настройки изменены: ЦБ 1") : QString());
        if (!change)
            continue;
        // Taken into the file: the mark goes at the next tick.
        r.form->mmSettingsCheck->trigger();
        r.Accept();
        r.check->bbTakeFromCb->click();
        QCOMPARE(r.FileOutputs(), int(kSiteOutputs));
        r.form->Timer1Timer();
        QVERIFY(line->isHidden());
    }
}

void SettingsCheckTest::severalMarkedBlocksInTheStatusBarAndTheList()
{
    // Three blocks and no thread: the tick shows what the flags say.
    TGlobalState state, seed;
    TempStore temp;
    ScriptedPrompt prompt;
    seed.CbCount = 3;
    seed.EnsureAllocated(3);
    QVERIFY(temp.Seed(seed));
    TMainForm form(state, *temp.store, prompt);
    QVERIFY(form.Startup({}) == StartupResult::Continue);
    const QString plain = form.CbList()->itemText(2);
    struct Case {
        std::vector<int> flagged;
        QString line;
    } const cases[] = {
        {{0, 2}, "Настройки изменены: ЦБ 1, ЦБ 3"},
        {{1}, "Настройки изменены: ЦБ 2"},
        {{}, ""},
    };
    for (const Case& c : cases) {
        for (int i = 0; i < 3; ++i)
            state.Cb(i)->SettingsChangedOnSite = std::count(c.flagged.begin(), c.flagged.end(), i) ? 1 : 0;
        form.Timer1Timer();
        QCOMPARE(form.SettingsChangedLine()->text(), c.line);
        QCOMPARE(form.SettingsChangedLine()->isHidden(), c.flagged.empty());
        for (int i = 0; i < 3; ++i) {
            const bool flagged = std::count(c.flagged.begin(), c.flagged.end(), i) > 0;
            QCOMPARE(form.CbList()->itemText(i).endsWith(QStringLiteral(" — настройки изменены")), flagged);
            QCOMPARE(form.CbList()->itemData(i, Qt::ToolTipRole).toString().isEmpty(), !flagged);
        }
    }
    QCOMPARE(form.CbList()->itemText(2), plain);
}

QTEST_MAIN(SettingsCheckTest)
#include "tst_settings_check.moc"
