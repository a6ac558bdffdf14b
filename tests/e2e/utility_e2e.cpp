// End-to-end: the real kestrel-utilite against kestrel-cbsim on a
// pseudo-terminal, in a temporary profile, on an X server (Xvfb); judged by
// screenshots of the whole screen.
//
//   utility_e2e APP SIM DEMOCFG OUTDIR [BLOCKS]
//
// 1. the main window comes up and the wait window goes once the first poll
//    has run; the polled UIRs show white circles;
// 2. the simulator raises an arc on UIR 5 input 2; a screenshot taken soon
//    after shows the circle red. "Soon" is the status timer's second plus
//    twice the block's event-cycle period and twice the longest screenshot,
//    both measured in this run: a busy host stretches the bound with them;
// 3. a second instance shows "Ошибка запуска." and the first runs on;
// 4. the start-up time to a shown main window is printed.
// With BLOCKS 2 the installation has two blocks (addresses 1 and 2 on the one
// simulated port) and, instead of 2 and 3, an arc on block 2 while block 1 is
// shown must appear in the status bar (red text) and leave block 1's tiles
// alone.
// Exit 77 (skipped) when the simulator is not built.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <optional>

#include "state/Model.h"

#include "E2eProfile.h"
#include "E2eScreen.h"
#include "E2eTiles.h"
#include "E2eX11.h"

namespace {

using namespace kestrel::test;
TChecks Check;

// Only a guard against a hang: whatever is awaited comes long before it.
constexpr int kGuardMs = 120000;

// The simulator's replies to typed commands, line by line.
std::optional<QString> SimLine(QProcess& sim)
{
    QElapsedTimer t;
    t.start();
    while (!sim.canReadLine()) {
        const qint64 left = kGuardMs - t.elapsed();
        if (left <= 0 || !sim.waitForReadyRead(static_cast<int>(left)))
            return std::nullopt;
    }
    return QString::fromUtf8(sim.readLine()).trimmed();
}

// A number from block `address`'s status line ("queued 40", "requests 97");
// -1 when the simulator does not answer.
long long SimStatus(QProcess& sim, int address, const QString& field)
{
    sim.write(QStringLiteral("cb %1 status\n").arg(address).toUtf8());
    sim.waitForBytesWritten(kGuardMs);
    const QString head = QStringLiteral("CB %1: ").arg(address);
    const QString key = QStringLiteral(", ") + field + QLatin1Char(' ');
    while (const std::optional<QString> line = SimLine(sim)) {
        const qsizetype at = line->indexOf(key);
        if (line->startsWith(head) && at >= 0)
            return line->mid(at + key.size()).section(QLatin1Char(','), 0, 0).toLongLong();
    }
    return -1;
}

// Block `address`'s event-cycle period while it is idle, from the requests
// it counts: each idle cycle is a reset of the FCB and one poll. Timed over
// at least ten requests; -1 when none come.
qint64 IdleCycleMs(QProcess& sim, int address)
{
    const long long r0 = SimStatus(sim, address, QStringLiteral("requests"));
    QElapsedTimer w;
    w.start();
    long long r = r0;
    while (r >= 0 && r - r0 < 10 && w.elapsed() < kGuardMs) {
        QThread::msleep(50);
        r = SimStatus(sim, address, QStringLiteral("requests"));
    }
    return r0 >= 0 && r - r0 >= 10 ? 2 * w.elapsed() / (r - r0) : -1;
}

// How long after an event a screenshot may be started and still be required
// to show it: the status timer's second, then twice the event-cycle period
// and twice the longest screenshot, as measured in this run.
qint64 ShownWithinMs(qint64 cycleMs)
{
    const qint64 bound = 1000 + 2 * std::max<qint64>(cycleMs, 0) + 2 * LongestShotMs();
    std::printf("bound: 1000 ms status timer + 2 x %lld ms event cycle + 2 x %lld ms screenshot = %lld ms\n",
                static_cast<long long>(cycleMs), static_cast<long long>(LongestShotMs()), static_cast<long long>(bound));
    return bound;
}

bool WaitWindowShown(const QImage& img, const QRect& area)
{
    // A white panel of 424 x 155 over the middle of the main window.
    const QPoint c = area.center();
    int white = 0;
    for (int dy = -30; dy <= 30; dy += 10)
        for (int dx = -150; dx <= 150; dx += 10)
            white += (img.pixel(c.x() + dx, c.y() + dy) & 0xFFFFFF) == 0xFFFFFF ? 1 : 0;
    return white > 150;
}

QString ColourName(QRgb c) { return QColor(c).name(); }

// Pixels of the tiles' red (the status bar's alarm line is drawn in it).
int RedPixels(const QImage& img, const QRect& r)
{
    int n = 0;
    const QRect in = r.intersected(img.rect());
    for (int y = in.top(); y <= in.bottom(); ++y)
        for (int x = in.left(); x <= in.right(); ++x)
            n += (img.pixel(x, y) & 0xFFFFFF) == 0xFF0000 ? 1 : 0;
    return n;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 5 && argc != 6) {
        std::fprintf(stderr, "usage: utility_e2e APP SIM DEMOCFG OUTDIR [BLOCKS]\n");
        return 2;
    }
    const bool twoBlocks = argc == 6 && QByteArray(argv[5]) == "2";
    const QString appPath = QString::fromLocal8Bit(argv[1]);
    const QString simPath = QString::fromLocal8Bit(argv[2]);
    const QString genPath = QString::fromLocal8Bit(argv[3]);
    const QString outDir = QString::fromLocal8Bit(argv[4]);
    if (!QFile::exists(simPath)) {
        std::printf("SKIP: %s is not built yet\n", qPrintable(simPath));
        return 77;
    }

