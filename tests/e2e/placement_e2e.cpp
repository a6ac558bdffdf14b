// End-to-end: where every window and dialog of the real kestrel-utilite
// opens, read from the X server (xwininfo) on a screen of the given size, the
// program driven by mouse and keyboard (xdotool) against kestrel-cbsim.
//
//   placement_e2e APP SIM DEMOCFG OUTDIR WIDTH HEIGHT
//
// Each window, opened the first time (a few a second time: the UIR setup
// window from the block window, the wait window), must lie wholly on the
// screen and where its rule puts it, within two pixels unless the screen
// moved it: centred on the screen, on the main window, on the tile area or on
// the window it was opened from; or horizontally centred with its top a
// given number of rows below the tile area's top. The X server runs no window
// manager, so the windows have no frames. The block setup window is saved as
// OUTDIR/placement_WxH_setup-cb.png (the whole screen).
// Exit 77 (skipped) when the simulator is not built.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRect>
#include <cstdio>
#include <functional>
#include <optional>
#include <vector>

#include "E2eProfile.h"
#include "E2eScreen.h"
#include "E2eX11.h"

namespace {

using namespace kestrel::test;
constexpr int kGuardMs = kX11GuardMs;
constexpr int kTolerance = 2;
const char* const kCode = "e2e";
TChecks Check;  // the failing screens as OUTDIR/placement_WxH_failedN.png

// The rules, worked out here on the measured rectangles.
enum class Rule { Centred, CentredHorizontally };

QRect Expected(Rule rule, const QRect& over, int top, QSize size, const QRect& screen)
{
    int x = over.x() + over.width() / 2 - size.width() / 2;
    int y = rule == Rule::Centred ? over.y() + over.height() / 2 - size.height() / 2 : top;
    x = std::max(screen.left(), std::min(x, screen.right() + 1 - size.width()));
    y = std::max(screen.top(), std::min(y, screen.bottom() + 1 - size.height()));
    return {QPoint(x, y), size};
}

QRect gScreen;

// A window that does not come: the rest of the run would only wait on it.
struct Abort {};

// `title` must be shown where `rule` puts it against `over`; its rectangle.
QRect CheckPlaced(const QString& what, const QString& title, Rule rule, const QRect& over, int top = 0)
{
    const qulonglong id = Need(title);
    if (!id) {
        Check(false, QStringLiteral("%1 shown").arg(what));
        throw Abort{};
    }
    QRect got, want;
    auto placed = [&] {
        got = Geometry(id);
        want = Expected(rule, over, top, got.size(), gScreen);
        return std::abs(got.x() - want.x()) <= kTolerance && std::abs(got.y() - want.y()) <= kTolerance;
    };
    // The window is placed before it is mapped; the wait only covers the X
    // server's catching up with a move made right after.
    WaitFor(placed, 2000);
    Check(gScreen.contains(got), QStringLiteral("%1 wholly on the %2 screen: %3").arg(what, Str(gScreen), Str(got)));
    Check(placed(), QStringLiteral("%1 %2 %3%4: at %5,%6, expected %7,%8")
                        .arg(what,
                             rule == Rule::Centred ? QStringLiteral("centred on") : QStringLiteral("horizontally centred on"),
                             Str(over), rule == Rule::Centred ? QString() : QStringLiteral(", top %1").arg(top))
                        .arg(got.x()).arg(got.y()).arg(want.x()).arg(want.y()));
    return got;
}

const QString kWait = QStringLiteral("^Окно сообщений$");
const QString kBox = QStringLiteral("^Внимание!$");

// A request to the block is under way behind the wait window: let it end.
void Settle()
{
    WaitFor([] { return Find(kWait) != 0; }, 3000);
    Check(Gone(kWait), QStringLiteral("wait window gone"));
}

// On a busy host the block's answer can come after the link gave up: the
// request's message box is then up, and blocks the other windows. That is
// not what is tested here; it is noted and closed.
void CloseBox()
{
    const qulonglong box = Find(kBox);
    std::printf("note: a request to the block failed (its answer late on a busy host); message box closed\n");
    Xdo({QStringLiteral("windowfocus"), QStringLiteral("--sync"), QString::number(box)});
    Xdo({QStringLiteral("key"), QStringLiteral("Return")});
    if (!Gone(kBox)) {
        Check(false, QStringLiteral("message box closed"));
        throw Abort{};
    }
}

// Does `act` until `done`: again after closing a message box that took it,
// and, with `retryMs`, when `done` has not come within that time.
void Until(const QString& what, const std::function<void()>& act, const std::function<bool()>& done, int retryMs = 0)
{
    for (int i = 0; i < (retryMs ? kGuardMs / retryMs : 4); ++i) {
        act();
        bool box = false;
        if (WaitFor([&] { return done() || (box = Find(kBox) != 0); }, retryMs ? retryMs : kGuardMs) && !box)
            return;
        if (box) {
            CloseBox();
            if (WaitFor(done, 2000))
                return;
        } else if (!retryMs) {
            break;
        }
    }
    Check(false, what);
    throw Abort{};
}

void Open(const QString& title, const std::function<void()>& act)
{
    Until(QStringLiteral("%1 shown").arg(title), act, [&] { return Find(title) != 0; });
}

void Close(const QString& title, const std::function<void()>& act)
{
    Until(QStringLiteral("%1 closed").arg(title), act, [&] { return Find(title) == 0; });
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 7) {
        std::fprintf(stderr, "usage: placement_e2e APP SIM DEMOCFG OUTDIR WIDTH HEIGHT\n");
        return 2;
    }
    const QString appPath = QString::fromLocal8Bit(argv[1]);
    const QString simPath = QString::fromLocal8Bit(argv[2]);
    const QString genPath = QString::fromLocal8Bit(argv[3]);
    const QString outDir = QString::fromLocal8Bit(argv[4]);
    const int width = QByteArray(argv[5]).toInt(), height = QByteArray(argv[6]).toInt();
    if (!QFile::exists(simPath)) {
        std::printf("SKIP: %s is not built yet\n", qPrintable(simPath));
        return 77;
    }
    gScreen = RootGeometry();
    if (gScreen.size() != QSize(width, height)) {
        std::printf("FAIL: the X screen is %s, not %dx%d\n", qPrintable(Str(gScreen)), width, height);
        return 1;
    }
    QElapsedTimer total;
    total.start();
    const QString prefix = outDir + QStringLiteral("/placement_%1x%2").arg(width).arg(height);
    Check.SetShotPrefix(prefix);

