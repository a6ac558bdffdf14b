#pragma once
// Driving the utility's windows on an X server that runs no window manager
// (xdotool, xwininfo, ImageMagick's import), and the ok/FAIL lines of an
// end-to-end run. Without a window manager the windows have no frames: the
// rectangle the X server gives is the window's client area.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QRect>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <functional>

namespace kestrel::test {

// Only a guard against a hang: whatever is awaited comes long before it.
inline constexpr int kX11GuardMs = 30000;

inline QString Run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    p.waitForFinished(kX11GuardMs);
    return QString::fromUtf8(p.readAllStandardOutput());
}

inline QString Xdo(const QStringList& args) { return Run(QStringLiteral("xdotool"), args); }

inline QString Str(const QRect& r)
{
    return QStringLiteral("%1x%2 at %3,%4").arg(r.width()).arg(r.height()).arg(r.x()).arg(r.y());
}

// The visible window whose title matches `title` (a regular expression), 0 when none.
inline qulonglong Find(const QString& title)
{
    const QStringList ids = Xdo({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"), title})
                                .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return ids.isEmpty() ? 0 : ids.last().toULongLong();
}

// Events are taken while waiting, so that a traced simulator's output is
// read and never fills its pipe.
inline bool WaitFor(const std::function<bool()>& cond, int guardMs = kX11GuardMs)
{
    QElapsedTimer t;
    t.start();
    while (!cond()) {
        if (t.elapsed() > guardMs)
            return false;
        QCoreApplication::processEvents();
        QThread::msleep(30);
    }
    return true;
}

inline qulonglong Need(const QString& title, int guardMs = kX11GuardMs)
{
    qulonglong id = 0;
    WaitFor([&] { return (id = Find(title)) != 0; }, guardMs);
    return id;
}

inline bool Gone(const QString& title, int guardMs = kX11GuardMs)
{
    return WaitFor([&] { return Find(title) == 0; }, guardMs);
}

namespace detail {
inline int InfoField(const QString& info, const char* name)
{
    const QRegularExpressionMatch m =
        QRegularExpression(QString::fromLatin1(name) + QStringLiteral(":\\s*(-?\\d+)")).match(info);
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}
}  // namespace detail

// The window's rectangle as the X server has it.
inline QRect Geometry(qulonglong id)
{
    const QString info = Run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), QString::number(id)});
    return {detail::InfoField(info, "Absolute upper-left X"), detail::InfoField(info, "Absolute upper-left Y"),
            detail::InfoField(info, "Width"), detail::InfoField(info, "Height")};
}

inline QRect RootGeometry()
{
    const QString info = Run(QStringLiteral("xwininfo"), {QStringLiteral("-root")});
    return {0, 0, detail::InfoField(info, "Width"), detail::InfoField(info, "Height")};
}

inline void Click(qulonglong id, int x, int y)
{
    Xdo({QStringLiteral("windowraise"), QString::number(id)});
    Xdo({QStringLiteral("mousemove"), QStringLiteral("--window"), QString::number(id), QString::number(x),
         QString::number(y), QStringLiteral("click"), QStringLiteral("1")});
}

// A point given from the window's bottom-right corner.
inline void ClickFromBottomRight(qulonglong id, int dx, int dy)
{
    const QRect r = Geometry(id);
    Click(id, r.width() - dx, r.height() - dy);
}

inline void ClickFromBottomLeft(qulonglong id, int x, int dy) { Click(id, x, Geometry(id).height() - dy); }

// The longest screenshot so far: a figure of the host's load in this run.
inline qint64& LongestShotMs()
{
    static qint64 ms = 0;
    return ms;
}

// The whole screen, also kept in `file`.
inline QImage Shot(const QString& file)
{
    QElapsedTimer t;
    t.start();
    QProcess p;
    p.start(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"), file});
    p.waitForFinished(kX11GuardMs);
    LongestShotMs() = std::max(LongestShotMs(), t.elapsed());
    return QImage(file).convertToFormat(QImage::Format_RGB32);
}

// One "ok:" or "FAIL:" line per judgement. With a prefix, the screen at
// each failure is kept as PREFIX_failedN.png for the diagnosis.
class TChecks {
public:
    explicit TChecks(QString shotPrefix = {}) : prefix_(std::move(shotPrefix)) {}

    void SetShotPrefix(const QString& prefix) { prefix_ = prefix; }

    bool operator()(bool ok, const QString& what)
    {
        std::printf("%s: %s\n", ok ? "ok" : "FAIL", qPrintable(what));
        std::fflush(stdout);
        if (ok)
            return true;
        ++failures_;
        if (!prefix_.isEmpty()) {
            const QString file = prefix_ + QStringLiteral("_failed%1.png").arg(failures_);
            QProcess::execute(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"), file});
            std::printf("  (screen in %s)\n", qPrintable(file));
        }
        return false;
    }

    int Failures() const { return failures_; }

private:
    QString prefix_;
    int failures_ = 0;
};

}  // namespace kestrel::test
