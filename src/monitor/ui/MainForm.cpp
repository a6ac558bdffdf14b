#include "monitor/ui/MainForm.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QScreen>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QWindow>
#include <algorithm>

#include "monitor/ui/Icons.h"
#include "monitor/ui/Layout.h"
#include "monitor/ui/MessageForm.h"
#include "monitor/ui/Placement.h"
#include "monitor/ui/QtText.h"
#include "monitor/ui/Tiles.h"
#include "state/Cp1251.h"

namespace kestrel {

namespace {
const QColor kTileAreaColor(192, 220, 192);
constexpr int kClientWidth = 992;
constexpr int kClientHeight = 646;
constexpr int kShrinkStep = 5;
constexpr int32_t kReqResetCb = 17;  // ReqResetCb
// The block list's and the status bar's word for a block whose settings were
// changed on its own menu and not yet decided on.
const char* const kChangedSuffix = " — настройки изменены";
const char* const kChangedLine = "Настройки изменены: ";
const char* const kChangedTip = "Настройки ЦБ изменены с его панели и отличаются от файла конфигурации";

// What a block-list entry's circle shows, in the tiles' colours.
enum TListLook { kLookUnknown = -1, kLookSilver, kLookWhite, kLookRed, kLookMagenta };

QColor LookColour(int look)
{
    switch (look) {
    case kLookWhite: return TTileBase::White;
    case kLookRed: return TTileBase::Red;
    case kLookMagenta: return TTileBase::Magenta;
    default: return TTileBase::Silver;
    }
}

QIcon MarkIcon(int look)
{
    QPixmap pm(14, 14);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(LookColour(look));
    p.drawEllipse(QRectF(1.5, 1.5, 11, 11));
    return QIcon(pm);
}

// The tiles as they stand before a block's first poll.
TStatusPicture StartPicture()
{
    TStatusPicture pic;
    pic.CbPower = 1;
    pic.CbArc = 1;
    pic.CbFault = 1;
    return pic;
}
}  // namespace

// The wait window and the message pump for PostRequestAndWait.
class TMainForm::TQtWaitUi final : public IWaitUi {
public:
    explicit TQtWaitUi(TMainForm& f) : f_(f) {}
    void ShowWait(const std::string& utf8) override
    {
        f_.messageForm_->SetText(QString::fromStdString(utf8));
        f_.messageForm_->ShowCentred();
    }
    void CloseWait() override { f_.messageForm_->hide(); }
    void ProcessEvents() override { QCoreApplication::processEvents(QEventLoop::AllEvents); }
    void Pause(uint32_t ms) override
    {
        // Wait on a local loop: timers and window messages keep being handled.
        QEventLoop loop;
        QTimer::singleShot(std::max<uint32_t>(ms, 1), &loop, &QEventLoop::quit);
        loop.exec();
    }
    void ShowError(const std::string& text, const std::string& caption) override
    {
        f_.prompt_.Message(text, caption, PromptIcon::Error);
    }
    bool AcquisitionStopped() override
    {
        TGetDataThread* t = f_.AcqThread();
        return f_.closing_ || !t || t->Finished() || t->Running == 0;
    }

private:
    TMainForm& f_;
};

TMainForm::TMainForm(TGlobalState& state, ISettingsStore& store, IPrompt& prompt, QWidget* parent)
    : QMainWindow(parent,
                  Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                      Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint),
      state_(state), store_(store), prompt_(prompt), hooks_(this)
{
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(Q("Дуговая защита v1.001"));
    QFont f;
    f.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans"), QStringLiteral("Sans Serif")});
    f.setPixelSize(13);
    setFont(f);

    waitUi_ = std::make_unique<TQtWaitUi>(*this);

    panel2_ = new QWidget(this);
    panel2_->setObjectName(QStringLiteral("Panel2"));
    panel2_->setAutoFillBackground(true);
    QPalette pal = panel2_->palette();
    pal.setColor(QPalette::Window, kTileAreaColor);
    panel2_->setPalette(pal);
    panel2_->installEventFilter(this);
    setCentralWidget(panel2_);

    auto* status = new QStatusBar(this);
    status->setObjectName(QStringLiteral("StatusBar1"));
    status->setFixedHeight(23);
    status->setSizeGripEnabled(false);
    setStatusBar(status);
    // The blocks in alarm, in one short line; empty with one block.
    alarmLine_ = new QLabel(status);
    alarmLine_->setObjectName(QStringLiteral("AlarmLine"));
    QPalette alarmPal = alarmLine_->palette();
    alarmPal.setColor(QPalette::WindowText, TTileBase::Red);
    alarmLine_->setPalette(alarmPal);
    QFont alarmFont = alarmLine_->font();
    alarmFont.setBold(true);
    alarmLine_->setFont(alarmFont);
    status->addWidget(alarmLine_, 1);
    // Beside it, with one block too: no list shows it then.
    changedLine_ = new QLabel(status);
    changedLine_->setObjectName(QStringLiteral("SettingsChangedLine"));
    QPalette changedPal = changedLine_->palette();
    changedPal.setColor(QPalette::WindowText, QColor(160, 80, 0));
    changedLine_->setPalette(changedPal);
    changedLine_->setFont(alarmFont);
    changedLine_->setToolTip(Q(kChangedTip));
    changedLine_->setContentsMargins(0, 0, 8, 0);  // clear of the window's right edge
    changedLine_->hide();
    status->addWidget(changedLine_);

    BuildMenus();
    BuildCbList();

    // The model: CbCount records, the first one shown, with all 43 UIRs present.
    state_.ShownCb = 0;
    state_.EnsureAllocated(state_.CbCount);
    BuildTiles();

    messageForm_ = new TMessageForm(this);

    timer1_ = new QTimer(this);
    timer1_->setObjectName(QStringLiteral("Timer1"));
    timer1_->setInterval(1000);
    connect(timer1_, &QTimer::timeout, this, &TMainForm::Timer1Timer);
    timer2_ = new QTimer(this);
    timer2_->setObjectName(QStringLiteral("Timer2"));
    timer2_->setInterval(300);
    connect(timer2_, &QTimer::timeout, this, &TMainForm::Timer2Timer);

    hooks_.onRestore_ = [this] {
        if (isMinimized())
            showNormal();
        // The thread has just applied an alarm: show it now rather than at
        // the next status tick, up to a second later.
        if (timer1_->isActive())
            Timer1Timer();
    };
    hooks_.onCloseWait_ = [this] { messageForm_->hide(); };

    // Client area 992 x 646 below the menu, centred on the screen.
    resize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());
    CentreWindowOnScreen(this);
}

