#include "journal/JournalActions.h"

#include <utility>

#include "journal/JournalRows.h"
#include "monitor/PostRequest.h"
#include "protocol/Protocol.h"

namespace kestrel {

namespace {

// Runs the caller's look after every round of event handling of the real UI.
class TLookingWaitUi final : public IWaitUi {
public:
    TLookingWaitUi(IWaitUi& inner, const std::function<void()>& onLook) : inner_(inner), onLook_(onLook) {}
    void ShowWait(const std::string& utf8) override { inner_.ShowWait(utf8); }
    void CloseWait() override { inner_.CloseWait(); }
    void ProcessEvents() override
    {
        if (onLook_)
            onLook_();
        inner_.ProcessEvents();
    }
    void Pause(uint32_t ms) override { inner_.Pause(ms); }
    void ShowError(const std::string& text, const std::string& caption) override { inner_.ShowError(text, caption); }
    bool AcquisitionStopped() override { return inner_.AcquisitionStopped(); }

private:
    IWaitUi& inner_;
    const std::function<void()>& onLook_;
};

}  // namespace

TPostRequestFn MakePostRequest(TGlobalState& state, IWaitUi& ui)
{
    return [&state, &ui](int32_t cb, int32_t code, const std::string& waitText, uint32_t pauseMs,
                         const std::function<void()>& onLook) {
        TLookingWaitUi looking(ui, onLook);
        PostArgs args;
        args.Cb = cb;
        args.Code = code;
        args.PauseMs = pauseMs;
        if (!waitText.empty())
            args.WaitText = waitText;
        PostRequestAndWait(state, looking, args);
    };
}

TJournalActions::TJournalActions(TGlobalState& state, IJournalView& view, TPostRequestFn post)
    : state_(state), view_(view), post_(std::move(post))
{
}

bool TJournalActions::Served(int32_t cb) const
{
    const TCbData* rec = state_.Cb(cb);
    return rec && rec->Enabled != 0;
}

void TJournalActions::Render()
{
    Render(state_.ShownCb);
}

void TJournalActions::Render(int32_t cb)
{
    const TCbData* rec = state_.Cb(cb);
    rows_ = rec ? RenderJournal(rec->Events) : std::vector<TJournalRow>{};
    view_.ShowRows(rows_);
}

bool TJournalActions::RefreshIfNew()
{
    TCbData* cb = state_.Shown();
    if (!cb || cb->NewEventCount.load() <= 0)
        return false;
    cb->NewEventCount = 0;
    Render();
    return true;
}

void TJournalActions::FetchJournal()
{
    const int32_t index = state_.ShownCb;
    TCbData* cb = state_.Cb(index);
    if (!cb)
        return;
    cb->Events.Clear();
    // A failure left over from an earlier fetch (the automatic one at start-up)
    // must not be reported as this one's.
    cb->JournalError = 0;
    // The table grows with the records while this block is on screen.
    if (Served(index))
        post_(index, ReqFetchJournal, journal_text::kFetchWait, kJournalPollPauseMs, [this] { Render(); });
    Render();
    if (cb->JournalError != 0) {
        view_.Message(journal_text::kCommandFailed, journal_text::kAttention, PromptIcon::Error);
        cb->JournalError = 0;
    }
}

void TJournalActions::ClearJournal()
{
    // The block is the one on screen when the operator pressed the button.
    const int32_t index = state_.ShownCb;
    if (!view_.AskYesNo(journal_text::kClearQuestion, journal_text::kAttention, PromptIcon::Warning))
        return;
    TCbData* cb = state_.Cb(index);
    if (!cb)
        return;
    cb->Events.Clear();
    if (Served(index)) {
        post_(index, ReqClearJournal, "", kJournalPollPauseMs, {});
        post_(index, ReqFetchJournal, "", kJournalPollPauseMs, {});
    }
    Render();
    // The read-back's own failure is not reported here: the list shows what came.
    if (cb->ClearJournalError != 0) {
        view_.Message(journal_text::kCommandFailed, journal_text::kAttention, PromptIcon::Error);
        cb->ClearJournalError = 0;
    }
}

int TJournalActions::ExportTable()
{
    std::string path;
    if (!view_.ChooseExportFile(path))
        return 1;
    const int rc = files_ ? SaveJournalFile(path, rows_, *files_) : SaveJournalFile(path, rows_);
    // A partial file is never left behind, so any failure is the operator's to know.
    if (rc != kExportOk)
        view_.Message(journal_text::kCannotSave, journal_text::kAttention, PromptIcon::Warning);
    return rc;
}

void TJournalActions::AddConsoleRecord(const std::string& code, const std::string& text,
                                       const std::string& date)
{
    rows_.push_back({std::to_string(rows_.size() + 1), code, text, date});
    view_.ShowRows(rows_);
}

}  // namespace kestrel
