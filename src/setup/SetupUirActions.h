#pragma once
// What the UIR setup window does, without the window: the list of present
// UIRs of the block on screen, the value texts of the selected UIR, the
// channel dialog's preset and result, the copy to other UIRs, the factory
// configuration, the transfers through the request slot and the file save.
// The window supplies the view (list, texts, questions, messages, the access
// prompt) and the request hand-over.
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "monitor/PostRequest.h"
#include "state/Model.h"
#include "state/Prompt.h"

namespace kestrel {

// The window's own texts (UTF-8).
namespace setup_uir_text {
inline constexpr const char* kCaption = "  Настройки модулей УИР";
inline constexpr const char* kChCaption =
    "                                 Изменение настроек модуля УИР";
inline constexpr const char* kListCaption = "Список УИР";
inline constexpr const char* kEntryPrefix = "УИР №";
inline constexpr const char* kAttention = "Внимание!";
inline constexpr const char* kAttentionNoMark = "Внимание";
inline constexpr const char* kReadWait = "Ждите! Идет получение данных!";
inline constexpr const char* kWriteWait = "Ждите! Идет запись данных!";
inline constexpr const char* kCommandFailed = "Ошибка выполнения команды";
inline constexpr const char* kWriteQuestion = "Конфигурация УИР будет изменена! Выполнить?";
inline constexpr const char* kBadUir = "Неверно задан номер УИР";
inline constexpr const char* kCopyQuestion =
    "Изменение конфигурации УИР! Выбранным УИР будет отключен опрос! Продолжить?";
// A configuration file that could not be written (the block setup window
// says the same).
inline constexpr const char* kCannotSave = "Ошибка записи файла конфигурации!";
inline constexpr const char* kAllowed = "Разрешен";
inline constexpr const char* kNotAllowed = "Не разрешен";
inline constexpr const char* kYes = "Да";
inline constexpr const char* kNo = "Нет";
}  // namespace setup_uir_text

// Pause between two looks at the request slot.
inline constexpr uint32_t kSetupUirPauseMs = 100;

// What the window shows for one UIR.
struct TUirValueTexts {
    std::array<std::string, 3> Control{"Не разрешен", "Не разрешен", "Не разрешен"};
    std::array<std::string, 3> Function{"F0", "F0", "F0"};
    std::string Output = "Нет";
    std::string Poll = "Нет";
    bool operator==(const TUirValueTexts&) const = default;
};

// The channel dialog's boxes and selectors.
struct TUirEdit {
    std::array<bool, 3> Control{};
    std::array<int, 3> Function{};  // 0..3
    bool Output = false;
    bool StopPoll = true;       // "Запретить опрос УИР" checked
    bool StopPollVisible = false;
    bool operator==(const TUirEdit&) const = default;
};

// The texts a UIR record gives, over `previous` (a function number above 3
// keeps the previous text).
TUirValueTexts UirValueTexts(const TUirData& uir, const TUirValueTexts& previous);
// The channel dialog preset from the texts the window shows.
TUirEdit PresetFromTexts(const TUirValueTexts& t);
// The segment that holds UIR number `number` (1..43).
constexpr int UirSegmentOf(int number) { return number / 4; }
// The factory configuration of one UIR.
void SetFactoryUir(TUirData& uir);

class ISetupUirView {
public:
    virtual ~ISetupUirView() = default;
    // The list entries ("УИР №n") and the selected row (-1: none).
    virtual void ShowList(const std::vector<std::string>& entries, int selected) = 0;
    virtual void ShowValues(const TUirValueTexts& texts) = 0;
    // The access prompt with the main window off its stay-on-top style;
    // true when the operator may go on.
    virtual bool AccessGate() = 0;
    virtual bool AskYesNo(const std::string& text, const std::string& caption, PromptIcon icon) = 0;
    virtual void Message(const std::string& text, const std::string& caption, PromptIcon icon) = 0;
};

using TSetupPostFn = std::function<PostResult(const PostArgs&)>;

// Saves the configuration file (WriteConfigFile, then ReadConfigFile); a
// failed write is reported once with `Message`. true when written.
bool SaveConfigReported(TGlobalState& state, const std::function<void(const std::string&)>& message);

class TSetupUirActions {
public:
    TSetupUirActions(TGlobalState& state, ISetupUirView& view, TSetupPostFn post);

    // While set, the guarded actions ask for the access code first.
    bool NeedAccess = true;
    // While set, Sync keeps the block last shown (the service console's
    // segment write works on its own block, not the one on screen).
    bool HoldBlock = false;

    // Shows block `cb`: the list of its present UIRs, selecting the entry of
    // UIR index `uirIndex` when present (else the entry selected before when
    // still in range, else the first), then the values.
    void Show(int32_t cb, int uirIndex = -1);
    // Follow the block on screen (rebuilds the list when it changed).
    void Sync();
    void Select(int row);
    void Refresh();

    int32_t Cb() const { return cb_; }
    int SelectedRow() const { return selected_; }
    // UIR number of the selected entry, 0 when none.
    int SelectedNumber() const;
    const std::vector<int>& Numbers() const { return numbers_; }
    const TUirValueTexts& Texts() const { return texts_; }

    // "Получить конфигурацию УИР".
    void ReadConfig();
    // "Записать конфигурацию УИР": gate, question, segment of the selected
    // UIR, Fcb = 1, the write. An empty list refuses with a message.
    void WriteSegment();
    // "Изменить конфигурацию модуля УИР": gate; false (with the message)
    // when no entry is selected. On true `preset` is what the dialog shows
    // and the UIR it edits is fixed until ApplyEdit.
    bool BeginEdit(TUirEdit& preset);
    // The dialog's accepted result: into the record, the texts, the file.
    void ApplyEdit(const TUirEdit& edit);
    // "Применить к выбранным УИР": gate; false when nothing is selected.
    // `checked` gets the list dialog's initial ticks, `enabled` which boxes
    // can be ticked (present UIRs).
    bool BeginCopy(std::array<bool, kUirCount>& checked, std::array<bool, kUirCount>& enabled);
    // The list dialog's accepted ticks: copy and switch polling off, then
    // write and read back.
    void ApplyCopy(const std::array<bool, kUirCount>& checked);
    // "Установить".
    void FactoryConfig();
    // "Сохранить конфигурацию УИР в файл".
    void SaveFile();
    // Used by the copy and the factory configuration.
    void WriteAndReadBack(int32_t cb);

private:
    TCbData* Record(int32_t cb) { return state_.Cb(cb); }
    bool Gate();
    PostResult Post(int32_t cb, int32_t code, const char* waitText, const TRequestData& data = {});
    bool Save();

    TGlobalState& state_;
    ISetupUirView& view_;
    TSetupPostFn post_;
    int32_t cb_ = 0;
    std::vector<int> numbers_;
    int selected_ = -1;
    TUirValueTexts texts_;
    int32_t editCb_ = -1;
    int editNumber_ = 0;
    int32_t copyCb_ = -1;
    int copyNumber_ = 0;
};

}  // namespace kestrel
