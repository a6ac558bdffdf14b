#include "check/ui/SettingsCheckForm.h"

#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "check/ui/PdfSaveDialog.h"
#include "monitor/ui/DialogPath.h"
#include "monitor/ui/FileTypes.h"
#include "monitor/ui/MainForm.h"
#include "monitor/ui/Placement.h"
#include "monitor/ui/QtText.h"
#include "setup/ui/SetupCbForm.h"
#include "state/Cp1251.h"
#include "state/FileIo.h"

namespace kestrel {

namespace t = check_text;

namespace {

constexpr const char* kSourceBlock = "ЦБ";
constexpr const char* kSourceFile = "файл конфигурации";
constexpr const char* kReadAtFormat = "dd.MM.yyyy hh:mm:ss";

bool BlockWasRead(const TCheckOutcome& o)
{
    return o.What == TCheckOutcome::Status::Equal || o.What == TCheckOutcome::Status::Differ;
}

// The file's block is known: a sheet of the file's settings at least.
bool FileWasRead(const TCheckOutcome& o)
{
    return o.What != TCheckOutcome::Status::None && o.What != TCheckOutcome::Status::FileFailed;
}

QLabel* ValueLabel(QWidget* parent, const char* name)
{
    auto* l = new QLabel(parent);
    l->setObjectName(name);
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont f = l->font();
    f.setBold(true);
    l->setFont(f);
    return l;
}

}  // namespace

TSettingsCheckForm::TSettingsCheckForm(TGlobalState& state, TMainForm& main, QWidget* parent)
    : QWidget(parent, parent ? Qt::Window : Qt::WindowFlags()), state_(state), main_(main)
{
    setObjectName("SettingsCheckForm");
    setWindowTitle(Q(t::kCaption));
    actions_ = std::make_unique<TSettingsCheckActions>(
        state, *this, [this](const PostArgs& a) { return main_.PostRequestAndWait(a); });
    ChooseSheetFile = [this](const QString& name, std::string& path) { return RunSaveDialog(name, path); };

    BlockLabel = ValueLabel(this, "BlockLabel");
    FileFingerprint = ValueLabel(this, "FileFingerprint");
    BlockFingerprint = ValueLabel(this, "BlockFingerprint");
    auto* head = new QGridLayout;
    head->addWidget(new QLabel(Q("Центральный блок:"), this), 0, 0);
    head->addWidget(BlockLabel, 0, 1);
    head->addWidget(new QLabel(Q("Отпечаток настроек в файле:"), this), 1, 0);
    head->addWidget(FileFingerprint, 1, 1);
    head->addWidget(new QLabel(Q("Отпечаток настроек в ЦБ:"), this), 2, 0);
    head->addWidget(BlockFingerprint, 2, 1);
    head->setColumnStretch(1, 1);

    SummaryLine = new QLabel(this);
    SummaryLine->setObjectName("SummaryLine");
    SummaryLine->setWordWrap(true);
    SummaryLine->setTextInteractionFlags(Qt::TextSelectableByMouse);

    DifferenceList = new QTreeWidget(this);
    DifferenceList->setObjectName("DifferenceList");
    DifferenceList->setColumnCount(1);
    DifferenceList->setHeaderLabels({Q("Отличия: файл конфигурации → ЦБ")});
    DifferenceList->header()->setStretchLastSection(true);
    DifferenceList->setRootIsDecorated(true);
    DifferenceList->setSelectionMode(QAbstractItemView::NoSelection);
    DifferenceList->setMinimumHeight(220);

    bbReadAgain = Button(this, "Прочитать снова", "bbReadAgain");
    bbWriteToCb = Button(this, "Записать в ЦБ", "bbWriteToCb");
    bbTakeFromCb = Button(this, "Принять из ЦБ", "bbTakeFromCb");
    bbSaveSheet = Button(this, "Сохранить лист настроек", "bbSaveSheet");
    bbClose = Button(this, "Закрыть", "bbClose");
    bbWriteToCb->setToolTip(Q("Записать в ЦБ настройки из файла конфигурации"));
    bbTakeFromCb->setToolTip(Q("Принять настройки ЦБ в файл конфигурации"));
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {bbReadAgain, bbWriteToCb, bbTakeFromCb, bbSaveSheet})
        buttons->addWidget(b);
    buttons->addStretch(1);
    buttons->addWidget(bbClose);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(head);
    layout->addWidget(SummaryLine);
    layout->addWidget(DifferenceList, 1);
    layout->addLayout(buttons);
    resize(720, 460);

