#pragma once
// What the central-block setup window and its dialogs do, without widgets:
// the access gate, the changes to the CB record with their file save, the
// requests posted to the block and the value rules of the dialogs (function
// bits, UROV items, day lists, packed BCD). The Qt windows supply the view
// (questions, messages, the access prompt) and the request hand-over.
#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "monitor/AcqLink.h"
#include "monitor/PostRequest.h"
#include "protocol/Protocol.h"
#include "state/Model.h"
#include "state/Prompt.h"

namespace kestrel {

namespace setup_cb_text {
inline constexpr const char* kCaption = "Настройка центрального блока (ЦБ)";
inline constexpr const char* kAttention = "Внимание!";
inline constexpr const char* kCommandFailed = "Ошибка выполнения команды";
inline constexpr const char* kWaitCbConfig = "Ждите! Идет получение конфигурации ЦБ!";
inline constexpr const char* kCbConfigFailed = "Ошибка получения конфигурации ЦБ";
inline constexpr const char* kWaitData = "Ждите! Идет получение данных!";
inline constexpr const char* kWaitWrite = "Ждите! Идет запись данных!";
inline constexpr const char* kWriteToCbFailed = "Ошибка записи данных в ЦБ";
inline constexpr const char* kReadFromCbFailed = "Ошибка получения данных от ЦБ";
inline constexpr const char* kSaveFailed = "Ошибка записи файла конфигурации!";
inline constexpr const char* kMtzQuestion = "МТЗ ЖДАТЬ?";
inline constexpr const char* kMtzCaption = "Разрешение или запрещение подтверждения МТЗ";
inline constexpr const char* kMtzWait = "Ждать";
inline constexpr const char* kMtzNoWait = "Не ждать";
inline constexpr const char* kAddrQuestion =
    "Внимание! Сетевой адрес центрального блока (ЦБ) будет изменен! Продолжить?";
inline constexpr const char* kSpeedQuestion =
    "Внимание! Скорость обмена центрального блока будет изменена! Продолжить?";
inline constexpr const char* kQuestionCaption = "Внимание";
}  // namespace setup_cb_text

// Request codes this window posts.
inline constexpr int32_t kReqReadClock = 8;
inline constexpr int32_t kReqWriteClock = 15;
inline constexpr int32_t kReqResetCb = 17;
inline constexpr int32_t kReqSetAddress = 18;
inline constexpr int32_t kReqSetSpeed = 19;
inline constexpr int32_t kReqStopClock = 22;
inline constexpr int32_t kReqWriteAllFuncTables = 103;

// Packed BCD (ToBcd, FromBcd) is the protocol's own.

// Function byte: bit p-1 is output port p (1..6); bits 6 and 7 are kept.
bool PortBit(uint8_t funcByte, int port);
uint8_t WithPortBit(uint8_t funcByte, int port, bool on);

// The address list: items "1".."32" then "255".
inline constexpr int kAddressItem255 = 32;
int AddressItem(uint8_t address);       // 0 and unknown addresses select "1"
uint8_t AddressForItem(int item);

// The UROV list: item i stands for 50 * (i + 1) ms; -1: not in the list.
int UrovItem(uint16_t ms);
uint16_t UrovMsForItem(int item);

// The date and time entry: year item i is 2007 + i (0..43); month item 0..11.
inline constexpr int kFirstYear = 2007;
inline constexpr int kYearItems = 44;
// Days of the month; February has 29 days in years divisible by 4. A year
// item outside the list counts as a common year.
int DaysInMonth(int monthItem, int yearItem);
// The day item kept after the list was rebuilt with `days` entries: the
// remembered one when it still exists, else the last day.
int KeptDayItem(int rememberedItem, int days);
// Year item for a calendar year; -1 when outside 2007..2050.
int YearItemFor(int year);

struct TClockChoice {
    int YearItem = -1;  // -1: none chosen
    int MonthItem = 0, DayItem = 0, Hour = 0, Minute = 0, Second = 0;
};
// CmdData 0..5 for the clock write: second, minute, hour, day, month,
// year - 2000, all packed BCD. false (nothing staged) without a valid year.
bool PackClock(TRequestData& data, const TClockChoice& c);

// The sixteen function bytes as the editor holds them: [k][m].
using TFuncBytes = std::array<std::array<uint8_t, 4>, 4>;
TFuncBytes CopyFuncTable(const TCbData& cb);
void StoreFuncTable(TCbData& cb, const TFuncBytes& t);

enum class MtzAnswer { Yes, No, Cancel };

class ISetupCbView {
public:
    virtual ~ISetupCbView() = default;
    // The access prompt of the main window, modal; true on an accepted code.
    virtual bool AccessPrompt() = 0;
    virtual MtzAnswer AskMtz() = 0;
    virtual bool AskYesNo(const std::string& text, const std::string& caption, PromptIcon icon) = 0;
    virtual void Message(const std::string& text, const std::string& caption, PromptIcon icon) = 0;
};

using TPostFn = std::function<PostResult(const PostArgs&)>;
// Writes the configuration file and reads it back; the result of the write.
using TSaveFn = std::function<int()>;

class TSetupCbActions {
public:
    TSetupCbActions(TGlobalState& state, ISetupCbView& view, TPostFn post, TSaveFn save = {});

    // True while every changing action asks for the access code first.
    bool NeedAccess = false;
    // The access gate; true when the action may go on.
    bool Gate();

    // Each action works on CB `cb` (the block the window shows), fixed when
    // it starts. Changes go into the record first, then into the file; a
    // failed file write is reported and the record keeps the new values.
    // true when the value changed.
    bool SetMtz(int32_t cb);
    bool SetEnabled(int32_t cb, bool on);
    bool SetAddressItem(int32_t cb, int item);
    bool SaveToFile(int32_t cb);

    PostResult ReadTables(int32_t cb);
    PostResult WriteTables(int32_t cb);
    PostResult ResetCb(int32_t cb);
    PostResult StopClock(int32_t cb);
    PostResult ReadClock(int32_t cb);
    PostResult WriteClock(int32_t cb, const TClockChoice& c);
    // "Установить": MtzWait 1, UROV 500 ms, all tables 0, written to the
    // block and read back; the file is not written. true when the record
    // took the values and the write did not fail (the tables were then read
    // back; a block that is not served takes no request): show them.
    bool FactoryConfig(int32_t cb);

    // The dialogs' confirmed results, taken over by the window's timer.
    void TakeFuncTables(int32_t cb, const TFuncBytes& t);
    void TakeUrov(int32_t cb, uint16_t ms);

    // The address and speed window: the question, then the request without
    // a wait window and without pauses. Record fields stay as they are.
    PostResult SetDeviceAddress(int32_t cb, int item);
    PostResult SetDeviceSpeed(int32_t cb, int speedItem);

    // Write the file and read it back; reports a failed write.
    bool Save();

private:
    PostResult Post(int32_t cb, int32_t code, uint32_t pauseMs, const char* waitText, const TRequestData& data = {});

    TGlobalState& state_;
    ISetupCbView& view_;
    TPostFn post_;
    TSaveFn save_;
};

}  // namespace kestrel
