#pragma once
// A private profile for one run of the utility and the simulator: its own
// settings store (the configuration path and access code as the file store
// keeps them), configuration file and lock folder, and the environment that
// points both programs at them. Your own settings are never touched.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace kestrel::test {

struct TE2eProfile {
    QTemporaryDir tmp;
    QString config = tmp.filePath(QStringLiteral("config"));
    QString reg = config + QStringLiteral("/KestrelUtilite/registry/Software/KestrelUtilite");
    QString runtime = tmp.filePath(QStringLiteral("run"));
    QString cfg = tmp.filePath(QStringLiteral("e2e.cfg"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();

    // The configuration written by `gen` (genArgs, then the file) and both
    // values stored; false when the configuration cannot be written.
    bool Make(const QString& gen, const QStringList& genArgs, const QByteArray& code)
    {
        QDir().mkpath(reg + QStringLiteral("/Cfg"));
        QDir().mkpath(reg + QStringLiteral("/Password"));
        QDir().mkpath(runtime);
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        if (QProcess::execute(gen, genArgs + QStringList{cfg}) != 0)
            return false;
        Write(reg + QStringLiteral("/Cfg/Software%5CKestrelUtilite%5CCfg"), cfg.toUtf8());
        Write(reg + QStringLiteral("/Password/Software%5CKestrelUtilite%5CPassword"), code);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        return true;
    }
    // Where the simulator's --register COMn leaves its device.
    QString PortMapping(const QString& com) const { return reg + QStringLiteral("/Ports/") + com; }

    static bool Write(const QString& file, const QByteArray& value)
    {
        QFile f(file);
        return f.open(QIODevice::WriteOnly) && f.write(value) == value.size();
    }
};

}  // namespace kestrel::test
