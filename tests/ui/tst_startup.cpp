// Every start-up path of the main window with scripted answers, and the
// single-instance lock.
#include <QDir>
#include <QFile>
#include <QTimer>
#include <QtTest>

#include "UiTestSupport.h"
#include "app/SingleInstance.h"
#include "monitor/ui/Tiles.h"

using namespace kestrel;
using namespace kestrel::test;

namespace {
const std::string kAskFind = "ask:Ошибка открытия файла конфигурации. Попробуете найти его самостоятельно?";
const std::string kAskNewFile = "ask:Ошибка чтения данных из файла конфигурации! Создать новый файл?";
const std::string kAskCreate = "ask:Файл конфигурации не найден. Создать новый?";
const std::string kAskNewCode = "ask:Ошибка чтения пароля. Создать новый пароль?";

// One start of the program against a store and a scripted prompt.
struct Start {
    TGlobalState state;
    ScriptedAcquisition acq;
    std::unique_ptr<TMainForm> form;
    StartupResult result;
    Start(ISettingsStore& store, ScriptedPrompt& prompt)
    {
        form = std::make_unique<TMainForm>(state, store, prompt);
        result = form->Startup(acq.Factory());
    }
    bool Running() const
    {
        return result == StartupResult::Continue && acq.made == 1 && form->Timer1()->isActive() &&
               form->Timer2()->isActive();
    }
    bool StoppedBeforeTheThread() const
    {
        return result == StartupResult::Exit && acq.made == 0 && !form->AcqThread() &&
               !form->Timer1()->isActive() && !form->Timer2()->isActive();
    }
};

// The working folder of a test, restored afterwards.
struct InFolder {
    QString before = QDir::currentPath();
    explicit InFolder(const QString& dir) { QDir::setCurrent(dir); }
    ~InFolder() { QDir::setCurrent(before); }
};
}  // namespace

class StartupTest : public QObject {
    Q_OBJECT
private slots:
    void everythingInPlaceStartsTheThread();
    void noKeysFirstStartRunsTheRecovery();
    void noKeysChosenFileIsStored();
    void declinedNewFileEndsWithoutMessage();
    void unreadableFileDeclinedEnds();
    void unreadableFileAcceptedKeepsACopy();
    void missingAccessCodeRecovered();
    void missingAccessCodeRecoveryCancelled();
    void secondInstanceIsRefused();
    void lockFolderMustBeOurs();
};

void StartupTest::everythingInPlaceStartsTheThread()
{
    TempStore temp;
    ScriptedPrompt prompt;
    {
        TGlobalState seed;
        seed.MarkAllUirsPresent();
        seed.Current()->Uir[4].Present = 0;  // UIR 5 absent
        QVERIFY(temp.Seed(seed, "s3cret"));
    }
    Start s(*temp.store, prompt);
    QVERIFY(s.Running());
    QVERIFY(prompt.log.empty());
    QCOMPARE(s.state.AccessCode, std::string("s3cret"));
    QCOMPARE(s.state.RegKeyCfg, kRegKeyCfg);
    QCOMPARE(s.state.RegKeyPassword, kRegKeyPassword);
    QVERIFY(s.form->Tile(4)->isHidden());
    QVERIFY(!s.form->Tile(5)->isHidden());
    s.form->close();
    QVERIFY(s.form->AcqThread()->Finished());
}

// The first start on a clean machine, with an empty settings store: the
// questions create the file, and the same start goes on with the access-code
// recovery and runs.
void StartupTest::noKeysFirstStartRunsTheRecovery()
{
    TempStore temp;
    InFolder cwd(temp.dir.path());
    ScriptedPrompt prompt;
    prompt.yesNo = {false, true, true};  // do not look for the file; create a new one; a new code
    prompt.changeDialog = {{true, "fresh"}};
    {
        Start s(*temp.store, prompt);
        QVERIFY(s.Running());
        QCOMPARE(prompt.Lines(), (std::vector<std::string>{kAskFind, kAskNewFile, kAskNewCode, "change:"}));
        QCOMPARE(prompt.log[0].icon, PromptIcon::Error);
        QCOMPARE(prompt.log[2].caption, std::string("Ошибка чтения пароля."));
        QCOMPARE(s.state.AccessCode, std::string("fresh"));
        QCOMPARE(prompt.unexpected, 0);
        s.form->close();
        QVERIFY(s.form->AcqThread()->Finished());
    }
    QFile cfg(temp.dir.filePath("1.cfg"));
    QVERIFY(cfg.open(QIODevice::ReadOnly));
    QCOMPARE(cfg.readAll().toStdString(), SerializeConfig({DefaultCbSettings()}));
    std::string path;
    QCOMPARE(temp.store->ReadRegString(kRegKeyCfg, path), 0);
    QCOMPARE(path, std::string(".\\1.cfg"));
    std::string code;
    QCOMPARE(temp.store->ReadRegString(kRegKeyPassword, code), 0);
    QCOMPARE(code, std::string("fresh"));

    // The next start asks nothing.
    prompt.log.clear();
    Start s(*temp.store, prompt);
    QVERIFY(s.Running());
    QVERIFY(prompt.log.empty());
    QCOMPARE(s.state.AccessCode, std::string("fresh"));
    QCOMPARE(prompt.unexpected, 0);
    s.form->close();
}

