// The main window: status tick and tiles, blink timer, tile layout, the menu
// actions and the shutdown, over a scripted acquisition link.
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>
#include <QToolBar>
#include <QtTest>

#include "UiTestSupport.h"
#include "monitor/ui/Layout.h"
#include "monitor/ui/MessageForm.h"
#include "monitor/ui/Tiles.h"
#include "state/Cp1251.h"
#include "state/SettingsStoreFile.h"

using namespace kestrel;
using namespace kestrel::test;

namespace {
TEventData Ev(uint8_t code, uint8_t uir = 0)
{
    TEventData e;
    e.Code = code;
    e.UirAddress = uir;
    return e;
}

// A main window over a fresh model, without start-up (no settings, no thread).
struct Fixture {
    TGlobalState state;
    TempStore temp;
    ScriptedPrompt prompt;
    TMainForm form{state, *temp.store, prompt};
    Fixture()
    {
        state.RegKeyCfg = kRegKeyCfg;
        state.RegKeyPassword = kRegKeyPassword;
    }
    TCbData& Cb() { return *state.Shown(); }
};
}  // namespace

class MainFormTest : public QObject {
    Q_OBJECT
private slots:
    void constructionBuildsTilesAndMenus();
    void startupOpensAtTheClientSizeOnceShown();
    void firstPollPendingKeepsTheWaitWindowAndTheTiles();
    void tickPaintsTheEventListOntoTheTiles();
    void resetAtTheHeadClearsTheTiles();
    void alarmRestoresAMinimisedWindowOnce();
    void blinkTimerStepsOnlyInputsInStatusThree();
    void fitAndArrangeNumbers();
    void fitGrowsTilesInTheMainWindow();
    void fitMakesTheWindowTallerWhenTilesDoNotFit();
    void narrowingShrinksTilesDownToTheMinimum();
    void deleteOnUir10HidesTiles10To43();
    void leftClickSelectsAndRightClickOpensTheTileMenu();
    void registeredWindowsShowTheirMenuItems();
    void resetAsksThenPostsAndReportsFailure();
    void resetDoesNothingForADisabledCb();
    void changePasswordStoresTheNewCodeAndRestoresStayOnTop();
    void threadClosesTheWaitWindowAfterTheFirstPoll();
    void closingStopsTimersAndThread();
    void waitKeepsTheWindowResponsive();
    void oneBlockLooksAsBefore();
    void blockListFollowsTheConfiguration();
    void chosenBlockBeforeItsFirstPollShowsNoOldColours();
    void uirSetupKeepsTheBlockOfTheClick();
};

void MainFormTest::constructionBuildsTilesAndMenus()
{
    Fixture f;
    QCOMPARE(f.form.windowTitle(), QStringLiteral("Дуговая защита v1.001"));
    QCOMPARE(f.form.TileCount, 43);
    QCOMPARE(f.form.SelectedUir, 0);
    QVERIFY(f.form.StayOnTop());
    for (int i = 0; i < kUirCount; ++i) {
        TUir* t = f.form.Tile(i);
        QCOMPARE(t->Number(), i + 1);
        QCOMPARE(t->PowerStatus(), 4);
        QCOMPARE(t->PowerName(), QString());
        QCOMPARE(t->parentWidget(), f.form.Panel2());
        QCOMPARE(int(f.Cb().Uir[i].Present), 1);
        QCOMPARE(int(f.Cb().Uir[i].Number), i + 1);
    }
    TCB* cb = f.form.CbTile();
    QCOMPARE(cb->PowerStatus(), 1);
    QCOMPARE(cb->ArcStatus(), 1);
    QCOMPARE(cb->EmerStatus(), 1);
    QCOMPARE(cb->PowerName(), QStringLiteral("Связь ПК"));
    QCOMPARE(f.form.Timer1()->interval(), 1000);
    QCOMPARE(f.form.Timer2()->interval(), 300);
    QVERIFY(!f.form.Timer1()->isActive());
    QVERIFY(!f.form.Timer2()->isActive());
    QCOMPARE(f.form.MessageForm()->windowTitle(), QStringLiteral("Окно сообщений"));
    QCOMPARE(f.form.MessageForm()->Text(), QStringLiteral("Ждите! Идет получение архивных данных"));
    QCOMPARE(f.form.MessageForm()->size(), QSize(424, 155));
    QCOMPARE(f.form.ToolBar1()->height(), 26);

    // Menu texts; the windows of later parts are not there yet.
    QCOMPARE(f.form.mmResetCb->text(), QStringLiteral("Сброс устройства"));
    QCOMPARE(f.form.mmChPassword->text(), QStringLiteral("Изменить пароль"));
    QCOMPARE(f.form.mmExit->text(), QStringLiteral("Выход"));
    QVERIFY(!f.form.mmiCfg->isVisible());
    QVERIFY(!f.form.mmiHistory->isVisible());
    QVERIFY(!f.form.ToolButton3->isVisible());
    QVERIFY(!f.form.ToolButton4->isVisible());
    QVERIFY(!f.form.ToolButton5->isVisible());
    QVERIFY(!f.form.ToolButton6->isVisible());
    QVERIFY(f.form.ToolButton1->isVisible());
    QVERIFY(f.form.ToolButton7->isVisible());
    QCOMPARE(f.form.pm1DisableUir->text(), QStringLiteral("Удалить"));
    QVERIFY(!f.form.pm1SetupUir->isVisible());
    QCOMPARE(f.form.pm1Cancel->text(), QStringLiteral("Отмена"));
    QVERIFY(!f.form.pm2SetupIntem->isVisible());
}