    connect(bbReadAgain, &QPushButton::clicked, this, &TSettingsCheckForm::bbReadAgainClick);
    connect(bbWriteToCb, &QPushButton::clicked, this, &TSettingsCheckForm::bbWriteToCbClick);
    connect(bbTakeFromCb, &QPushButton::clicked, this, &TSettingsCheckForm::bbTakeFromCbClick);
    connect(bbSaveSheet, &QPushButton::clicked, this, &TSettingsCheckForm::bbSaveSheetClick);
    connect(bbClose, &QPushButton::clicked, this, &QWidget::hide);
    ShowOutcome();
}

TSettingsCheckForm::~TSettingsCheckForm() = default;

// ------------------------------------------------------------------- display

void TSettingsCheckForm::ShowOutcome()
{
    const TCheckOutcome& o = actions_->Last();
    const bool known = o.What != TCheckOutcome::Status::None;
    QString block = Q(TSettingsCheckActions::BlockName(cb_));
    if (const TCbData* rec = state_.Cb(cb_)) {
        const QString name = Q(U8(rec->Name));
        if (!name.isEmpty() && name != block)
            block += QStringLiteral(" — ") + name;
    }
    BlockLabel->setText(block);
    const QString none = QStringLiteral("—");
    FileFingerprint->setText(known && !o.FileFingerprint.empty() ? Q(o.FileFingerprint) : none);
    BlockFingerprint->setText(BlockWasRead(o) ? Q(o.BlockFingerprint) : none);

    SummaryLine->setText(Q(actions_->SummaryText()));
    QPalette pal = SummaryLine->palette();
    const bool failed = known && !BlockWasRead(o);
    pal.setColor(QPalette::WindowText, failed ? QColor(192, 0, 0)
                                              : palette().color(QPalette::WindowText));
    SummaryLine->setPalette(pal);

    DifferenceList->clear();
    QTreeWidgetItem* group = nullptr;
    QString heading;
    for (const TSettingsDifference& d : o.Differences) {
        const QString h = Q(GroupHeading(d));
        if (!group || h != heading) {
            heading = h;
            group = new QTreeWidgetItem(DifferenceList, {h});
            QFont f = group->font(0);
            f.setBold(true);
            group->setFont(0, f);
            group->setFirstColumnSpanned(true);
        }
        new QTreeWidgetItem(group, {Q(d.Text)});
    }
    DifferenceList->expandAll();
    DifferenceList->setVisible(!o.Differences.empty());

    const bool differ = o.What == TCheckOutcome::Status::Differ;
    bbWriteToCb->setEnabled(differ && !busy_);
    bbTakeFromCb->setEnabled(differ && !busy_);
    bbSaveSheet->setEnabled(FileWasRead(o) && !busy_);
    bbReadAgain->setEnabled(!busy_);
}

// ------------------------------------------------------------------- opening

void TSettingsCheckForm::Open(int cb, QWidget* over)
{
    if (busy_) {
        // A read or write of the block shown runs: it keeps its block.
        raise();
        activateWindow();
        return;
    }
    cb_ = cb;
    opening_ = true;
    if (over && over->isVisible())
        CentreWindowOver(this, over);
    else
        main_.CentreOnTileArea(this);
    show();
    raise();
    activateWindow();
    opening_ = false;
    Refresh();
}

void TSettingsCheckForm::showEvent(QShowEvent* e)
{
    QWidget::showEvent(e);
    if (e->spontaneous() || opening_)
        return;
    // Shown by other means than Open: the block on screen, read once the
    // show has finished (the read runs its own event loop).
    cb_ = state_.ShownCb;
    readPending_ = true;
    QTimer::singleShot(0, this, [this] {
        if (readPending_ && isVisible())
            Refresh();
    });
}

void TSettingsCheckForm::Refresh()
{
    readPending_ = false;
    if (busy_)
        return;
    busy_ = true;
    ShowOutcome();
    actions_->Check(cb_);
    readAt_ = QDateTime::currentDateTime();
    busy_ = false;
    ShowOutcome();
}

// ------------------------------------------------------------------ the view