void StartupTest::noKeysChosenFileIsStored()
{
    TempStore temp;
    ScriptedPrompt prompt;
    {
        TGlobalState seed;
        QVERIFY(temp.Seed(seed, "k"));
    }
    // Forget the path but keep the file and the code.
    QVERIFY(QDir(QString::fromStdString((temp.store->Root() / "Software/KestrelUtilite/Cfg").string()))
                .removeRecursively());
    prompt.yesNo = {true};
    prompt.chooseFile = {{true, temp.Path("a.cfg")}};
    Start s(*temp.store, prompt);
    QVERIFY(s.Running());
    QCOMPARE(prompt.Lines(), (std::vector<std::string>{kAskFind, "file:"}));
    std::string path;
    QCOMPARE(temp.store->ReadRegString(kRegKeyCfg, path), 0);
    QCOMPARE(path, temp.Path("a.cfg"));
    s.form->close();
}

void StartupTest::declinedNewFileEndsWithoutMessage()
{
    TempStore temp;
    ScriptedPrompt prompt;
    prompt.yesNo = {true, false};       // look for it; do not create one
    prompt.chooseFile = {{false, ""}};  // the dialog is cancelled
    Start s(*temp.store, prompt);
    QVERIFY(s.StoppedBeforeTheThread());
    QCOMPARE(prompt.Lines(), (std::vector<std::string>{kAskFind, "file:", kAskCreate}));
    QCOMPARE(prompt.log[2].icon, PromptIcon::Warning);
    QCOMPARE(prompt.log[2].caption, std::string("Ошибка открытия файла конфигурации"));
    std::string path = "untouched";
    QCOMPARE(temp.store->ReadRegString(kRegKeyCfg, path), -1);
}

void StartupTest::unreadableFileDeclinedEnds()
{
    TempStore temp;
    ScriptedPrompt prompt;
    {
        TGlobalState seed;
        QVERIFY(temp.Seed(seed));
    }
    QFile f(QString::fromStdString(temp.Path("a.cfg")));
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("not a configuration file");
    f.close();
    prompt.yesNo = {false};
    Start s(*temp.store, prompt);
    QVERIFY(s.StoppedBeforeTheThread());
    QCOMPARE(prompt.Lines(), (std::vector<std::string>{kAskNewFile, "message:Ошибка чтения из файла конфигурации"}));
    QCOMPARE(prompt.log[0].caption, std::string("Ошибка чтения конфигурации."));
    QCOMPARE(prompt.log[0].icon, PromptIcon::Warning);
    QCOMPARE(prompt.log[1].caption, std::string("Ошибка получения конфигурации"));
    QCOMPARE(prompt.log[1].icon, PromptIcon::Error);
    // The file is left as it was.
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("not a configuration file"));
}

