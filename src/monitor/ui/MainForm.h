#pragma once
// The main window: the operator's view of one central block (the shown one,
// ShownCb) as a grid of 43 UIR tiles and one CB tile, the "Настройки" menu,
// the tool bar, the tiles' pop-up menus and the wait window that every long
// request shares.
//
// Several blocks: a block list in the tool bar (hidden with one block) picks
// the shown block, Ctrl+PgUp / Ctrl+PgDn step through it. The status tick
// walks every block, marks a block in alarm in the list (red: arc or
// failure; magenta: link lost), names the blocks in alarm in the status bar
// and brings a minimised window back for an alarm on any block. Every action
// fixes the shown block when it starts and posts to it, never to CurrentCb,
// which is the acquisition thread's own.
//
// Life: construct (tiles, menus, wait window), Startup() (settings, the
// acquisition thread, the two timers), show (the tiles are fitted once the
// window has its real size), run, close (timers off, the thread stopped,
// nothing saved).
#include <QMainWindow>
#include <array>
#include <functional>
#include <memory>
#include <vector>

#include "monitor/GetDataThread.h"
#include "monitor/PostRequest.h"
#include "monitor/StatusWalk.h"
#include "monitor/ui/QtUiHooks.h"
#include "state/Access.h"
#include "state/Model.h"
#include "state/Prompt.h"
#include "state/SettingsStore.h"

class QAction;
class QComboBox;
class QLabel;
class QMenu;
class QTimer;
class QToolBar;

namespace kestrel {

class TCB;
class TMessageForm;
class TUir;

// The acquisition thread with whatever it works through (port, protocol,
// link); the thread is destroyed (joined) before the parts it uses.
struct TAcquisition {
    std::vector<std::shared_ptr<void>> Parts;
    std::unique_ptr<TGetDataThread> Thread;
    ~TAcquisition()
    {
        Thread.reset();
        while (!Parts.empty())
            Parts.pop_back();
    }
};
using AcquisitionFactory = std::function<std::unique_ptr<TAcquisition>(TGlobalState&, IUiHooks&)>;

class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    TMainForm(TGlobalState& state, ISettingsStore& store, IPrompt& prompt, QWidget* parent = nullptr);
    ~TMainForm() override;

    // Loads the settings with every question on the way; on Continue starts
    // the acquisition thread (one priority step below normal) and both timers.
    // Exit: the caller closes the window and ends with exit code 0.
    StartupResult Startup(const AcquisitionFactory& makeAcquisition);

    // The window side of the request hand-over, with this window's wait window.
    PostResult PostRequestAndWait(const PostArgs& args);
    IWaitUi& WaitUi();
    IUiHooks& Hooks() { return hooks_; }
    // The questions and the access prompt, for the setup windows' access gates.
    IPrompt& Prompt() { return prompt_; }
    TQtUiHooks& QtHooks() { return hooks_; }

    // Main window style: above other applications' windows, except while one
    // of its modal dialogs runs.
    void SetStayOnTop(bool on);
    bool StayOnTop() const;

    // Windows built elsewhere register here; until then their menu items and
    // tool buttons are not shown. A window that is a top-level window is made
    // owned by this one, so it always stays above it.
    void SetHistoryForm(QWidget* form, std::function<void()> render);
    // display(cbIndex, uirIndex): the block is the one shown when the action started.
    void SetSetupUirForm(QWidget* form, std::function<void(int cb, int uirIndex)> display);
    // fill(cbIndex, fillEnableAndAddress) after the function tables were read.
    void SetSetupCbForm(QWidget* form, std::function<void(int cb, bool fillEnableAndAddress)> fill);
    void SetConsoleForm(QWidget* form, std::function<void()> fill);
    // "Сверка настроек ЦБ": open(cbIndex) with the block shown when the
    // operator chose the item.
    void SetSettingsCheckForm(QWidget* form, std::function<void(int cb)> open);
    // "Проверка датчиков": open(cbIndex) likewise; the window asks the code.
    void SetWalkTestForm(QWidget* form, std::function<void(int cb)> open);
    // "Конфигурация": after the access prompt, prepare() fills the window
    // from the model (check boxes, port and speed rows, "Применить" off).
    void SetCfgForm(QWidget* form, std::function<void()> prepare);
    // Run first on every status tick (the configuration window applies the
    // port settings it was given there).
    void SetStatusTickHook(std::function<void()> hook);
    // The block setup window's table read, for both of its openers: posted
    // to a served block; on a block that is not served a failure left by
    // its last automatic re-read is reported (and cleared) instead.
    void ReadCbConfig(int index);
    // The central-block setup window's service key.
    void SetServiceButtonsVisible(bool on);
    bool ServiceButtonsVisible() const;