TMainForm::~TMainForm()
{
    Shutdown();
    // The owned windows go while the records, the hooks and the thread they
    // use still exist (Qt would delete them only after this body): the
    // console ends a command still running between two exchanges and joins
    // its worker before any record is released.
    for (QWidget* w : findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (w->isWindow())
            delete w;
    acq_.reset();
    state_.ReleaseAll();
}

void TMainForm::BuildMenus()
{
    QMenu* settings = menuBar()->addMenu(Q("Настройки"));
    menuBar()->setObjectName(QStringLiteral("MainMenu1"));
    auto item = [&](const char* text, const char* name) {
        QAction* a = settings->addAction(Q(text));
        a->setObjectName(QString::fromLatin1(name));
        return a;
    };
    mmiCfg = item("Конфигурация", "mmiCfg");
    mmiHistory = item("Журнал", "mmiHistory");
    mmResetCb = item("Сброс устройства", "mmResetCb");
    mmSettingsCheck = item("Сверка настроек ЦБ", "mmSettingsCheck");
    mmWalkTest = item("Проверка датчиков", "mmWalkTest");
    settings->addSeparator();
    mmChPassword = item("Изменить пароль", "mmChPassword");
    settings->addSeparator();
    mmExit = item("Выход", "mmExit");

    mmiCfg->setIcon(ToolIcon(TToolIcon::Configuration));
    mmiHistory->setIcon(ToolIcon(TToolIcon::Journal));
    mmResetCb->setIcon(ToolIcon(TToolIcon::Reset));
    mmExit->setIcon(ToolIcon(TToolIcon::Exit));

    // The windows these open are registered later; until then nothing shows.
    mmiCfg->setVisible(false);
    mmiHistory->setVisible(false);
    mmSettingsCheck->setVisible(false);
    mmWalkTest->setVisible(false);

    connect(mmiCfg, &QAction::triggered, this, &TMainForm::mmiCfgClick);
    connect(mmiHistory, &QAction::triggered, this, &TMainForm::mmiHistoryClick);
    connect(mmResetCb, &QAction::triggered, this, &TMainForm::mmResetCbClick);
    connect(mmSettingsCheck, &QAction::triggered, this, [this] {
        // The block on screen when the operator chose the item.
        if (settingsCheckOpen_ && !closing_)
            settingsCheckOpen_(state_.ShownCb);
    });
    connect(mmWalkTest, &QAction::triggered, this, [this] {
        if (walkTestOpen_ && !closing_)
            walkTestOpen_(state_.ShownCb);
    });
    connect(mmChPassword, &QAction::triggered, this, &TMainForm::mmChPasswordClick);
    connect(mmExit, &QAction::triggered, this, &TMainForm::mmExitClick);

    toolBar1_ = addToolBar(QStringLiteral("ToolBar1"));
    toolBar1_->setObjectName(QStringLiteral("ToolBar1"));
    toolBar1_->setMovable(false);
    toolBar1_->setFloatable(false);
    toolBar1_->setFixedHeight(26);
    toolBar1_->setIconSize(QSize(18, 18));
    toolBar1_->setContextMenuPolicy(Qt::PreventContextMenu);
    toolBar1_->toggleViewAction()->setVisible(false);

    auto button = [&](QAction* menuItem, TToolIcon icon, const char* name) {
        QAction* a = toolBar1_->addAction(ToolIcon(icon), menuItem->text());
        a->setObjectName(QString::fromLatin1(name));
        a->setToolTip(menuItem->text());
        connect(a, &QAction::triggered, menuItem, &QAction::trigger);
        return a;
    };
    ToolButton1 = button(mmExit, TToolIcon::Exit, "ToolButton1");
    ToolButton2 = toolBar1_->addSeparator();
    ToolButton3 = button(mmiCfg, TToolIcon::Configuration, "ToolButton3");
    ToolButton4 = button(mmiHistory, TToolIcon::Journal, "ToolButton4");
    ToolButton7 = button(mmResetCb, TToolIcon::Reset, "ToolButton7");
    ToolButton6 = toolBar1_->addSeparator();
    ToolButton5 = toolBar1_->addAction(ToolIcon(TToolIcon::Console), Q("Сервисная консоль"));
    ToolButton5->setObjectName(QStringLiteral("ToolButton5"));
    connect(ToolButton5, &QAction::triggered, this, &TMainForm::ToolButton5Click);
    ToolButton3->setVisible(false);
    ToolButton4->setVisible(false);
    ToolButton5->setVisible(false);
    ToolButton6->setVisible(false);

    popupMenu1_ = new QMenu(this);
    popupMenu1_->setObjectName(QStringLiteral("PopupMenu1"));
    pm1DisableUir = popupMenu1_->addAction(Q("Удалить"));
    pm1DisableUir->setObjectName(QStringLiteral("pm1DisableUir"));
    pm1SetupUir = popupMenu1_->addAction(Q("Свойства"));
    pm1SetupUir->setObjectName(QStringLiteral("pm1SetupUir"));
    pm1SetupUir->setVisible(false);
    popupMenu1_->addSeparator();
    pm1Cancel = popupMenu1_->addAction(Q("Отмена"));
    pm1Cancel->setObjectName(QStringLiteral("pm1Cancel"));
    connect(pm1DisableUir, &QAction::triggered, this, &TMainForm::pm1DisableUirClick);
    connect(pm1SetupUir, &QAction::triggered, this, &TMainForm::pm1SetupUirClick);

    popupMenu2_ = new QMenu(this);
    popupMenu2_->setObjectName(QStringLiteral("PopupMenu2"));
    pm2SetupIntem = popupMenu2_->addAction(Q("Свойства"));
    pm2SetupIntem->setObjectName(QStringLiteral("pm2SetupIntem"));
    pm2Separator = popupMenu2_->addSeparator();
    pm2Cancel = popupMenu2_->addAction(Q("Отмена"));
    pm2SetupIntem->setVisible(false);
    pm2Separator->setVisible(false);
    connect(pm2SetupIntem, &QAction::triggered, this, &TMainForm::pm2SetupIntemClick);
}

void TMainForm::BuildCbList()
{
    // After the tool buttons: the number and name of every block.
    cbList_ = new QComboBox(toolBar1_);
    cbList_->setObjectName(QStringLiteral("CbList"));
    cbList_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    cbList_->setMinimumContentsLength(12);
    cbList_->setIconSize(QSize(14, 14));
    cbList_->setFocusPolicy(Qt::ClickFocus);
    cbList_->setToolTip(Q("Центральный блок"));
    cbListSeparator_ = toolBar1_->addSeparator();
    cbListSeparator_->setVisible(false);
    cbListAction_ = toolBar1_->addWidget(cbList_);
    cbListAction_->setVisible(false);
    connect(cbList_, &QComboBox::activated, this, [this](int index) { ShowCb(index); });

    nextCb_ = new QAction(this);
    nextCb_->setObjectName(QStringLiteral("NextCb"));
    nextCb_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_PageDown));
    // Also from the windows the main window owns (the journal shows the
    // shown block too); a modal dialog blocks them.
    nextCb_->setShortcutContext(Qt::ApplicationShortcut);
    prevCb_ = new QAction(this);
    prevCb_->setObjectName(QStringLiteral("PrevCb"));
    prevCb_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_PageUp));
    prevCb_->setShortcutContext(Qt::ApplicationShortcut);
    addAction(nextCb_);
    addAction(prevCb_);
    // With one block the keys do nothing, as before.
    nextCb_->setEnabled(false);
    prevCb_->setEnabled(false);
    connect(nextCb_, &QAction::triggered, this, [this] { StepCb(1); });
    connect(prevCb_, &QAction::triggered, this, [this] { StepCb(-1); });
}

