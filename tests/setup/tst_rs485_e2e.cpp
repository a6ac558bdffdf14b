// End to end: the service console as the program attaches it (main window,
// setup windows, the acquisition over the OS serial device) against a
// kestrel-cbsim process on a pseudo-terminal. The console's clock write
// takes the block setup window's date/time entry, the clock read fills its
// clock display, and the UIR segment write waits for the UIR setup window;
// judged by the frames the simulator received (its trace) and by what the
// windows show. Screenshots when KESTREL_SCREENSHOTS names a folder. Skipped
// when kestrel-cbsim is not found (KESTREL_CBSIM, or beside this build's sim
// folder). Run under Xvfb for real windows.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "app/App.h"
#include "journal/ui/HistoryForm.h"
#include "monitor/GetDataThread.h"
#include "monitor/ui/MainForm.h"
#include "setup/ui/Rs485SetupForm.h"
#include "setup/ui/SetupCbDialogs.h"
#include "setup/ui/SetupUirForm.h"
#include "setup/E2eHome.h"
#include "setup/ui/SetupWindows.h"
#include "state/ConfigFile.h"
#include "state/SettingsStoreFile.h"

using namespace kestrel;
using test::CodePrompt;
using test::FindCbsim;
using test::Shot;

namespace {

int CentreDistance(const QWidget& a, const QWidget& b)
{
    return (a.frameGeometry().center() - b.frameGeometry().center()).manhattanLength();
}

}  // namespace

class Rs485E2E : public QObject {
    Q_OBJECT
private slots:
    void clockAndUirSegmentThroughTheirWindows()
    {
        const QString cbsimPath = FindCbsim();
        if (!QFileInfo::exists(cbsimPath))
            QSKIP("kestrel-cbsim is not built");
        test::E2eHome home;
        QVERIFY(home.Seed(true));
        TFileSettingsStore& store = *home.store;

        QProcess cbsim;
        QByteArray trace;
        QVERIFY2(test::StartTracedCbsim(cbsim, cbsimPath,
                                          {"--register", "COM1"}, trace), qPrintable(cbsim.errorString()));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(home.PortMapping("COM1")), 5000);

        TGlobalState state;
        CodePrompt prompt;
        TMainForm main(state, store, prompt);
        AttachHistoryForm(main, *new THistoryForm(state, main.WaitUi(), &main));
        AttachSetupWindows(main, state, store);
        auto* console = main.findChild<TRs485SetupForm*>();
        auto* setDateTime = main.findChild<TSetDateTimeForm*>();
        auto* clock = main.findChild<TGetDateTimeForm*>();
        auto* uir = main.findChild<TSetupUirForm*>();
        QVERIFY(console && setDateTime && clock && uir);
        QCOMPARE(main.Startup(MakeDeviceAcquisition), StartupResult::Continue);
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        QTRY_COMPARE_WITH_TIMEOUT(state.Cb(0)->FirstPollPending.load(), uint8_t(0), 60000);

        main.ToolButton5->trigger();
        QVERIFY(console->isVisible());
        // Ready once the thread has finished its visit and given up the port.
        QTRY_VERIFY_WITH_TIMEOUT(console->bbSendCommand->isEnabled(), 60000);
        QCOMPARE(state.ConsoleOpen.load(), 1);
        QCOMPARE(console->ComboBox2->currentText(), QStringLiteral("СБ №1"));  // the file's name, Windows-1251
        QSignalSpy done(console, &TRs485SetupForm::CommandFinished);
        auto finished = [&done] {
            if (done.isEmpty() && !done.wait(10000))
                return -1000;
            return done.takeFirst().at(0).toInt();
        };

