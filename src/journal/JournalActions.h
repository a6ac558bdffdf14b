#pragma once
// What the journal window does, without the window: render the event list of
// the block on screen (ShownCb), fetch and clear the journal through the
// request slot, take the console's journal records, export the table. The window supplies the view
// (cells, questions, messages, the save dialog) and the request handshake.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "journal/JournalExport.h"
#include "state/Model.h"
#include "state/Prompt.h"

namespace kestrel {

// The window's own texts (UTF-8).
namespace journal_text {
inline constexpr const char* kCaption = "Журнал";
inline constexpr const char* kAttention = "Внимание!";
inline constexpr const char* kFetchWait = "Ждите! Идет получение архивных данных!";
inline constexpr const char* kCommandFailed = "Ошибка выполнения команды";
inline constexpr const char* kClearQuestion =
    "Внимание! Все записи журнала событий контроллера будут удалены! Выполнить?";
inline constexpr const char* kCannotSave = "Невозможно сохранить данные!";
inline constexpr const char* kGetList = "Обновить список событий";
inline constexpr const char* kClear = "Удалить все события из журнала";
inline constexpr const char* kSave = "Сохранить в файл";
inline constexpr const char* kClose = "Закрыть";
}  // namespace journal_text

// Pause between two looks at the request slot.
inline constexpr uint32_t kJournalPollPauseMs = 100;

class IJournalView {
public:
    virtual ~IJournalView() = default;
    // Replace the table's rows (the header row stays).
    virtual void ShowRows(const std::vector<TJournalRow>& rows) = 0;
    // Modal question with Yes and No; true only on Yes.
    virtual bool AskYesNo(const std::string& text, const std::string& caption, PromptIcon icon) = 0;
    virtual void Message(const std::string& text, const std::string& caption, PromptIcon icon) = 0;
    // The save dialog; true with the chosen path (UTF-8).
    virtual bool ChooseExportFile(std::string& path) = 0;
};

// The request handshake of the windows: post `code` into the slot of CB
// `cb`, show the wait window with `waitText` unless it is empty, and return
// once the slot no longer holds the code. `onLook` runs at every look at the
// slot. Nothing is posted for a CB that is not served.
using TPostRequestFn = std::function<void(int32_t cb, int32_t code, const std::string& waitText,
                                          uint32_t pauseMs, const std::function<void()>& onLook)>;

class IWaitUi;
// The handshake of the windows (PostRequestAndWait) with `ui`; `onLook` runs
// after each round of event handling. Error flags are left to the caller.
TPostRequestFn MakePostRequest(TGlobalState& state, IWaitUi& ui);

class TJournalActions {
public:
    TJournalActions(TGlobalState& state, IJournalView& view, TPostRequestFn post);

    // Render the list of the block on screen (ShownCb) into the view.
    void Render();
    // Render the list of CB `cb`.
    void Render(int32_t cb);
    // The once-a-second look: when new events were counted, take the count
    // back to 0 and render. true when it rendered.
    bool RefreshIfNew();
    // "Обновить список событий". Both journal actions work on the block shown
    // when they start, to their end (question and waits included), even when
    // the operator picks another block meanwhile; the table always shows the
    // block on screen.
    void FetchJournal();
    // "Удалить все события из журнала".
    void ClearJournal();
    // "Сохранить в файл": the dialog, the file, the message on failure.
    // Result of SaveJournalFile, or 1 when the operator cancelled.
    int ExportTable();
    // A journal record read while the service console is open: one more row
    // after the table's last one (texts already made by the protocol layer).
    void AddConsoleRecord(const std::string& code, const std::string& text, const std::string& date);

    const std::vector<TJournalRow>& Rows() const { return rows_; }

    // For tests: the file operations of the export.
    void SetExportFiles(IExportFiles* files) { files_ = files; }

private:
    bool Served(int32_t cb) const;

    TGlobalState& state_;
    IJournalView& view_;
    TPostRequestFn post_;
    std::vector<TJournalRow> rows_;
    IExportFiles* files_ = nullptr;
};

}  // namespace kestrel
