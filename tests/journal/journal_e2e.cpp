// End to end: the utility's own start-up (settings store, configuration
// file, the acquisition over the OS serial device) with the journal window
// attached, against a kestrel-cbsim process on a pseudo-terminal. The journal
// of 255 records is fetched with the window's button and exported through
// the real save dialog; the file must hold the simulator's journal. The
// terminal device waits for the simulator's whole answer to each request (its
// trace says what it answered), so a busy host that holds the simulator back
// cannot make the program's fixed waits miss an answer.
//
//   journal_e2e CBSIM_PATH   (run under Xvfb by run_e2e.sh)
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "SimBus.h"
#include "SimExpect.h"
#include "app/App.h"
#include "journal/JournalRows.h"
#include "link/ComPort.h"
#include "link/SerialDeviceOs.h"
#include "monitor/ProtocolAcqLink.h"
#include "protocol/Protocol.h"
#include "setup/E2eHome.h"
#include "sim/AnsweredDevice.h"
#include "sim/SimProcess.h"
#include "state/Clock.h"
#include "journal/ui/HistoryForm.h"
#include "monitor/ui/MainForm.h"
#include "state/ConfigFile.h"
#include "state/SettingsStore.h"
#include "state/SettingsStoreFile.h"

using namespace kestrel;

namespace {

QString gCbsim;

// The journal the block starts with: 255 records at a fixed, stopped clock.
const char* kScenario =
    "clock 2024-06-15 12:00:00\n"
    "clock stop\n"
    "journal 255\n";

// The program's own acquisition, its OS device behind the answered device.
AcquisitionFactory AnsweredAcquisition(sim::test::TChildProcess& cbsim)
{
    return [&cbsim](TGlobalState& state, IUiHooks& hooks) {
        auto acq = std::make_unique<TAcquisition>();
        std::shared_ptr<ISettingsStore> store = MakeUserSettingsStore();
        std::shared_ptr<ISerialDevice> os = MakeOsSerialDevice(MakeSettingsPortResolver(*store));
        auto device = std::make_shared<sim::test::TAnsweredDevice>(*os, cbsim);
        auto port = std::make_shared<TComPort>(*device);
        auto protocol = std::make_shared<TCbProtocol>(state, *port, SystemClock::Instance(), hooks);
        auto link = std::make_shared<TProtocolAcqLink>(*protocol);
        acq->Thread = std::make_unique<TGetDataThread>(state, *link, SystemClock::Instance(), hooks);
        acq->Parts = {store, os, device, port, protocol, link};
        return acq;
    };
}

// The real window; only its message boxes are recorded instead of shown.
class RecordingHistoryForm : public THistoryForm {
public:
    using THistoryForm::THistoryForm;
    QStringList messages;
    void Message(const std::string& text, const std::string&, PromptIcon) override
    {
        messages << QString::fromStdString(text);
    }
};

}  // namespace

class JournalE2E : public QObject {
    Q_OBJECT

private slots:
    void FetchAndExport255()
    {
        if (gCbsim.isEmpty() || !QFileInfo(gCbsim).isExecutable())
            QSKIP("kestrel-cbsim is not built");
        // The installation: one CB on COM1 (the defaults), as an installer leaves it.
        test::E2eHome home;
        QVERIFY(home.Seed(false));
        TFileSettingsStore& store = *home.store;

        // The simulator, registered as COM1.
        const QString scenario = home.WriteFile("journal.scn", kScenario);
        QVERIFY(!scenario.isEmpty());
        sim::test::TChildProcess cbsim;
        QVERIFY(cbsim.Start({gCbsim.toStdString(), "--register", "COM1", "--scenario",
                             scenario.toStdString(), "--trace"},
                            {"XDG_CONFIG_HOME=" + home.config.toStdString()}));
        std::string terminal;
        QVERIFY2(cbsim.ReadLine(terminal), cbsim.Output().c_str());
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(home.PortMapping("COM1")), 5000);

        // The simulator's own record of that journal (same scenario, same code).
        VirtualClock clock;
        sim::SimBus oracle(clock);
        oracle.Attach(1);
        std::string error;
        QVERIFY2(oracle.LoadScenario(kScenario, error), error.c_str());
        oracle.Pump();
        std::vector<TEventData> expected;
        for (const sim::TSimEvent& s : oracle.Cb(0).Journal())
            expected.push_back(test::ExpectedRecord(s));
        QCOMPARE(expected.size(), size_t(255));

        TGlobalState state;
        test::CodePrompt prompt;  // no question or message is expected
        TMainForm main(state, store, prompt);
        auto* form = new RecordingHistoryForm(state, main.WaitUi());
        AttachHistoryForm(main, *form);
        QElapsedTimer sinceStart;
        sinceStart.start();
        QCOMPARE(main.Startup(AnsweredAcquisition(cbsim)), StartupResult::Continue);
        QVERIFY2(prompt.seen.isEmpty(), qPrintable(prompt.seen.join(" | ")));
        QCOMPARE(prompt.access, 0);
        main.show();
        // The start-up's own journal read is over before the operator's.
        QTRY_COMPARE_WITH_TIMEOUT(state.Cb(0)->FirstPollPending.load(), uint8_t(0), 60000);

        qInfo("start-up read done after %lld ms", sinceStart.elapsed());
        main.ToolButton4->trigger();
        QVERIFY(form->isVisible());
        QTest::mouseClick(form->bbGetListEvents, Qt::LeftButton);
        QVERIFY2(form->messages.isEmpty(), qPrintable(form->messages.join(" | ")));
        qInfo("fetch done after %lld ms", sinceStart.elapsed());
        QCOMPARE(form->StringGrid1->rowCount(), 255);
        QCOMPARE(state.Cb(0)->Events.Snapshot(), expected);
        test::Shot(form, "journal_e2e");

        // "Сохранить в файл" through the real dialog: type the name, accept.
        const QString out = home.Path() + "/export/journal";
        QVERIFY(QDir(home.Path()).mkdir("export"));
        bool dialogSeen = false;
        QTimer driver;
        driver.setInterval(50);
        connect(&driver, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog || dialogSeen)
                return;
            dialogSeen = true;
            auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
            if (name)
                name->setText(out);
            else
                dialog->selectFile(out);
            QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
        });
        driver.start();
        QTest::mouseClick(form->bbSaveToFile, Qt::LeftButton);
        driver.stop();
        QVERIFY(dialogSeen);
        QVERIFY2(form->messages.isEmpty(), qPrintable(form->messages.join(" | ")));

        QFile file(out + ".txt");  // the dialog's default extension
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
        const QByteArray bytes = file.readAll();
        const std::string want = JournalExportBytes(RenderJournal(expected));
        QCOMPARE(bytes, QByteArray(want.data(), qsizetype(want.size())));
        QCOMPARE(bytes.count("\r\n"), 255);
        QVERIFY(!bytes.startsWith("\xEF\xBB\xBF"));
        QVERIFY(!QFileInfo::exists(out + ".txt.tmp~"));

        main.close();
    }
};

int main(int argc, char** argv)
{
    if (argc > 1) {
        gCbsim = QString::fromLocal8Bit(argv[1]);
        --argc;
        for (int i = 1; i < argc; ++i)
            argv[i] = argv[i + 1];
    }
    QApplication app(argc, argv);
    JournalE2E test;
    return QTest::qExec(&test, argc, argv);
}

#include "journal_e2e.moc"