bool TMainForm::CbListShown() const { return cbListAction_->isVisible(); }

void TMainForm::BuildTiles()
{
    TileCount = kUirCount;
    for (int i = 0; i < kUirCount; ++i) {
        auto* t = new TUir(panel2_);
        t->setObjectName(QStringLiteral("Uir%1").arg(i + 1));
        t->SetNumber(i + 1);
        t->SetPowerName(QString());
        t->SetPowerStatus(4);
        connect(t, &TUir::mouseDown, this, &TMainForm::UirMouseDown);
        Tiles[static_cast<size_t>(i)] = t;
    }
    state_.MarkAllUirsPresent();

    CbTile_ = new TCB(panel2_);
    CbTile_->setObjectName(QStringLiteral("CbTile"));
    connect(CbTile_, &TCB::mouseDown, this, &TMainForm::CBMouseDown);
    CbTile_->SetPowerStatus(1);
    CbTile_->SetArcStatus(1);
    CbTile_->SetEmerStatus(1);
    CbTile_->SetPowerName(Q("Связь ПК"));
}

StartupResult TMainForm::Startup(const AcquisitionFactory& makeAcquisition)
{
    if (RunStartupLoad(state_, store_, prompt_) == StartupResult::Exit)
        return StartupResult::Exit;
    // The configuration may have changed the blocks and which UIRs are
    // present. Before the window is shown its tile area has no real size yet:
    // the tile size is fitted at the first show (fitted now, the window would
    // grow for an area it does not have); which tiles are there is known now.
    SyncCbList();
    if (isVisible())
        FitTiles();
    ArrangeTiles();
    if (makeAcquisition) {
        acq_ = makeAcquisition(state_, hooks_);
        if (acq_ && acq_->Thread)
            acq_->Thread->Start();
    }
    timer1_->start();
    timer2_->start();
    return StartupResult::Continue;
}