// The program's own order: start-up while hidden, then show. The window keeps
// its client size of 992 x 646 below the menu; the tiles are fitted to the
// tile area it really has.
void MainFormTest::startupOpensAtTheClientSizeOnceShown()
{
    TGlobalState state;
    TempStore temp;
    ScriptedPrompt prompt;
    TMainForm form(state, *temp.store, prompt);
    QVERIFY(temp.Seed(state));
    QCOMPARE(form.Startup(AcquisitionFactory{}), StartupResult::Continue);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    // Let any queued resize the fitting asked for take effect.
    for (int k = 0; k < 5; ++k)
        QCoreApplication::processEvents();
    QCOMPARE(form.width(), 992);
    QCOMPARE(form.height() - form.menuBar()->height(), 646);
    // Tile area: the client area less the tool bar (26) and the status bar (23).
    QCOMPARE(form.Panel2()->size(), QSize(992, 646 - 26 - 23));
    // 115 x 72 tiles in 992 x 597: 8 x 7 places, one row to spare, so they
    // grow once to 120 x 77 (7 x 7 places for 43 + 1 tiles).
    QCOMPARE(form.Tile(0)->size(), QSize(120, 77));
    for (int i = 0; i < kUirCount; ++i) {
        QVERIFY(form.Tile(i)->isVisible());
        QVERIFY(form.Panel2()->rect().contains(form.Tile(i)->geometry()));
    }
    QVERIFY(form.Panel2()->rect().contains(form.CbTile()->geometry()));
    // Shown again after a minimise, nothing moves.
    const QRect before = form.geometry();
    form.showMinimized();
    form.showNormal();
    for (int k = 0; k < 5; ++k)
        QCoreApplication::processEvents();
    QCOMPARE(form.geometry().size(), before.size());
    QCOMPARE(form.Tile(0)->size(), QSize(120, 77));
}

void MainFormTest::firstPollPendingKeepsTheWaitWindowAndTheTiles()
{
    Fixture f;
    f.Cb().FirstPollPending = 1;
    f.Cb().Events.Append(Ev(0xA1, 5));
    f.Cb().Uir[0].PollEnabled = 1;
    f.form.Timer1Timer();
    QVERIFY(f.form.MessageForm()->isVisible());
    QCOMPARE(f.form.Tile(4)->ChStatus1(), 0);
    QCOMPARE(f.form.Tile(0)->ChStatus1(), 0);
    QCOMPARE(int(f.Cb().Uir[4].ChArc1), 0);
}

void MainFormTest::tickPaintsTheEventListOntoTheTiles()
{
    Fixture f;
    TCbData& cb = f.Cb();
    cb.FirstPollPending = 0;
    cb.Uir[2].PollEnabled = 1;
    cb.Uir[4].PollEnabled = 1;
    cb.Uir[4].OutputEnabled = 1;
    cb.Events.Append(Ev(0xA2, 5));
    cb.Events.Append(Ev(0xE1, 3));
    cb.Events.Append(Ev(0xE0, 9));
    cb.Events.Append(Ev(0xB1));
    f.form.Timer1Timer();
    QVERIFY(!f.form.MessageForm()->isVisible());
    TUir* u5 = f.form.Tile(4);
    QCOMPARE(u5->ChStatus1(), 1);
    QCOMPARE(u5->ChStatus2(), 2);
    QCOMPARE(u5->ChStatus3(), 1);
    QCOMPARE(u5->CentrBlockStatus(), 1);
    QCOMPARE(u5->PowerName(), QStringLiteral("Вых Д"));
    QCOMPARE(f.form.Tile(2)->ChStatus1(), 3);
    QCOMPARE(f.form.Tile(8)->CentrBlockStatus(), 2);
    QCOMPARE(f.form.Tile(0)->ChStatus1(), 0);
    QCOMPARE(f.form.Tile(0)->PowerName(), QString());
    QCOMPARE(f.form.CbTile()->ArcStatus(), 2);
    QCOMPARE(f.form.CbTile()->EmerStatus(), 2);
    QCOMPARE(f.form.CbTile()->PowerStatus(), 1);

    // The arc indicator is worked out again on every tick.
    cb.Events.Clear();
    cb.Events.Append(Ev(0xA1, 5));
    cb.LinkLost = 1;
    f.form.Timer1Timer();
    QCOMPARE(f.form.CbTile()->ArcStatus(), 1);
    QCOMPARE(f.form.CbTile()->EmerStatus(), 1);
    QCOMPARE(f.form.CbTile()->PowerStatus(), 2);
    QCOMPARE(u5->ChStatus2(), 2);  // flags stay until a reset heads the list
    QCOMPARE(f.form.Tile(8)->CentrBlockStatus(), 0);

    // Rendered, the CB tile's arc circle is red for 0xC0 alone.
    cb.Events.Clear();
    cb.Events.Append(Ev(0xC0));
    f.form.Timer1Timer();
    const QImage img = f.form.CbTile()->grab().toImage();
    QCOMPARE(QColor(img.pixel(11, 44)), TTileBase::Red);
}

