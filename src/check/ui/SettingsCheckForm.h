#pragma once
// "Сверка настроек ЦБ": the block's own settings (tables, UROV, MTZ wait,
// UIR configuration) read from the block and set against the installation
// file, the differences grouped as the setup windows show them, and the
// operator's choice: the file's into the block, the block's into the file,
// or a settings sheet on paper. The work is TSettingsCheckActions; this
// class is its controls and dialogs.
#include <QDateTime>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "check/SettingsCheckActions.h"
#include "check/ui/SettingsSheet.h"

class QLabel;
class QPushButton;
class QTreeWidget;

namespace kestrel {

class TMainForm;

class TSettingsCheckForm : public QWidget, public ISettingsCheckView {
    Q_OBJECT
public:
    TSettingsCheckForm(TGlobalState& state, TMainForm& main, QWidget* parent = nullptr);
    ~TSettingsCheckForm() override;

    TSettingsCheckActions& Actions() { return *actions_; }
    // The block the window shows and its actions post to.
    int Cb() const { return cb_; }
    // Shown over `over` (the tile area when null) for block `cb`, which is
    // read and compared at once.
    void Open(int cb, QWidget* over = nullptr);
    // "Прочитать снова": the block read again and compared with the file.
    void Refresh();
    // The last outcome in the controls.
    void ShowOutcome();
    // What the sheet of the last outcome holds.
    TSheetData SheetData() const;
    // The default name of the sheet's file: "ЦБ 2 — лист настроек.pdf".
    QString SheetFileName() const;

    // ISettingsCheckView.
    bool AccessPrompt() override;
    bool AskYesNo(const std::string& text, const std::string& caption, PromptIcon icon) override;
    void Message(const std::string& text, const std::string& caption, PromptIcon icon) override;

    // The save dialog of the sheet: false when cancelled; the path (UTF-8)
    // is empty when the chosen name cannot be kept. Replaceable, so that
    // the rest of the save runs without a dialog.
    std::function<bool(const QString& defaultName, std::string& path)> ChooseSheetFile;

    // Run with the block's index after a write or a take changed its
    // records, for the windows that show them.
    std::function<void(int cb)> RecordsChanged;

    // Controls, named by role.
    QLabel* BlockLabel = nullptr;
    QLabel* FileFingerprint = nullptr;
    QLabel* BlockFingerprint = nullptr;
    QLabel* SummaryLine = nullptr;
    QTreeWidget* DifferenceList = nullptr;
    QPushButton* bbReadAgain = nullptr;
    QPushButton* bbWriteToCb = nullptr;
    QPushButton* bbTakeFromCb = nullptr;
    QPushButton* bbSaveSheet = nullptr;
    QPushButton* bbClose = nullptr;

public slots:
    void bbReadAgainClick();
    void bbWriteToCbClick();
    void bbTakeFromCbClick();
    void bbSaveSheetClick();

protected:
    void showEvent(QShowEvent* e) override;

private:
    bool RunSaveDialog(const QString& defaultName, std::string& path);

    TGlobalState& state_;
    TMainForm& main_;
    std::unique_ptr<TSettingsCheckActions> actions_;
    int cb_ = 0;
    bool opening_ = false;      // Open() reads itself; the show does not
    bool readPending_ = false;  // shown by other means: read once the show is done
    bool busy_ = false;         // a read or write runs (its wait pumps the events)
    QDateTime readAt_;
};

// Creates the window hidden, owned by the main window, and gives the main
// window's menu item and the block setup window's button their opener.
TSettingsCheckForm* AttachSettingsCheckForm(TMainForm& main, TGlobalState& state);

}  // namespace kestrel