PostResult TMainForm::PostRequestAndWait(const PostArgs& args)
{
    return kestrel::PostRequestAndWait(state_, *waitUi_, args);
}

IWaitUi& TMainForm::WaitUi() { return *waitUi_; }

void TMainForm::SetStayOnTop(bool on)
{
    Qt::WindowFlags fl = windowFlags();
    fl.setFlag(Qt::WindowStaysOnTopHint, on);
    if (fl == windowFlags())
        return;
    // Change the hint on the live window: setWindowFlags() would hide and
    // re-create it.
    overrideWindowFlags(fl);
    if (QWindow* w = windowHandle())
        w->setFlags(fl);
}

bool TMainForm::StayOnTop() const { return windowFlags().testFlag(Qt::WindowStaysOnTopHint); }

void TMainForm::Adopt(QWidget* form)
{
    if (form && form->isWindow() && !form->parentWidget())
        form->setParent(this, form->windowFlags() | Qt::Window);
}

void TMainForm::SetHistoryForm(QWidget* form, std::function<void()> render)
{
    Adopt(form);
    historyForm_ = form;
    historyRender_ = std::move(render);
    mmiHistory->setVisible(form != nullptr);
    ToolButton4->setVisible(form != nullptr);
}

void TMainForm::SetSetupUirForm(QWidget* form, std::function<void(int, int)> display)
{
    Adopt(form);
    setupUirForm_ = form;
    setupUirDisplay_ = std::move(display);
    pm1SetupUir->setVisible(form != nullptr);
}

void TMainForm::SetSetupCbForm(QWidget* form, std::function<void(int, bool)> fill)
{
    Adopt(form);
    setupCbForm_ = form;
    setupCbFill_ = std::move(fill);
    pm2SetupIntem->setVisible(form != nullptr);
    pm2Separator->setVisible(form != nullptr);
}

void TMainForm::SetCfgForm(QWidget* form, std::function<void()> prepare)
{
    Adopt(form);
    cfgForm_ = form;
    cfgPrepare_ = std::move(prepare);
    mmiCfg->setVisible(form != nullptr);
    ToolButton3->setVisible(form != nullptr);
}

void TMainForm::SetStatusTickHook(std::function<void()> hook) { statusTickHook_ = std::move(hook); }

void TMainForm::SetConsoleForm(QWidget* form, std::function<void()> fill)
{
    Adopt(form);
    consoleForm_ = form;
    consoleFill_ = std::move(fill);
    emit ConsoleFormSet(form);
}

