#pragma once
// The journal window ("Журнал"): the current central block's event list as a
// four-column table, the journal fetch and clear, and the export to a text
// file. The work itself is TJournalActions; this class is its cells, buttons,
// timer and dialogs.
#include <QWidget>
#include <memory>

#include "journal/JournalActions.h"

class QPushButton;
class QTableWidget;
class QTimer;

namespace kestrel {

class IWaitUi;
class TMainForm;

class THistoryForm : public QWidget, public IJournalView {
    Q_OBJECT
public:
    // ui: the request hand-over of the main window (its wait window).
    THistoryForm(TGlobalState& state, IWaitUi& ui, QWidget* parent = nullptr);
    ~THistoryForm() override;

    TJournalActions& Actions() { return *actions_; }

    // The service key of the central-block setup window shows and hides
    // "Удалить все события из журнала".
    void SetClearButtonVisible(bool on);
    bool ClearButtonVisible() const;

    // The service console: the window it positions this one against.
    void SetConsoleWindow(QWidget* console) { console_ = console; }
    // The event cycle under the console brought new events: show this window
    // at the console's left and top and render the list.
    void ConsoleShowJournal();
    // A journal record read under the console: one more row, and this window
    // shown centred over the console.
    void ConsoleJournalRecord(const std::string& code, const std::string& text, const std::string& date);

    // IJournalView. Virtual so tests can answer the questions and dialogs.
    void ShowRows(const std::vector<TJournalRow>& rows) override;
    bool AskYesNo(const std::string& text, const std::string& caption, PromptIcon icon) override;
    void Message(const std::string& text, const std::string& caption, PromptIcon icon) override;
    bool ChooseExportFile(std::string& path) override;

    // Controls, named as the window always named them.
    QTableWidget* StringGrid1 = nullptr;
    QPushButton* bbGetListEvents = nullptr;
    QPushButton* bbClearEvents = nullptr;
    QPushButton* bbSaveToFile = nullptr;
    QPushButton* bbClose = nullptr;
    QTimer* Timer1 = nullptr;

public slots:
    void RenderList();
    void Timer1Timer();
    void bbGetListEventsClick();
    void bbClearEventsClick();
    void bbSaveToFileClick();
    void bbCloseClick();

private:
    void ShowOver(QWidget* other, bool centred);

    std::unique_ptr<TJournalActions> actions_;
    QWidget* console_ = nullptr;
};

// Registers the window with the main window (its "Журнал" item and tool
// button) and routes the console's journal hooks to it.
void AttachHistoryForm(TMainForm& main, THistoryForm& form);

}  // namespace kestrel
