#include "check/ui/PdfSaveDialog.h"

#include <QDir>
#include <QFileDialog>

#include "monitor/ui/DialogPath.h"
#include "monitor/ui/FileTypes.h"
#include "monitor/ui/MainForm.h"

namespace kestrel {

bool ChoosePdfToSave(QWidget* parent, TMainForm& main, const QString& title, const QString& defaultName,
                     std::string& path)
{
    TRussianFileTypes types;
    QFileDialog dlg(parent);
    dlg.setIconProvider(&types);
    dlg.setWindowTitle(title);
    dlg.setDirectory(QDir::currentPath());
    dlg.setNameFilter(QStringLiteral("*.pdf (*.pdf)"));
    dlg.setDefaultSuffix(QStringLiteral("pdf"));
    dlg.setFileMode(QFileDialog::AnyFile);
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.selectFile(defaultName);
    main.SetStayOnTop(false);
    const bool chosen = dlg.exec() == QDialog::Accepted && !dlg.selectedFiles().isEmpty();
    main.SetStayOnTop(true);
    if (!chosen)
        return false;
    path = PathFromDialog(QDir::toNativeSeparators(dlg.selectedFiles().first()));
    return true;
}

}  // namespace kestrel