void TMainForm::SetSettingsCheckForm(QWidget* form, std::function<void(int)> open)
{
    Adopt(form);
    settingsCheckForm_ = form;
    settingsCheckOpen_ = std::move(open);
    mmSettingsCheck->setVisible(form != nullptr);
}

void TMainForm::SetWalkTestForm(QWidget* form, std::function<void(int)> open)
{
    Adopt(form);
    walkTestOpen_ = std::move(open);
    mmWalkTest->setVisible(form != nullptr);
}

void TMainForm::SetServiceButtonsVisible(bool on)
{
    ToolButton5->setVisible(on);
    ToolButton6->setVisible(on);
}

bool TMainForm::ServiceButtonsVisible() const { return ToolButton5->isVisible(); }

void TMainForm::CentreOnTileArea(QWidget* w)
{
    PlaceWindow(w, TPlaceKind::Centred, ScreenRect(panel2_));
}

void TMainForm::CentreHorizontallyOnMainWindow(QWidget* w, int top)
{
    // Left from the main window's width, top inside the tile area, so the
    // window never covers the menu or the tool bar.
    PlaceWindow(w, TPlaceKind::CentredHorizontally, ScreenRect(this), panel2_->mapToGlobal(QPoint(0, top)).y());
}

void TMainForm::ShowWindow(QWidget* w)
{
    w->show();
    w->raise();
    w->activateWindow();
}

// ------------------------------------------------------------ status timers

void TMainForm::Timer1Timer()
{
    if (closing_)
        return;
    // The configuration window's applied port settings come first.
    if (statusTickHook_)
        statusTickHook_();
    RefreshStatus();
}

void TMainForm::RefreshStatus()
{
    if (closing_)
        return;
    SyncCbList();
    // Every block is walked, so flags and marks are kept for the blocks not
    // on screen too.
    const TStatusSweep sweep = StatusSweep(state_);
    MarkCbList(sweep);
    MarkChangedSettings();
    const QString line = sweep.Blocks.size() > 1 ? QString::fromStdString(sweep.Line) : QString();
    if (alarmLine_->text() != line)
        alarmLine_->setText(line);

    const int shown = state_.ShownCb;
    if (shown >= 0 && shown < static_cast<int>(sweep.Blocks.size())) {
        const TBlockStatus& b = sweep.Blocks[static_cast<size_t>(shown)];
        if (b.Walked) {
            PaintTiles(b.Picture);
            drawnCb_ = shown;
        } else {
            // Nothing is drawn before the block's first poll has run; a block
            // just chosen must not show the colours of the one before it.
            if (!messageForm_->isVisible())
                messageForm_->ShowCentred();
            if (drawnCb_ != shown) {
                PaintTiles(StartPicture());
                drawnCb_ = shown;
            }
        }
    }
    if (sweep.AlarmRaised && isMinimized())
        showNormal();
}

void TMainForm::PaintTiles(const TStatusPicture& pic)
{
    const QString outputCaption = Q("Вых Д");
    for (int i = 0; i < kUirCount; ++i) {
        TUir* t = Tiles[static_cast<size_t>(i)];
        const TUirTileState& s = pic.Uir[static_cast<size_t>(i)];
        const QString caption = s.OutputEnabled ? outputCaption : QString();
        if (t->PowerName() != caption)
            t->SetPowerName(caption);
        if (t->CentrBlockStatus() != s.Link)
            t->SetCentrBlockStatus(s.Link);
        for (int n = 1; n <= 3; ++n)
            if (t->ChStatus(n) != s.Ch[n - 1])
                t->SetChStatus(n, s.Ch[n - 1]);
    }
    if (CbTile_->PowerStatus() != pic.CbPower)
        CbTile_->SetPowerStatus(pic.CbPower);
    if (CbTile_->ArcStatus() != pic.CbArc)
        CbTile_->SetArcStatus(pic.CbArc);
    if (CbTile_->EmerStatus() != pic.CbFault)
        CbTile_->SetEmerStatus(pic.CbFault);
}

