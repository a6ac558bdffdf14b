#include "setup/ui/FileCfgForm.h"

#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "monitor/ui/DialogPath.h"
#include "monitor/ui/FileTypes.h"
#include "monitor/ui/QtText.h"
#include "setup/CfgActions.h"
#include "state/Access.h"
#include "state/ConfigFile.h"
#include "state/FileIo.h"

namespace kestrel {

namespace {

// A file that cannot be loaded leaves the records and the path as they were.
constexpr const char* kCannotRead = "Ошибка чтения файла конфигурации!";

bool RunDialog(QWidget* owner, bool save, std::string& path)
{
    TRussianFileTypes types;
    QFileDialog dlg(owner);
    dlg.setIconProvider(&types);
    dlg.setDirectory(QDir::currentPath());
    dlg.setNameFilter(QStringLiteral("*.cfg (*.cfg)"));
    dlg.setDefaultSuffix(QStringLiteral("cfg"));
    dlg.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dlg.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dlg.selectFile(save ? Q(path) : QStringLiteral("*.cfg"));
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return false;
    path = PathFromDialog(QDir::toNativeSeparators(dlg.selectedFiles().first()));
    return true;
}

}  // namespace

TFileCfgForm::TFileCfgForm(TGlobalState& state, std::function<void()> loaded, QWidget* parent)
    : QWidget(parent, parent ? Qt::Window : Qt::WindowFlags()), state_(state), loaded_(std::move(loaded))
{
    setObjectName("FileCfgForm");
    setWindowTitle(Q(cfg_text::kFileCaption));
    auto* label = new QLabel(Q(cfg_text::kFileCaption), this);
    Edit1 = new QLineEdit(this);
    Edit1->setObjectName("Edit1");
    Edit1->setReadOnly(true);
    Edit1->setMinimumWidth(360);
    bbFind = new QPushButton(Q("Найти"), this);
    bbFind->setObjectName("bbFind");
    bbSaveAs = new QPushButton(Q("Сохранить как"), this);
    bbSaveAs->setObjectName("bbSaveAs");
    bbClose = new QPushButton(Q("Закрыть"), this);
    bbClose->setObjectName("bbClose");
    for (QPushButton* b : {bbFind, bbSaveAs, bbClose})
        b->setAutoDefault(false);
    connect(bbFind, &QPushButton::clicked, this, &TFileCfgForm::bbFindClick);
    connect(bbSaveAs, &QPushButton::clicked, this, &TFileCfgForm::bbSaveAsClick);
    connect(bbClose, &QPushButton::clicked, this, &QWidget::hide);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(bbFind);
    buttons->addWidget(bbSaveAs);
    buttons->addStretch(1);
    buttons->addWidget(bbClose);
    auto* root = new QVBoxLayout(this);
    root->addWidget(label);
    root->addWidget(Edit1);
    root->addLayout(buttons);
}

bool TFileCfgForm::ChooseOpen(std::string& path)
{
    return ChooseHook ? ChooseHook(false, path) : RunDialog(this, false, path);
}

bool TFileCfgForm::ChooseSave(std::string& path)
{
    return ChooseHook ? ChooseHook(true, path) : RunDialog(this, true, path);
}

void TFileCfgForm::Message(const std::string& text, const std::string& caption, PromptIcon icon)
{
    if (MessageHook) {
        MessageHook(text, caption);
        return;
    }
    QMessageBox box(icon == PromptIcon::Error ? QMessageBox::Critical : QMessageBox::Warning, Q(caption), Q(text),
                    QMessageBox::Ok, this);
    box.exec();
}

void TFileCfgForm::bbFindClick()
{
    std::string chosen;
    if (!ChooseOpen(chosen))
        return;
    if (!PathKeptWhole(chosen)) {
        Message(kMsgPathNotKept, cfg_text::kAttention, PromptIcon::Warning);
        return;
    }
    const Text previous = state_.CfgFilePath;
    state_.CfgFilePath = chosen;
    // The reader commits nothing from a file it cannot read whole.
    if (ReadConfigFile(state_) != 0) {
        state_.CfgFilePath = previous;
        Message(kCannotRead, cfg_text::kAttention, PromptIcon::Error);
        return;
    }
    Edit1->setText(Q(chosen));
    if (loaded_)
        loaded_();
}

void TFileCfgForm::bbSaveAsClick()
{
    std::string chosen = state_.CfgFilePath;
    if (!ChooseSave(chosen))
        return;
    // The next save would go to another file: keep the path in use.
    if (!PathKeptWhole(chosen)) {
        Message(kMsgPathNotKept, cfg_text::kAttention, PromptIcon::Warning);
        return;
    }
    state_.CfgFilePath = chosen;
    Edit1->setText(Q(chosen));
}

}  // namespace kestrel
