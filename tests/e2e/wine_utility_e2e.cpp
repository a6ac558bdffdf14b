// End-to-end: the Windows build of kestrel-utilite under Wine on an X server
// (Xvfb), against a native kestrel-cbsim on a pseudo-terminal that Wine names
// COM7; driven by mouse and keyboard (xdotool), judged by screenshots and by
// the frames the simulator received (its trace).
//
//   wine_utility_e2e APP.exe SIM DEMOCFG OUTDIR
//
// A private Wine prefix in a temporary folder. The configuration (every
// block on COM7 without parity: a pseudo-terminal takes none, and Wine's COM1
// is the machine's own first serial port) lies in a folder with a Cyrillic
// name; the utility finds it, and the access code, in the registry, where an
// installer puts them. COM7 must lead to the simulator before the utility
// starts: nothing may reach a real serial port.
//  a. the main window and its tile area, the configured UIRs polled;
//  b. an arc on UIR 5 input 2 turns that circle red, input 1 stays white
//     (the screen kept as OUTDIR/wine_main.png);
//  c. the journal window's fetch lists as many rows as the block has records;
//  d. "Записать конфигурацию ЦБ", behind the access code, writes the function
//     table the block setup window read from the block (the frame in the trace);
//  e. a second instance shows "Ошибка запуска." and the first runs on.
// The screen at each failure is kept as OUTDIR/wine_failedN.png. Exit 77
// (skipped) when wine, the exe or the simulator is missing.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cstdio>
#include <optional>
#include <vector>

#include "E2eScreen.h"
#include "E2eTiles.h"
#include "E2eX11.h"

namespace {

using namespace kestrel::test;

// Guards only: Wine's first start in a new prefix takes seconds on a busy host.
constexpr int kGuardMs = 60000;
const char* const kCode = "e2e";
const QString kMain = QStringLiteral("^Дуговая защита v1.001$");
const QString kAccess = QStringLiteral("^Защита от несанкционированного доступа$");
const QString kWait = QStringLiteral("^Окно сообщений$");
TChecks Check;

// A window that does not come: the rest of the run would only wait on it.
struct Abort {};

// Prints how long the enclosing step took.
struct TStepTime {
    const char* name;
    QElapsedTimer t;
    explicit TStepTime(const char* n) : name(n) { t.start(); }
    ~TStepTime() { std::printf("time: %s %lld ms\n", name, static_cast<long long>(t.elapsed())); }
};

// A program of the Wine installation, to its end; its exit code (-1 when it hung).
int Wine(const QProcessEnvironment& env, const QString& program, const QStringList& args, int guardMs = kGuardMs)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.setStandardOutputFile(QProcess::nullDevice());
    p.setStandardErrorFile(QProcess::nullDevice());
    p.start(program, args);
    if (!p.waitForFinished(guardMs)) {
        p.kill();
        p.waitForFinished(5000);
        return -1;
    }
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// The simulator: its output gathered while the harness waits, commands typed.
struct TSim {
    QProcess proc;
    QByteArray out;