void TMainForm::SyncCbList()
{
    const int count = std::clamp<int>(state_.CbCount, 0, state_.Allocated());
    std::vector<std::string> names;
    names.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        names.push_back(state_.Cb(i)->Name);
    if (names != listedNames_) {
        // A configuration read changed the count or the names.
        const QSignalBlocker block(cbList_);
        cbList_->clear();
        listedNames_ = std::move(names);
        for (int i = 0; i < count; ++i)
            cbList_->addItem(MarkIcon(kLookSilver), ListText(i));
        listedLook_.assign(static_cast<size_t>(count), kLookSilver);
        listedChanged_.assign(static_cast<size_t>(count), false);
        marks_.assign(static_cast<size_t>(count), TCbMark::None);
    }
    // One block: the window looks and behaves as it always did.
    const bool several = count > 1;
    if (cbListAction_->isVisible() != several) {
        cbListSeparator_->setVisible(several);
        cbListAction_->setVisible(several);
    }
    nextCb_->setEnabled(several);
    prevCb_->setEnabled(several);

    if (state_.ShownCb < 0 || state_.ShownCb >= count)
        state_.ClampShownCb();
    const int shown = state_.ShownCb;
    if (cbList_->currentIndex() != shown && shown < count) {
        const QSignalBlocker block(cbList_);
        cbList_->setCurrentIndex(shown);
    }
    if (shown != layoutCb_) {
        layoutCb_ = shown;
        // The CB tile's number box names the block on screen; its UIRs decide
        // which tiles are there.
        CbTile_->SetNumber(shown + 1);
        FitTiles();
        ArrangeTiles();
        if (historyForm_ && historyForm_->isVisible() && historyRender_)
            historyRender_();
    }
}

void TMainForm::MarkCbList(const TStatusSweep& sweep)
{
    const size_t n = std::min(sweep.Blocks.size(), listedLook_.size());
    for (size_t i = 0; i < n; ++i) {
        const TBlockStatus& b = sweep.Blocks[i];
        const TCbMark mark = b.Alarm.Mark();
        int look = kLookSilver;  // first poll pending, or not served
        if (mark == TCbMark::Alarm)
            look = kLookRed;
        else if (mark == TCbMark::LinkLost)
            look = kLookMagenta;
        else if (b.Walked && b.Picture.CbPower == 1)
            look = kLookWhite;
        marks_[i] = mark;
        if (listedLook_[i] != look) {
            listedLook_[i] = look;
            cbList_->setItemIcon(static_cast<int>(i), MarkIcon(look));
        }
    }
}

QString TMainForm::ListText(int index) const
{
    const auto i = static_cast<size_t>(index);
    QString text = QStringLiteral("%1: %2").arg(index + 1).arg(QString::fromStdString(U8(listedNames_[i])));
    if (i < listedChanged_.size() && listedChanged_[i])
        text += Q(kChangedSuffix);
    return text;
}

void TMainForm::MarkChangedSettings()
{
    // The thread sets the flag and the settings-check window clears it;
    // the tick only shows it.
    QStringList blocks;
    const int n = std::min(static_cast<int>(listedChanged_.size()), cbList_->count());
    for (int i = 0; i < n; ++i) {
        const TCbData* cb = state_.Cb(i);
        const bool changed = cb && cb->SettingsChangedOnSite.load() != 0;
        if (changed)
            blocks << QStringLiteral("ЦБ %1").arg(i + 1);
        if (listedChanged_[static_cast<size_t>(i)] != changed) {
            listedChanged_[static_cast<size_t>(i)] = changed;
            cbList_->setItemText(i, ListText(i));
            cbList_->setItemData(i, changed ? Q(kChangedTip) : QVariant(), Qt::ToolTipRole);
        }
    }
    const QString line = blocks.isEmpty() ? QString() : Q(kChangedLine) + blocks.join(QStringLiteral(", "));
    if (changedLine_->text() != line)
        changedLine_->setText(line);
    changedLine_->setVisible(!blocks.isEmpty());
}

void TMainForm::ShowCb(int index)
{
    if (closing_ || index < 0 || index >= static_cast<int>(listedNames_.size()))
        return;
    state_.ShownCb = index;
    // At once, not at the next tick.
    RefreshStatus();
}

void TMainForm::StepCb(int delta)
{
    const int count = static_cast<int>(listedNames_.size());
    if (count < 2)
        return;
    ShowCb(((state_.ShownCb + delta) % count + count) % count);
}

TCbMark TMainForm::BlockMark(int index) const
{
    if (index < 0 || index >= static_cast<int>(marks_.size()))
        return TCbMark::None;
    return marks_[static_cast<size_t>(index)];
}

void TMainForm::Timer2Timer()
{
    for (TUir* t : Tiles)
        for (int n = 1; n <= 3; ++n)
            if (t->ChStatus(n) == 3)
                t->ChBlinking(n);
}

// ------------------------------------------------------------ tile layout

static int PresentCount(TGlobalState& state)
{
    const TCbData* cb = state.Shown();
    if (!cb)
        return 0;
    int n = 0;
    for (const auto& u : cb->Uir)
        n += u.Present ? 1 : 0;
    return n;
}

void TMainForm::ResizeAllTiles(int dx, int dy)
{
    for (TUir* t : Tiles)
        t->resize(t->width() + dx, t->height() + dy);
    CbTile_->resize(CbTile_->width() + dx, CbTile_->height() + dy);
}

