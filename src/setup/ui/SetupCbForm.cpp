#include "setup/ui/SetupCbForm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QEventLoop>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "journal/ui/HistoryForm.h"
#include "monitor/ui/MainForm.h"
#include "monitor/ui/QtText.h"
#include "setup/ui/SetupUirForm.h"

namespace kestrel {

namespace t = setup_cb_text;

namespace {

// The letter keys of the service keys, in the Latin and the Russian layout
// (the Cyrillic letters on the same keys), and the virtual-key codes Windows
// reports whatever the layout.
bool IsKey(const QKeyEvent* e, int latin, char16_t cyrUpper, quint32 winVk)
{
    const int k = e->key();
    if (k == latin || k == cyrUpper || k == cyrUpper + 0x20)
        return true;
#ifdef _WIN32
    if (e->nativeVirtualKey() == winVk)
        return true;
#else
    (void)winVk;
#endif
    return false;
}

const char* const kModeItems[4] = {"МТЗ: H, МТЗ: v", "МТЗ: 1", "МТЗ: 2", "МТЗ: 3"};

}  // namespace

TSetupCbForm::TSetupCbForm(TGlobalState& state, TMainForm& main, QWidget* parent)
    : QWidget(parent, parent ? Qt::Window : Qt::WindowFlags()), state_(state), main_(main)
{
    setObjectName("SetupCbForm");
    setWindowTitle(Q(t::kCaption));
    actions_ = std::make_unique<TSetupCbActions>(
        state, *this, [this](const PostArgs& a) { return main_.PostRequestAndWait(a); });

    // The four function panels.
    auto* funcGroup = new QGroupBox(Q("Функции центрального блока (ЦБ)"), this);
    auto* funcLayout = new QVBoxLayout(funcGroup);
    auto* panels = new QHBoxLayout;
    for (int k = 0; k < 4; ++k) {
        auto* panel = new QGroupBox(QStringLiteral("F: %1").arg(k), funcGroup);
        auto* g = new QGridLayout(panel);
        g->addWidget(new QLabel(Q("Номер МТЗ"), panel), 0, 0, 1, 6);
        auto* mode = new QComboBox(panel);
        mode->setObjectName(QStringLiteral("ComboBox%1").arg(k + 2));
        for (const char* m : kModeItems)
            mode->addItem(Q(m));
        ModeList[static_cast<size_t>(k)] = mode;
        g->addWidget(mode, 1, 0, 1, 6);
        g->addWidget(new QLabel(Q("Состояния вых. сигналов"), panel), 2, 0, 1, 6);
        for (int p = 0; p < 6; ++p) {
            auto* cell = new QLabel("0", panel);
            cell->setObjectName(QStringLiteral("Cell%1_%2").arg(k).arg(p + 1));
            cell->setAlignment(Qt::AlignCenter);
            cell->setFrameShape(QFrame::Box);
            cell->setMinimumWidth(18);
            Cell[static_cast<size_t>(k)][static_cast<size_t>(p)] = cell;
            g->addWidget(cell, 3, p);
            auto* num = new QLabel(QString::number(p + 1), panel);
            num->setAlignment(Qt::AlignCenter);
            g->addWidget(num, 4, p);
        }
        g->addWidget(new QLabel(Q("Номера выходных портов"), panel), 5, 0, 1, 6);
        panels->addWidget(panel);
        connect(mode, &QComboBox::activated, this, [this, k] { ShowPanel(k); });
    }
    funcLayout->addLayout(panels);
    bbChFuncCb = Button(funcGroup, "Изменить", "bbChFuncCb");
    auto* funcButtons = new QHBoxLayout;
    funcButtons->addStretch(1);
    funcButtons->addWidget(bbChFuncCb);
    funcLayout->addLayout(funcButtons);

    auto* mtzGroup = new QGroupBox(Q("МТЗ"), this);
    auto* mtzLayout = new QHBoxLayout(mtzGroup);
    MtzText = new QLabel(mtzGroup);
    MtzText->setObjectName("MtzText");
    bbSetMtz = Button(mtzGroup, "Изменить", "bbSetMtz");
    mtzLayout->addWidget(MtzText, 1);
    mtzLayout->addWidget(bbSetMtz);

    auto* urovGroup = new QGroupBox(Q("УРОВ ВРЕМЯ (мс)"), this);
    auto* urovLayout = new QHBoxLayout(urovGroup);
    UrovText = new QLabel(urovGroup);
    UrovText->setObjectName("UrovText");
    bbSetUrov = Button(urovGroup, "Изменить", "bbSetUrov");
    urovLayout->addWidget(UrovText, 1);
    urovLayout->addWidget(bbSetUrov);

    auto* clockGroup = new QGroupBox(Q("Время/Дата"), this);
    auto* clockLayout = new QHBoxLayout(clockGroup);
    bbSetDateTime = Button(clockGroup, "Изменить", "bbSetDateTime");
    bbGetDateTime = Button(clockGroup, "Получить", "bbGetDateTime");
    clockLayout->addWidget(bbSetDateTime);
    clockLayout->addWidget(bbGetDateTime);

    auto* factoryGroup = new QGroupBox(Q("Заводская конфигурация"), this);
    auto* factoryLayout = new QHBoxLayout(factoryGroup);
    bbSetInitCfg = Button(factoryGroup, "Установить", "bbSetInitCfg");
    factoryLayout->addWidget(bbSetInitCfg);

    auto* groups = new QHBoxLayout;
    for (QGroupBox* g : {mtzGroup, urovGroup, clockGroup, factoryGroup})
        groups->addWidget(g);

    CheckBox1 = new QCheckBox(Q("Разрешение получение данных"), this);
    CheckBox1->setObjectName("CheckBox1");
    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName("ComboBox1");
    for (int a = 1; a <= 32; ++a)
        ComboBox1->addItem(QString::number(a));
    ComboBox1->addItem("255");
    StaticText1 = new QLabel(Q("Остановить часы"), this);
    StaticText1->setObjectName("StaticText1");
    bbStopClock = Button(this, "Стоп", "bbStopClock");
    StaticText1->setVisible(false);
    bbStopClock->setVisible(false);
    auto* linkRow = new QHBoxLayout;
    linkRow->addWidget(CheckBox1);
    linkRow->addSpacing(20);
    linkRow->addWidget(new QLabel(Q("Сетевой адрес ЦБ"), this));
    linkRow->addWidget(ComboBox1);
    linkRow->addStretch(1);
    linkRow->addWidget(StaticText1);
    linkRow->addWidget(bbStopClock);

    bbGetDataFrUir = Button(this, "Получить конфигурацию  ЦБ", "bbGetDataFrUir");
    bbSendDataToUir = Button(this, "Записать конфигурацию ЦБ", "bbSendDataToUir");
    bbSaveUirCfg = Button(this, "Сохранить конфигурацию ЦБ в файл", "bbSaveUirCfg");
    bbResetCb = Button(this, "Сброс устройства", "bbResetCb");
    bbSetAddrBaud = Button(this, "Изменить адрес и скорость обмена", "bbSetAddrBaud");
    bbClose = Button(this, "Закрыть", "bbClose");
    bbSetupUir = Button(this, "УИР", "bbSetupUir");
    bbSettingsCheck = Button(this, "Сверка настроек", "bbSettingsCheck");
    bbSettingsCheck->setVisible(false);
    auto* actionsGrid = new QGridLayout;
    actionsGrid->addWidget(bbGetDataFrUir, 0, 0);
    actionsGrid->addWidget(bbSendDataToUir, 0, 1);
    actionsGrid->addWidget(bbSaveUirCfg, 0, 2);
    actionsGrid->addWidget(bbResetCb, 1, 0);
    actionsGrid->addWidget(bbSetAddrBaud, 1, 1);
    actionsGrid->addWidget(bbSetupUir, 1, 2);
    actionsGrid->addWidget(bbSettingsCheck, 2, 0);
    actionsGrid->addWidget(bbClose, 2, 2);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(funcGroup);
    layout->addLayout(groups);
    layout->addLayout(linkRow);
    layout->addLayout(actionsGrid);

    CbSetFuncForm = new TCbSetFuncForm(this);
    CbSetUrovForm = new TCbSetUrovForm(this);
    SetDateTimeForm = new TSetDateTimeForm(this);
    GetDateTimeForm = new TGetDateTimeForm(this);
    SetAddrAndBaudForm = new TSetAddrAndBaudForm(this, *actions_, [this] { return cb_; });

    connect(bbSetMtz, &QPushButton::clicked, this, &TSetupCbForm::bbSetMtzClick);
    connect(CheckBox1, &QCheckBox::clicked, this, &TSetupCbForm::CheckBox1Click);
    connect(ComboBox1, &QComboBox::activated, this, &TSetupCbForm::ComboBox1Change);
    connect(bbChFuncCb, &QPushButton::clicked, this, &TSetupCbForm::bbChFuncCbClick);
    connect(bbSetUrov, &QPushButton::clicked, this, &TSetupCbForm::bbSetUrovClick);
    connect(bbSetDateTime, &QPushButton::clicked, this, &TSetupCbForm::bbSetDateTimeClick);
    connect(bbGetDateTime, &QPushButton::clicked, this, &TSetupCbForm::bbGetDateTimeClick);
    connect(bbGetDataFrUir, &QPushButton::clicked, this, &TSetupCbForm::bbGetDataFrUirClick);
    connect(bbSendDataToUir, &QPushButton::clicked, this, &TSetupCbForm::bbSendDataToUirClick);
    connect(bbSaveUirCfg, &QPushButton::clicked, this, &TSetupCbForm::bbSaveUirCfgClick);
    connect(bbResetCb, &QPushButton::clicked, this, &TSetupCbForm::bbResetCbClick);
    connect(bbSetAddrBaud, &QPushButton::clicked, this, &TSetupCbForm::bbSetAddrBaudClick);
    connect(bbSetInitCfg, &QPushButton::clicked, this, &TSetupCbForm::bbSetInitCfgClick);
    connect(bbStopClock, &QPushButton::clicked, this, &TSetupCbForm::bbStopClockClick);
    connect(bbSetupUir, &QPushButton::clicked, this, &TSetupCbForm::bbSetupUirClick);
    connect(bbSettingsCheck, &QPushButton::clicked, this, [this] {
        if (openSettingsCheck_)
            openSettingsCheck_(cb_);
    });
    connect(bbClose, &QPushButton::clicked, this, &QWidget::hide);

    // The keys reach the window whichever of its controls has the focus.
    for (QWidget* w : findChildren<QWidget*>())
        if (w->window() == this)
            w->installEventFilter(this);

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(500);
    connect(Timer1, &QTimer::timeout, this, &TSetupCbForm::Timer1Timer);
    Timer1->start();
}

TSetupCbForm::~TSetupCbForm() = default;

// ------------------------------------------------------------------- display

void TSetupCbForm::ShowPanel(int k)
{
    const TCbData* cb = state_.Cb(cb_);
    if (!cb)
        return;
    const auto kk = static_cast<size_t>(k);
    const auto m = static_cast<size_t>(std::max(0, ModeList[kk]->currentIndex()));
    const uint8_t b = cb->FuncTable[kk][m].load();
    for (int p = 1; p <= 6; ++p)
        Cell[kk][static_cast<size_t>(p - 1)]->setText(PortBit(b, p) ? "1" : "0");
}

void TSetupCbForm::ShowTables()
{
    for (int k = 0; k < 4; ++k)
        ShowPanel(k);
}

void TSetupCbForm::ShowMtzUrov()
{
    const TCbData* cb = state_.Cb(cb_);
    if (!cb)
        return;
    MtzText->setText(Q(cb->MtzWait ? t::kMtzWait : t::kMtzNoWait));
    UrovText->setText(QString::number(cb->UrovTimeMs.load()));
}

void TSetupCbForm::ShowTickAndAddress()
{
    const TCbData* cb = state_.Cb(cb_);
    if (!cb)
        return;
    const QSignalBlocker b1(CheckBox1);
    const QSignalBlocker b2(ComboBox1);
    CheckBox1->setChecked(cb->Enabled != 0);
    ComboBox1->setCurrentIndex(AddressItem(cb->Address));
}

void TSetupCbForm::Display(int cb, bool fillEnableAndAddress)
{
    cb_ = cb;
    ShowTables();
    ShowMtzUrov();
    if (fillEnableAndAddress)
        ShowTickAndAddress();
}

void TSetupCbForm::showEvent(QShowEvent* e)
{
    QWidget::showEvent(e);
    if (e->spontaneous())
        return;
    Display(state_.ShownCb, true);
    actions_->NeedAccess = true;
}

void TSetupCbForm::hideEvent(QHideEvent* e)
{
    QWidget::hideEvent(e);
    if (!e->spontaneous())
        actions_->NeedAccess = false;
}

void TSetupCbForm::OpenFromCfg()
{
    const int cb = state_.ShownCb;
    main_.CentreOnTileArea(this);
    show();
    raise();
    activateWindow();
    actions_->NeedAccess = false;  // showing set it; the configuration window holds it off
    main_.ReadCbConfig(cb);
    Display(cb, false);
}

// ------------------------------------------------------------------ the view

bool TSetupCbForm::AccessPrompt()
{
    main_.SetStayOnTop(false);
    const bool ok = main_.Prompt().AccessPrompt();
    main_.SetStayOnTop(true);
    return ok;
}

MtzAnswer TSetupCbForm::AskMtz()
{
    QMessageBox box(QMessageBox::Warning, Q(t::kMtzCaption), Q(t::kMtzQuestion),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, this);
    switch (box.exec()) {
    case QMessageBox::Yes: return MtzAnswer::Yes;
    case QMessageBox::No: return MtzAnswer::No;
    default: return MtzAnswer::Cancel;
    }
}

bool TSetupCbForm::AskYesNo(const std::string& text, const std::string& caption, PromptIcon icon)
{
    return main_.Prompt().AskYesNo(text, caption, icon);
}

void TSetupCbForm::Message(const std::string& text, const std::string& caption, PromptIcon icon)
{
    main_.Prompt().Message(text, caption, icon);
}

// ------------------------------------------------------------------- actions

void TSetupCbForm::Timer1Timer()
{
    if (CbSetUrovForm->Confirmed) {
        CbSetUrovForm->Confirmed = false;
        ShowMtzUrov();
        actions_->Save();
    }
    if (CbSetFuncForm->Confirmed) {
        CbSetFuncForm->Confirmed = false;
        ShowTables();
        actions_->Save();
    }
}

void TSetupCbForm::bbSetMtzClick()
{
    const int cb = cb_;
    actions_->SetMtz(cb);
    ShowMtzUrov();
}

void TSetupCbForm::CheckBox1Click()
{
    const int cb = cb_;
    if (!actions_->SetEnabled(cb, CheckBox1->isChecked()))
        ShowTickAndAddress();  // refused: back to the record's value
}

void TSetupCbForm::ComboBox1Change()
{
    const int cb = cb_;
    if (!actions_->SetAddressItem(cb, ComboBox1->currentIndex()))
        ShowTickAndAddress();
}

void TSetupCbForm::bbChFuncCbClick()
{
    TCbData* cb = state_.Cb(cb_);
    if (!cb || !actions_->Gate())
        return;
    CbSetFuncForm->Load(*cb);
    CbSetFuncForm->Confirmed = false;
    CentreOver(CbSetFuncForm, this);
    CbSetFuncForm->show();
    CbSetFuncForm->raise();
}

void TSetupCbForm::bbSetUrovClick()
{
    TCbData* cb = state_.Cb(cb_);
    if (!cb || !actions_->Gate())
        return;
    CbSetUrovForm->Load(*cb);
    CbSetUrovForm->Confirmed = false;
    CentreOver(CbSetUrovForm, this);
    CbSetUrovForm->show();
    CbSetUrovForm->raise();
}

void TSetupCbForm::bbSetDateTimeClick()
{
    const int cb = cb_;
    if (!actions_->Gate())
        return;
    const QDateTime now = QDateTime::currentDateTime();
    TClockChoice c;
    c.YearItem = YearItemFor(now.date().year());
    c.MonthItem = now.date().month() - 1;
    c.DayItem = now.date().day() - 1;
    c.Hour = now.time().hour();
    c.Minute = now.time().minute();
    c.Second = now.time().second();
    SetDateTimeForm->Preset(c);
    ShowAndWaitHidden(SetDateTimeForm, this);
    if (!SetDateTimeForm->Confirmed)
        return;
    actions_->WriteClock(cb, SetDateTimeForm->Choice());
    QEventLoop pause;
    QTimer::singleShot(100, &pause, &QEventLoop::quit);
    pause.exec();
}

void TSetupCbForm::bbGetDateTimeClick()
{
    const int cb = cb_;
    actions_->ReadClock(cb);
    if (const TCbData* c = state_.Cb(cb))
        GetDateTimeForm->Fill(*c);
    CentreOver(GetDateTimeForm, this);
    GetDateTimeForm->show();
    GetDateTimeForm->raise();
}

void TSetupCbForm::bbGetDataFrUirClick()
{
    const int cb = cb_;
    actions_->ReadTables(cb);
    if (cb != cb_)
        return;
    ShowTables();
    ShowMtzUrov();
    ShowTickAndAddress();
}

void TSetupCbForm::bbSendDataToUirClick()
{
    actions_->WriteTables(cb_);
    ShowTables();
}

void TSetupCbForm::bbSaveUirCfgClick() { actions_->SaveToFile(cb_); }

void TSetupCbForm::bbResetCbClick() { actions_->ResetCb(cb_); }

void TSetupCbForm::bbSetAddrBaudClick()
{
    if (!actions_->Gate())
        return;
    ShowAndWaitHidden(SetAddrAndBaudForm, this);
}

void TSetupCbForm::bbSetInitCfgClick()
{
    const int cb = cb_;
    if (!actions_->FactoryConfig(cb) || cb != cb_)
        return;
    ShowTables();
    ShowMtzUrov();
    ShowTickAndAddress();
}

void TSetupCbForm::bbStopClockClick() { actions_->StopClock(cb_); }

void TSetupCbForm::bbSetupUirClick()
{
    auto* uir = main_.findChild<TSetupUirForm*>();
    if (!uir)
        return;
    const int cb = cb_;
    // -1: the UIR window keeps its selection (the first entry when none).
    uir->Display(cb, -1);
    CentreOver(uir, this);
    uir->show();
    uir->raise();
    if (main_.PostRequestAndWait(PostArgs::ReadUirConfig(cb)).Status != PostStatus::NotPosted)
        uir->Display(cb, -1);
}

void TSetupCbForm::SetSettingsCheckOpener(std::function<void(int)> open)
{
    openSettingsCheck_ = std::move(open);
    bbSettingsCheck->setVisible(static_cast<bool>(openSettingsCheck_));
}

// -------------------------------------------------------------- service keys

bool TSetupCbForm::StopClockVisible() const { return !bbStopClock->isHidden(); }

bool TSetupCbForm::ServiceKey(QKeyEvent* e)
{
    if (!(e->modifiers() & Qt::ControlModifier))
        return false;
    if (IsKey(e, Qt::Key_M, u'\u042C', 77)) {  // "Ь" shares the key with "M"
        main_.SetServiceButtonsVisible(!main_.ServiceButtonsVisible());
        return true;
    }
    if (IsKey(e, Qt::Key_V, u'\u041C', 86)) {  // "М" shares the key with "V"
        const bool on = !StopClockVisible();
        if (history_)
            history_->SetClearButtonVisible(on);
        bbStopClock->setVisible(on);
        StaticText1->setVisible(on);
        return true;
    }
    return false;
}

void TSetupCbForm::keyPressEvent(QKeyEvent* e)
{
    if (!ServiceKey(e))
        QWidget::keyPressEvent(e);
}

bool TSetupCbForm::eventFilter(QObject* watched, QEvent* e)
{
    if (e->type() == QEvent::KeyPress && ServiceKey(static_cast<QKeyEvent*>(e)))
        return true;
    return QWidget::eventFilter(watched, e);
}

// -------------------------------------------------------------------- attach

TSetupCbForm* AttachSetupCbWindows(TMainForm& main, TGlobalState& state)
{
    auto* form = new TSetupCbForm(state, main, &main);
    form->SetHistoryForm(main.findChild<THistoryForm*>());
    main.SetSetupCbForm(form, [form](int cb, bool fill) { form->Display(cb, fill); });
    return form;
}

}  // namespace kestrel
