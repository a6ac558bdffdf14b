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
#include <functional>

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

    bool Start()
    {
        TGlobalState seed;
        seed.Cb(0)->Address = 1;
        seed.Cb(0)->PortNumber = 1;
        seed.Cb(0)->FuncTable[2][1] = kFileOutputs;
        if (!temp.Seed(seed))
            return false;
        // The block holds what the file says, table by table.
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
        if (!QTest::qWaitForWindowExposed(form.get()))
            return false;
        return QTest::qWaitFor([this] { return state.Cb(0)->FirstPollPending == 0; }, kWaitMs);
    }

    std::vector<TCbSettings> File() const
    {
        std::vector<TCbSettings> cbs;
        if (LoadConfigFile(NativePath(state.CfgFilePath), cbs) != 0)
            cbs.clear();
        return cbs;
    }

    // The outputs of МТЗ-1, F2 as the block holds them.
    uint8_t SiteOutputs() const { return static_cast<uint8_t>(~sim.TableWire(1, 2)) & 0x3F; }

    // Every group heading with its lines: "Таблицы функций|МТЗ-1, F2: …".
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

    ~Rig()
    {
        if (form)
            form->close();
    }
};

QString Fingerprint(const TCbSettings& s) { return QString::fromStdString(SettingsFingerprint(DeviceSettingsOf(s))); }

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
    QVERIFY(r.form->mmSettingsCheck->isVisible());
    QCOMPARE(r.form->mmSettingsCheck->text(), QStringLiteral("Сверка настроек ЦБ"));
    r.form->mmSettingsCheck->trigger();
    TSettingsCheckForm& f = *r.check;
    QVERIFY(f.isVisible());
    QCOMPARE(f.windowTitle(), QStringLiteral("Сверка настроек ЦБ"));

    const QString fp = Fingerprint(r.File().at(0));
    QCOMPARE(f.SummaryLine->text(),
             QStringLiteral("Настройки ЦБ 1 совпадают с файлом конфигурации. Отпечаток: ") + fp);
    QCOMPARE(f.FileFingerprint->text(), fp);
    QCOMPARE(f.BlockFingerprint->text(), fp);
    QVERIFY(f.BlockLabel->text().startsWith(QStringLiteral("ЦБ 1")));
    QVERIFY(f.DifferenceList->isHidden());
    QVERIFY(!f.bbWriteToCb->isEnabled());
    QVERIFY(!f.bbTakeFromCb->isEnabled());
    QVERIFY(f.bbSaveSheet->isEnabled());
    QVERIFY(r.prompt.log.empty());

    // The sheet shows what was read, named and stamped.
    const TSheetData sheet = f.SheetData();
    QCOMPARE(QString::fromStdString(sheet.Source), QStringLiteral("ЦБ"));
    QCOMPARE(QString::fromStdString(sheet.Fingerprint), fp);
    QCOMPARE(QString::fromStdString(sheet.Installation), QStringLiteral("a.cfg"));
    QCOMPARE(sheet.BlockNumber, 1);
    QVERIFY(QRegularExpression(QStringLiteral("^\\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d:\\d\\d$"))
                .match(QString::fromStdString(sheet.ReadAt))
                .hasMatch());
    QCOMPARE(f.SheetFileName(), QStringLiteral("ЦБ 1 — лист настроек.pdf"));

    // A name the OS cannot be told back is refused before anything is written.
    f.ChooseSheetFile = [](const QString&, std::string& path) {
        path.clear();
        return true;
    };
    f.bbSaveSheet->click();
    QCOMPARE(r.prompt.Lines(), std::vector<std::string>{
                                   "message:Лист настроек не сохранён: такое имя файла сохранить нельзя."});

    // A name that can be kept: the sheet is written there, nothing said.
    const std::string pdf = r.temp.Path("лист.pdf");
    f.ChooseSheetFile = [&](const QString& name, std::string& path) {
        path = name == f.SheetFileName() ? pdf : std::string();
        return true;
    };
    r.prompt.log.clear();
    f.bbSaveSheet->click();
    QFile written(QString::fromStdString(pdf));
    QVERIFY(written.open(QIODevice::ReadOnly));
    QVERIFY(written.read(5) == "%PDF-");
    QVERIFY(r.prompt.log.empty());

    // A block that does not answer: the failure, no fingerprint of the block,
    // and the sheet falls back to the file's settings.
    sim::TFaultRule rule;
    rule.Kind = sim::FaultKind::Ignore;
    rule.Cmd = sim::SimCmd::ReadTable;
    r.sim.Inject(rule);
    f.bbReadAgain->click();
    QVERIFY(!f.SummaryLine->text().isEmpty());
    QVERIFY(!f.SummaryLine->text().contains(QStringLiteral("совпадают")));
    QCOMPARE(f.BlockFingerprint->text(), QStringLiteral("—"));
    QCOMPARE(QString::fromStdString(f.SheetData().Source), QStringLiteral("файл конфигурации"));
    QCOMPARE(QString::fromStdString(f.SheetData().Fingerprint), fp);
    QVERIFY(!f.bbWriteToCb->isEnabled());
}