void TMainForm::FitTiles()
{
    if (closing_)
        return;
    const TUir* t = Tiles[0];
    const TGridMetrics m{panel2_->width(), panel2_->height(), t->width(), t->height(), state_.TileGapX,
                         state_.TileGapY};
    const TFitDecision d = FitTilesCalc(m, PresentCount(state_));
    if (d.GrowWindowBy > 0) {
        // Applied after the resize under way, so that the grown window is
        // fitted again on its own resize (one more row each time).
        const int target = height() + d.GrowWindowBy;
        QMetaObject::invokeMethod(
            this,
            [this, target] {
                if (!closing_ && height() < target)
                    resize(width(), target);
            },
            Qt::QueuedConnection);
    }
    else if (d.GrowTiles)
        ResizeAllTiles(state_.TileGapX, state_.TileGapY);
}

void TMainForm::ArrangeTiles()
{
    if (closing_)
        return;
    const TCbData* cb = state_.Shown();
    std::array<bool, kUirCount> present{};
    for (int i = 0; i < kUirCount; ++i)
        present[static_cast<size_t>(i)] = cb && cb->Uir[static_cast<size_t>(i)].Present;
    const TUir* t = Tiles[0];
    const TGridMetrics m{panel2_->width(), panel2_->height(), t->width(), t->height(), state_.TileGapX,
                         state_.TileGapY};
    const TArrangement a = ArrangeTilesCalc(m, present, CbTile_->width(), CbTile_->height());
    for (int i = 0; i < kUirCount; ++i) {
        TUir* tile = Tiles[static_cast<size_t>(i)];
        const TTilePlace& p = a.Uir[static_cast<size_t>(i)];
        if (!p.Visible) {
            tile->hide();
            continue;
        }
        tile->move(p.Left, p.Top);
        tile->show();
    }
    CbTile_->move(a.Cb.Left, a.Cb.Top);
    CbTile_->show();
}

void TMainForm::FormCanResize(int newWidth, int oldWidth)
{
    if (newWidth > oldWidth)
        return;
    if (Tiles[0]->width() <= state_.TileMinWidth + 6)
        return;
    ResizeAllTiles(-kShrinkStep, -kShrinkStep);
    FitTiles();
}

void TMainForm::FormResize()
{
    FitTiles();
    ArrangeTiles();
}

bool TMainForm::eventFilter(QObject* watched, QEvent* e)
{
    if (watched == panel2_ && e->type() == QEvent::Resize && !closing_) {
        // The tile area follows the window: first the shrink rule of a
        // narrowing resize, then fitting and placing.
        const int w = width();
        FormCanResize(w, lastWidth_);
        lastWidth_ = w;
        FormResize();
    }
    return QMainWindow::eventFilter(watched, e);
}

void TMainForm::keyPressEvent(QKeyEvent* e)
{
    // FormKeyDown: no key has an action.
    e->ignore();
}

// ------------------------------------------------------------ mouse and menus

void TMainForm::UirMouseDown(QWidget* tile, Qt::MouseButton button, Qt::KeyboardModifiers mods, QPoint pos)
{
    auto* t = qobject_cast<TUir*>(tile);
    if (!t)
        return;
    SelectedUir = std::max(0, t->Number() - 1);
    if (button == Qt::RightButton) {
        popupMenu1_->popup(t->mapToGlobal(pos));
    } else if (button == Qt::LeftButton &&
               !(mods & (Qt::ShiftModifier | Qt::AltModifier | Qt::ControlModifier))) {
        OpenSetupUir();
    }
}

void TMainForm::CBMouseDown(QWidget* tile, Qt::MouseButton button, Qt::KeyboardModifiers, QPoint pos)
{
    if (button == Qt::RightButton)
        popupMenu2_->popup(tile->mapToGlobal(pos));
    else if (button == Qt::LeftButton)
        OpenSetupCb(true);
}

void TMainForm::OpenSetupUir()
{
    if (!setupUirForm_)
        return;
    // The block and the UIR stay those of the click, whatever is chosen
    // while the read runs.
    const int index = state_.ShownCb;
    const int uir = SelectedUir;
    CentreHorizontallyOnMainWindow(setupUirForm_, 20);
    ShowWindow(setupUirForm_);
    if (setupUirDisplay_)
        setupUirDisplay_(index, uir);
    TCbData* cb = state_.Cb(index);
    if (cb && cb->Enabled) {
        PostRequestAndWait(PostArgs::ReadUirConfig(index));
        if (setupUirDisplay_)
            setupUirDisplay_(index, uir);
    }
    if (messageForm_->isVisible())
        messageForm_->hide();
}

