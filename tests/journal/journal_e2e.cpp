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

// Any question or message fails the run: none is expected.
struct NoPrompt final : IPrompt {
    QStringList seen;
    bool AskYesNo(const std::string& t, const std::string&, PromptIcon) override
    {
        seen << QString::fromStdString(t);
        return false;
    }
    void Message(const std::string& t, const std::string&, PromptIcon) override { seen << QString::fromStdString(t); }
    bool ChangeCodeDialog(std::string&) override { return false; }
    bool AccessPrompt() override { return false; }
    bool ChooseConfigFile(std::string&) override { return false; }
};

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
        QTemporaryDir home;
        QVERIFY(home.isValid());
        const QByteArray config = (home.path() + "/config").toUtf8();
        qputenv("XDG_CONFIG_HOME", config);
        qputenv("HOME", home.path().toUtf8());

        // The installation: one CB on COM1 (the defaults), its file named in
        // the settings store with an access code, as an installer leaves it.
        const std::string cfgPath = (home.path() + "/1.cfg").toStdString();
        {
            TGlobalState seed;
            seed.CfgFilePath = cfgPath;
            QCOMPARE(WriteConfigFile(seed), 0);
        }
        TFileSettingsStore store(TFileSettingsStore::DefaultRoot());
        QCOMPARE(store.WriteRegString(kRegKeyCfg, cfgPath), 0);
        QCOMPARE(store.WriteRegString(kRegKeyPassword, "1234"), 0);

        // The simulator, registered as COM1.
        QFile scenario(home.path() + "/journal.scn");
        QVERIFY(scenario.open(QIODevice::WriteOnly));
        scenario.write(kScenario);
        scenario.close();
        sim::test::TChildProcess cbsim;
        QVERIFY(cbsim.Start({gCbsim.toStdString(), "--register", "COM1", "--scenario",
                             scenario.fileName().toStdString(), "--trace"},
                            {"XDG_CONFIG_HOME=" + config.toStdString()}));
        std::string terminal;
        QVERIFY2(cbsim.ReadLine(terminal), cbsim.Output().c_str());
        const QString mapping = QString::fromUtf8(config) + "/KestrelUtilite/registry/Software/KestrelUtilite/Ports/COM1";
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(mapping), 5000);

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
        NoPrompt prompt;
        TMainForm main(state, store, prompt);
        auto* form = new RecordingHistoryForm(state, main.WaitUi());
        AttachHistoryForm(main, *form);
        QElapsedTimer sinceStart;
        sinceStart.start();
        QCOMPARE(main.Startup(AnsweredAcquisition(cbsim)), StartupResult::Continue);
        QVERIFY2(prompt.seen.isEmpty(), qPrintable(prompt.seen.join(" | ")));
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
        if (!qEnvironmentVariableIsEmpty("KESTREL_SCREENSHOTS"))
            form->grab().save(qEnvironmentVariable("KESTREL_SCREENSHOTS") + "/journal_e2e.png");

        // "Сохранить в файл" through the real dialog: type the name, accept.
        const QString out = home.path() + "/export/journal";
        QVERIFY(QDir(home.path()).mkdir("export"));
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
