#pragma once
// What the end-to-end window tests against kestrel-cbsim share: a prompt that
// answers the access code and records everything else, the simulator's path,
// screenshots on request, and an installation in a private home (a one-block
// configuration file named in the settings store with an access code, as an
// installer leaves it).
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QWidget>
#include <memory>
#include <string>

#include "state/ConfigFile.h"
#include "state/Prompt.h"
#include "state/SettingsStore.h"
#include "state/SettingsStoreFile.h"

namespace kestrel::test {

// The access prompt is answered with the code; anything else is recorded.
struct CodePrompt final : IPrompt {
    QStringList seen;
    int access = 0;
    bool AskYesNo(const std::string& t, const std::string&, PromptIcon) override
    {
        seen << QString::fromStdString(t);
        return false;
    }
    void Message(const std::string& t, const std::string&, PromptIcon) override { seen << QString::fromStdString(t); }
    bool ChangeCodeDialog(std::string&) override { return false; }
    bool AccessPrompt() override
    {
        ++access;
        return true;
    }
    bool ChooseConfigFile(std::string&) override { return false; }
};

inline QString FindCbsim()
{
    const QString env = qEnvironmentVariable("KESTREL_CBSIM");
    if (!env.isEmpty())
        return env;
    return QCoreApplication::applicationDirPath() + "/../../sim/kestrel-cbsim";
}

// Saves the window as NAME.png in $KESTREL_SCREENSHOTS, when it is set.
inline void Shot(QWidget* w, const char* name)
{
    const QString dir = qEnvironmentVariable("KESTREL_SCREENSHOTS");
    if (!dir.isEmpty())
        w->grab().save(dir + "/" + name + ".png");
}

struct E2eHome {
    QTemporaryDir dir;
    QByteArray config;    // XDG_CONFIG_HOME
    std::string cfgPath;  // the configuration file
    std::unique_ptr<TFileSettingsStore> store;

    // Points HOME and XDG_CONFIG_HOME here, writes the file (every UIR present
    // when asked) and names it in the store with the code "1234".
    bool Seed(bool allUirsPresent)
    {
        if (!dir.isValid())
            return false;
        config = (dir.path() + "/config").toUtf8();
        qputenv("XDG_CONFIG_HOME", config);
        qputenv("HOME", dir.path().toUtf8());
        cfgPath = (dir.path() + "/1.cfg").toStdString();
        TGlobalState seed;
        seed.CfgFilePath = cfgPath;
        if (allUirsPresent)
            for (TUirData& u : seed.Cb(0)->Uir)
                u.Present = 1;
        if (WriteConfigFile(seed) != 0)
            return false;
        store = std::make_unique<TFileSettingsStore>(TFileSettingsStore::DefaultRoot());
        return store->WriteRegString(kRegKeyCfg, cfgPath) == 0 && store->WriteRegString(kRegKeyPassword, "1234") == 0;
    }
    QString Path() const { return dir.path(); }
    // Writes `text` to the file NAME here: its path, or empty when it failed.
    QString WriteFile(const QString& name, const QByteArray& text) const
    {
        QFile f(dir.filePath(name));
        if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size())
            return {};
        return f.fileName();
    }
    // The settings-store entry kestrel-cbsim --register COMn writes.
    QString PortMapping(const char* com) const
    {
        return QString::fromUtf8(config) + "/KestrelUtilite/registry/Software/KestrelUtilite/Ports/" + com;
    }
};

// Starts kestrel-cbsim with --trace and collects its trace into `trace`.
inline bool StartTracedCbsim(QProcess& cbsim, const QString& path, const QStringList& args, QByteArray& trace)
{
    cbsim.setProcessChannelMode(QProcess::SeparateChannels);
    QObject::connect(&cbsim, &QProcess::readyReadStandardOutput, [&] { trace += cbsim.readAllStandardOutput(); });
    cbsim.start(path, QStringList{"--trace"} + args);
    return cbsim.waitForStarted(5000);
}

}  // namespace kestrel::test
