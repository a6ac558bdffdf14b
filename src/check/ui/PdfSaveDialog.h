#pragma once
// The save dialog of the program's PDFs (the settings sheet, the walk-test
// certificate): "*.pdf", the stay-on-top main window stepped back while it
// is open.
#include <QString>
#include <string>

class QWidget;

namespace kestrel {

class TMainForm;

// true with the chosen path (UTF-8; empty for a name that cannot be told
// back to the OS, which the caller refuses); false when cancelled.
bool ChoosePdfToSave(QWidget* parent, TMainForm& main, const QString& title, const QString& defaultName,
                     std::string& path);

}  // namespace kestrel
