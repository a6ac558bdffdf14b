#include "monitor/PostRequest.h"

#include "monitor/AcqLink.h"

namespace kestrel {

PostArgs PostArgs::Standard(int32_t code, uint32_t pauseMs)
{
    PostArgs a;
    a.Code = code;
    a.PauseMs = pauseMs;
    a.ErrorFlag = ErrorFlagFor(code);
    return a;
}

PostArgs PostArgs::ReadUirConfig(int32_t cb)
{
    PostArgs a = Standard(kReqReadUirConfig, 250);
    a.Cb = cb;
    a.WaitText = "Ждите! Идет получение конфигурации УИР!";
    a.ErrorText = "Ошибка получения конфигурации УИР";
    return a;
}

Flag TCbData::*ErrorFlagFor(int32_t code)
{
    switch (code) {
    case 101:
    case 107: return &TCbData::JournalError;
    case 102: return &TCbData::FuncReadError;
    case 103: return &TCbData::FuncWriteError;
    case 104: return &TCbData::UirReadError;
    case 16:
    case 105: return &TCbData::UirWriteError;
    case 17: return &TCbData::ResetError;
    case 18: return &TCbData::AddressError;
    case 19: return &TCbData::SpeedError;
    case 10: return &TCbData::ClearJournalError;
    case 8: return &TCbData::ClockReadError;
    case 15: return &TCbData::ClockWriteError;
    default: return nullptr;
    }
}

PostResult PostRequestAndWait(TGlobalState& state, IWaitUi& ui, const PostArgs& args)
{
    PostResult result;
    result.Cb = args.Cb;
    TCbData* cb = args.Cb >= 0 ? state.Cb(args.Cb) : nullptr;
    // A code in the slot of a block that is not served would never be taken;
    // 0 is no request at all.
    if (cb == nullptr || cb->Enabled.load() == 0 || args.Code == 0 || ui.AcquisitionStopped())
        return result;

    const bool showWait = args.WaitText.has_value();
    if (showWait)
        ui.ShowWait(*args.WaitText);

    // Wait for a free slot: another handler (running inside our own event
    // pumping, or an outer wait we were called from) may have a code pending.
    for (;;) {
        if (cb->Request.load() == 0) {
            if (args.ErrorFlag != nullptr)
                (cb->*args.ErrorFlag) = 0;
            // Staged before the code: the thread reads them after the code.
            cb->StageRequestData(args.Data);
            cb->StageRequestTask(args.Task);
            int32_t expected = 0;
            if (cb->Request.compareExchange(expected, args.Code))
                break;
        }
        ui.ProcessEvents();
        if (ui.AcquisitionStopped() || cb->Enabled.load() == 0) {
            if (showWait)
                ui.CloseWait();
            return result;
        }
        ui.Pause(args.PauseMs);
    }

    // Wait until the slot no longer holds our code: normally the thread
    // wrote 0; the shutdown or a request dropped under the console also end
    // the wait.
    for (;;) {
        ui.ProcessEvents();
        ui.Pause(args.PauseMs);
        if (cb->Request.load() != args.Code)
            break;
        if (ui.AcquisitionStopped()) {
            int32_t expected = args.Code;
            cb->Request.compareExchange(expected, 0);
            break;
        }
    }

    if (showWait)
        ui.CloseWait();

    result.Status = PostStatus::Done;
    if (args.ErrorFlag != nullptr && (cb->*args.ErrorFlag).exchange(0) != 0) {
        ui.ShowError(args.ErrorText, args.ErrorCaption);
        result.Status = PostStatus::Failed;
    }
    return result;
}

}  // namespace kestrel
