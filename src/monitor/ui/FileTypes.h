#pragma once
// The "Тип" column of the file dialogs in Russian: Qt's own catalogue leaves
// the file-type texts of its icon provider ("Folder", "txt File") untranslated.
// Declare it before the dialog that uses it (the dialog does not own it):
//   TRussianFileTypes types;
//   QFileDialog dialog(owner);
//   dialog.setIconProvider(&types);
#include <QFileIconProvider>

namespace kestrel {

class TRussianFileTypes final : public QFileIconProvider {
public:
    QString type(const QFileInfo& info) const override;
};

}  // namespace kestrel