    kestrel::test::TE2eProfile profile;
    if (!profile.Make(genPath, {}, kCode)) {
        std::printf("FAIL: cannot write the configuration\n");
        return 1;
    }
    const QProcessEnvironment& env = profile.env;

    QProcess sim;
    sim.setProcessEnvironment(env);
    sim.start(simPath, {QStringLiteral("--register"), QStringLiteral("COM1")});
    if (!sim.waitForStarted(kGuardMs) || !sim.waitForReadyRead(kGuardMs)) {
        std::printf("FAIL: the simulator did not start\n");
        return 1;
    }
    QFile mapping(profile.PortMapping(QStringLiteral("COM1")));
    WaitFor([&] { return mapping.exists(); });
    // A journal whose fetch (the first poll) keeps the wait window up for
    // seconds after the first status tick, so that it can be measured: 14
    // records without a reset among them (a reset ends the fetch).
    sim.write("uir 1-6 poll=on output=on f=0,1,2 control=123\njournal clear\n");
    for (int i = 0; i < 14; ++i)
        sim.write("outputs 01\n");
    sim.waitForBytesWritten(kGuardMs);

    QProcess utility;
    utility.setProcessEnvironment(env);
    utility.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    utility.start(appPath, {});
    utility.waitForStarted(kGuardMs);

