#include "check/SettingsCheckActions.h"

#include <memory>

#include "check/BlockSettingsIo.h"
#include "monitor/AcqLink.h"
#include "state/ConfigFile.h"
#include "state/FileIo.h"

namespace kestrel {

namespace {

std::string Lines(const std::vector<std::string>& lines, size_t most = 20)
{
    std::string s;
    for (size_t i = 0; i < lines.size() && i < most; ++i)
        s += "\n" + lines[i];
    if (lines.size() > most)
        s += "\n… и ещё " + std::to_string(lines.size() - most);
    return s;
}

std::vector<std::string> Texts(const std::vector<TSettingsDifference>& d)
{
    std::vector<std::string> out;
    for (const auto& x : d)
        out.push_back(x.Text);
    return out;
}

std::string Count(size_t n)
{
    const size_t t = n % 100, u = n % 10;
    const char* word = (t >= 11 && t <= 14) ? "значений" : u == 1 ? "значение" : (u >= 2 && u <= 4) ? "значения" : "значений";
    return std::to_string(n) + " " + word;
}

}  // namespace

TSettingsCheckActions::TSettingsCheckActions(TGlobalState& state, ISettingsCheckView& view, TCheckPostFn post,
                                             TCheckSaveFn save)
    : state_(state), view_(view), post_(std::move(post)), save_(std::move(save))
{
    if (!save_) {
        save_ = [this] {
            const int r = WriteConfigFile(state_);
            if (r >= 0)
                ReadConfigFile(state_);
            return r;
        };
    }
}

std::string TSettingsCheckActions::BlockName(int32_t cb) { return "ЦБ " + std::to_string(cb + 1); }

bool TSettingsCheckActions::Gate() { return view_.AccessPrompt(); }

const TCheckOutcome& TSettingsCheckActions::Check(int32_t cb)
{
    last_ = TCheckOutcome{};
    last_.Cb = cb;

    // The file first: a file that does not read sends nothing.
    std::vector<TCbSettings> file;
    const int rc = LoadConfigFile(NativePath(state_.CfgFilePath), file);
    if (rc != 0) {
        last_.What = TCheckOutcome::Status::FileFailed;
        last_.Problem = "Файл конфигурации не читается целиком (код " + std::to_string(rc) + ").";
        return last_;
    }
    if (cb < 0 || static_cast<size_t>(cb) >= file.size()) {
        last_.What = TCheckOutcome::Status::FileFailed;
        last_.Problem = "В файле конфигурации нет блока " + BlockName(cb) + ".";
        return last_;
    }
    last_.FileCb = file[static_cast<size_t>(cb)];
    last_.File = DeviceSettingsOf(last_.FileCb);
    last_.FileFingerprint = SettingsFingerprint(last_.File);

    auto task = std::make_shared<TReadSettingsTask>();
    PostArgs a;
    a.Code = kReqRunTask;
    a.Cb = cb;
    a.PauseMs = 10;  // the read is timed by the link; the wait adds no more than this
    a.WaitText = check_text::kWaitRead;
    a.Task = task;
    const PostResult posted = post_(a);
    if (posted.Status == PostStatus::NotPosted) {
        last_.What = TCheckOutcome::Status::NotServed;
        last_.Problem = "Блок " + BlockName(cb) + " не опрашивается: прочитать его настройки нельзя.";
        return last_;
    }
    if (task->Result < 0) {
        last_.What = TCheckOutcome::Status::ReadFailed;
        last_.Problem = BlockReadFailureText(task->Result);
        return last_;
    }
    last_.Block = task->Settings;
    last_.BlockFingerprint = SettingsFingerprint(last_.Block);
    last_.Differences = CompareDeviceSettings(last_.File, last_.Block);
    last_.What = last_.Differences.empty() ? TCheckOutcome::Status::Equal : TCheckOutcome::Status::Differ;
    if (last_.What == TCheckOutcome::Status::Equal) {
        if (TCbData* rec = state_.Cb(cb))
            rec->SettingsChangedOnSite = 0;  // nothing to decide
    }
    return last_;
}

std::string TSettingsCheckActions::SummaryText() const
{
    const std::string name = BlockName(last_.Cb);
    switch (last_.What) {
    case TCheckOutcome::Status::None: return "";
    case TCheckOutcome::Status::NotServed:
    case TCheckOutcome::Status::ReadFailed:
    case TCheckOutcome::Status::FileFailed: return last_.Problem;
    case TCheckOutcome::Status::Equal:
        return "Настройки " + name + " совпадают с файлом конфигурации. Отпечаток: " + last_.BlockFingerprint;
    case TCheckOutcome::Status::Differ:
        return "Настройки " + name + " отличаются от файла конфигурации: " + Count(last_.Differences.size()) +
               ". Отпечаток файла: " + last_.FileFingerprint + ", ЦБ: " + last_.BlockFingerprint;
    }
    return "";
}

bool TSettingsCheckActions::WriteToBlock()
{
    if (last_.What != TCheckOutcome::Status::Differ)
        return false;
    const int32_t cb = last_.Cb;
    const std::string name = BlockName(cb);
    if (!Gate())
        return false;
    const std::vector<std::string> problems = RestoreProblems(last_.FileCb);
    if (!problems.empty()) {
        view_.Message("Настройки " + name + " в файле конфигурации недопустимы, в ЦБ ничего не записано:" +
                          Lines(problems),
                      check_text::kAttention, PromptIcon::Error);
        return false;
    }
    if (!view_.AskYesNo("В " + name + " будут записаны настройки из файла конфигурации. Будут изменены значения (" +
                            std::to_string(last_.Differences.size()) + "):" + Lines(Texts(last_.Differences), 12) +
                            "\nПродолжить?",
                        check_text::kCaption, PromptIcon::Question))
        return false;

    auto task = std::make_shared<TRestoreSettingsTask>(last_.File);
    PostArgs a;
    a.Code = kReqRunTask;
    a.Cb = cb;
    a.PauseMs = 10;
    a.WaitText = check_text::kWaitWrite;
    a.Task = task;
    if (post_(a).Status == PostStatus::NotPosted) {
        view_.Message("Блок " + name + " не опрашивается: в ЦБ ничего не записано.", check_text::kAttention,
                      PromptIcon::Error);
        return false;
    }
    const TRestoreReport& r = task->Report;
    TCbData* rec = state_.Cb(cb);
    if (r.Result < 0) {
        if (r.ReadBackResult != kBlockNotRead && rec)
            ApplyDeviceSettings(*rec, last_.File);  // sent, not confirmed: the records show what was sent
        view_.Message(BlockReadFailureText(r.Result) + " Запись настроек в " + name + " не подтверждена.",
                      check_text::kAttention, PromptIcon::Error);
        return false;
    }
    if (r.Result != 0) {
        // The records show what the block now holds; the mark stays.
        if (rec)
            ApplyDeviceSettings(*rec, r.After);
        last_.Block = r.After;
        last_.BlockFingerprint = SettingsFingerprint(r.After);
        last_.Differences = CompareDeviceSettings(last_.File, r.After);
        std::vector<std::string> lines = Texts(r.NotTaken);
        for (const std::string& u : r.Unacknowledged)
            lines.insert(lines.begin(), "нет подтверждения записи: " + u);
        view_.Message(name + " принял не все значения. Не записаны:" + Lines(lines), check_text::kAttention,
                      PromptIcon::Error);
        return false;
    }
    if (rec) {
        ApplyDeviceSettings(*rec, last_.File);
        rec->SettingsChangedOnSite = 0;
    }
    last_.Block = r.After;
    last_.BlockFingerprint = SettingsFingerprint(r.After);
    last_.Differences.clear();
    last_.What = TCheckOutcome::Status::Equal;
    view_.Message("Настройки из файла записаны в " + name + " и подтверждены чтением. Отпечаток: " +
                      last_.BlockFingerprint,
                  check_text::kCaption, PromptIcon::Information);
    return true;
}

bool TSettingsCheckActions::TakeFromBlock()
{
    if (last_.What != TCheckOutcome::Status::Differ)
        return false;
    const int32_t cb = last_.Cb;
    const std::string name = BlockName(cb);
    TCbData* rec = state_.Cb(cb);
    if (!rec || !Gate())
        return false;
    if (!view_.AskYesNo("В файл конфигурации будут приняты настройки " + name + ". Будут изменены значения (" +
                            std::to_string(last_.Differences.size()) + "):" + Lines(Texts(last_.Differences), 12) +
                            "\nПродолжить?",
                        check_text::kCaption, PromptIcon::Question))
        return false;

    // The operator's word: the block's settings become the file's.
    ApplyDeviceSettings(*rec, last_.Block);
    rec->SettingsChangedOnSite = 0;
    const int written = save_();
    std::vector<TCbSettings> back;
    const bool readBack = written >= 0 && LoadConfigFile(NativePath(state_.CfgFilePath), back) == 0 &&
                          static_cast<size_t>(cb) < back.size() &&
                          DeviceSettingsOf(back[static_cast<size_t>(cb)]) == last_.Block;
    if (!readBack) {
        // The file does not hold them: the block stays marked.
        rec->SettingsChangedOnSite = 1;
        view_.Message(written < 0 ? "Ошибка записи файла конфигурации!"
                                  : "Файл конфигурации после записи не содержит настроек " + name + ".",
                      check_text::kAttention, PromptIcon::Error);
        return false;
    }
    last_.File = last_.Block;
    last_.FileCb = back[static_cast<size_t>(cb)];
    last_.FileFingerprint = SettingsFingerprint(last_.File);
    last_.Differences.clear();
    last_.What = TCheckOutcome::Status::Equal;
    view_.Message("Настройки " + name + " приняты в файл конфигурации. Отпечаток: " + last_.FileFingerprint,
                  check_text::kCaption, PromptIcon::Information);
    return true;
}

}  // namespace kestrel