void MainFormTest::resetAtTheHeadClearsTheTiles()
{
    Fixture f;
    TCbData& cb = f.Cb();
    cb.FirstPollPending = 0;
    cb.Events.Append(Ev(0xA3, 1));
    f.form.Timer1Timer();
    QCOMPARE(f.form.Tile(0)->ChStatus3(), 2);
    cb.Events.InsertAt(Ev(0xD2), 0);
    f.form.Timer1Timer();
    QCOMPARE(f.form.Tile(0)->ChStatus3(), 0);
    QCOMPARE(int(cb.Uir[0].ChArc3), 0);
}

void MainFormTest::alarmRestoresAMinimisedWindowOnce()
{
    Fixture f;
    TCbData& cb = f.Cb();
    cb.FirstPollPending = 0;
    f.form.show();
    f.form.showMinimized();
    QVERIFY(f.form.isMinimized());
    cb.Events.Append(Ev(0xA1, 5));
    f.form.Timer1Timer();
    QVERIFY(!f.form.isMinimized());

    f.form.showMinimized();
    f.form.Timer1Timer();  // the same event again: its flag is already set
    QVERIFY(f.form.isMinimized());

    // The thread's own request (an event applied on the link) comes queued.
    f.form.Hooks().RestoreMainWindow();
    QVERIFY(f.form.isMinimized());
    QTRY_VERIFY(!f.form.isMinimized());

    // With the status timer running, the tiles follow such an alarm at once.
    f.form.Timer1()->start();
    cb.Events.InsertAt(Ev(0xA3, 8), 0);
    cb.Uir[7].ChArc3 = 1;  // as the thread sets it when it applies the event
    f.form.Hooks().RestoreMainWindow();
    QCOMPARE(f.form.Tile(7)->ChStatus3(), 0);
    QTest::qWait(50);  // well before the next tick
    QCOMPARE(f.form.Tile(7)->ChStatus3(), 2);
    f.form.Timer1()->stop();
}

void MainFormTest::blinkTimerStepsOnlyInputsInStatusThree()
{
    Fixture f;
    TCbData& cb = f.Cb();
    cb.FirstPollPending = 0;
    cb.Events.Append(Ev(0xE2, 7));
    f.form.Timer1Timer();
    TUir* t = f.form.Tile(6);
    QCOMPARE(t->ChStatus2(), 3);
    f.form.Timer2Timer();
    QCOMPARE(t->BlinkColor(2), TTileBase::Silver);
    QCOMPARE(QColor(t->grab().toImage().pixel(11, 44)), TTileBase::Silver);
    f.form.Timer2Timer();
    QCOMPARE(t->BlinkColor(2), TTileBase::Red);
    QCOMPARE(QColor(t->grab().toImage().pixel(11, 44)), TTileBase::Red);
    QVERIFY(!f.form.Tile(5)->BlinkPhase(2));
    QVERIFY(!t->BlinkPhase(1));
}