    kestrel::test::TE2eProfile profile;
    const QStringList genArgs = twoBlocks ? QStringList{QStringLiteral("--cbs"), QStringLiteral("2")} : QStringList{};
    if (!profile.Make(genPath, genArgs, "e2e")) {
        std::printf("FAIL: cannot write the configuration\n");
        return 1;
    }
    const QProcessEnvironment& env = profile.env;

    QProcess sim;
    sim.setProcessEnvironment(env);
    sim.setProgram(simPath);
    QStringList simArgs{QStringLiteral("--register"), QStringLiteral("COM1")};
    if (twoBlocks)
        simArgs << QStringLiteral("--address") << QStringLiteral("1") << QStringLiteral("2");
    sim.setArguments(simArgs);
    sim.start();
    if (!sim.waitForStarted(kGuardMs) || !sim.waitForReadyRead(kGuardMs)) {
        std::printf("FAIL: the simulator did not start\n");
        return 1;
    }
    const QString pty = QString::fromLocal8Bit(sim.readLine()).trimmed();
    QFile mapping(profile.PortMapping(QStringLiteral("COM1")));
    QElapsedTimer registered;
    registered.start();
    while (!mapping.exists() && registered.elapsed() < kGuardMs)
        QThread::msleep(50);
    Check(mapping.exists(), QStringLiteral("simulator on %1 registered as COM1").arg(pty));
    // Polled UIRs are known to the simulated block as well.
    sim.write("uir 1-6 poll=on output=on f=0,1,2 control=123\n");
    if (twoBlocks) {
        sim.write("cb 2 uir 1-6 poll=on output=on f=0,1,2 control=123\n");
        sim.write("cb 2 journal clear\n");
    }
    // A journal whose fetch (the first poll) outlasts the first status tick,
    // which puts the wait window up, by far: 40 records, each read after the
    // link's own 200 ms wait at 9600 bit/s, keep it up for seconds however
    // busy the host. (Records without a reset among them: a reset ends the
    // fetch.)
    sim.write("journal clear\n");
    for (int i = 0; i < 40; ++i) {
        // With two blocks, events that raise no alarm: block 1 must stay
        // quiet until block 2's arc.
        sim.write(twoBlocks ? (i % 2 ? "power on\n" : "power off\n") : "outputs 01\n");
    }
    sim.waitForBytesWritten(kGuardMs);

    QProcess utility;
    utility.setProcessEnvironment(env);
    utility.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer clock;
    clock.start();
    utility.start(appPath, {});
    utility.waitForStarted(kGuardMs);
    const QString shotFile = outDir + (twoBlocks ? QStringLiteral("/utility_e2e_2cb.png")
                                                 : QStringLiteral("/utility_e2e.png"));

