#include "setup/ui/SetupUirForm.h"

#include <QGridLayout>
#include <QHideEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "monitor/ui/MainForm.h"
#include "monitor/ui/Placement.h"
#include "monitor/ui/QtText.h"
#include "setup/ui/CfgForm.h"
#include "setup/ui/ChSetupUirForm.h"
#include "setup/ui/UirListForm.h"

namespace kestrel {

namespace {

QLabel* ValueText(const char* text, QWidget* parent, const QString& name)
{
    auto* l = new QLabel(Q(text), parent);
    l->setObjectName(name);
    l->setAutoFillBackground(true);
    QPalette p = l->palette();
    p.setColor(QPalette::Window, Qt::white);
    p.setColor(QPalette::WindowText, Qt::black);
    l->setPalette(p);
    l->setFrameShape(QFrame::Panel);
    l->setFrameShadow(QFrame::Sunken);
    l->setMinimumWidth(90);
    return l;
}

}  // namespace

TSetupUirForm::TSetupUirForm(TGlobalState& state, TSetupPostFn post, std::function<bool()> accessPrompt,
                             QWidget* parent)
    : QWidget(parent, parent ? Qt::Window : Qt::WindowFlags()), state_(state), accessPrompt_(std::move(accessPrompt))
{
    setObjectName("SetupUirForm");
    setWindowTitle(Q(setup_uir_text::kCaption));
    actions_ = std::make_unique<TSetupUirActions>(state, *this, std::move(post));

    auto* listHead = new QLabel(Q("Номер УИР"), this);
    ListBox1 = new QListWidget(this);
    ListBox1->setObjectName("ListBox1");
    ListBox1->setFixedWidth(110);
    connect(ListBox1, &QListWidget::currentRowChanged, this, [this] {
        if (!filling_)
            ListBox1Click();
    });

    auto* io = new QGroupBox(Q("Входы и выходы УИР"), this);
    auto* ioLayout = new QVBoxLayout(io);
    auto* inputs = new QHBoxLayout;
    for (int i = 0; i < 3; ++i) {
        auto* g = new QGroupBox(QString::fromUtf8("Вход %1").arg(i + 1), io);
        auto* gl = new QGridLayout(g);
        ControlText[static_cast<size_t>(i)] = ValueText(setup_uir_text::kNotAllowed, g, QString("ControlText%1").arg(i + 1));
        FunctionText[static_cast<size_t>(i)] = ValueText("F0", g, QString("FunctionText%1").arg(i + 1));
        gl->addWidget(new QLabel(Q("Контроль входа"), g), 0, 0);
        gl->addWidget(ControlText[static_cast<size_t>(i)], 1, 0);
        gl->addWidget(new QLabel(Q("Номер функции"), g), 2, 0);
        gl->addWidget(FunctionText[static_cast<size_t>(i)], 3, 0);
        inputs->addWidget(g);
    }
    ioLayout->addLayout(inputs);
    auto* flags = new QGridLayout;
    OutputText = ValueText(setup_uir_text::kNo, io, "OutputText");
    PollText = ValueText(setup_uir_text::kNo, io, "PollText");
    flags->addWidget(new QLabel(Q("Разрешить выход"), io), 0, 0);
    flags->addWidget(OutputText, 0, 1);
    flags->addWidget(new QLabel(Q("Разрешить опрос УИР"), io), 1, 0);
    flags->addWidget(PollText, 1, 1);
    flags->setColumnStretch(2, 1);
    ioLayout->addLayout(flags);

    auto button = [this](const char* text, const char* name) {
        auto* b = new QPushButton(Q(text), this);
        b->setObjectName(name);
        b->setAutoDefault(false);
        return b;
    };
    BitBtn2 = button("Изменить конфигурацию модуля УИР", "BitBtn2");
    bbGetDataFrUir = button("Получить конфигурацию УИР", "bbGetDataFrUir");
    bbSendDataToUir = button("Записать конфигурацию УИР", "bbSendDataToUir");
    bbSaveUirCfg = button("Сохранить конфигурацию УИР в файл", "bbSaveUirCfg");
    BitBtn1 = button("Применить к выбранным УИР", "BitBtn1");
    bbClose = button("Закрыть", "bbClose");
    auto* factory = new QGroupBox(Q("Заводская конфигурация"), this);
    bbSetInitCfg = new QPushButton(Q("Установить"), factory);
    bbSetInitCfg->setObjectName("bbSetInitCfg");
    bbSetInitCfg->setAutoDefault(false);
    auto* fl = new QHBoxLayout(factory);
    fl->addWidget(bbSetInitCfg);

    connect(BitBtn2, &QPushButton::clicked, this, &TSetupUirForm::BitBtn2Click);
    connect(bbGetDataFrUir, &QPushButton::clicked, this, &TSetupUirForm::bbGetDataFrUirClick);
    connect(bbSendDataToUir, &QPushButton::clicked, this, &TSetupUirForm::bbSendDataToUirClick);
    connect(bbSaveUirCfg, &QPushButton::clicked, this, &TSetupUirForm::bbSaveUirCfgClick);
    connect(BitBtn1, &QPushButton::clicked, this, &TSetupUirForm::BitBtn1Click);
    connect(bbSetInitCfg, &QPushButton::clicked, this, &TSetupUirForm::bbSetInitCfgClick);
    connect(bbClose, &QPushButton::clicked, this, &QWidget::hide);

    auto* buttons = new QVBoxLayout;
    for (QPushButton* b : {BitBtn2, bbGetDataFrUir, bbSendDataToUir, bbSaveUirCfg, BitBtn1})
        buttons->addWidget(b);
    buttons->addWidget(factory);
    buttons->addStretch(1);
    buttons->addWidget(bbClose);

    auto* left = new QVBoxLayout;
    left->addWidget(listHead);
    left->addWidget(ListBox1, 1);
    auto* root = new QHBoxLayout(this);
    root->addLayout(left);
    root->addWidget(io, 1);
    root->addLayout(buttons);

    ch_ = new TChSetupUirForm(this);
    list_ = new TUirListForm(this);
    // Closing the channel dialog in any way gives the list back.
    connect(ch_, &TChSetupUirForm::Closed, this, [this] { ListBox1->setEnabled(true); });

    // Runs for as long as the window exists, shown or hidden.
    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(500);
    connect(Timer1, &QTimer::timeout, this, &TSetupUirForm::Timer1Timer);
    Timer1->start();
}

TSetupUirForm::~TSetupUirForm() = default;

void TSetupUirForm::Display(int32_t cb, int uirIndex) { actions_->Show(cb, uirIndex); }

void TSetupUirForm::SetTransferButtonsEnabled(bool on)
{
    for (QPushButton* b : {bbGetDataFrUir, bbSendDataToUir, bbSaveUirCfg, BitBtn1})
        b->setEnabled(on);
}

void TSetupUirForm::SelectEntry(int row)
{
    ListBox1->setCurrentRow(row >= 0 && row < ListBox1->count() ? row : -1);
    actions_->Select(ListBox1->currentRow());
}

void TSetupUirForm::ShowList(const std::vector<std::string>& entries, int selected)
{
    filling_ = true;
    ListBox1->clear();
    for (const std::string& e : entries)
        ListBox1->addItem(Q(e));
    ListBox1->setCurrentRow(selected);
    filling_ = false;
}

void TSetupUirForm::ShowValues(const TUirValueTexts& t)
{
    for (size_t i = 0; i < 3; ++i) {
        ControlText[i]->setText(Q(t.Control[i]));
        FunctionText[i]->setText(Q(t.Function[i]));
    }
    OutputText->setText(Q(t.Output));
    PollText->setText(Q(t.Poll));
}

bool TSetupUirForm::AccessGate() { return accessPrompt_ ? accessPrompt_() : false; }

bool TSetupUirForm::AskYesNo(const std::string& text, const std::string& caption, PromptIcon icon)
{
    QMessageBox box(BoxIcon(icon), Q(caption), Q(text), QMessageBox::Yes | QMessageBox::No, this);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void TSetupUirForm::Message(const std::string& text, const std::string& caption, PromptIcon icon)
{
    QMessageBox box(BoxIcon(icon), Q(caption), Q(text), QMessageBox::Ok, this);
    box.exec();
}

void TSetupUirForm::PlaceDialog(QWidget* d, bool centredVertically)
{
    const QRect inside = geometry();  // this window's client area, on the screen
    PlaceWindow(d, centredVertically ? TPlaceKind::Centred : TPlaceKind::CentredHorizontally, inside, inside.y() + 20);
}

void TSetupUirForm::Timer1Timer()
{
    // The list follows the block on screen, except while an edit is open.
    if (!ch_->isVisible() && !list_->isVisible())
        actions_->Sync();
    actions_->Refresh();
    if (ch_->Accepted) {
        ch_->Accepted = false;
        actions_->ApplyEdit(ch_->Result());
    }
    if (list_->Accepted) {
        // Cleared before the transfer: a tick during its wait starts no second one.
        list_->Accepted = false;
        actions_->ApplyCopy(list_->Checked());
    }
}

void TSetupUirForm::hideEvent(QHideEvent* e)
{
    QWidget::hideEvent(e);
    if (e->spontaneous())
        return;  // minimised: the dialogs come back with the window
    if (ch_->isVisible())
        ch_->close();
    if (list_->isVisible())
        list_->bbCancelClick();
    emit Hidden();
}

void TSetupUirForm::ListBox1Click() { actions_->Select(ListBox1->currentRow()); }

void TSetupUirForm::BitBtn2Click()
{
    TUirEdit preset;
    if (!actions_->BeginEdit(preset))
        return;
    ListBox1->setEnabled(false);
    ch_->Accepted = false;
    ch_->Preset(preset);
    PlaceDialog(ch_, false);
    ch_->show();
    ch_->raise();
    ch_->activateWindow();
}

void TSetupUirForm::bbGetDataFrUirClick() { actions_->ReadConfig(); }

void TSetupUirForm::bbSendDataToUirClick() { actions_->WriteSegment(); }

void TSetupUirForm::bbSaveUirCfgClick() { actions_->SaveFile(); }

void TSetupUirForm::BitBtn1Click()
{
    std::array<bool, kUirCount> checked{}, enabled{};
    if (!actions_->BeginCopy(checked, enabled))
        return;
    list_->Preset(checked, enabled);
    PlaceDialog(list_, true);
    list_->show();
    list_->raise();
    list_->activateWindow();
}

void TSetupUirForm::bbSetInitCfgClick() { actions_->FactoryConfig(); }

TSetupUirForm* AttachSetupUirForm(TMainForm& main, TGlobalState& state)
{
    TMainForm* m = &main;
    auto* form = new TSetupUirForm(
        state, [m](const PostArgs& a) { return m->PostRequestAndWait(a); },
        [m] {
            m->SetStayOnTop(false);
            const bool ok = m->Prompt().AccessPrompt();
            m->SetStayOnTop(true);
            return ok;
        });
    main.SetSetupUirForm(form, [form](int cb, int uirIndex) { form->Display(cb, uirIndex); });
    return form;
}

void AttachUirAndCfgWindows(TMainForm& main, TGlobalState& state, ISettingsStore& store)
{
    (void)store;
    TSetupUirForm* uir = AttachSetupUirForm(main, state);
    AttachCfgForm(main, state, uir);
}

}  // namespace kestrel