void MainFormTest::fitAndArrangeNumbers()
{
    // The worked example: 988 x 593 with 115 x 72 tiles.
    TGridMetrics m{988, 593, 115, 72, 5, 5};
    TFitDecision d = FitTilesCalc(m, 43);
    QVERIFY(d.GrowTiles);
    QCOMPARE(d.GrowWindowBy, 0);
    // 120 x 77 then: 7 columns, 7 rows; 43 + 7 < 49 is false, so no more growth.
    m.TileWidth = 120;
    m.TileHeight = 77;
    d = FitTilesCalc(m, 43);
    QVERIFY(!d.GrowTiles);
    QCOMPARE(d.GrowWindowBy, 0);
    // Too small an area: one more row is asked for.
    TGridMetrics small{600, 300, 115, 72, 5, 5};
    // cols 4, rows 3: 12 < 43 -> (3 + 1) * 77 + 2 * 5 - 300 = 18, after
    // which a fourth row really fits: (318 - 10) / 77 = 4.
    d = FitTilesCalc(small, 43);
    QCOMPARE(d.GrowWindowBy, 18);
    small.AreaHeight += d.GrowWindowBy;
    QCOMPARE((small.AreaHeight - 10) / 77, 4);

    std::array<bool, kUirCount> present{};
    present.fill(true);
    const TArrangement a = ArrangeTilesCalc({988, 593, 115, 72, 5, 5}, present, 115, 72);
    QCOMPARE(a.Cols, 8);
    QCOMPARE(a.Rows, 7);
    QCOMPARE(a.X0, (988 - 8 * 120) / 2);
    QCOMPARE(a.Y0, (593 - 7 * 77) / 2);
    QCOMPARE(a.Uir[0].Left, a.X0);
    QCOMPARE(a.Uir[0].Top, a.Y0);
    QCOMPARE(a.Uir[7].Left, a.X0 + 7 * 120);
    QCOMPARE(a.Uir[8].Left, a.X0);
    QCOMPARE(a.Uir[8].Top, a.Y0 + 77);
    QCOMPARE(a.Uir[42].Top, a.Y0 + 5 * 77);
    QCOMPARE(a.Cb.Left, a.X0 + 3 * 120);
    QCOMPARE(a.Cb.Top, a.Y0 + 5 * 77);

    // Rows get one more when the remainder has room for most of a tile;
    // y0 never goes above the gap.
    const TArrangement b = ArrangeTilesCalc({988, 157, 115, 72, 5, 5}, present, 115, 72);
    QCOMPARE(b.Rows, 2);  // 147 / 77 = 1, remainder 70 > 72 - 5
    QCOMPARE(b.Y0, 5);    // (157 - 154) / 2 = 1, but at least the gap
    const TArrangement b2 = ArrangeTilesCalc({988, 150, 115, 72, 5, 5}, present, 115, 72);
    QCOMPARE(b2.Rows, 1);  // remainder 63
    QCOMPARE(b2.Y0, 36);
    // Absent tiles leave no hole.
    present[1] = false;
    const TArrangement c = ArrangeTilesCalc({988, 593, 115, 72, 5, 5}, present, 115, 72);
    QVERIFY(!c.Uir[1].Visible);
    QCOMPARE(c.Uir[2].Left, c.X0 + 120);
}

void MainFormTest::fitGrowsTilesInTheMainWindow()
{
    Fixture f;
    f.form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.form));
    // Give the tile area exactly 988 x 593, then put the tiles back to 115 x 72.
    const QSize extra = f.form.size() - f.form.Panel2()->size();
    f.form.resize(QSize(988, 593) + extra);
    QTRY_COMPARE(f.form.Panel2()->size(), QSize(988, 593));
    for (int i = 0; i < kUirCount; ++i)
        f.form.Tile(i)->resize(115, 72);
    f.form.CbTile()->resize(115, 72);
    f.form.FitTiles();
    for (int i = 0; i < kUirCount; ++i)
        QCOMPARE(f.form.Tile(i)->size(), QSize(120, 77));
    QCOMPARE(f.form.CbTile()->size(), QSize(120, 77));
    f.form.FitTiles();  // no spare row any more
    QCOMPARE(f.form.Tile(0)->size(), QSize(120, 77));
    f.form.ArrangeTiles();
    // 7 columns of 125: x0 = (988 - 875) / 2 = 56.
    QCOMPARE(f.form.Tile(0)->pos().x(), 56);
    QCOMPARE(f.form.Tile(7)->pos().x(), 56);
    QCOMPARE(f.form.Tile(7)->pos().y(), f.form.Tile(0)->pos().y() + 82);
}

void MainFormTest::fitMakesTheWindowTallerWhenTilesDoNotFit()
{
    Fixture f;
    f.form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.form));
    const QSize extra = f.form.size() - f.form.Panel2()->size();
    const int before = f.form.height();
    f.form.resize(QSize(988, 300) + extra);
    // The resize itself runs the fitting, which asks for more height until
    // all 44 tiles fit.
    QTRY_VERIFY(f.form.height() > 300 + extra.height());
    QTRY_VERIFY2(f.form.Tile(42)->geometry().bottom() < f.form.Panel2()->height(),
                 qPrintable(QStringLiteral("tile 43 %1,%2 %3x%4, area %5x%6")
                                .arg(f.form.Tile(42)->x()).arg(f.form.Tile(42)->y())
                                .arg(f.form.Tile(42)->width()).arg(f.form.Tile(42)->height())
                                .arg(f.form.Panel2()->width()).arg(f.form.Panel2()->height())));
    QVERIFY(f.form.CbTile()->geometry().bottom() < f.form.Panel2()->height());
    Q_UNUSED(before);
}