bool TSettingsCheckForm::AccessPrompt()
{
    main_.SetStayOnTop(false);
    const bool ok = main_.Prompt().AccessPrompt();
    main_.SetStayOnTop(true);
    return ok;
}

bool TSettingsCheckForm::AskYesNo(const std::string& text, const std::string& caption, PromptIcon icon)
{
    return main_.Prompt().AskYesNo(text, caption, icon);
}

void TSettingsCheckForm::Message(const std::string& text, const std::string& caption, PromptIcon icon)
{
    main_.Prompt().Message(text, caption, icon);
}

// ------------------------------------------------------------------- actions

void TSettingsCheckForm::bbReadAgainClick() { Refresh(); }

void TSettingsCheckForm::bbWriteToCbClick()
{
    if (busy_)
        return;
    busy_ = true;
    ShowOutcome();
    const TDeviceSettings before = actions_->Last().Block;
    const bool took = actions_->WriteToBlock();
    if (RecordsChanged)
        RecordsChanged(actions_->Last().Cb);
    // The restore ends with a read-back: what the window shows is that read.
    if (took || !(actions_->Last().Block == before))
        readAt_ = QDateTime::currentDateTime();
    busy_ = false;
    ShowOutcome();
}

void TSettingsCheckForm::bbTakeFromCbClick()
{
    if (busy_)
        return;
    busy_ = true;
    ShowOutcome();
    if (actions_->TakeFromBlock() && RecordsChanged)
        RecordsChanged(actions_->Last().Cb);
    busy_ = false;
    ShowOutcome();
}

// --------------------------------------------------------------- the sheet

QString TSettingsCheckForm::SheetFileName() const
{
    return Q(TSettingsCheckActions::BlockName(actions_->Last().Cb >= 0 ? actions_->Last().Cb : cb_)) +
           QStringLiteral(" — лист настроек.pdf");
}

TSheetData TSettingsCheckForm::SheetData() const
{
    const TCheckOutcome& o = actions_->Last();
    TSheetData d;
    const std::u8string name = NativePath(state_.CfgFilePath).filename().u8string();
    d.Installation.assign(name.begin(), name.end());
    d.BlockNumber = o.Cb + 1;
    d.Settings = o.FileCb;
    if (BlockWasRead(o)) {
        ApplyDeviceSettings(d.Settings, o.Block);
        d.Source = kSourceBlock;
        d.Fingerprint = o.BlockFingerprint;
    } else {
        d.Source = kSourceFile;
        d.Fingerprint = o.FileFingerprint;
    }
    d.ReadAt = readAt_.toString(QString::fromLatin1(kReadAtFormat)).toStdString();
    d.Version = KESTREL_VERSION;
    return d;
}

bool TSettingsCheckForm::RunSaveDialog(const QString& defaultName, std::string& path)
{
    return ChoosePdfToSave(this, main_, Q("Сохранить лист настроек"), defaultName, path);
}

void TSettingsCheckForm::bbSaveSheetClick()
{
    if (busy_ || !FileWasRead(actions_->Last()))
        return;
    std::string path;
    if (!ChooseSheetFile || !ChooseSheetFile(SheetFileName(), path))
        return;
    if (!PathKeptWhole(path)) {
        Message("Лист настроек не сохранён: такое имя файла сохранить нельзя.", t::kAttention, PromptIcon::Error);
        return;
    }
    std::string error;
    if (!WriteSettingsSheet(path, SheetData(), error))
        Message("Лист настроек не сохранён: " + error, t::kAttention, PromptIcon::Error);
}

// -------------------------------------------------------------------- attach

TSettingsCheckForm* AttachSettingsCheckForm(TMainForm& main, TGlobalState& state)
{
    auto* form = new TSettingsCheckForm(state, main, &main);
    main.SetSettingsCheckForm(form, [form](int cb) { form->Open(cb); });
    if (auto* setup = main.findChild<TSetupCbForm*>()) {
        setup->SetSettingsCheckOpener([form, setup](int cb) { form->Open(cb, setup); });
        // An open block setup window shows the block's tables as they now are.
        form->RecordsChanged = [setup](int cb) {
            if (setup->isVisible() && setup->Cb() == cb)
                setup->Display(cb, false);
        };
    }
    return form;
}

}  // namespace kestrel
