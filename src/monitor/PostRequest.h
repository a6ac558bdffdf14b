#pragma once
// The window side of the request hand-over: post a request code into a
// central block's slot, keep the user interface alive until the acquisition
// thread has taken and cleared it, then report the request's error flag.
//
// The logic is plain C++; the windowing toolkit plugs in through IWaitUi.
// Runs on the user-interface thread only.
//
// Rules it keeps:
//  - The caller names the CB (PostArgs::Cb): the block on screen, fixed when
//    its action started, so a question or a wait before the post cannot move
//    it. Only that CB's slot is watched; CurrentCb, the block the thread is
//    visiting, plays no part (it moves on after every visit). The caller
//    shows the data of PostResult::Cb, the block the request went to.
//  - Nothing is posted to a missing or disabled CB (the thread never serves
//    its slot), nor when no CB is named; no wait window, no message.
//  - A pending code is never overwritten: the call waits, pumping events,
//    until the slot is free, then posts (an atomic 0 -> code exchange).
//  - The error flag is cleared just before posting, so a set flag afterwards
//    belongs to this request.
//
// Example (Qt side):
//   class QtWaitUi : public IWaitUi { ... ShowWait -> MessageForm text + show,
//       ProcessEvents -> QCoreApplication::processEvents(),
//       Pause -> local QEventLoop + QTimer::singleShot(ms), ShowError ->
//       QMessageBox::critical(...) ... };
//   const int32_t shown = state.ShownCb;       // when the action starts
//   PostArgs a = PostArgs::Standard(102);   // error flag FuncReadError
//   a.Cb = shown;
//   a.WaitText = "Чтение...";
//   PostResult r = PostRequestAndWait(state, ui, a);
//   if (r.Status == PostStatus::NotPosted) return;   // CB not served
//   show(state.Cb(r.Cb));
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "state/Model.h"

namespace kestrel {

class IWaitUi {
public:
    virtual ~IWaitUi() = default;
    // Put the text (UTF-8) into the wait window's text line and show it.
    virtual void ShowWait(const std::string& utf8) = 0;
    virtual void CloseWait() = 0;
    // Handle all pending window messages (timers and other handlers keep
    // running, and may post requests of their own from here).
    virtual void ProcessEvents() = 0;
    // The caller's pause between two looks at the slot; 0 means none. The Qt
    // side keeps handling events during it.
    virtual void Pause(uint32_t ms) = 0;
    // Modal error box with OK (texts in UTF-8).
    virtual void ShowError(const std::string& text, const std::string& caption) = 0;
    // True once the acquisition thread is stopping or stopped (the main
    // window is closing): a wait for a free slot gives up without posting,
    // and a posted code that is still untaken is withdrawn.
    virtual bool AcquisitionStopped() { return false; }
};

struct PostArgs {
    int32_t Code = 0;
    // The CB to post to (index into CbList); negative: none, nothing is posted.
    int32_t Cb = -1;
    // Shown in the wait window while the request runs; none: no wait window.
    std::optional<std::string> WaitText;
    // 0, 100 or 250 ms, per caller.
    uint32_t PauseMs = 100;
    // The CB flag that reports failure of this request; nullptr: none.
    Flag TCbData::*ErrorFlag = nullptr;
    std::string ErrorText = "Ошибка выполнения команды";
    std::string ErrorCaption = "Внимание!";
    // CmdData bytes, UIR segment and frame-count bit of the request: the
    // thread puts them into the globals just before it runs the request.
    TRequestData Data;
    // The job of a kReqRunTask request; the poster keeps its own reference
    // and reads the job's results after the wait.
    std::shared_ptr<TRequestTask> Task;

    // Code with its own error flag (ErrorFlagFor) and the usual message.
    static PostArgs Standard(int32_t code, uint32_t pauseMs = 100);
    // The UIR configuration read of block `cb` that opening a UIR window starts.
    static PostArgs ReadUirConfig(int32_t cb);
};

enum class PostStatus {
    Done,       // the slot was cleared; no failure reported
    Failed,     // the slot was cleared and the error flag was set: message shown, flag cleared
    NotPosted,  // no CB named, no such CB, CB not served, or the thread is stopping: nothing happened
};

struct PostResult {
    PostStatus Status = PostStatus::NotPosted;
    int32_t Cb = -1;  // the CB posted to (or that was asked for)
};

// The flag a request reports its failure in; nullptr for codes that report
// nothing through the record.
Flag TCbData::*ErrorFlagFor(int32_t code);

PostResult PostRequestAndWait(TGlobalState& state, IWaitUi& ui, const PostArgs& args);

}  // namespace kestrel