        // Item 8: 17:30:05, 10 February 2013 into the entry, confirmed.
        console->ComboBox1->setCurrentIndex(8);
        console->bbSendCommand->click();
        QVERIFY(setDateTime->isVisible());
        QVERIFY(CentreDistance(*setDateTime, *console) <= 4);
        setDateTime->Year->setCurrentIndex(setDateTime->Year->findText("2013"));
        setDateTime->Month->setCurrentIndex(1);
        setDateTime->Day->setCurrentIndex(9);
        setDateTime->Hour->setCurrentIndex(17);
        setDateTime->Minute->setCurrentIndex(30);
        setDateTime->Second->setCurrentIndex(5);
        Shot(setDateTime, "rs485_e2e_set_date");
        setDateTime->bbOk->click();
        QCOMPARE(finished(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(trace.contains("PC -> 68 09 09 68 53 01 3C 05 30 17 10 02 13 "), 5000);

        // Item 4: the block's clock comes back in the display.
        console->ComboBox1->setCurrentIndex(4);
        console->bbSendCommand->click();
        QCOMPARE(finished(), 0);
        QTRY_VERIFY(clock->isVisible());
        QCOMPARE(clock->windowTitle(), QStringLiteral("Время и дата ЦБ"));
        QStringList shown;
        for (int i = 0; i < 5; ++i)
            shown << clock->Value[static_cast<size_t>(i)]->text();
        QCOMPARE(shown, (QStringList{"2013", "Февраль", "10", "17", "30"}));
        const int second = clock->Value[5]->text().toInt();
        QVERIFY2(second >= 5 && second < 30, qPrintable(clock->Value[5]->text()));
        QVERIFY(CentreDistance(*clock, *console) <= 4);
        Shot(clock, "rs485_e2e_clock");
        clock->bbClose->click();

        // Item 9, segment 1: the UIR window waits with "УИР №4" chosen; its
        // closing sends the segment.
        console->ComboBox1->setCurrentIndex(9);
        console->ComboBox3->setCurrentIndex(1);
        console->bbSendCommand->click();
        QVERIFY(uir->isVisible());
        QCOMPARE(uir->ListBox1->currentItem()->text(), QStringLiteral("УИР №4"));
        QVERIFY(!uir->bbSendDataToUir->isEnabled());
        Shot(uir, "rs485_e2e_uir");
        uir->bbClose->click();
        QCOMPARE(finished(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(trace.contains("PC -> 68 0C 0C 68 53 01 40 04 "), 5000);
        QVERIFY(uir->bbSendDataToUir->isEnabled());

        // Items 0 and 1: after a link reset the journal's first record
        // comes back and the journal window shows it centred over the console.
        auto* history = main.findChild<THistoryForm*>();
        QVERIFY(history && !history->isVisible());
        cbsim.write("journal 3\n");
        int record = 0;
        // The simulator takes the line in its own time: read until it has.
        for (int i = 0; i < 50 && record <= 0; ++i) {
            console->ComboBox1->setCurrentIndex(0);
            console->bbSendCommand->click();
            QCOMPARE(finished(), 0);
            console->ComboBox1->setCurrentIndex(1);
            console->bbSendCommand->click();
            record = finished();
        }
        QVERIFY(record > 0);
        QTRY_VERIFY(history->isVisible());
        QVERIFY2(CentreDistance(*history, *console) <= 4,
                 qPrintable(QStringLiteral("journal %1, console %2")
                                .arg(history->frameGeometry().center().x())
                                .arg(console->frameGeometry().center().x())));
        history->hide();

        QTRY_VERIFY(console->Memo1->toPlainText().contains(
            QStringLiteral("Время/дата центрального блока: 17:30:")));
        QVERIFY2(console->lbCounters->text().startsWith(QStringLiteral("Кадров: ")) &&
                     !console->lbCounters->text().startsWith(QStringLiteral("Кадров: 0,")),
                 qPrintable(console->lbCounters->text()));
        Shot(console, "rs485_e2e_console");

        console->bbOk->click();
        QVERIFY(!console->isVisible());
        QCOMPARE(state.ConsoleOpen.load(), 0);
        QVERIFY(prompt.seen.isEmpty());
        main.close();
        cbsim.terminate();
        QVERIFY(cbsim.waitForFinished(5000));
    }
};

QTEST_MAIN(Rs485E2E)
#include "tst_rs485_e2e.moc"