    // 1. The main window comes up; the wait window goes after the first poll.
    std::optional<QRect> area;
    QImage img;
    qint64 shownMs = -1;
    while (clock.elapsed() < kGuardMs && !area) {
        img = Shot(shotFile);
        area = TileArea(img);
        if (area)
            shownMs = clock.elapsed();
    }
    Check(area.has_value(), QStringLiteral("main window shown"));
    if (!area) {
        utility.kill();
        sim.kill();
        return 1;
    }
    std::printf("start-up to a shown main window: %lld ms (screenshot polling included)\n",
                static_cast<long long>(shownMs));
    bool waitSeen = false, waitGone = false;
    while (clock.elapsed() < kGuardMs) {
        img = Shot(shotFile);
        const bool shown = WaitWindowShown(img, *area);
        waitSeen = waitSeen || shown;
        if (waitSeen && !shown) {
            waitGone = true;
            break;
        }
    }
    Check(waitSeen, QStringLiteral("wait window up while the first poll runs"));
    Check(waitGone, QStringLiteral("wait window gone after the first poll (%1 ms after start)").arg(clock.elapsed()));
    // The same records wait as events too: the event cycles take them all
    // before the arc below, so that it is the next one. Asked of the block.
    long long queued = -1;
    QElapsedTimer drain;
    drain.start();
    while ((queued = SimStatus(sim, 1, QStringLiteral("queued"))) > 0 && drain.elapsed() < kGuardMs)
        QThread::msleep(100);
    Check(queued == 0, QStringLiteral("the events the journal left queued are taken (%1 left)").arg(queued));
    const int arcBlock = twoBlocks ? 2 : 1;
    const qint64 cycleMs = IdleCycleMs(sim, arcBlock);
    Check(cycleMs > 0, QStringLiteral("block %1 polled while idle, a cycle every %2 ms").arg(arcBlock).arg(cycleMs));
    img = Shot(shotFile);
    Check(!WaitWindowShown(img, *area), QStringLiteral("wait window stays away"));

    const std::optional<QRect> first = FirstTile(img, *area);
    Check(first.has_value(), QStringLiteral("first tile found"));
    if (!first) {
        utility.kill();
        sim.kill();
        return 1;
    }
    std::printf("tile area %dx%d at %d,%d; tiles %dx%d\n", area->width(), area->height(), area->x(), area->y(),
                first->width(), first->height());
    const QPoint target = InputCentre(*first, *area, 4, 2);
    const QRgb before = img.pixel(target);
    Check((before & 0xFFFFFF) == 0xFFFFFF,
          QStringLiteral("UIR 5 input 2 white while quiet (%1)").arg(ColourName(before)));
    const QRgb unpolled = img.pixel(InputCentre(*first, *area, 9, 2));
    Check(QColor(unpolled) == QColor(192, 192, 192),
          QStringLiteral("UIR 10 input 2 silver, not polled (%1)").arg(ColourName(unpolled)));

    if (twoBlocks) {
        // An arc on block 2, not on screen: the status bar below the tile
        // area names it in red; block 1's tiles stay as they are.
        const QRect statusBar(area->left(), area->bottom() + 1, area->width(), 23);
        Check(RedPixels(img, statusBar) == 0, QStringLiteral("status bar quiet before the arc"));
        const qint64 boundMs = ShownWithinMs(cycleMs);
        sim.write("cb 2 arc 5 2\n");
        QElapsedTimer t;
        t.start();
        sim.waitForBytesWritten(kGuardMs);
        bool named = false;
        qint64 namedAt = -1;
        while (!named && t.elapsed() <= boundMs) {
            namedAt = t.elapsed();
            img = Shot(shotFile);
            named = RedPixels(img, statusBar) > 20;
        }
        Check(named, QStringLiteral("arc on block 2 named in red in the status bar (screenshot taken at %1 ms, bound %2 ms)")
                         .arg(namedAt).arg(boundMs));
        const QRgb shown = img.pixel(target);
        Check((shown & 0xFFFFFF) == 0xFFFFFF,
              QStringLiteral("block 1's UIR 5 input 2 still white (%1)").arg(ColourName(shown)));
        // Block 1's CB tile: its arc circle sits where input 2's does on a UIR tile.
        QRect cbTile = *first;
        cbTile.moveTo(TileOrigin(*first, *area, kestrel::kUirCount));
        const QRgb cbArc = img.pixel(cbTile.topLeft() + (InputCentre(*first, *area, 0, 2) - first->topLeft()));
        Check((cbArc & 0xFFFFFF) == 0xFFFFFF,
              QStringLiteral("block 1's CB tile arc circle still white (%1)").arg(ColourName(cbArc)));
        img.save(shotFile);
        utility.terminate();
        if (!utility.waitForFinished(5000))
            utility.kill();
        sim.terminate();
        if (!sim.waitForFinished(5000))
            sim.kill();
        std::printf("%s (screenshot %s)\n", Check.Failures() ? "FAILED" : "PASSED", qPrintable(shotFile));
        return Check.Failures() ? 1 : 0;
    }