void MainFormTest::narrowingShrinksTilesDownToTheMinimum()
{
    Fixture f;
    f.form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.form));
    for (int i = 0; i < kUirCount; ++i)
        f.form.Tile(i)->resize(140, 97);
    f.form.CbTile()->resize(140, 97);
    f.form.resize(f.form.width() - 50, f.form.height());
    QTRY_VERIFY(f.form.Tile(0)->width() < 140);
    QCOMPARE(f.form.CbTile()->width(), f.form.Tile(0)->width());
    // Never below the minimum plus the last step.
    for (int k = 0; k < 8; ++k) {
        f.form.resize(f.form.width() - 5, f.form.height());
        QTest::qWait(20);
    }
    QVERIFY(f.form.Tile(0)->width() >= 115);
}

void MainFormTest::deleteOnUir10HidesTiles10To43()
{
    Fixture f;
    f.form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.form));
    QTest::mouseClick(f.form.Tile(9), Qt::LeftButton);
    QCOMPARE(f.form.SelectedUir, 9);
    f.form.pm1DisableUir->trigger();
    for (int i = 0; i < kUirCount; ++i) {
        QCOMPARE(f.form.Tile(i)->isVisible(), i < 9);
        QCOMPARE(int(f.Cb().Uir[i].Present), i < 9 ? 1 : 0);
    }
    QVERIFY(f.form.CbTile()->isVisible());
    // The CB tile follows the ninth tile in the same flow.
    QVERIFY(f.form.CbTile()->pos() != f.form.Tile(8)->pos());
}

void MainFormTest::leftClickSelectsAndRightClickOpensTheTileMenu()
{
    Fixture f;
    f.form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.form));
    QTest::mouseClick(f.form.Tile(20), Qt::LeftButton, Qt::ShiftModifier);
    QCOMPARE(f.form.SelectedUir, 20);
    QTest::mousePress(f.form.Tile(30), Qt::RightButton);
    QCOMPARE(f.form.SelectedUir, 30);
    QTRY_VERIFY(f.form.PopupMenu1()->isVisible());
    f.form.PopupMenu1()->close();
    QTest::mousePress(f.form.CbTile(), Qt::RightButton);
    QTRY_VERIFY(f.form.PopupMenu2()->isVisible());
    f.form.PopupMenu2()->close();
}

void MainFormTest::registeredWindowsShowTheirMenuItems()
{
    Fixture f;
    auto* journal = new QWidget(nullptr, Qt::Window);
    journal->resize(300, 200);
    int rendered = 0;
    f.form.SetHistoryForm(journal, [&] { ++rendered; });
    QCOMPARE(journal->parentWidget(), &f.form);  // owned: kept above the main window
    QVERIFY(f.form.mmiHistory->isVisible());
    QVERIFY(f.form.ToolButton4->isVisible());
    f.form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.form));
    f.form.mmiHistory->trigger();
    QVERIFY(journal->isVisible());
    QCOMPARE(rendered, 1);

    auto* setup = new QWidget(nullptr, Qt::Window);
    setup->resize(200, 100);
    std::vector<int> shown;
    f.form.SetSetupUirForm(setup, [&](int cb, int i) { shown.push_back(cb * 100 + i); });
    QVERIFY(f.form.pm1SetupUir->isVisible());
    f.Cb().Enabled = 0;  // no request for a block that is not served
    QTest::mouseClick(f.form.Tile(3), Qt::LeftButton);
    QVERIFY(setup->isVisible());
    QCOMPARE(shown, std::vector<int>{3});
    // 20 pixels below the top of the tile area, under the menu and tool bar.
    QCOMPARE(setup->y(), f.form.Panel2()->mapToGlobal(QPoint(0, 20)).y());
    QVERIFY(setup->y() > f.form.ToolBar1()->mapToGlobal(QPoint(0, f.form.ToolBar1()->height())).y());
    QCOMPARE(setup->x() + setup->frameGeometry().width() / 2, f.form.x() + f.form.frameGeometry().width() / 2);

    // "Конфигурация" only after the access prompt.
    auto* cfg = new QWidget(nullptr, Qt::Window);
    cfg->resize(200, 100);
    int prepared = 0;
    f.form.SetCfgForm(cfg, [&] { ++prepared; });
    QVERIFY(f.form.mmiCfg->isVisible());
    QVERIFY(f.form.ToolButton3->isVisible());
    f.prompt.accessPrompt = {false, true};
    f.form.mmiCfg->trigger();
    QVERIFY(!cfg->isVisible());
    QCOMPARE(prepared, 0);
    QVERIFY(f.form.StayOnTop());
    f.form.ToolButton3->trigger();
    QVERIFY(cfg->isVisible());
    QCOMPARE(prepared, 1);
    QVERIFY(f.form.StayOnTop());
    QCOMPARE(f.prompt.unexpected, 0);

    // The status tick runs the configuration window's hook first, also
    // while the first poll is pending.
    int hooked = 0;
    f.form.SetStatusTickHook([&] { ++hooked; });
    f.Cb().FirstPollPending = 1;
    f.form.Timer1Timer();
    QCOMPARE(hooked, 1);

    f.form.SetServiceButtonsVisible(true);
    QVERIFY(f.form.ToolButton5->isVisible());
    QVERIFY(f.form.ToolButton6->isVisible());

    // Closing the main window takes its windows along.
    f.form.close();
    QVERIFY(!journal->isVisible());
    QVERIFY(!setup->isVisible());
    QVERIFY(!cfg->isVisible());
}