void TMainForm::OpenSetupCb(bool fillEnableAndAddress)
{
    if (!setupCbForm_)
        return;
    const int index = state_.ShownCb;
    CentreOnTileArea(setupCbForm_);
    ShowWindow(setupCbForm_);
    if (!state_.Cb(index))
        return;
    ReadCbConfig(index);
    if (setupCbFill_)
        setupCbFill_(index, fillEnableAndAddress);
}

void TMainForm::ReadCbConfig(int index)
{
    TCbData* cb = state_.Cb(index);
    if (!cb)
        return;
    if (cb->Enabled) {
        PostArgs a = PostArgs::Standard(kReqReadAllFuncTables, 100);
        a.Cb = index;
        a.WaitText = "Ждите! Идет получение конфигурации ЦБ!";
        a.ErrorText = "Ошибка получения конфигурации ЦБ";
        PostRequestAndWait(a);
    } else if (cb->FuncReadError.exchange(0) != 0) {
        // A failure of the automatic re-read is still reported.
        prompt_.Message("Ошибка получения конфигурации ЦБ", "Внимание!", PromptIcon::Error);
    }
}

void TMainForm::pm1SetupUirClick() { OpenSetupUir(); }

void TMainForm::pm2SetupIntemClick() { OpenSetupCb(false); }

void TMainForm::pm1DisableUirClick()
{
    TCbData* cb = state_.Shown();
    if (!cb)
        return;
    for (int i = std::clamp(SelectedUir, 0, kUirCount); i < kUirCount; ++i)
        cb->Uir[static_cast<size_t>(i)].Present = 0;
    FitTiles();
    ArrangeTiles();
}

void TMainForm::mmiCfgClick()
{
    if (!cfgForm_)
        return;
    SetStayOnTop(false);
    const bool granted = prompt_.AccessPrompt();
    SetStayOnTop(true);
    if (!granted)
        return;
    SetStayOnTop(false);
    if (cfgPrepare_)
        cfgPrepare_();
    CentreHorizontallyOnMainWindow(cfgForm_, 20);
    ShowWindow(cfgForm_);
    SetStayOnTop(true);
}

void TMainForm::mmiHistoryClick()
{
    if (!historyForm_)
        return;
    CentreOnTileArea(historyForm_);
    ShowWindow(historyForm_);
    if (historyRender_)
        historyRender_();
}

void TMainForm::mmResetCbClick()
{
    // The block on screen when the operator asked; the question does not
    // let another block take its place.
    const int index = state_.ShownCb;
    TCbData* cb = state_.Cb(index);
    if (!cb || !cb->Enabled)
        return;
    if (!prompt_.AskYesNo("Внимание! Будет выполнен сброс дуговой защиты! Продолжить?", "Внимание!",
                          PromptIcon::Warning))
        return;
    PostArgs a = PostArgs::Standard(kReqResetCb, 0);
    a.Cb = index;
    PostRequestAndWait(a);
}

void TMainForm::mmChPasswordClick()
{
    SetStayOnTop(false);
    ChangeAccessCode(state_, store_, prompt_);
    SetStayOnTop(true);
}

void TMainForm::mmExitClick() { close(); }

void TMainForm::ToolButton5Click()
{
    if (!consoleForm_)
        return;
    if (consoleFill_)
        consoleFill_();
    CentreOnTileArea(consoleForm_);
    ShowWindow(consoleForm_);
}

// ------------------------------------------------------------ shutdown

void TMainForm::Shutdown()
{
    timer1_->stop();
    timer2_->stop();
    if (acq_ && acq_->Thread)
        acq_->Thread->Stop();
    closing_ = true;
    // The owned windows go with the main window.
    for (QWidget* w : findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (w->isWindow() && w->isVisible())
            w->hide();
}

void TMainForm::showEvent(QShowEvent* e)
{
    QMainWindow::showEvent(e);
    if (fittedOnShow_ || e->spontaneous())
        return;
    fittedOnShow_ = true;
    // On Windows the menu bar has its style's height only once the window
    // exists, a pixel more than its size hint said before: the window grows
    // by it, so that the tile area has its full height.
    // (The window's layout gives the menu bar its height for the width.)
    const int menuHeight = menuBar()->heightForWidth(width());
    if (!isMaximized() && !isFullScreen() && height() - menuHeight < kClientHeight)
        resize(width(), kClientHeight + menuHeight);
    // Now the tile area has the size the window gives it (the start-up runs
    // while the window is hidden, when it has none yet).
    lastWidth_ = width();
    FitTiles();
    ArrangeTiles();
}

void TMainForm::closeEvent(QCloseEvent* e)
{
    Shutdown();
    e->accept();
}

}  // namespace kestrel
