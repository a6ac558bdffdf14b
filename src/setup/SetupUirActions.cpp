#include "setup/SetupUirActions.h"

#include <algorithm>

#include "monitor/AcqLink.h"
#include "state/ConfigFile.h"

namespace kestrel {

namespace {

constexpr int32_t kReqWriteUirSegmentCode = 16;
constexpr int32_t kReqWriteUirConfigCode = 105;

const char* FunctionText(int f)
{
    static const char* const names[] = {"F0", "F1", "F2", "F3"};
    return names[f];
}

}  // namespace

TUirValueTexts UirValueTexts(const TUirData& uir, const TUirValueTexts& previous)
{
    using namespace setup_uir_text;
    TUirValueTexts t = previous;
    t.Output = uir.OutputEnabled ? kYes : kNo;
    t.Poll = uir.PollEnabled ? kYes : kNo;
    for (int i = 0; i < 3; ++i) {
        const TUirData& u = uir;
        const uint8_t control = i == 0 ? u.InputControl1.load() : i == 1 ? u.InputControl2.load() : u.InputControl3.load();
        const uint8_t fn = i == 0 ? u.InputFunction1.load() : i == 1 ? u.InputFunction2.load() : u.InputFunction3.load();
        t.Control[static_cast<size_t>(i)] = control ? kAllowed : kNotAllowed;
        if (fn <= 3)
            t.Function[static_cast<size_t>(i)] = FunctionText(fn);
    }
    return t;
}

TUirEdit PresetFromTexts(const TUirValueTexts& t)
{
    TUirEdit e;
    for (size_t i = 0; i < 3; ++i) {
        e.Control[i] = t.Control[i] == setup_uir_text::kAllowed;
        e.Function[i] = 0;
        for (int f = 0; f < 4; ++f)
            if (t.Function[i] == FunctionText(f))
                e.Function[i] = f;
        // An unmonitored input has no function choice.
        if (!e.Control[i])
            e.Function[i] = 0;
    }
    e.Output = t.Output == setup_uir_text::kYes;
    const bool polling = t.Poll == setup_uir_text::kYes;
    e.StopPoll = !polling;
    e.StopPollVisible = polling;
    return e;
}

void SetFactoryUir(TUirData& uir)
{
    uir.OutputEnabled = 0;
    uir.PollEnabled = 0;
    uir.InputControl1 = 1;
    uir.InputControl2 = 1;
    uir.InputControl3 = 1;
    uir.InputFunction1 = 0;
    uir.InputFunction2 = 1;
    uir.InputFunction3 = 2;
}

bool SaveConfigReported(TGlobalState& state, const std::function<void(const std::string&)>& message)
{
    if (WriteConfigFile(state) != 0) {
        // Reading back would only repeat the old file: the records stay as edited.
        message(setup_uir_text::kCannotSave);
        return false;
    }
    ReadConfigFile(state);
    return true;
}

TSetupUirActions::TSetupUirActions(TGlobalState& state, ISetupUirView& view, TSetupPostFn post)
    : state_(state), view_(view), post_(std::move(post))
{
}

void TSetupUirActions::Show(int32_t cb, int uirIndex)
{
    const int before = selected_;
    cb_ = cb;
    numbers_.clear();
    if (const TCbData* rec = Record(cb)) {
        for (int n = 1; n <= kUirCount; ++n)
            if (rec->Uir[static_cast<size_t>(n - 1)].Present)
                numbers_.push_back(n);
    }
    selected_ = -1;
    if (!numbers_.empty()) {
        const auto it = std::find(numbers_.begin(), numbers_.end(), uirIndex + 1);
        if (uirIndex >= 0 && it != numbers_.end())
            selected_ = static_cast<int>(it - numbers_.begin());
        else if (before >= 0 && before < static_cast<int>(numbers_.size()))
            selected_ = before;
        else
            selected_ = 0;
    }
    std::vector<std::string> entries;
    entries.reserve(numbers_.size());
    for (int n : numbers_)
        entries.push_back(setup_uir_text::kEntryPrefix + std::to_string(n));
    view_.ShowList(entries, selected_);
    Refresh();
}

void TSetupUirActions::Sync()
{
    if (HoldBlock)
        return;
    const int32_t shown = state_.ShownCb;
    if (shown != cb_)
        Show(shown, SelectedNumber() - 1);
}

void TSetupUirActions::Select(int row)
{
    selected_ = row >= 0 && row < static_cast<int>(numbers_.size()) ? row : -1;
    Refresh();
}

int TSetupUirActions::SelectedNumber() const
{
    return selected_ >= 0 && selected_ < static_cast<int>(numbers_.size()) ? numbers_[static_cast<size_t>(selected_)]
                                                                            : 0;
}

void TSetupUirActions::Refresh()
{
    const int n = SelectedNumber();
    const TCbData* rec = Record(cb_);
    if (n == 0 || !rec)
        return;
    texts_ = UirValueTexts(rec->Uir[static_cast<size_t>(n - 1)], texts_);
    view_.ShowValues(texts_);
}

bool TSetupUirActions::Gate() { return !NeedAccess || view_.AccessGate(); }

PostResult TSetupUirActions::Post(int32_t cb, int32_t code, const char* waitText, const TRequestData& data)
{
    PostArgs a = PostArgs::Standard(code, kSetupUirPauseMs);
    a.Cb = cb;
    a.Data = data;
    a.WaitText = waitText;
    return post_(a);
}

bool TSetupUirActions::Save()
{
    return SaveConfigReported(state_, [this](const std::string& text) {
        view_.Message(text, setup_uir_text::kAttention, PromptIcon::Error);
    });
}

void TSetupUirActions::ReadConfig()
{
    Sync();
    const int32_t cb = cb_;
    Post(cb, kReqReadUirConfig, setup_uir_text::kReadWait);
    if (cb_ == cb)
        Refresh();
}

void TSetupUirActions::WriteSegment()
{
    using namespace setup_uir_text;
    Sync();
    const int32_t cb = cb_;
    if (!Gate())
        return;
    const int number = SelectedNumber();
    if (number == 0) {
        // Nothing chosen: a write would send whatever segment was last set.
        view_.Message(kBadUir, kAttention, PromptIcon::Warning);
        return;
    }
    if (!view_.AskYesNo(kWriteQuestion, kAttention, PromptIcon::Warning))
        return;
    if (TCbData* rec = Record(cb))
        rec->UirWriteError = 0;
    TRequestData data;
    data.UirSegment = static_cast<int16_t>(UirSegmentOf(number));
    data.Fcb = 1;
    Post(cb, kReqWriteUirSegmentCode, kWriteWait, data);
}

bool TSetupUirActions::BeginEdit(TUirEdit& preset)
{
    Sync();
    if (!Gate())
        return false;
    if (SelectedNumber() == 0) {
        view_.Message(setup_uir_text::kBadUir, setup_uir_text::kAttention, PromptIcon::Warning);
        return false;
    }
    editCb_ = cb_;
    editNumber_ = SelectedNumber();
    preset = PresetFromTexts(texts_);
    return true;
}

void TSetupUirActions::ApplyEdit(const TUirEdit& e)
{
    TCbData* rec = Record(editCb_);
    if (!rec || editNumber_ < 1 || editNumber_ > kUirCount)
        return;
    TUirData& u = rec->Uir[static_cast<size_t>(editNumber_ - 1)];
    u.InputControl1 = e.Control[0] ? 1 : 0;
    u.InputControl2 = e.Control[1] ? 1 : 0;
    u.InputControl3 = e.Control[2] ? 1 : 0;
    u.InputFunction1 = static_cast<uint8_t>(std::clamp(e.Function[0], 0, 3));
    u.InputFunction2 = static_cast<uint8_t>(std::clamp(e.Function[1], 0, 3));
    u.InputFunction3 = static_cast<uint8_t>(std::clamp(e.Function[2], 0, 3));
    u.OutputEnabled = e.Output ? 1 : 0;
    u.PollEnabled = e.StopPoll ? 0 : 1;
    Refresh();
    Save();
}

bool TSetupUirActions::BeginCopy(std::array<bool, kUirCount>& checked, std::array<bool, kUirCount>& enabled)
{
    Sync();
    if (!Gate())
        return false;
    const int number = SelectedNumber();
    const TCbData* rec = Record(cb_);
    if (number == 0 || !rec)
        return false;
    copyCb_ = cb_;
    copyNumber_ = number;
    for (int i = 0; i < kUirCount; ++i) {
        const bool present = rec->Uir[static_cast<size_t>(i)].Present != 0;
        enabled[static_cast<size_t>(i)] = present;
        checked[static_cast<size_t>(i)] = present && i != number - 1;
    }
    return true;
}

void TSetupUirActions::ApplyCopy(const std::array<bool, kUirCount>& checked)
{
    TCbData* rec = Record(copyCb_);
    if (!rec || copyNumber_ < 1 || copyNumber_ > kUirCount)
        return;
    const TUirData& src = rec->Uir[static_cast<size_t>(copyNumber_ - 1)];
    const uint8_t out = src.OutputEnabled, c1 = src.InputControl1, c2 = src.InputControl2, c3 = src.InputControl3;
    const uint8_t f1 = src.InputFunction1, f2 = src.InputFunction2, f3 = src.InputFunction3;
    for (int i = 0; i < kUirCount; ++i) {
        if (!checked[static_cast<size_t>(i)] || i == copyNumber_ - 1)
            continue;
        TUirData& u = rec->Uir[static_cast<size_t>(i)];
        u.OutputEnabled = out;
        u.InputControl1 = c1;
        u.InputControl2 = c2;
        u.InputControl3 = c3;
        u.InputFunction1 = f1;
        u.InputFunction2 = f2;
        u.InputFunction3 = f3;
        u.PollEnabled = 0;
    }
    WriteAndReadBack(copyCb_);
}

void TSetupUirActions::FactoryConfig()
{
    Sync();
    const int32_t cb = cb_;
    if (!Gate())
        return;
    TCbData* rec = Record(cb);
    if (!rec)
        return;
    for (TUirData& u : rec->Uir)
        SetFactoryUir(u);
    WriteAndReadBack(cb);
}

void TSetupUirActions::WriteAndReadBack(int32_t cb)
{
    // A failed write is reported by the hand-over and skips the read. A
    // block that is not served takes no request: the change the records
    // already hold is shown and saved, as after a request that changed
    // nothing, instead of being lost at the next file read.
    if (Post(cb, kReqWriteUirConfigCode, setup_uir_text::kWriteWait).Status == PostStatus::Failed)
        return;
    if (Post(cb, kReqReadUirConfig, setup_uir_text::kReadWait).Status == PostStatus::Failed)
        return;
    if (cb_ == cb)
        Refresh();
    Save();
}

void TSetupUirActions::SaveFile()
{
    if (!Gate())
        return;
    Save();
}

}  // namespace kestrel