void MainFormTest::resetAsksThenPostsAndReportsFailure()
{
    TGlobalState state;
    TempStore temp;
    ScriptedPrompt prompt;
    ScriptedAcquisition acq;
    acq.link->onDispatch = [&state](int32_t cb, int32_t code) {
        if (code == 17)
            state.Cb(cb)->ResetError = 1;
    };
    TMainForm form(state, *temp.store, prompt);
    // A configuration and code in the store, so the start-up goes through.
    QVERIFY(temp.Seed(state));
    QCOMPARE(form.Startup(acq.Factory()), StartupResult::Continue);
    QCOMPARE(prompt.unexpected, 0);

    prompt.yesNo = {false};
    form.mmResetCb->trigger();
    QVERIFY(!acq.link->Saw(17));

    prompt.yesNo = {true};
    prompt.log.clear();
    form.mmResetCb->trigger();
    QVERIFY(acq.link->Saw(17));
    const auto lines = prompt.Lines();
    QCOMPARE(lines.size(), size_t(2));
    QCOMPARE(lines[0], std::string("ask:Внимание! Будет выполнен сброс дуговой защиты! Продолжить?"));
    QCOMPARE(prompt.log[0].caption, std::string("Внимание!"));
    QCOMPARE(prompt.log[0].icon, PromptIcon::Warning);
    QCOMPARE(lines[1], std::string("message:Ошибка выполнения команды"));
    QCOMPARE(prompt.log[1].caption, std::string("Внимание!"));
    QCOMPARE(int(state.Cb(0)->ResetError), 0);
    form.close();
}

void MainFormTest::resetDoesNothingForADisabledCb()
{
    Fixture f;
    f.Cb().Enabled = 0;
    f.form.mmResetCb->trigger();
    QVERIFY(f.prompt.log.empty());
    QCOMPARE(int(f.Cb().Request), 0);
}

void MainFormTest::changePasswordStoresTheNewCodeAndRestoresStayOnTop()
{
    Fixture f;
    f.prompt.changeDialog = {{true, "n3w"}};
    f.form.mmChPassword->trigger();
    QCOMPARE(f.state.AccessCode, std::string("n3w"));
    std::string stored;
    QCOMPARE(f.temp.store->ReadRegString(kRegKeyPassword, stored), 0);
    QCOMPARE(stored, std::string("n3w"));
    QVERIFY(f.form.StayOnTop());

    // Cancel changes nothing.
    f.prompt.changeDialog = {{false, ""}};
    f.form.mmChPassword->trigger();
    QCOMPARE(f.state.AccessCode, std::string("n3w"));
    QCOMPARE(f.prompt.unexpected, 0);
}

void MainFormTest::threadClosesTheWaitWindowAfterTheFirstPoll()
{
    TGlobalState state;
    TempStore temp;
    ScriptedPrompt prompt;
    ScriptedAcquisition acq;
    TMainForm form(state, *temp.store, prompt);
    QVERIFY(temp.Seed(state));
    form.show();
    QCOMPARE(form.Startup(acq.Factory()), StartupResult::Continue);
    QVERIFY(form.AcqThread());
    QVERIFY(form.Timer1()->isActive());
    QVERIFY(form.Timer2()->isActive());
    form.Timer1Timer();
    // Either the poll has run already or the wait window is up until it does.
    QTRY_VERIFY_WITH_TIMEOUT(acq.link->Saw(107), 30000);  // a guard against a hang only
    QTRY_VERIFY(!form.MessageForm()->isVisible());
    QCOMPARE(int(state.Cb(0)->FirstPollPending), 0);
    form.close();
}