void SettingsCheckTest::changedTableWrittenBackOrTakenIntoTheFile()
{
    struct Case {
        const char* name;
        bool write;  // "Записать в ЦБ", else "Принять из ЦБ"
        bool code;   // the access code accepted
        uint8_t blockAfter, fileAfter;
        bool equalAfter;
    } const cases[] = {
        {"write", true, true, kFileOutputs, kFileOutputs, true},
        {"take", false, true, kSiteOutputs, kSiteOutputs, true},
        {"code refused", true, false, kSiteOutputs, kFileOutputs, false},
    };
    for (const Case& c : cases) {
        qInfo("case: %s", c.name);
        Rig r;
        QVERIFY(r.Start());
        r.sim.SetTableWire(1, 2, static_cast<uint8_t>(~kSiteOutputs));
        // Opened from the block setup window, for its block.
        r.form->CBMouseDown(r.form->CbTile(), Qt::LeftButton, Qt::NoModifier, QPoint(2, 2));
        QVERIFY(r.setup->isVisible());
        QVERIFY(r.setup->bbSettingsCheck->isVisible());
        r.setup->ModeList[2]->setCurrentIndex(1);  // F2 in МТЗ-1
        r.setup->ShowPanel(2);
        r.setup->bbSettingsCheck->click();
        TSettingsCheckForm& f = *r.check;
        QVERIFY(f.isVisible());
        QCOMPARE(r.Listed(), QStringList{QStringLiteral("Таблицы функций|") + kDifference});
        QVERIFY(f.SummaryLine->text().startsWith(
            QStringLiteral("Настройки ЦБ 1 отличаются от файла конфигурации: 1 значение.")));
        QVERIFY(f.FileFingerprint->text() != f.BlockFingerprint->text());
        QVERIFY(f.bbWriteToCb->isEnabled());
        QVERIFY(f.bbTakeFromCb->isEnabled());

        r.prompt.accessPrompt = {c.code};
        r.prompt.yesNo = {true};
        (c.write ? f.bbWriteToCb : f.bbTakeFromCb)->click();
        QCOMPARE(int(r.SiteOutputs()), int(c.blockAfter));
        QCOMPARE(int(r.File().at(0).FuncTable[2][1] & 0x3F), int(c.fileAfter));
        QCOMPARE(f.SummaryLine->text().contains(QStringLiteral("совпадают")), c.equalAfter);
        QCOMPARE(f.bbWriteToCb->isEnabled(), !c.equalAfter);
        QCOMPARE(f.DifferenceList->isHidden(), c.equalAfter);
        QCOMPARE(r.prompt.log.front().kind, std::string("access"));
        QCOMPARE(r.prompt.unexpected, 0);
        if (!c.code) {
            QCOMPARE(r.prompt.log.size(), size_t(1));  // nothing asked after the refusal
            continue;
        }
        QCOMPARE(r.prompt.log.size(), size_t(3));  // the code, the question, the report
        // The block setup window, still open, shows the records as they now are.
        QString cells;
        for (QLabel* cell : r.setup->Cell[2])
            cells += cell->text();
        QCOMPARE(cells, c.blockAfter == kFileOutputs ? QStringLiteral("101000") : QStringLiteral("100100"));
        QVERIFY(QString::fromStdString(r.prompt.log[1].text).contains(kDifference));
        // Read again, the block and the file agree.
        f.bbReadAgain->click();
        QVERIFY(f.SummaryLine->text().contains(QStringLiteral("совпадают")));
        QCOMPARE(f.FileFingerprint->text(), f.BlockFingerprint->text());
    }
}

