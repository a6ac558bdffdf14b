#pragma once
// What the window "Сверка настроек ЦБ" does, without widgets: read the block
// on screen (through the acquisition thread, into scratch records), compare
// it with the block of the installation file, and on the operator's word
// either write the file's settings into the block and prove them by a
// read-back, or take the block's settings into the records and the file.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "check/SettingsCheck.h"
#include "monitor/PostRequest.h"
#include "state/Model.h"
#include "state/Prompt.h"

namespace kestrel {

class ISettingsCheckView {
public:
    virtual ~ISettingsCheckView() = default;
    // The access prompt; true on an accepted code.
    virtual bool AccessPrompt() = 0;
    virtual bool AskYesNo(const std::string& text, const std::string& caption, PromptIcon icon) = 0;
    virtual void Message(const std::string& text, const std::string& caption, PromptIcon icon) = 0;
};

struct TCheckOutcome {
    enum class Status {
        None,         // nothing read yet
        NotServed,    // the block is not served (or the program is closing): nothing was asked
        ReadFailed,   // the block did not answer
        FileFailed,   // the file does not read whole, or has no such block
        Equal,
        Differ,
    };
    Status What = Status::None;
    int32_t Cb = -1;
    std::string Problem;  // ReadFailed, FileFailed: what went wrong (UTF-8)
    TCbSettings FileCb;   // the file's block
    TDeviceSettings File, Block;
    std::string FileFingerprint, BlockFingerprint;
    std::vector<TSettingsDifference> Differences;  // file → block
};

using TCheckPostFn = std::function<PostResult(const PostArgs&)>;
// Writes the configuration file and reads it back: the result of the write.
using TCheckSaveFn = std::function<int()>;

class TSettingsCheckActions {
public:
    TSettingsCheckActions(TGlobalState& state, ISettingsCheckView& view, TCheckPostFn post, TCheckSaveFn save = {});

    // "ЦБ 2": the block as the block list numbers it.
    static std::string BlockName(int32_t cb);

    // Reads block cb and compares it with block cb of the file at
    // CfgFilePath. A block that holds what the file says loses its mark.
    const TCheckOutcome& Check(int32_t cb);
    const TCheckOutcome& Last() const { return last_; }

    // "Записать в ЦБ": access code, the file checked, the question, then the
    // restore with its read-back. true only when every value took; the
    // records then hold the file's settings and the mark is cleared.
    bool WriteToBlock();
    // "Принять из ЦБ": access code, the question, then the block's settings
    // into the records and the file, read back. true when the file holds
    // them; the mark is cleared.
    bool TakeFromBlock();

    // The texts of the last outcome, for the window and the tests.
    std::string SummaryText() const;

private:
    bool Gate();

    TGlobalState& state_;
    ISettingsCheckView& view_;
    TCheckPostFn post_;
    TCheckSaveFn save_;
    TCheckOutcome last_;
};

}  // namespace kestrel