void MainFormTest::closingStopsTimersAndThread()
{
    TGlobalState state;
    TempStore temp;
    ScriptedPrompt prompt;
    ScriptedAcquisition acq;
    TMainForm form(state, *temp.store, prompt);
    QVERIFY(temp.Seed(state));
    QCOMPARE(form.Startup(acq.Factory()), StartupResult::Continue);
    QFile cfg(QString::fromStdString(state.CfgFilePath));
    QVERIFY(cfg.open(QIODevice::ReadOnly));
    const QByteArray bytes = cfg.readAll();
    cfg.close();

    state.Cb(0)->Request = 99;  // posted, never taken: dropped at exit
    form.show();
    form.close();
    QVERIFY(!form.Timer1()->isActive());
    QVERIFY(!form.Timer2()->isActive());
    QVERIFY(form.AcqThread()->Finished());
    QVERIFY(form.Closing());
    QCOMPARE(int(state.Cb(0)->Request), 0);
    // The layout is frozen once closing.
    const QPoint p = form.Tile(0)->pos();
    form.ArrangeTiles();
    QCOMPARE(form.Tile(0)->pos(), p);
    // Nothing was written at exit.
    QVERIFY(cfg.open(QIODevice::ReadOnly));
    QCOMPARE(cfg.readAll(), bytes);
}

void MainFormTest::waitKeepsTheWindowResponsive()
{
    TGlobalState state;
    TempStore temp;
    ScriptedPrompt prompt;
    ScriptedAcquisition acq;
    std::atomic<bool> release{false};
    acq.link->onDispatch = [&](int32_t, int32_t code) {
        if (code == 104)
            while (!release.load())
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
    };
    TMainForm form(state, *temp.store, prompt);
    QVERIFY(temp.Seed(state));
    QCOMPARE(form.Startup(acq.Factory()), StartupResult::Continue);

    // While a request runs, timers keep firing on the user-interface thread.
    int ticks = 0;
    QTimer probe;
    probe.setInterval(10);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (++ticks == 5)
            release = true;
    });
    probe.start();
    PostArgs a = PostArgs::Standard(104, 250);
    a.Cb = 0;
    a.WaitText = "Ждите! Идет получение конфигурации УИР!";
    bool sawWait = false;
    QTimer::singleShot(30, [&] {
        sawWait = form.MessageForm()->isVisible() &&
                  form.MessageForm()->Text() == QStringLiteral("Ждите! Идет получение конфигурации УИР!");
    });
    const PostResult r = form.PostRequestAndWait(a);
    QCOMPARE(r.Status, PostStatus::Done);
    QVERIFY(ticks >= 5);
    QVERIFY(sawWait);
    QVERIFY(!form.MessageForm()->isVisible());
    form.close();
}

// One configured block: no list, no status line, the keys do nothing, the
// CB tile keeps number 1; an alarm still shows as before.
void MainFormTest::oneBlockLooksAsBefore()
{
    Fixture f;
    f.Cb().FirstPollPending = 0;
    f.Cb().Events.Append(Ev(0xA1, 5));
    f.Cb().LinkLost = 1;
    f.form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.form));
    f.form.Timer1Timer();
    QVERIFY(!f.form.CbListShown());
    QVERIFY(!f.form.CbList()->isVisible());
    QCOMPARE(f.form.AlarmLine()->text(), QString());
    QCOMPARE(f.form.BlockMark(0), TCbMark::Alarm);
    QCOMPARE(f.form.Tile(4)->ChStatus1(), 2);
    QCOMPARE(f.form.CbTile()->Number(), 1);
    QVERIFY(!f.form.NextCbAction()->isEnabled());
    QVERIFY(!f.form.PrevCbAction()->isEnabled());
    f.form.StepCb(1);
    QCOMPARE(int(f.state.ShownCb), 0);
    // The tool bar holds what it always held.
    int visible = 0;
    for (QAction* a : f.form.ToolBar1()->actions())
        visible += a->isVisible() ? 1 : 0;
    QCOMPARE(visible, 3);  // "Выход", separator, "Сброс устройства"
}

// A configuration read that changes the count or the names rebuilds the
// list; one that drops the shown block brings the first one back.
void MainFormTest::blockListFollowsTheConfiguration()
{
    Fixture f;
    {
        std::lock_guard lock(f.state.RecordLock);
        QVERIFY(f.state.EnsureAllocated(3));
        f.state.CbCount = 3;
    }
    for (int i = 0; i < 3; ++i) {
        f.state.Cb(i)->Name = W1251(i == 1 ? "Подстанция 7" : "ЦБ");
        f.state.Cb(i)->FirstPollPending = 0;
    }
    f.form.Timer1Timer();
    QVERIFY(f.form.CbListShown());
    QCOMPARE(f.form.CbList()->count(), 3);
    QCOMPARE(f.form.CbList()->itemText(1), QStringLiteral("2: Подстанция 7"));
    QVERIFY(f.form.NextCbAction()->isEnabled());
    f.form.StepCb(-1);  // round from the first to the last
    QCOMPARE(int(f.state.ShownCb), 2);
    QCOMPARE(f.form.CbList()->currentIndex(), 2);
    QCOMPARE(f.form.CbTile()->Number(), 3);

    f.state.Cb(1)->Name = W1251("ЦБ 2");
    f.form.Timer1Timer();
    QCOMPARE(f.form.CbList()->itemText(1), QStringLiteral("2: ЦБ 2"));
    QCOMPARE(f.form.CbList()->currentIndex(), 2);

    // The file now holds two blocks: the shown third one is gone.
    {
        std::lock_guard lock(f.state.RecordLock);
        f.state.CbCount = 2;
        f.state.ClampShownCb();
    }
    f.form.Timer1Timer();
    QCOMPARE(f.form.CbList()->count(), 2);
    QCOMPARE(int(f.state.ShownCb), 0);
    QCOMPARE(f.form.CbList()->currentIndex(), 0);
    QCOMPARE(f.form.CbTile()->Number(), 1);
    // And one block again: the list goes away.
    f.state.CbCount = 1;
    f.form.Timer1Timer();
    QVERIFY(!f.form.CbListShown());
}