void SettingsCheckTest::menuVisitThatChangedTheBlockIsMarkedUntilDecided()
{
    struct Case {
        const char* name;
        std::function<void(sim::TSimCb&)> change;
        bool marked;
    } const cases[] = {
        {"table changed", [](sim::TSimCb& b) { b.SetTableWire(1, 2, static_cast<uint8_t>(~kSiteOutputs)); }, true},
        {"nothing changed", [](sim::TSimCb&) {}, false},
    };
    for (const Case& c : cases) {
        qInfo("case: %s", c.name);
        Rig r;
        QVERIFY(r.Start());
        QLabel* line = r.form->SettingsChangedLine();
        r.form->Timer1Timer();
        QVERIFY(line->isHidden());

        const uint32_t segments = r.sim.RequestCount(sim::SimCmd::ReadSegment);
        r.sim.EnterMenu();
        c.change(r.sim);
        r.sim.LeaveMenu();
        // The thread re-reads the UIR configuration after the menu; the
        // first request after the last segment comes once it has judged it.
        QTRY_VERIFY_WITH_TIMEOUT(r.sim.RequestCount(sim::SimCmd::ReadSegment) >= segments + 11, kWaitMs);
        const uint32_t total = r.sim.TotalRequests();
        QTRY_VERIFY_WITH_TIMEOUT(r.sim.TotalRequests() > total, kWaitMs);
        r.form->Timer1Timer();
        QCOMPARE(!line->isHidden(), c.marked);
        QCOMPARE(line->text(), c.marked ? QStringLiteral("Настройки изменены: ЦБ 1") : QString());
        if (!c.marked)
            continue;

        // Taken into the file: the mark goes at the next tick.
        r.form->mmSettingsCheck->trigger();
        QCOMPARE(r.Listed(), QStringList{QStringLiteral("Таблицы функций|") + kDifference});
        r.prompt.accessPrompt = {true};
        r.prompt.yesNo = {true};
        r.check->bbTakeFromCb->click();
        QCOMPARE(int(r.File().at(0).FuncTable[2][1] & 0x3F), int(kSiteOutputs));
        r.form->Timer1Timer();
        QVERIFY(line->isHidden());
    }
}

void SettingsCheckTest::severalMarkedBlocksInTheStatusBarAndTheList()
{
    // Three blocks and no thread: the tick shows whatever the flags say.
    TGlobalState state;
    TempStore temp;
    ScriptedPrompt prompt;
    TGlobalState seed;
    seed.CbCount = 3;
    seed.EnsureAllocated(3);
    QVERIFY(temp.Seed(seed));
    TMainForm form(state, *temp.store, prompt);
    QVERIFY(form.Startup({}) == StartupResult::Continue);
    QCOMPARE(form.CbList()->count(), 3);
    const QString plain = form.CbList()->itemText(2);

    struct Case {
        std::vector<int> flagged;
        QString line;
    } const cases[] = {
        {{0, 2}, QStringLiteral("Настройки изменены: ЦБ 1, ЦБ 3")},
        {{1}, QStringLiteral("Настройки изменены: ЦБ 2")},
        {{}, QString()},
    };
    for (const Case& c : cases) {
        for (int i = 0; i < 3; ++i)
            state.Cb(i)->SettingsChangedOnSite = 0;
        for (int i : c.flagged)
            state.Cb(i)->SettingsChangedOnSite = 1;
        form.Timer1Timer();
        QCOMPARE(form.SettingsChangedLine()->text(), c.line);
        QCOMPARE(form.SettingsChangedLine()->isHidden(), c.flagged.empty());
        for (int i = 0; i < 3; ++i) {
            const bool flagged = std::find(c.flagged.begin(), c.flagged.end(), i) != c.flagged.end();
            QCOMPARE(form.CbList()->itemText(i).endsWith(QStringLiteral(" — настройки изменены")), flagged);
            QCOMPARE(form.CbList()->itemData(i, Qt::ToolTipRole).toString().isEmpty(), !flagged);
        }
    }
    QCOMPARE(form.CbList()->itemText(2), plain);
    form.close();
}

QTEST_MAIN(SettingsCheckTest)
#include "tst_settings_check.moc"
