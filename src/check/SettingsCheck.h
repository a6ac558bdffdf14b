#pragma once
// The settings check: what a block holds against what the installation file
// says, in the operator's terms, with a short fingerprint of the settings.
// Plain values only; the link side is in BlockSettingsIo.h, the window's
// logic in SettingsCheckActions.h.
#include <cstdint>
#include <string>
#include <vector>

#include "state/Model.h"

namespace kestrel {

namespace check_text {
inline constexpr const char* kCaption = "Сверка настроек ЦБ";
inline constexpr const char* kAttention = "Внимание!";
inline constexpr const char* kWaitRead = "Ждите! Идет чтение настроек ЦБ!";
inline constexpr const char* kWaitWrite = "Ждите! Идет запись настроек в ЦБ!";
inline constexpr const char* kNoOutputs = "нет";
inline constexpr const char* kArrow = " → ";
}  // namespace check_text

// One setting that differs: "МТЗ-1, F2: выходы 1, 3 → 1, 4",
// "УИР 5, вход 2: F1 → F3". The left side is the file's (or the first
// file's), the right side the block's (or the second file's).
struct TSettingsDifference {
    enum class Kind { Table, Block, Uir };
    Kind What = Kind::Block;
    int Mode = -1;      // Table: 0..3
    int Function = -1;  // Table: 0..3
    int Uir = 0;        // Uir: 1..43
    std::string Text;   // UTF-8
    friend bool operator==(const TSettingsDifference&, const TSettingsDifference&) = default;
};

// In the order the block setup window shows them: the tables mode by mode,
// UROV and MTZ wait, then the UIRs by number.
std::vector<TSettingsDifference> CompareDeviceSettings(const TDeviceSettings& a, const TDeviceSettings& b);

// Six hex digits, equal on both sides exactly when the settings are (up to
// a check-sum collision, one in 16 million).
std::string SettingsFingerprint(const TDeviceSettings& d);

// "Без МТЗ / МТЗ-v", "МТЗ-1" .. "МТЗ-3".
std::string ModeName(int mode);
// Outputs 1..6 of a function byte: "1, 3, 6"; "нет" for none.
std::string OutputsText(uint8_t funcByte);
// The heading of a group of differences: "Таблицы функций", "ЦБ", "УИР 5".
std::string GroupHeading(const TSettingsDifference& d);

// Before a restore sends anything: every value the block would be given is
// one it can hold (function numbers 0..3, UROV 50..500 ms in steps of 50).
// Empty when the file's block may be written; otherwise one line a problem.
std::vector<std::string> RestoreProblems(const TCbSettings& s);

}  // namespace kestrel