// Until a block's first poll has run nothing is drawn for it; choosing it
// must not leave the previous block's alarm on its tiles. Its own UIRs decide
// which tiles are there.
void MainFormTest::chosenBlockBeforeItsFirstPollShowsNoOldColours()
{
    Fixture f;
    {
        std::lock_guard lock(f.state.RecordLock);
        QVERIFY(f.state.EnsureAllocated(2));
        f.state.CbCount = 2;
    }
    f.Cb().FirstPollPending = 0;
    f.Cb().Events.Append(Ev(0xE2, 7));
    f.Cb().Events.Append(Ev(0xC0));
    TCbData& second = *f.state.Cb(1);
    for (int i = 0; i < 20; ++i)
        second.Uir[i].Present = 1;
    f.form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.form));
    f.form.Timer1Timer();
    QCOMPARE(f.form.Tile(6)->ChStatus2(), 3);
    QCOMPARE(f.form.CbTile()->ArcStatus(), 2);

    f.form.ShowCb(1);  // first poll still pending
    QVERIFY(f.form.MessageForm()->isVisible());
    QCOMPARE(f.form.Tile(6)->ChStatus2(), 0);
    QCOMPARE(f.form.CbTile()->ArcStatus(), 1);
    QCOMPARE(f.form.CbTile()->EmerStatus(), 1);
    QCOMPARE(f.form.BlockMark(0), TCbMark::Alarm);
    QCOMPARE(f.form.BlockMark(1), TCbMark::None);
    QCOMPARE(f.form.AlarmLine()->text(), QStringLiteral("Дуга: ЦБ 1; Отказ: ЦБ 1"));
    QVERIFY(f.form.Tile(19)->isVisible());
    QVERIFY(!f.form.Tile(20)->isVisible());
    // The flag the walk of block 1 set is still there when it comes back.
    f.form.ShowCb(0);
    QCOMPARE(f.form.Tile(6)->ChStatus2(), 3);
    QVERIFY(f.form.Tile(42)->isVisible());
}

// The UIR setup opener reads the UIR configuration of the block that was
// on screen at the click, even when another block is chosen during the read.
void MainFormTest::uirSetupKeepsTheBlockOfTheClick()
{
    TGlobalState state;
    TempStore temp;
    ScriptedPrompt prompt;
    ScriptedAcquisition acq;
    std::vector<int32_t> readsOn;
    TMainForm* formPtr = nullptr;
    acq.link->onDispatch = [&](int32_t cb, int32_t code) {
        if (code == 104)
            readsOn.push_back(cb);
    };
    {
        TGlobalState seed;
        seed.CbCount = 2;
        QVERIFY(seed.EnsureAllocated(2));
        for (int i = 0; i < 2; ++i)
            for (auto& u : seed.Cb(i)->Uir)
                u.Present = 1;
        QVERIFY(temp.Seed(seed));
    }
    TMainForm form(state, *temp.store, prompt);
    formPtr = &form;
    QCOMPARE(form.Startup(acq.Factory()), StartupResult::Continue);
    QCOMPARE(int(state.CbCount), 2);
    auto* setup = new QWidget(nullptr, Qt::Window);
    setup->resize(200, 100);
    std::vector<std::pair<int, int>> displayed;
    form.SetSetupUirForm(setup, [&](int cb, int uir) {
        displayed.emplace_back(cb, uir);
        if (displayed.size() == 1)
            QTimer::singleShot(0, formPtr, [formPtr] { formPtr->ShowCb(0); });  // while the read waits
    });
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.ShowCb(1);
    QVERIFY(form.Tile(6)->isVisible());
    QTest::mouseClick(form.Tile(6), Qt::LeftButton);
    QCOMPARE(readsOn, std::vector<int32_t>{1});
    QCOMPARE(displayed, (std::vector<std::pair<int, int>>{{1, 6}, {1, 6}}));
    QCOMPARE(int(state.ShownCb), 0);
    form.close();
}

QTEST_MAIN(MainFormTest)
#include "tst_main_form.moc"