    // 2. The arc. The screen follows at the next status tick after the next
    // event cycle; a screenshot shows what was drawn when it started.
    const qint64 boundMs = ShownWithinMs(cycleMs);
    sim.write("arc 5 2\n");
    QElapsedTimer arc;
    arc.start();
    sim.waitForBytesWritten(kGuardMs);
    bool red = false;
    qint64 redAt = -1, lastAt = -1;
    int shots = 0;
    while (!red) {
        const qint64 startedAt = arc.elapsed();
        if (startedAt > boundMs)
            break;
        img = Shot(shotFile);
        ++shots;
        lastAt = startedAt;
        red = (img.pixel(target) & 0xFFFFFF) == 0xFF0000;
        if (red)
            redAt = startedAt;
    }
    Check(red, QStringLiteral("UIR 5 input 2 red in a screenshot taken within %1 ms of the arc (%2)")
                   .arg(boundMs)
                   .arg(red ? QStringLiteral("taken at %1 ms").arg(redAt)
                            : QStringLiteral("%1 in %2 screenshots, the last taken at %3 ms")
                                  .arg(ColourName(img.pixel(target))).arg(shots).arg(lastAt)));
    if (!red) {
        // When did it turn red at all? (diagnosis only)
        while (arc.elapsed() < kGuardMs && (img.pixel(target) & 0xFFFFFF) != 0xFF0000)
            img = Shot(shotFile);
        std::printf("  red after %lld ms\n", static_cast<long long>(arc.elapsed()));
    }
    const QRgb other = img.pixel(InputCentre(*first, *area, 4, 1));
    Check((other & 0xFFFFFF) == 0xFFFFFF, QStringLiteral("UIR 5 input 1 still white"));
    img.save(shotFile);

    // 3. A second instance refuses to start and leaves the first alone.
    {
        QProcess second;
        second.setProcessEnvironment(env);
        second.start(appPath, {});
        bool refused = false;
        QElapsedTimer t;
        t.start();
        while (!refused && t.elapsed() < kGuardMs) {
            QProcess info;
            info.start(QStringLiteral("xwininfo"), {QStringLiteral("-name"), QStringLiteral("Ошибка запуска.")});
            info.waitForFinished(30000);
            refused = info.readAllStandardOutput().contains("IsViewable");
            if (!refused)
                QThread::msleep(50);
        }
        Check(refused, QStringLiteral("a second instance shows \"Ошибка запуска.\""));
        second.kill();
        second.waitForFinished(5000);
        const bool alive = QFile::exists(QStringLiteral("/proc/%1").arg(utility.processId()));
        Check(alive && utility.state() == QProcess::Running,
              QStringLiteral("the first instance still runs (state %1, /proc %2)")
                  .arg(int(utility.state())).arg(alive));
    }

    utility.terminate();
    if (!utility.waitForFinished(5000))
        utility.kill();
    sim.terminate();
    if (!sim.waitForFinished(5000))
        sim.kill();
    std::printf("%s (screenshot %s)\n", Check.Failures() ? "FAILED" : "PASSED", qPrintable(shotFile));
    return Check.Failures() ? 1 : 0;
}
