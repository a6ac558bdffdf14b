// End to end: the utility's own start-up (settings store, configuration
// file, the acquisition over the OS serial device) with every setup window
// attached as the program attaches them, against a kestrel-cbsim process on
// a pseudo-terminal. The CB tile is clicked, one table bit is changed in the
// editor, the tables are written and read back; judged by the frames the
// simulator received (its trace) and by screenshots when KESTREL_SCREENSHOTS
// names a folder. Skipped when kestrel-cbsim is not found (KESTREL_CBSIM, or
// beside this build's sim folder). Run under Xvfb for real windows.
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include "app/App.h"
#include "journal/ui/HistoryForm.h"
#include "link/Link.h"
#include "monitor/ui/MainForm.h"
#include "monitor/ui/Tiles.h"
#include "setup/ui/SetupCbForm.h"
#include "setup/E2eHome.h"
#include "setup/ui/SetupWindows.h"
#include "state/ConfigFile.h"
#include "state/SettingsStoreFile.h"

using namespace kestrel;
using test::CodePrompt;
using test::FindCbsim;
using test::Shot;

namespace {

}  // namespace

class SetupCbE2E : public QObject {
    Q_OBJECT
private slots:
    void clickEditWriteReadBack()
    {
        const QString cbsimPath = FindCbsim();
        if (!QFileInfo(cbsimPath).isExecutable())
            QSKIP("kestrel-cbsim is not built");
        test::E2eHome home;
        QVERIFY(home.Seed(false));
        TFileSettingsStore& store = *home.store;

        // Function 1 in MTZ-2 has outputs 1 and 6 on; UROV 200 ms, no MTZ wait.
        const QString scenario = home.WriteFile("cb.scn", "table 2 1 0x21\nurov 200\nmtz-wait off\n");
        QVERIFY(!scenario.isEmpty());
        QProcess cbsim;
        QByteArray trace;
        QVERIFY2(test::StartTracedCbsim(cbsim, cbsimPath,
                                          {"--register", "COM1", "--scenario", scenario}, trace), qPrintable(cbsim.errorString()));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(home.PortMapping("COM1")), 5000);

        TGlobalState state;
        CodePrompt prompt;
        TMainForm main(state, store, prompt);
        AttachHistoryForm(main, *new THistoryForm(state, main.WaitUi(), &main));
        AttachSetupWindows(main, state, store);
        auto* setup = main.findChild<TSetupCbForm*>();
        QVERIFY(setup);
        QCOMPARE(main.Startup(MakeDeviceAcquisition), StartupResult::Continue);
        main.show();
        QTRY_COMPARE_WITH_TIMEOUT(state.Cb(0)->FirstPollPending.load(), uint8_t(0), 60000);

        // The click on the CB tile: the window, the four reads, the values.
        QElapsedTimer t;
        t.start();
        QTest::mouseClick(main.CbTile(), Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
        const qint64 openMs = t.elapsed();
        const uint32_t waits = 4 * TLink::PostWriteWaitMs(9600, 25);
        qInfo("CB tile to tables shown: %lld ms; the four reads' post-write waits: %u ms", openMs, waits);
        QVERIFY(setup->isVisible());
        QVERIFY2(prompt.seen.isEmpty(), qPrintable(prompt.seen.join(" | ")));
        QCOMPARE(setup->UrovText->text(), QStringLiteral("200"));
        QCOMPARE(setup->MtzText->text(), QStringLiteral("Не ждать"));
        setup->ModeList[1]->setCurrentIndex(2);
        emit setup->ModeList[1]->activated(2);
        QString cells;
        for (QLabel* c : setup->Cell[1])
            cells += c->text();
        QCOMPARE(cells, QStringLiteral("100001"));
        Shot(&main, "setup_cb_main");
        Shot(setup, "setup_cb_window");

        // The editor: F: 1, "МТЗ: 2", port 3 to "1", confirm.
        QTest::mouseClick(setup->bbChFuncCb, Qt::LeftButton);
        TCbSetFuncForm& e = *setup->CbSetFuncForm;
        QVERIFY(e.isVisible());
        e.Mode[1]->setCurrentIndex(2);
        emit e.Mode[1]->activated(2);
        e.Port[1][2]->setCurrentIndex(1);
        emit e.Port[1][2]->activated(1);
        Shot(&e, "setup_cb_editor");
        QTest::mouseClick(e.bbOk, Qt::LeftButton);
        QCOMPARE(int(state.Cb(0)->FuncTable[1][2]), 0x25);
        QTRY_VERIFY_WITH_TIMEOUT(!e.Confirmed, 2000);  // the timer saved it

        // "Записать конфигурацию ЦБ", then "Получить конфигурацию  ЦБ".
        trace.clear();
        QTest::mouseClick(setup->bbSendDataToUir, Qt::LeftButton);
        QTest::mouseClick(setup->bbGetDataFrUir, Qt::LeftButton);
        QVERIFY2(prompt.seen.isEmpty(), qPrintable(prompt.seen.join(" | ")));
        QCOMPARE(prompt.access, 2);
        QTRY_VERIFY_WITH_TIMEOUT(trace.contains("read-table"), 5000);
        // Mode 2 written with F1 = NOT 0x25 = DA: 68 07 07 68 C 01 34 D0 DA D2 D3 CS 16.
        const QList<QByteArray> lines = trace.split('\n');
        bool written = false;
        for (const QByteArray& l : lines)
            if (const qsizetype at = l.indexOf("PC -> 68 07 07 68 53 01 34 "); at >= 0) {
                const QList<QByteArray> b = l.mid(at + 6).trimmed().split(' ');
                QCOMPARE(b.size(), 13);
                QCOMPARE(b[8], QByteArray("DA"));
                written = true;
            }
        QVERIFY2(written, trace.constData());
        cells.clear();
        for (QLabel* c : setup->Cell[1])
            cells += c->text();
        QCOMPARE(cells, QStringLiteral("101001"));
        QCOMPARE(int(state.Cb(0)->FuncTable[1][2]), 0x25);  // read back from the block
        Shot(setup, "setup_cb_written");

        // The other dialogs, for their screenshots.
        QTest::mouseClick(setup->bbGetDateTime, Qt::LeftButton);
        QVERIFY(setup->GetDateTimeForm->isVisible());
        Shot(setup->GetDateTimeForm, "setup_cb_clock");
        setup->GetDateTimeForm->hide();
        setup->CbSetUrovForm->Load(*state.Cb(0));
        setup->CbSetUrovForm->show();
        Shot(setup->CbSetUrovForm, "setup_cb_urov");
        setup->CbSetUrovForm->hide();
        setup->SetDateTimeForm->show();
        Shot(setup->SetDateTimeForm, "setup_cb_datetime");
        setup->SetDateTimeForm->hide();
        setup->SetAddrAndBaudForm->show();
        Shot(setup->SetAddrAndBaudForm, "setup_cb_addr");
        setup->SetAddrAndBaudForm->hide();

        main.close();
        cbsim.terminate();
        QVERIFY(cbsim.waitForFinished(5000));
    }
};

QTEST_MAIN(SetupCbE2E)
#include "tst_setup_cb_e2e.moc"
