#include "journal/ui/HistoryForm.h"

#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "journal/JournalRows.h"
#include "monitor/PostRequest.h"
#include "monitor/ui/DialogPath.h"
#include "monitor/ui/FileTypes.h"
#include "monitor/ui/MainForm.h"
#include "monitor/ui/Placement.h"
#include "monitor/ui/QtText.h"

namespace kestrel {

THistoryForm::THistoryForm(TGlobalState& state, IWaitUi& ui, QWidget* parent)
    : QWidget(parent, parent ? Qt::Window : Qt::WindowFlags())
{
    setObjectName("HistoryForm");
    setWindowTitle(Q(journal_text::kCaption));

    StringGrid1 = new QTableWidget(0, kJournalColumns, this);
    StringGrid1->setObjectName("StringGrid1");
    QStringList headers;
    for (const auto& h : kJournalHeaders)
        headers << Q(h);
    StringGrid1->setHorizontalHeaderLabels(headers);
    StringGrid1->verticalHeader()->setVisible(false);
    StringGrid1->verticalHeader()->setDefaultSectionSize(20);
    StringGrid1->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    StringGrid1->horizontalHeader()->setStretchLastSection(false);
    StringGrid1->horizontalHeader()->setHighlightSections(false);
    for (int c = 0; c < kJournalColumns; ++c)
        StringGrid1->setColumnWidth(c, kJournalColumnWidths[static_cast<size_t>(c)]);
    StringGrid1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StringGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    StringGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    StringGrid1->setWordWrap(false);

    bbGetListEvents = new QPushButton(Q(journal_text::kGetList), this);
    bbGetListEvents->setObjectName("bbGetListEvents");
    bbClearEvents = new QPushButton(Q(journal_text::kClear), this);
    bbClearEvents->setObjectName("bbClearEvents");
    bbSaveToFile = new QPushButton(Q(journal_text::kSave), this);
    bbSaveToFile->setObjectName("bbSaveToFile");
    bbClose = new QPushButton(Q(journal_text::kClose), this);
    bbClose->setObjectName("bbClose");
    for (QPushButton* b : {bbGetListEvents, bbClearEvents, bbSaveToFile, bbClose})
        b->setAutoDefault(false);
    // Shown only through the service key of the central-block setup window.
    bbClearEvents->setVisible(false);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(bbGetListEvents);
    buttons->addWidget(bbClearEvents);
    buttons->addStretch(1);
    buttons->addWidget(bbSaveToFile);
    buttons->addWidget(bbClose);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(StringGrid1, 1);
    layout->addLayout(buttons);

    // The columns' widths plus the scroll bar and the frames.
    int width = 0;
    for (int w : kJournalColumnWidths)
        width += w;
    resize(width + StringGrid1->verticalScrollBar()->sizeHint().width() + 2 * StringGrid1->frameWidth() + 12, 520);

    actions_ = std::make_unique<TJournalActions>(state, *this, MakePostRequest(state, ui));

    connect(bbGetListEvents, &QPushButton::clicked, this, &THistoryForm::bbGetListEventsClick);
    connect(bbClearEvents, &QPushButton::clicked, this, &THistoryForm::bbClearEventsClick);
    connect(bbSaveToFile, &QPushButton::clicked, this, &THistoryForm::bbSaveToFileClick);
    connect(bbClose, &QPushButton::clicked, this, &THistoryForm::bbCloseClick);

    // Runs while the window is hidden too, so the new-event count is taken
    // back within a second whether or not anybody looks.
    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, &THistoryForm::Timer1Timer);
    Timer1->start();
}

THistoryForm::~THistoryForm() = default;

void THistoryForm::SetClearButtonVisible(bool on) { bbClearEvents->setVisible(on); }

bool THistoryForm::ClearButtonVisible() const { return !bbClearEvents->isHidden(); }

void THistoryForm::RenderList() { actions_->Render(); }

void THistoryForm::Timer1Timer() { actions_->RefreshIfNew(); }

void THistoryForm::bbGetListEventsClick() { actions_->FetchJournal(); }

void THistoryForm::bbClearEventsClick() { actions_->ClearJournal(); }

void THistoryForm::bbSaveToFileClick() { actions_->ExportTable(); }

void THistoryForm::bbCloseClick() { hide(); }

void THistoryForm::ShowRows(const std::vector<TJournalRow>& rows)
{
    const int n = static_cast<int>(rows.size());
    StringGrid1->setUpdatesEnabled(false);
    StringGrid1->setRowCount(n);
    for (int r = 0; r < n; ++r) {
        for (int c = 0; c < kJournalColumns; ++c) {
            const QString text = Q(rows[static_cast<size_t>(r)][static_cast<size_t>(c)]);
            QTableWidgetItem* item = StringGrid1->item(r, c);
            if (!item)
                StringGrid1->setItem(r, c, new QTableWidgetItem(text));
            else if (item->text() != text)
                item->setText(text);
        }
    }
    StringGrid1->setUpdatesEnabled(true);
}

bool THistoryForm::AskYesNo(const std::string& text, const std::string& caption, PromptIcon icon)
{
    QMessageBox box(BoxIcon(icon), Q(caption), Q(text), QMessageBox::Yes | QMessageBox::No, this);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void THistoryForm::Message(const std::string& text, const std::string& caption, PromptIcon icon)
{
    QMessageBox box(BoxIcon(icon), Q(caption), Q(text), QMessageBox::Ok, this);
    box.exec();
}

bool THistoryForm::ChooseExportFile(std::string& path)
{
    TRussianFileTypes types;
    QFileDialog dialog(this);
    dialog.setIconProvider(&types);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDirectory(QDir::current());
    dialog.setNameFilter("*.txt");
    dialog.setDefaultSuffix("txt");
    // The name field starts with the pattern itself, as the export always did.
    dialog.selectFile("*.txt");
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    // Empty for a name that cannot be told back to the OS: the export refuses it.
    path = PathFromDialog(dialog.selectedFiles().first());
    return true;
}

void THistoryForm::ShowOver(QWidget* other, bool centred)
{
    if (other)
        PlaceWindow(this, centred ? TPlaceKind::Centred : TPlaceKind::AtTopLeft, ScreenRect(other));
    show();
    raise();
}

void THistoryForm::ConsoleShowJournal()
{
    ShowOver(console_, false);
    RenderList();
}

void THistoryForm::ConsoleJournalRecord(const std::string& code, const std::string& text, const std::string& date)
{
    actions_->AddConsoleRecord(code, text, date);
    ShowOver(console_, true);
}

void AttachHistoryForm(TMainForm& main, THistoryForm& form)
{
    THistoryForm* f = &form;
    main.SetHistoryForm(f, [f] { f->RenderList(); });
    // The console is registered after this window, by the setup windows.
    QObject::connect(&main, &TMainForm::ConsoleFormSet, f, [f](QWidget* console) { f->SetConsoleWindow(console); });
    main.QtHooks().onConsoleJournal_ = [f] { f->ConsoleShowJournal(); };
    main.QtHooks().onConsoleRecord_ = [f](const std::string& code, const std::string& text,
                                          const std::string& date) { f->ConsoleJournalRecord(code, text, date); };
}

}  // namespace kestrel
