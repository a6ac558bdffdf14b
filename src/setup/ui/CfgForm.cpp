#include "setup/ui/CfgForm.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "link/SerialDeviceOs.h"
#include "monitor/AcqLink.h"
#include "monitor/ui/MainForm.h"
#include "monitor/ui/MessageForm.h"
#include "monitor/ui/Placement.h"
#include "monitor/ui/QtText.h"
#include "setup/SetupUirActions.h"
#include "setup/ui/FileCfgForm.h"
#include "setup/ui/SetupCbForm.h"
#include "setup/ui/SetupUirForm.h"
#include "state/SettingsStore.h"

namespace kestrel {

TCfgForm::TCfgForm(TGlobalState& state, TMainForm& main, TSetupUirForm* uirForm, QWidget* parent)
    : QWidget(parent, parent ? Qt::Window : Qt::WindowFlags()), state_(state), main_(main), uirForm_(uirForm)
{
    setObjectName("CfgForm");
    setWindowTitle(Q(cfg_text::kCaption));
    TMainForm* m = &main;
    actions_ = std::make_unique<TCfgActions>(
        state,
        [this] {
            return SaveConfigReported(state_, [this](const std::string& text) {
                Message(text, cfg_text::kAttention, PromptIcon::Error);
            });
        },
        [m] {
            m->FitTiles();
            m->ArrangeTiles();
        });

    auto* ticks = new QGroupBox(Q("Добавить/убрать УИР"), this);
    auto* grid = new QGridLayout(ticks);
    for (int i = 0; i < kUirCount; ++i) {
        auto* b = new QCheckBox(QString::number(i + 1), ticks);
        b->setObjectName(QString("CheckBox%1").arg(i + 1));
        CheckBox[static_cast<size_t>(i)] = b;
        grid->addWidget(b, i / 11, i % 11);
        connect(b, &QCheckBox::clicked, this, [this, i](bool on) {
            actions_->Click(i, on);
            Render();
        });
    }
    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName("ComboBox1");
    for (int p = 1; p <= cfg_text::kPortItems; ++p)
        ComboBox1->addItem(QString("COM %1").arg(p));
    ComboBox2 = new QComboBox(this);
    ComboBox2->setObjectName("ComboBox2");
    ComboBox2->addItems({"9600", "19200"});
    // The operator's choices only (activated), never the program's own fill.
    connect(ComboBox1, &QComboBox::activated, this, [this](int item) {
        actions_->ChoosePort(item);
        Render();
    });
    connect(ComboBox2, &QComboBox::activated, this, [this](int item) {
        actions_->ChooseSpeed(item);
        Render();
    });

    auto button = [this](const char* text, const char* name) {
        auto* b = new QPushButton(Q(text), this);
        b->setObjectName(name);
        b->setAutoDefault(false);
        return b;
    };
    bbSetupUir = button("Настройки УИР", "bbSetupUir");
    bbSetupCb = button("Настройки ЦБ", "bbSetupCb");
    bbCfgFile = button("Файл конфигурации", "bbCfgFile");
    bbApply = button("Применить", "bbApply");
    bbOk = button("Подтвердить", "bbOk");
    bbCancel = button("Отменить", "bbCancel");
    connect(bbApply, &QPushButton::clicked, this, &TCfgForm::bbApplyClick);
    connect(bbOk, &QPushButton::clicked, this, &TCfgForm::bbOkClick);
    connect(bbCancel, &QPushButton::clicked, this, &TCfgForm::bbCancelClick);
    connect(bbCfgFile, &QPushButton::clicked, this, &TCfgForm::bbCfgFileClick);
    connect(bbSetupUir, &QPushButton::clicked, this, &TCfgForm::bbSetupUirClick);
    connect(bbSetupCb, &QPushButton::clicked, this, &TCfgForm::bbSetupCbClick);

    auto* lists = new QGridLayout;
    lists->addWidget(new QLabel(Q("Номер  COM-порта"), this), 0, 0);
    lists->addWidget(ComboBox1, 1, 0);
    lists->addWidget(new QLabel(Q("Скорость обмена"), this), 0, 1);
    lists->addWidget(ComboBox2, 1, 1);
    // The device behind the chosen COM item (a USB adapter is mapped with
    // kestrel-cfg port COMn PATH); the list items stay "COM n".
    PortPath = new QLabel(this);
    PortPath->setObjectName("PortPath");
    PortPath->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lists->addWidget(PortPath, 1, 2);
    lists->setColumnStretch(2, 1);
    auto* windows = new QHBoxLayout;
    windows->addWidget(bbSetupUir);
    windows->addWidget(bbSetupCb);
    windows->addWidget(bbCfgFile);
    windows->addStretch(1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(bbApply);
    buttons->addWidget(bbOk);
    buttons->addWidget(bbCancel);
    auto* root = new QVBoxLayout(this);
    root->addWidget(ticks);
    root->addLayout(lists);
    root->addLayout(windows);
    root->addLayout(buttons);

    fileForm_ = new TFileCfgForm(state, [this] {
        // The loaded file's blocks: the ticks and lists again, the tiles laid out anew.
        actions_->Prepare(actions_->Cb());
        actions_->ApplyEnabled = true;
        Render();
        main_.FitTiles();
        main_.ArrangeTiles();
    }, this);
    Render();
}

TCfgForm::~TCfgForm() = default;

void TCfgForm::Render()
{
    for (size_t i = 0; i < CheckBox.size(); ++i) {
        CheckBox[i]->setChecked(actions_->Checked[i]);
        CheckBox[i]->setEnabled(actions_->Enabled[i]);
    }
    ComboBox1->setCurrentIndex(actions_->PortItem);
    ComboBox2->setCurrentIndex(actions_->SpeedItem);
    // The settings store is read only when the item changes or the window is shown.
    if (shownPortItem_ != actions_->PortItem)
        ShowPortPath();
    bbApply->setEnabled(actions_->ApplyEnabled);
}

void TCfgForm::Prepare()
{
    actions_->Prepare(state_.ShownCb);
    Render();
}

void TCfgForm::StatusTick()
{
    if (!actions_->CfgApplied)
        return;
    actions_->StatusTick();
    Render();
}

void TCfgForm::Message(const std::string& text, const std::string& caption, PromptIcon icon)
{
    QMessageBox box(icon == PromptIcon::Error ? QMessageBox::Critical : QMessageBox::Warning, Q(caption), Q(text),
                    QMessageBox::Ok, this);
    box.exec();
}

void TCfgForm::SetSetupAccess(bool need)
{
    if (uirForm_)
        uirForm_->SetNeedAccess(need);
    if (auto* cbForm = main_.findChild<TSetupCbForm*>())
        cbForm->SetNeedAccess(need);
}

void TCfgForm::ShowPortPath()
{
    shownPortItem_ = actions_->PortItem;
    const int32_t n = shownPortItem_ + 1;
    std::string path;
    if (const auto store = MakeUserSettingsStore())
        path = PortPathFromSettings(*store, n);
    if (path.empty())
        path = DefaultPortPath(n);
    PortPath->setText(QString::fromStdString(path));
}

void TCfgForm::showEvent(QShowEvent* e)
{
    QWidget::showEvent(e);
    SetSetupAccess(false);
    ShowPortPath();  // a mapping changed meanwhile shows
}

void TCfgForm::hideEvent(QHideEvent* e)
{
    QWidget::hideEvent(e);
    SetSetupAccess(true);
}

void TCfgForm::closeEvent(QCloseEvent* e)
{
    // The close box is "Отменить".
    actions_->Cancel();
    QWidget::closeEvent(e);
}

void TCfgForm::bbApplyClick()
{
    actions_->Apply();
    Render();
}

void TCfgForm::bbOkClick()
{
    actions_->Apply();
    Render();
    hide();
}

void TCfgForm::bbCancelClick()
{
    actions_->Cancel();
    hide();
}

void TCfgForm::bbCfgFileClick()
{
    fileForm_->Edit1->clear();
    const QWidget* panel = main_.Panel2();
    PlaceWindow(fileForm_, TPlaceKind::CentredHorizontally, ScreenRect(panel), panel->mapToGlobal(QPoint(0, 50)).y());
    fileForm_->show();
    fileForm_->raise();
    fileForm_->activateWindow();
    actions_->ApplyEnabled = true;
    Render();
}

void TCfgForm::bbSetupUirClick()
{
    if (!uirForm_)
        return;
    const int32_t cb = state_.ShownCb;
    int first = -1;
    if (const TCbData* rec = state_.Cb(cb))
        for (int i = 0; i < kUirCount && first < 0; ++i)
            if (rec->Uir[static_cast<size_t>(i)].Present)
                first = i;
    uirForm_->Display(cb, first);
    main_.CentreHorizontallyOnMainWindow(uirForm_, 20);
    uirForm_->show();
    uirForm_->raise();
    uirForm_->activateWindow();
    main_.PostRequestAndWait(PostArgs::ReadUirConfig(cb));
    uirForm_->Display(cb, -1);
    if (main_.MessageForm()->isVisible())
        main_.MessageForm()->hide();
}

void TCfgForm::bbSetupCbClick()
{
    if (auto* cbForm = main_.findChild<TSetupCbForm*>())
        cbForm->OpenFromCfg();
}

TCfgForm* AttachCfgForm(TMainForm& main, TGlobalState& state, TSetupUirForm* uirForm)
{
    auto* form = new TCfgForm(state, main, uirForm);
    main.SetCfgForm(form, [form] { form->Prepare(); });
    main.SetStatusTickHook([form] { form->StatusTick(); });
    return form;
}

}  // namespace kestrel
