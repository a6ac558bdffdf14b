#include "app/QtPrompt.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QLibraryInfo>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QTranslator>

#include "monitor/ui/DialogPath.h"
#include "monitor/ui/FileTypes.h"
#include "monitor/ui/Placement.h"
#include "monitor/ui/QtText.h"

namespace kestrel {

namespace {

// Centred on the main window's tile area (below its menu and tool bar), or
// on the screen when the window is not up.
void CentreOn(QWidget* w, QWidget* over)
{
    if (over && over->isVisible()) {
        auto* main = qobject_cast<QMainWindow*>(over);
        CentreWindowOver(w, main && main->centralWidget() ? main->centralWidget() : over);
    } else {
        CentreWindowOnScreen(w);
    }
}
}  // namespace

bool InstallRussianTranslations(QCoreApplication& app)
{
    const QLocale russian(QLocale::Russian, QLocale::Russia);
    QLocale::setDefault(russian);
    auto* qt = new QTranslator(&app);
    if (!qt->load(russian, QStringLiteral("qtbase"), QStringLiteral("_"),
                  QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete qt;
        return false;
    }
    return QCoreApplication::installTranslator(qt);
}

TQtPrompt::~TQtPrompt()
{
    delete access_.data();
    delete change_.data();
}

bool TQtPrompt::AskYesNo(const std::string& text, const std::string& caption, PromptIcon icon)
{
    QMessageBox box(BoxIcon(icon), QString::fromStdString(caption), QString::fromStdString(text),
                    QMessageBox::NoButton, owner_);
    QPushButton* yes = box.addButton(QStringLiteral("Да"), QMessageBox::YesRole);
    box.addButton(QStringLiteral("Нет"), QMessageBox::NoRole);
    box.setDefaultButton(yes);
    box.exec();
    return box.clickedButton() == yes;
}

void TQtPrompt::Message(const std::string& text, const std::string& caption, PromptIcon icon)
{
    ShowMessageBox(owner_, {text, caption, icon});
}

TProtectAccessForm* TQtPrompt::ProtectAccessForm()
{
    if (!access_)
        access_ = new TProtectAccessForm(state_, owner_);
    return access_;
}

TCreateNewPasswordForm* TQtPrompt::CreateNewPasswordForm()
{
    if (!change_)
        change_ = new TCreateNewPasswordForm(state_, owner_);
    return change_;
}

bool TQtPrompt::ChangeCodeDialog(std::string& newCode)
{
    TCreateNewPasswordForm* f = CreateNewPasswordForm();
    CentreOn(f, nullptr);  // centred on the screen
    if (f->exec() != QDialog::Accepted)
        return false;
    newCode = f->NewCode();
    return true;
}

bool TQtPrompt::AccessPrompt()
{
    TProtectAccessForm* f = ProtectAccessForm();
    CentreOn(f, owner_);
    return f->exec() == QDialog::Accepted;
}

bool TQtPrompt::ChooseConfigFile(std::string& path)
{
    TRussianFileTypes types;
    QFileDialog dlg(owner_);
    dlg.setIconProvider(&types);
    dlg.setFileMode(QFileDialog::ExistingFile);
    dlg.setAcceptMode(QFileDialog::AcceptOpen);
    dlg.setNameFilter(QStringLiteral("*.cfg (*.cfg)"));
    dlg.setDefaultSuffix(QStringLiteral("cfg"));
    dlg.selectFile(QString::fromStdString(path));
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return false;
    // Empty when the name cannot be kept: the start-up refuses it and asks again.
    path = PathFromDialog(QDir::toNativeSeparators(dlg.selectedFiles().first()));
    return true;
}

}  // namespace kestrel