    void Type(const QByteArray& lines)
    {
        proc.write(lines);
        proc.waitForBytesWritten(kGuardMs);
    }
    // A number from block 1's status line ("journal 7", "queued 0"); -1 without an answer.
    long long Status(const QByteArray& field)
    {
        const qsizetype from = out.size();
        Type("cb 1 status\n");
        long long v = -1;
        WaitFor([&] {
            for (const QByteArray& line : out.mid(from).split('\n')) {
                const qsizetype at = line.indexOf(", " + field + ' ');
                if (line.startsWith("CB 1: ") && at >= 0) {
                    v = line.mid(at + field.size() + 3).split(',').value(0).toLongLong();
                    return true;
                }
            }
            return false;
        });
        return v;
    }
};

bool Ink(QRgb p)
{
    // Dark text, or the blue of a selected row (its text is white).
    return std::max({qRed(p), qGreen(p), qBlue(p)}) < 96 || (qBlue(p) > 150 && qRed(p) < 100);
}

// Runs of pixels other than the window's background on column `x` of the
// window `r`, from its bottom up (the lowest first); gaps of up to two
// pixels inside a run are not ends (a button's gradient).
std::vector<std::pair<int, int>> RunsUp(const QImage& img, const QRect& r, int x)
{
    const QRgb bg = img.pixel(r.x() + x, r.bottom() - 1);
    std::vector<std::pair<int, int>> runs;
    int gap = 3;
    for (int y = r.bottom() - 1; y > r.top(); --y) {
        if (img.pixel(r.x() + x, y) == bg) {
            ++gap;
            continue;
        }
        if (gap > 2)
            runs.push_back({y, y});
        runs.back().first = y;
        gap = 0;
    }
    return runs;
}

// The n-th button (0: the lowest) on column `x` of the window, in its coordinates.
struct TButton {
    QPoint centre;
    int top = 0;
};
std::optional<TButton> Button(const QImage& img, const QRect& r, int x, size_t n)
{
    const auto runs = RunsUp(img, r, x);
    if (runs.size() <= n)
        return std::nullopt;
    return TButton{QPoint(x, (runs[n].first + runs[n].second) / 2 - r.y()), runs[n].first - r.y()};
}

// Text rows of the journal table in the window `r`, the header row not
// counted: bands of dark text across the columns after the first (whose
// current cell has a dotted frame), above the buttons.
int TableRows(const QImage& img, const QRect& r, int buttonsTop)
{
    int bands = 0, gap = 3;
    for (int y = r.top() + 7; y < r.y() + buttonsTop - 2; ++y) {
        bool ink = false;
        for (int x = r.left() + 74; x < r.right() - 30 && !ink; ++x)
            ink = Ink(img.pixel(x, y));
        if (!ink) {
            ++gap;
            continue;
        }
        bands += gap > 2 ? 1 : 0;
        gap = 0;
    }
    return bands - 1;
}

// The access prompt answered with the code.
void AnswerAccess()
{
    const qulonglong id = Need(kAccess, 10000);
    if (!Check(id != 0, QStringLiteral("access prompt shown")))
        throw Abort{};
    // A click on the prompt's empty corner gives it the keyboard (Wine on an
    // X server without a window manager reports no focus to ask for).
    Click(id, 5, 5);
    Xdo({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"), QString::fromLatin1(kCode)});
    Xdo({QStringLiteral("key"), QStringLiteral("Return")});
    Check(Gone(kAccess), QStringLiteral("access prompt closed by the code"));
}

// A failed request's message box blocks the other windows: it is named
// (its failure is judged where it matters) and closed.
void CloseBox()
{
    const QString box = QStringLiteral("^Внимание!$");
    if (const qulonglong id = Find(box)) {
        std::printf("note: a message box \"Внимание!\" is up; closed\n");
        Click(id, 5, 5);
        Xdo({QStringLiteral("key"), QStringLiteral("Return")});
        Gone(box);
    }
}

// A request under way behind the wait window: let it end.
void Settle()
{
    WaitFor([] { return Find(kWait) != 0; }, 3000);
    Check(Gone(kWait, kGuardMs), QStringLiteral("wait window gone"));
}

// The frame that writes mode 2's function table F0..F3: FT1.2, long frame,
// both FCB values; the table travels inverted.
QStringList ModeTwoWrites(const uint8_t (&table)[4])
{
    QStringList frames;
    for (int control : {0x53, 0x73}) {
        std::vector<int> b = {0x68, 0x07, 0x07, 0x68, control, 0x01, 0x34};
        for (uint8_t f : table)
            b.push_back(static_cast<uint8_t>(~f));
        int sum = 0;
        for (size_t i = 4; i < b.size(); ++i)
            sum += b[i];
        b.push_back(sum & 0xFF);
        b.push_back(0x16);
        QStringList hex;
        for (int v : b)
            hex << QStringLiteral("%1").arg(v, 2, 16, QLatin1Char('0')).toUpper();
        frames << QStringLiteral("PC -> ") + hex.join(QLatin1Char(' '));
    }
    return frames;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 5) {
        std::fprintf(stderr, "usage: wine_utility_e2e APP.exe SIM DEMOCFG OUTDIR\n");
        return 2;
    }
    const QString appPath = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath();
    const QString simPath = QString::fromLocal8Bit(argv[2]);
    const QString genPath = QString::fromLocal8Bit(argv[3]);
    const QString outDir = QString::fromLocal8Bit(argv[4]);
    for (const char* tool : {"wine", "wineserver", "wineboot"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) {
            std::printf("SKIP: %s is not installed\n", tool);
            return 77;
        }
    if (!QFile::exists(appPath)) {
        std::printf("SKIP: %s is not built yet (the Windows build)\n", qPrintable(appPath));
        return 77;
    }
    if (!QFile::exists(simPath)) {
        std::printf("SKIP: %s is not built yet\n", qPrintable(simPath));
        return 77;
    }
    QDir().mkpath(outDir);
    Check.SetShotPrefix(outDir + QStringLiteral("/wine"));
    QElapsedTimer total;
    total.start();

    QTemporaryDir tmp;
    const QString prefix = tmp.filePath(QStringLiteral("prefix"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("WINEPREFIX"), prefix);
    env.insert(QStringLiteral("WINEARCH"), QStringLiteral("win64"));
    env.insert(QStringLiteral("WINEDEBUG"), QStringLiteral("-all"));
    // No Mono or Gecko installers asking questions.
    env.insert(QStringLiteral("WINEDLLOVERRIDES"), QStringLiteral("mscoree,mshtml="));
    // Wine makes Cyrillic file names only from a UTF-8 locale.
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    // WINEPATH names Qt's DLLs (the build's wine-qt/bin); Qt finds its
    // plug-ins beside them.
    if (!env.contains(QStringLiteral("WINEPATH")))
        std::printf("note: WINEPATH is not set: the program may not find Qt\n");
    const QString wine = QStringLiteral("wine"), wineserver = QStringLiteral("wineserver");
    // Everything Wine runs in the prefix ends before the prefix is removed.
    auto stopWine = [&] {
        Wine(env, wineserver, {QStringLiteral("-k")});
        Wine(env, wineserver, {QStringLiteral("-w")});
    };
    {
        TStepTime s("Wine prefix made");
        // Without the display: nothing of the set-up may be on the screen under test.
        QProcessEnvironment boot = env;
        boot.remove(QStringLiteral("DISPLAY"));
        const int rc = Wine(boot, QStringLiteral("wineboot"), {QStringLiteral("-i")}, 300000);
        Wine(boot, wineserver, {QStringLiteral("-w")}, 300000);
        if (!Check(rc == 0 && QFile::exists(prefix + QStringLiteral("/system.reg")),
                   QStringLiteral("Wine prefix %1 made (wineboot %2)").arg(prefix).arg(rc)))
            return 1;
    }

    // The configuration and the registry values, as an installer leaves them.
    const QString cfg = tmp.filePath(QStringLiteral("Конфигурация/демо.cfg"));
    const QString cfgWin = QStringLiteral("Z:") + QString(cfg).replace(QLatin1Char('/'), QLatin1Char('\\'));
    QDir().mkpath(QFileInfo(cfg).path());
    {
        TStepTime s("configuration and registry");
        const int gen = QProcess::execute(genPath, {QStringLiteral("--com"), QStringLiteral("7"),
                                                    QStringLiteral("--parity"), QStringLiteral("0"), cfg});
        auto regAdd = [&](const QString& key, const QString& data) {
            return Wine(env, wine, {QStringLiteral("reg"), QStringLiteral("add"), QStringLiteral("HKCU\\") + key,
                                    QStringLiteral("/v"), key, QStringLiteral("/t"), QStringLiteral("REG_SZ"),
                                    QStringLiteral("/d"), data, QStringLiteral("/f")});
        };
        const int r1 = regAdd(QStringLiteral("Software\\KestrelUtilite\\Cfg"), cfgWin);
        const int r2 = regAdd(QStringLiteral("Software\\KestrelUtilite\\Password"), QString::fromLatin1(kCode));
        if (!Check(gen == 0 && QFile::exists(cfg) && r1 == 0 && r2 == 0,
                   QStringLiteral("configuration %1 written (democfg %2), registry values stored (reg %3, %4)")
                       .arg(cfgWin).arg(gen).arg(r1).arg(r2))) {
            stopWine();
            return 1;
        }
    }

    TSim sim;
    QObject::connect(&sim.proc, &QProcess::readyReadStandardOutput, [&] { sim.out += sim.proc.readAllStandardOutput(); });
    sim.proc.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.proc.start(simPath, {QStringLiteral("--trace")});
    QString pty;
    {
        TStepTime s("COM7 mapped");
        WaitFor([&] { return sim.out.contains('\n'); });
        pty = QString::fromLocal8Bit(sim.out.left(sim.out.indexOf('\n'))).trimmed();
        Wine(env, wine, {QStringLiteral("reg"), QStringLiteral("add"), QStringLiteral("HKLM\\Software\\Wine\\Ports"),
                         QStringLiteral("/v"), QStringLiteral("COM7"), QStringLiteral("/t"), QStringLiteral("REG_SZ"),
                         QStringLiteral("/d"), pty, QStringLiteral("/f")});
        // The devices are made when Wine starts.
        Wine(env, wineserver, {QStringLiteral("-k")});
        Wine(env, wine, {QStringLiteral("cmd"), QStringLiteral("/c"), QStringLiteral("exit")});
        const QString link = prefix + QStringLiteral("/dosdevices/com7");
        WaitFor([&] { return QFileInfo(link).isSymLink(); }, 10000);
        if (!Check(!pty.isEmpty() && QFile::symLinkTarget(link) == pty,
                   QStringLiteral("COM7 leads to the simulator's terminal %1 (%2 -> %3)")
                       .arg(pty, link, QFile::symLinkTarget(link)))) {
            stopWine();
            sim.proc.kill();
            sim.proc.waitForFinished(5000);
            std::printf("FAILED: the program was not started, nothing was sent\n");
            return 1;
        }
    }
    // Polled UIRs known to the block; a journal of six records without a
    // reset among them (a reset ends a fetch), which wait as events too.
    sim.Type("uir 1-6 poll=on output=on f=0,1,2 control=123\njournal clear\n");
    for (int i = 0; i < 6; ++i)
        sim.Type("outputs 01\n");

    QProcess utility;
    utility.setProcessEnvironment(env);
    utility.setStandardOutputFile(QProcess::nullDevice());
    utility.setStandardErrorFile(QProcess::nullDevice());
    utility.start(wine, {appPath});
    const QString screen = tmp.filePath(QStringLiteral("screen.png"));

    try {
        // a. The main window, its tile area, the configuration's UIRs.
        qulonglong mainId = 0;
        std::optional<QRect> area, first;
        QImage img;
        {
            TStepTime s("a. main window shown");
            mainId = Need(kMain, 2 * kGuardMs);
            if (!Check(mainId != 0, QStringLiteral("main window \"Дуговая защита v1.001\" shown")))
                throw Abort{};
            const QRect mainRect = Geometry(mainId);
            WaitFor([&] {
                img = Shot(screen);
                area = TileArea(img);
                first = area ? FirstTile(img, *area) : std::nullopt;
                return first && mainRect.contains(*area);
            });
            if (!Check(first.has_value(), QStringLiteral("tile area and first tile in the main window (%1)").arg(Str(mainRect))))
                throw Abort{};
            std::printf("main window %s, tile area %s, tiles %dx%d\n", qPrintable(Str(mainRect)), qPrintable(Str(*area)),
                        first->width(), first->height());
            // From the configuration in the Cyrillic folder: UIR 6 polled, UIR 10
            // not (the tiles take the colours a status tick after they are drawn).
            QColor polled, unpolled;
            const bool configured = WaitFor([&] {
                img = Shot(screen);
                polled = img.pixel(InputCentre(*first, *area, 5, 1));
                unpolled = img.pixel(InputCentre(*first, *area, 9, 1));
                return polled == Qt::white && unpolled == QColor(192, 192, 192);
            });
            Check(configured,
                  QStringLiteral("configuration read from %1: UIR 6 white (%2), UIR 10 silver (%3)")
                      .arg(cfgWin, polled.name(), unpolled.name()));
        }

        // b. The arc, once the block's queued events are taken.
        {
            TStepTime s("b. arc shown");
            long long queued = -1;
            WaitFor([&] { return (queued = sim.Status("queued")) == 0; }, kGuardMs);
            Check(queued == 0, QStringLiteral("the block is polled over COM7: its queued events taken (%1 left)").arg(queued));
            const QPoint target = InputCentre(*first, *area, 4, 2);
            sim.Type("arc 5 2\n");
            QElapsedTimer t;
            t.start();
            const bool red = WaitFor([&] {
                img = Shot(screen);
                return (img.pixel(target) & 0xFFFFFF) == 0xFF0000;
            }, kGuardMs);
            Check(red, QStringLiteral("UIR 5 input 2 red (%1 ms after the arc)").arg(t.elapsed()));
            const QColor other = img.pixel(InputCentre(*first, *area, 4, 1));
            Check(other == Qt::white, QStringLiteral("UIR 5 input 1 still white (%1)").arg(other.name()));
            img.save(outDir + QStringLiteral("/wine_main.png"));
        }

        // c. The journal window's fetch.
        try {
            TStepTime s("c. journal fetched");
            const QString journal = QStringLiteral("^Журнал$");
            Click(mainId, 77, 33);
            const qulonglong id = Need(journal);
            if (!Check(id != 0, QStringLiteral("journal window shown")))
                throw Abort{};
            const QRect r = Geometry(id);
            img = Shot(screen);
            // "Обновить список событий" at the bottom left, "Закрыть" at the bottom right.
            const std::optional<TButton> fetch = Button(img, r, 30, 0), close = Button(img, r, r.width() - 30, 0);
            if (!Check(fetch && close, QStringLiteral("journal window's buttons found")))
                throw Abort{};
            const int before = TableRows(img, r, fetch->top);
            const long long records = sim.Status("journal");
            Click(id, fetch->centre.x(), fetch->centre.y());
            WaitFor([] { return Find(kAccess) != 0 || Find(kWait) != 0; }, 5000);
            if (Find(kAccess))
                AnswerAccess();
            int rows = -1;
            const bool listed = WaitFor([&] {
                img = Shot(screen);
                rows = TableRows(img, r, fetch->top);
                return rows == records && Find(kWait) == 0;
            }, kGuardMs);
            Check(listed,
                  QStringLiteral("journal lists %1 rows, the block has %2 records (%3 rows before the fetch)")
                      .arg(rows).arg(records).arg(before));
            CloseBox();
            Click(id, close->centre.x(), close->centre.y());
            Check(Gone(journal), QStringLiteral("journal window closed by \"Закрыть\""));
        } catch (const Abort&) {
            // The steps after it do not depend on it.
            std::printf("stopped this step: the window it waited on did not come\n");
            CloseBox();
        }

        // d. The block setup window writes the function table it read.
        try {
            TStepTime s("d. function table written");
            // Mode 2: F0 outputs 1-2, F1 outputs 1 and 6, F2 outputs 3-4, F3 outputs 5-6.
            const uint8_t table[4] = {0x03, 0x21, 0x0C, 0x30};
            sim.Type("table 2 0 0x03\ntable 2 1 0x21\ntable 2 2 0x0C\ntable 2 3 0x30\n");
            const QString setupCb = QStringLiteral("^Настройка центрального блока \\(ЦБ\\)$");
            const QPoint cbTile = TileOrigin(*first, *area, 43) + QPoint(first->width() / 2, first->height() / 2) -
                                  Geometry(mainId).topLeft();
            Click(mainId, cbTile.x(), cbTile.y());
            const qulonglong id = Need(setupCb);
            if (!Check(id != 0, QStringLiteral("block setup window shown")))
                throw Abort{};
            Settle();  // its reads of the block
            CloseBox();
            const QRect r = Geometry(id);
            img = Shot(screen);
            // The middle column from the bottom: "Изменить адрес и скорость
            // обмена", then "Записать конфигурацию ЦБ"; the right one's lowest is "Закрыть".
            const std::optional<TButton> write = Button(img, r, r.width() / 2, 1), close = Button(img, r, r.width() - 30, 0);
            if (!Check(write && close, QStringLiteral("block setup window's buttons found")))
                throw Abort{};
            const qsizetype from = sim.out.size();
            Click(id, write->centre.x(), write->centre.y());
            AnswerAccess();
            const QStringList expected = ModeTwoWrites(table);
            QStringList seen;
            const bool written = WaitFor([&] {
                seen.clear();
                for (const QByteArray& line : sim.out.mid(from).split('\n'))
                    if (const qsizetype at = line.indexOf("PC -> 68 07 07 68 "); at >= 0 && line.mid(at + 21, 6) == "01 34 ")
                        seen << QString::fromLatin1(line.mid(at).trimmed());
                return !seen.isEmpty();
            }, kGuardMs);
            Check(written && expected.contains(seen.value(0)),
                  QStringLiteral("mode 2's table written as \"%1\" (expected \"%2\")")
                      .arg(seen.join(QStringLiteral(" | ")), expected.join(QStringLiteral("\" or \""))));
            Settle();  // the read-back
            CloseBox();
            Click(id, close->centre.x(), close->centre.y());
            Check(Gone(setupCb), QStringLiteral("block setup window closed by \"Закрыть\""));
        } catch (const Abort&) {
            // The steps after it do not depend on it.
            std::printf("stopped this step: the window it waited on did not come\n");
            CloseBox();
        }

        // e. A second instance refuses to start and leaves the first alone.
        {
            TStepTime s("e. second instance refused");
            QProcess second;
            second.setProcessEnvironment(env);
            second.setStandardOutputFile(QProcess::nullDevice());
            second.setStandardErrorFile(QProcess::nullDevice());
            second.start(wine, {appPath});
            const QString refusal = QStringLiteral("^Ошибка запуска\\.$");
            const qulonglong box = Need(refusal, kGuardMs);
            if (!Check(box != 0, QStringLiteral("a second instance shows \"Ошибка запуска.\"")))
                throw Abort{};
            Click(box, 5, 5);
            Xdo({QStringLiteral("key"), QStringLiteral("Return")});
            const bool ended = Gone(refusal) && second.waitForFinished(kGuardMs);
            Check(ended,
                  QStringLiteral("the refusal closed by Return, the second instance ended (exit %1)").arg(second.exitCode()));
            Check(utility.state() == QProcess::Running && Find(kMain) != 0,
                  QStringLiteral("the first instance still runs, its main window shown"));
        }
    } catch (const Abort&) {
        std::printf("stopped: the rest would only wait on the window that did not come\n");
    }

    utility.terminate();
    if (!utility.waitForFinished(5000))
        utility.kill();
    stopWine();
    sim.proc.terminate();
    if (!sim.proc.waitForFinished(5000))
        sim.proc.kill();
    std::printf("%s in %lld ms (screenshot %s/wine_main.png)\n", Check.Failures() ? "FAILED" : "PASSED",
                static_cast<long long>(total.elapsed()), qPrintable(outDir));
    return Check.Failures() ? 1 : 0;
}