    try {
        // The main window on the screen; the wait window of the first poll on it.
        const QString mainTitle = QStringLiteral("^Дуговая защита v1.001$");
        const QRect mainRect = CheckPlaced(QStringLiteral("main window"), mainTitle, Rule::Centred, gScreen);
        const qulonglong mainId = Find(mainTitle);
        const bool waitSeen = Need(kWait) != 0;
        Check(waitSeen, QStringLiteral("wait window up while the first poll runs"));
        if (waitSeen)
            CheckPlaced(QStringLiteral("wait window"), kWait, Rule::Centred, mainRect);
        Check(Gone(kWait), QStringLiteral("wait window gone after the first poll"));
        const QImage mainImg = Shot(prefix + QStringLiteral("_main.png"));
        const std::optional<QRect> area = TileArea(mainImg);
        const QRect tile = area ? FirstTile(mainImg, *area).value_or(QRect()) : QRect();
        Check(!tile.isEmpty(), QStringLiteral("tile area and first tile found"));
        if (tile.isEmpty())
            throw Abort{};
        std::printf("main window %s, tile area %s, tiles %dx%d\n", qPrintable(Str(mainRect)), qPrintable(Str(*area)),
                    tile.width(), tile.height());
        // The CB tile follows the 43 UIR tiles in the same flow.
        const QPoint cbTile =
            TileOrigin(tile, *area, 43) + QPoint(tile.width() / 2, tile.height() / 2) - mainRect.topLeft();
        const QPoint uirTile = tile.center() - mainRect.topLeft();

        // The access prompt, over the tile area, answered with the code.
        const QString access = QStringLiteral("^Защита от несанкционированного доступа$");
        auto answerAccess = [&] {
            CheckPlaced(QStringLiteral("access prompt"), access, Rule::Centred, *area);
            const qulonglong id = Find(access);
            Check(WaitFor([&] { return Xdo({QStringLiteral("getwindowfocus")}).trimmed().toULongLong() == id; }),
                  QStringLiteral("access prompt has the keyboard"));
            Xdo({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"), QString::fromLatin1(kCode)});
            Xdo({QStringLiteral("key"), QStringLiteral("Return")});
            Check(Gone(access), QStringLiteral("access prompt closed by the code"));
        };

        // UIR setup window from a UIR tile: on the main window's middle, 20
        // rows below the tile area's top.
        const QString setupUir = QStringLiteral("Настройки модулей УИР$");
        Open(setupUir, [&] { Click(mainId, uirTile.x(), uirTile.y()); });
        CheckPlaced(QStringLiteral("UIR setup window"), setupUir, Rule::CentredHorizontally, mainRect, area->top() + 20);
        Settle();
        Close(setupUir, [&] { ClickFromBottomRight(Find(setupUir), 50, 16); });  // "Закрыть"

        // The block setup window from the CB tile: on the tile area.
        const QString setupCb = QStringLiteral("^Настройка центрального блока \\(ЦБ\\)$");
        Open(setupCb, [&] { Click(mainId, cbTile.x(), cbTile.y()); });
        const QRect cbRect = CheckPlaced(QStringLiteral("block setup window"), setupCb, Rule::Centred, *area);
        const qulonglong cbId = Find(setupCb);
        Settle();
        Shot(prefix + QStringLiteral("_setup-cb.png"));

        // Its dialogs, over it; the buttons where the block window has them.
        struct Dialog {
            const char* what;
            QString title;
            QPoint button;
            bool guarded;  // the access code is asked first
        };
        const std::vector<Dialog> dialogs = {
            {"clock display", QStringLiteral("^Время и дата ЦБ$"), {554, 291}, false},
            {"function-table editor", QStringLiteral("^Функция центрального блока$"), {753, 221}, true},
            {"UROV chooser", QStringLiteral("^УРОВ Время \\(мс\\)$"), {358, 291}, true},
            {"date and time entry", QStringLiteral("^Установка даты и времени на ЦБ$"), {469, 291}, true},
            {"address and speed window", QStringLiteral("^Установка адреса и скорости обмена ЦБ$"), {409, 386}, true},
        };
        for (const Dialog& d : dialogs) {
            Open(d.guarded ? access : d.title, [&] { Click(cbId, d.button.x(), d.button.y()); });
            if (d.guarded)
                answerAccess();
            CheckPlaced(QString::fromLatin1(d.what), d.title, Rule::Centred, cbRect);
            Close(d.title, [&] { ClickFromBottomRight(Find(d.title), 50, 16); });  // "Отменить" / "Закрыть"
        }
        // "УИР": the UIR setup window again, over the block window this time.
        Open(setupUir, [&] { Click(cbId, 674, 386); });
        CheckPlaced(QStringLiteral("UIR setup window from the block window"), setupUir, Rule::Centred, cbRect);
        Settle();
        Close(setupUir, [&] { ClickFromBottomRight(Find(setupUir), 50, 16); });
        // Ctrl+M shows the console's tool button; then "Закрыть".
        if (Find(kBox))
            CloseBox();
        Click(cbId, 400, 14);
        Xdo({QStringLiteral("key"), QStringLiteral("ctrl+m")});
        Close(setupCb, [&] { ClickFromBottomRight(cbId, 142, 23); });

        // The console, on the tile area. Its tool button is there once Ctrl+M
        // has been taken: pressed until the console comes.
        const QString console = QStringLiteral("^Отладка протокола по RS485$");
        Until(QStringLiteral("service console shown"), [&] { Click(mainId, 140, 33); },
              [&] { return Find(console) != 0; }, 1000);
        CheckPlaced(QStringLiteral("service console"), console, Rule::Centred, *area);
        Close(console, [&] { ClickFromBottomLeft(Find(console), 137, 23); });  // "Закрыть"

        // The journal, on the tile area.
        const QString journal = QStringLiteral("^Журнал$");
        Open(journal, [&] { Click(mainId, 77, 33); });
        CheckPlaced(QStringLiteral("journal window"), journal, Rule::Centred, *area);
        Close(journal, [&] { ClickFromBottomRight(Find(journal), 47, 18); });  // "Закрыть"

        // The configuration window behind the code: on the main window's
        // middle, 20 rows below the tile area's top; its file window on the
        // tile area's middle, 50 rows below its top.
        const QString cfgTitle = QStringLiteral("^Конфигурация$"), fileTitle = QStringLiteral("^Файл конфигурации$");
        Open(access, [&] { Click(mainId, 51, 33); });
        answerAccess();
        CheckPlaced(QStringLiteral("configuration window"), cfgTitle, Rule::CentredHorizontally, mainRect, area->top() + 20);
        const qulonglong cfgId = Find(cfgTitle);
        Open(fileTitle, [&] { Click(cfgId, 293, 214); });  // "Файл конфигурации"
        CheckPlaced(QStringLiteral("configuration file window"), fileTitle, Rule::CentredHorizontally, *area,
                    area->top() + 50);
        Close(fileTitle, [&] { ClickFromBottomRight(Find(fileTitle), 50, 21); });  // "Закрыть"
        Close(cfgTitle, [&] { ClickFromBottomRight(cfgId, 51, 23); });            // "Отменить"

        // "Настройки" > "Изменить пароль": the change dialog on the screen.
        const QString change = QStringLiteral("^Окно изменения пароля$");
        Open(change, [&] {
            Click(mainId, 46, 9);
            // Конфигурация, Журнал, Сброс устройства, Сверка настроек ЦБ, Проверка датчиков,
            // Изменить пароль.
            Xdo({QStringLiteral("key"), QStringLiteral("Down"), QStringLiteral("Down"), QStringLiteral("Down"),
                 QStringLiteral("Down"), QStringLiteral("Down"), QStringLiteral("Down"), QStringLiteral("Return")});
        });
        CheckPlaced(QStringLiteral("change dialog"), change, Rule::Centred, gScreen);
        Close(change, [] { Xdo({QStringLiteral("key"), QStringLiteral("Escape")}); });
    } catch (const Abort&) {
        std::printf("stopped: the rest would only wait on the window that did not come\n");
    }

    utility.terminate();
    if (!utility.waitForFinished(5000))
        utility.kill();
    sim.terminate();
    if (!sim.waitForFinished(5000))
        sim.kill();
    std::printf("%s in %lld ms (%dx%d)\n", Check.Failures() ? "FAILED" : "PASSED", static_cast<long long>(total.elapsed()), width,
                height);
    return Check.Failures() ? 1 : 0;
}