// Yes to a new file over one that cannot be read: its bytes stay beside it.
void StartupTest::unreadableFileAcceptedKeepsACopy()
{
    TempStore temp;
    InFolder cwd(temp.dir.path());
    ScriptedPrompt prompt;
    {
        TGlobalState seed;
        QVERIFY(temp.Seed(seed));
    }
    QVERIFY(temp.store->WriteRegString(kRegKeyCfg, "1.cfg") == 0);
    const QByteArray damaged("\x01\x00\x00\x00cut short", 13);
    for (const char* name : {"1.cfg", "1.cfg.damaged-1"}) {
        QFile f(temp.dir.filePath(QString::fromUtf8(name)));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(name == std::string("1.cfg") ? damaged : QByteArray("an earlier copy"));
    }
    prompt.yesNo = {true};
    Start s(*temp.store, prompt);
    QVERIFY(s.Running());
    QCOMPARE(prompt.Lines(), (std::vector<std::string>{kAskNewFile}));
    const auto bytes = [&](const char* name) {
        QFile f(temp.dir.filePath(QString::fromUtf8(name)));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
    };
    QCOMPARE(bytes("1.cfg.damaged-2"), damaged);
    QCOMPARE(bytes("1.cfg.damaged-1"), QByteArray("an earlier copy"));
    QCOMPARE(bytes("1.cfg").toStdString(), SerializeConfig({DefaultCbSettings()}));
    s.form->close();
}

void StartupTest::missingAccessCodeRecovered()
{
    TempStore temp;
    ScriptedPrompt prompt;
    {
        TGlobalState seed;
        QVERIFY(temp.Seed(seed));
    }
    QVERIFY(QDir(QString::fromStdString((temp.store->Root() / "Software/KestrelUtilite/Password").string()))
                .removeRecursively());
    prompt.yesNo = {true};
    prompt.changeDialog = {{true, "n"}};
    Start s(*temp.store, prompt);
    QVERIFY(s.Running());
    QCOMPARE(prompt.log[0].caption, std::string("Ошибка чтения пароля."));
    QCOMPARE(s.state.AccessCode, std::string("n"));
    s.form->close();
}

void StartupTest::missingAccessCodeRecoveryCancelled()
{
    TempStore temp;
    ScriptedPrompt prompt;
    {
        TGlobalState seed;
        QVERIFY(temp.Seed(seed));
    }
    QVERIFY(QDir(QString::fromStdString((temp.store->Root() / "Software/KestrelUtilite/Password").string()))
                .removeRecursively());
    for (bool yes : {true, false}) {
        prompt.log.clear();
        prompt.yesNo = {yes};
        prompt.changeDialog = {{false, ""}};
        Start s(*temp.store, prompt);
        QVERIFY(s.StoppedBeforeTheThread());
        QCOMPARE(prompt.log.back().text, std::string("Ошибка чтения пароля. Приложение будет закрыто."));
        QCOMPARE(prompt.log.back().caption, std::string("Ошибка чтения пароля"));
    }
}

void StartupTest::secondInstanceIsRefused()
{
    QTemporaryDir dir;
    const std::string folder = dir.filePath("run").toStdString();
    // On Windows the name is the whole session's: one of this run's own.
    const std::string name = "KestrelUtilite-test-" + std::to_string(QCoreApplication::applicationPid());
    auto first = std::make_unique<TSingleInstance>();
    QCOMPARE(first->Acquire(name, folder), TSingleInstance::Result::Acquired);
    TSingleInstance second;
    QCOMPARE(second.Acquire(name, folder), TSingleInstance::Result::AlreadyRunning);
    // Another name is another program.
    TSingleInstance other;
    QCOMPARE(other.Acquire(name + "-other", folder), TSingleInstance::Result::Acquired);
    // The first one ends: the lock is free again.
    first.reset();
    TSingleInstance third;
    QCOMPARE(third.Acquire(name, folder), TSingleInstance::Result::Acquired);
}

void StartupTest::lockFolderMustBeOurs()
{
#ifdef _WIN32
    QSKIP("Windows: a named mutex, no lock folder");
#endif
    QTemporaryDir dir;
    const QString real = dir.filePath("real");
    QVERIFY(QDir().mkpath(real));
    const QString link = dir.filePath("link");
    QVERIFY(QFile::link(real, link));
    TSingleInstance viaLink;
    QCOMPARE(viaLink.Acquire("KestrelUtilite", link.toStdString()), TSingleInstance::Result::Unavailable);
    // A private folder is made when missing, with owner-only access.
    const QString made = dir.filePath("made");
    TSingleInstance inMade;
    QCOMPARE(inMade.Acquire("KestrelUtilite", made.toStdString()), TSingleInstance::Result::Acquired);
    QCOMPARE(QFileInfo(made).permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteOther),
             QFileDevice::Permissions());
}

QTEST_MAIN(StartupTest)
#include "tst_startup.moc"