    // Child-window placement. `top` counts from the top of the tile area,
    // below the menu and the tool bar.
    void CentreOnTileArea(QWidget* w);
    void CentreHorizontallyOnMainWindow(QWidget* w, int top);

    // The shown block: what the tiles, the CB tile and the journal window show
    // and what every action posts to. Choosing one redraws at once.
    void ShowCb(int index);
    // Ctrl+PgDn (+1) and Ctrl+PgUp (-1): the next or previous block, round.
    void StepCb(int delta);
    // The mark of block `index` in the list after the last status tick.
    TCbMark BlockMark(int index) const;

    // Controls and fields, for the windows that work with this one and tests.
    TUir* Tile(int i) const { return Tiles[static_cast<size_t>(i)]; }
    TCB* CbTile() const { return CbTile_; }
    QWidget* Panel2() const { return panel2_; }
    TMessageForm* MessageForm() const { return messageForm_; }
    QTimer* Timer1() const { return timer1_; }
    QTimer* Timer2() const { return timer2_; }
    QToolBar* ToolBar1() const { return toolBar1_; }
    // The block list in the tool bar and the status-bar line.
    QComboBox* CbList() const { return cbList_; }
    bool CbListShown() const;
    QLabel* AlarmLine() const { return alarmLine_; }
    // "Настройки изменены: ЦБ 2": the blocks found changed on their own
    // menu; hidden while there is none.
    QLabel* SettingsChangedLine() const { return changedLine_; }
    QAction* NextCbAction() const { return nextCb_; }
    QAction* PrevCbAction() const { return prevCb_; }
    QMenu* PopupMenu1() const { return popupMenu1_; }
    QMenu* PopupMenu2() const { return popupMenu2_; }
    TGetDataThread* AcqThread() const { return acq_ ? acq_->Thread.get() : nullptr; }
    bool Closing() const { return closing_; }

    int TileCount = 0;
    int SelectedUir = 0;
    std::array<TUir*, kUirCount> Tiles{};

