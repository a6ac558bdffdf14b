// kestrel-ui-bench [APP SIM DEMOCFG]: figures of the main window, printed.
//  1. one status tick with 10, 10 000 and 100 000 events in the list;
//  2. an hour of events at one a second (3 600 inserted, 3 600 status ticks,
//     12 000 blink ticks, painting): resident memory before and after, and
//     after a second hour, so growth beyond the list would show;
//  3. with APP, SIM and DEMOCFG and a display: the utility's start-up time to
//     a shown main window against the simulator, and its resident memory.
// Not a test: it judges nothing, it measures.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "monitor/ui/MainForm.h"
#include "state/SettingsStoreFile.h"

using namespace kestrel;

namespace {

class SilentPrompt final : public IPrompt {
public:
    bool AskYesNo(const std::string&, const std::string&, PromptIcon) override { return false; }
    void Message(const std::string&, const std::string&, PromptIcon) override {}
    bool ChangeCodeDialog(std::string&) override { return false; }
    bool AccessPrompt() override { return false; }
    bool ChooseConfigFile(std::string&) override { return false; }
};

long RssKb(const std::string& statusFile = "/proc/self/status")
{
    std::ifstream in(statusFile);
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

TEventData Event(int i)
{
    static const uint8_t codes[] = {0xA1, 0xB1, 0xC0, 0xA2, 0xE1, 0xB2, 0xA3, 0xD4, 0xE0, 0xC0};
    TEventData e;
    e.Code = codes[i % 10];
    e.UirAddress = static_cast<uint8_t>(1 + i % 43);
    e.Seconds = static_cast<uint8_t>(i % 60);
    return e;
}

double TickMs(TMainForm& form, int runs)
{
    std::vector<double> ms;
    for (int r = 0; r < runs; ++r) {
        QElapsedTimer t;
        t.start();
        form.Timer1Timer();
        ms.push_back(t.nsecsElapsed() / 1e6);
        QCoreApplication::processEvents();
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

void StatusTicks()
{
    TGlobalState state;
    QTemporaryDir dir;
    TFileSettingsStore store(dir.path().toStdString());
    SilentPrompt prompt;
    TMainForm form(state, store, prompt);
    form.show();
    TCbData& cb = *state.Current();
    cb.FirstPollPending = 0;
    std::printf("status tick (median of 21, the tick alone; painting follows in the event loop):\n");
    int filled = 0;
    for (int n : {10, 10000, 100000}) {
        for (; filled < n; ++filled)
            cb.Events.Append(Event(filled));
        std::printf("  %6d events: %8.3f ms\n", n, TickMs(form, 21));
    }
}

void HourOfEvents()
{
    TGlobalState state;
    QTemporaryDir dir;
    TFileSettingsStore store(dir.path().toStdString());
    SilentPrompt prompt;
    TMainForm form(state, store, prompt);
    form.show();
    TCbData& cb = *state.Current();
    cb.FirstPollPending = 0;
    for (int i = 0; i < 6; ++i)
        cb.Uir[i].PollEnabled = 1;
    QCoreApplication::processEvents();
    const long start = RssKb();
    int made = 0;
    QElapsedTimer wall;
    wall.start();
    std::printf("an hour of events at one a second:\n");
    for (int hour = 1; hour <= 2; ++hour) {
        for (int s = 0; s < 3600; ++s) {
            cb.Events.InsertAt(Event(made++), 0);
            if (s % 900 == 899) {
                TEventData reset;
                reset.Code = 0xD2;
                cb.Events.InsertAt(reset, 0);
                ++made;
            }
            form.Timer1Timer();
            for (int b = 0; b < 3; ++b)
                form.Timer2Timer();
            QCoreApplication::processEvents();
        }
        const long rss = RssKb();
        std::printf("  after hour %d: %d events in the list, resident %ld kB (+%ld kB, %.1f bytes per event)\n",
                    hour, cb.Events.Count(), rss, rss - start, (rss - start) * 1024.0 / std::max(1, made));
    }
    std::printf("  (%.1f s of wall time for two simulated hours)\n", wall.elapsed() / 1000.0);
}

void RealStartup(const QString& app, const QString& sim, const QString& gen)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::printf("start-up against the simulator: skipped, no display\n");
        return;
    }
    QTemporaryDir tmp;
    const QString config = tmp.filePath(QStringLiteral("config"));
    const QString reg = config + QStringLiteral("/KestrelUtilite/registry/Software/KestrelUtilite");
    QDir().mkpath(reg + QStringLiteral("/Cfg"));
    QDir().mkpath(reg + QStringLiteral("/Password"));
    const QString runtime = tmp.filePath(QStringLiteral("run"));
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString cfg = tmp.filePath(QStringLiteral("bench.cfg"));
    QProcess::execute(gen, {cfg});
    auto put = [](const QString& f, const QByteArray& v) {
        QFile file(f);
        return file.open(QIODevice::WriteOnly) && file.write(v) == v.size();
    };
    put(reg + QStringLiteral("/Cfg/Software%5CKestrelUtilite%5CCfg"), cfg.toUtf8());
    put(reg + QStringLiteral("/Password/Software%5CKestrelUtilite%5CPassword"), "bench");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);

    QProcess simProc;
    simProc.setProcessEnvironment(env);
    simProc.start(sim, {QStringLiteral("--register"), QStringLiteral("COM1")});
    simProc.waitForReadyRead(5000);
    for (int i = 0; i < 50 && !QFile::exists(reg + QStringLiteral("/Ports/COM1")); ++i)
        QThread::msleep(100);

    std::vector<qint64> times;
    long rss = -1;
    for (int run = 0; run < 3; ++run) {
        QProcess utility;
        utility.setProcessEnvironment(env);
        QElapsedTimer t;
        t.start();
        utility.start(app, {});
        qint64 shown = -1;
        while (t.elapsed() < 15000) {
            QProcess info;
            info.start(QStringLiteral("xwininfo"), {QStringLiteral("-name"), QStringLiteral("Дуговая защита v1.001")});
            info.waitForFinished(2000);
            if (info.readAllStandardOutput().contains("IsViewable")) {
                shown = t.elapsed();
                break;
            }
            QThread::msleep(5);
        }
        times.push_back(shown);
        if (run == 2) {
            QThread::msleep(5000);  // the first poll and a few ticks
            rss = RssKb("/proc/" + std::to_string(utility.processId()) + "/status");
        }
        utility.terminate();
        utility.waitForFinished(5000);
    }
    simProc.terminate();
    simProc.waitForFinished(5000);
    std::printf("start-up to a shown main window against the simulator (3 runs): %lld, %lld, %lld ms\n",
                static_cast<long long>(times[0]), static_cast<long long>(times[1]),
                static_cast<long long>(times[2]));
    std::printf("resident memory of the running utility after 5 s: %ld kB\n", rss);
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    StatusTicks();
    HourOfEvents();
    if (argc == 4)
        RealStartup(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    return 0;
}