    // Menu items and tool buttons, named as the menu is built.
    QAction* mmiCfg = nullptr;
    QAction* mmiHistory = nullptr;
    QAction* mmResetCb = nullptr;
    QAction* mmChPassword = nullptr;
    QAction* mmSettingsCheck = nullptr;
    QAction* mmWalkTest = nullptr;
    QAction* mmExit = nullptr;
    QAction* ToolButton1 = nullptr;
    QAction* ToolButton2 = nullptr;
    QAction* ToolButton3 = nullptr;
    QAction* ToolButton4 = nullptr;
    QAction* ToolButton5 = nullptr;
    QAction* ToolButton6 = nullptr;
    QAction* ToolButton7 = nullptr;
    QAction* pm1DisableUir = nullptr;
    QAction* pm1SetupUir = nullptr;
    QAction* pm1Cancel = nullptr;
    QAction* pm2SetupIntem = nullptr;
    QAction* pm2Separator = nullptr;
    QAction* pm2Cancel = nullptr;

signals:
    // The service console was registered (the journal window places itself
    // over it for the console's record reads and event cycles).
    void ConsoleFormSet(QWidget* form);

public slots:
    void Timer1Timer();
    void Timer2Timer();
    void FitTiles();
    void ArrangeTiles();
    void UirMouseDown(QWidget* tile, Qt::MouseButton button, Qt::KeyboardModifiers mods, QPoint pos);
    void CBMouseDown(QWidget* tile, Qt::MouseButton button, Qt::KeyboardModifiers mods, QPoint pos);
    void pm1DisableUirClick();
    void pm1SetupUirClick();
    void pm2SetupIntemClick();
    void mmiCfgClick();
    void mmiHistoryClick();
    void mmResetCbClick();
    void mmChPasswordClick();
    void mmExitClick();
    void ToolButton5Click();
    // Shutdown steps: timers off, the thread stopped, layout frozen.
    void Shutdown();

protected:
    void closeEvent(QCloseEvent* e) override;
    void showEvent(QShowEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    class TQtWaitUi;

    void BuildMenus();
    void BuildCbList();
    void BuildTiles();
    // The tick's drawing without the configuration window's hook.
    void RefreshStatus();
    // The block list follows CbCount, the names and ShownCb; a changed shown
    // block gets its number, its layout and its journal.
    void SyncCbList();
    void MarkCbList(const TStatusSweep& sweep);
    // The marks of the blocks whose settings were changed on site.
    void MarkChangedSettings();
    QString ListText(int index) const;
    void PaintTiles(const TStatusPicture& pic);
    void FormCanResize(int newWidth, int oldWidth);
    void FormResize();
    void ResizeAllTiles(int dx, int dy);
    void OpenSetupUir();
    void OpenSetupCb(bool fillEnableAndAddress);
    void Adopt(QWidget* form);
    void ShowWindow(QWidget* w);

    TGlobalState& state_;
    ISettingsStore& store_;
    IPrompt& prompt_;
    TQtUiHooks hooks_;
    std::unique_ptr<TQtWaitUi> waitUi_;
    std::unique_ptr<TAcquisition> acq_;

    TCB* CbTile_ = nullptr;
    QWidget* panel2_ = nullptr;
    TMessageForm* messageForm_ = nullptr;
    QTimer* timer1_ = nullptr;
    QTimer* timer2_ = nullptr;
    QToolBar* toolBar1_ = nullptr;
    QMenu* popupMenu1_ = nullptr;
    QMenu* popupMenu2_ = nullptr;
    bool closing_ = false;
    int lastWidth_ = 0;
    // The tiles are fitted once the window is first shown with its real size.
    bool fittedOnShow_ = false;

    QComboBox* cbList_ = nullptr;
    QAction* cbListSeparator_ = nullptr;
    QAction* cbListAction_ = nullptr;
    QAction* nextCb_ = nullptr;
    QAction* prevCb_ = nullptr;
    QLabel* alarmLine_ = nullptr;
    QLabel* changedLine_ = nullptr;
    std::vector<std::string> listedNames_;  // Name of each listed block
    std::vector<int> listedLook_;           // what each entry's icon shows (see MarkCbList)
    std::vector<bool> listedChanged_;       // whose entry carries the changed-settings mark
    std::vector<TCbMark> marks_;
    int layoutCb_ = 0;  // the block whose number and present UIRs the tiles have
    int drawnCb_ = 0;   // the block whose statuses the tiles show

    QWidget* historyForm_ = nullptr;
    std::function<void()> historyRender_;
    QWidget* setupUirForm_ = nullptr;
    std::function<void(int, int)> setupUirDisplay_;
    QWidget* setupCbForm_ = nullptr;
    std::function<void(int, bool)> setupCbFill_;
    QWidget* cfgForm_ = nullptr;
    std::function<void()> cfgPrepare_;
    std::function<void()> statusTickHook_;
    QWidget* consoleForm_ = nullptr;
    std::function<void()> consoleFill_;
    QWidget* settingsCheckForm_ = nullptr;
    std::function<void(int)> settingsCheckOpen_;
    std::function<void(int)> walkTestOpen_;
};

}  // namespace kestrel
