#pragma once
// The shared in-memory model of the installation: the global state record,
// one TCbData per central block and 43 TUirData per central block.
//
// Threads: scalar fields are Atom<> so that the acquisition thread and the
// user-interface thread can hand them over without a data race. Texts are
// plain strings (Windows-1251 bytes); only the user-interface thread writes
// them, under RecordLock when whole records change (configuration read).
#include <array>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>

#include "state/Atom.h"
#include "state/Events.h"

namespace kestrel {

// Texts are kept as the file and the link carry them: Windows-1251 bytes.
using Text = std::string;

constexpr int kUirCount = 43;
constexpr int kMaxCbCount = 255;
constexpr int kCmdDataSize = 9;

using Flag = Atom<uint8_t>;

// What a posted request needs besides its code: the CmdData bytes it sends,
// the UIR segment and the frame-count bit. It travels with the request and
// reaches the globals only on the thread, just before the request runs, so
// nothing run in between (the write-all's own staging, another window's
// request, the console) can change what this request sends.
struct TRequestData {
    std::array<uint8_t, kCmdDataSize> CmdData{};
    uint8_t CmdDataCount = 0;  // leading bytes of CmdData staged; 0: none
    int16_t UirSegment = -1;   // -1: the global UirSegment as it stands
    int8_t Fcb = -1;           // -1: the global Fcb as it stands

    // CmdData bytes 0.. (at most kCmdDataSize; the rest are dropped).
    static TRequestData Bytes(std::initializer_list<uint8_t> bytes);
    friend bool operator==(const TRequestData&, const TRequestData&) = default;
};

// A job a window hands the acquisition thread with the request kReqRunTask
// (a whole settings read or restore). What it does is known only to its
// poster and to the link that runs it; the slot only carries it.
struct TRequestTask {
    virtual ~TRequestTask() = default;
};

// What a block itself keeps of its settings, in the terms it keeps them: the
// outputs of each function table (bits 0..5: outputs 1..6; bits 6 and 7 are
// no outputs and are not settings), the UROV time in its 50 ms units, the
// MTZ wait flag and, for each of the 43 UIR slots, polling, output,
// monitoring and function of each input. Two sides hold the same settings
// exactly when these compare equal.
struct TDeviceUir {
    uint8_t PollEnabled = 0, OutputEnabled = 0;
    std::array<uint8_t, 3> Control{};   // inputs 1..3, 0 or 1
    std::array<uint8_t, 3> Function{};  // inputs 1..3, as held (0..3 on a block)
    friend bool operator==(const TDeviceUir&, const TDeviceUir&) = default;
};

struct TDeviceSettings {
    static constexpr uint8_t kOutputBits = 0x3F;
    std::array<std::array<uint8_t, 4>, 4> FuncTable{};  // [k][m], outputs only
    uint16_t UrovUnits = 10;                            // UrovTimeMs / 50
    uint8_t MtzWait = 0;
    std::array<TDeviceUir, kUirCount> Uir{};
    friend bool operator==(const TDeviceSettings&, const TDeviceSettings&) = default;
};

struct TUirData {
    Flag Present{0};
    Atom<uint8_t> Number{1};
    Text Name;      // "УИР №1"
    Text ChName1;   // "Канал 1"
    Text ChName2;
    Text ChName3;
    Flag OutputEnabled{0};
    Flag PollEnabled{0};
    // Declared input 3 first, as the record always was; code addresses them by input number.
    Flag InputControl3{0};
    Flag InputControl2{0};
    Flag InputControl1{0};
    Atom<uint8_t> InputFunction3{0};
    Atom<uint8_t> InputFunction2{0};
    Atom<uint8_t> InputFunction1{0};
    Flag ChArc1{0}, ChArc2{0}, ChArc3{0};
    Flag ChFault1{0}, ChFault2{0}, ChFault3{0};

    TUirData();

    // By input number 1..3 (anything else: input 1).
    Flag& InputControl(int input);
    Atom<uint8_t>& InputFunction(int input);
    Flag& ChArc(int input);
    Flag& ChFault(int input);
};

struct TCbData {
    Text Name;       // "СБ №1"
    Text PowerName;  // "Питание"
    Text ArcName;    // "Дуга"
    Text EmerName;   // "Отказ блока"
    std::array<TUirData, kUirCount> Uir;
    TKestrelEvents Events;

    Atom<uint8_t> ClockDay{1};
    Atom<uint8_t> ClockMonth{1};
    Atom<uint8_t> ClockHour{0};
    Atom<uint8_t> ClockMinute{0};
    Atom<uint8_t> ClockSecond{0};
    Atom<uint32_t> ClockYear{2013};

    Flag MtzWait{0};
    Atom<uint16_t> UrovTimeMs{500};

    Flag JournalError{0};
    Flag FuncReadError{0};
    Flag FuncWriteError{0};
    Flag ResetError{0};
    Flag UirReadError{0};
    Flag UirWriteError{0};
    Flag AddressError{0};
    Flag SpeedError{0};
    Flag ClearJournalError{0};
    Flag ClockReadError{0};
    Flag ClockWriteError{0};

    Flag FuncTablesChanged{0};
    Flag UirCfgChanged{0};
    std::array<Flag, 3> MtzActive{};
    std::array<Flag, kUirCount> UirLinkLost{};
    Atom<int32_t> NewEventCount{0};
    Flag FirstPollPending{1};

    // FuncTable[k][m]: function byte Fk of mode m (0 no MTZ / MTZ-v, 1..3 MTZ-1..3).
    std::array<std::array<Atom<uint8_t>, 4>, 4> FuncTable{};
    Atom<uint8_t> OutputsState{0};

    Flag Enabled{1};
    Atom<uint32_t> Baud{9600};
    Atom<uint8_t> Address{1};
    Atom<uint8_t> PortNumber{1};
    Atom<int32_t> DataBits{8};
    Atom<int32_t> Parity{2};
    Atom<int32_t> StopBits{0};

    Atom<uint32_t> LastPortError{0};
    Atom<int32_t> FailCount{0};
    Flag LinkLost{0};
    Atom<int32_t> FailLimit{50};

    // Link counters for the service engineer, kept by the link layer.
    // Runtime only: never stored in the configuration file.
    Atom<uint32_t> FramesSent{0};       // request frames written
    Atom<uint32_t> AnswersReceived{0};  // valid answers (any profile that read one)
    Atom<uint32_t> ChecksumErrors{0};   // answers refused for their check sum (or a bad frame)
    Atom<uint32_t> Timeouts{0};         // no answer / too few bytes in time

    // 0 = nothing posted; otherwise a request code posted by a window.
    Atom<int32_t> Request{0};
    // The job of a kReqRunTask request, staged and taken like the data below.
    void StageRequestTask(std::shared_ptr<TRequestTask> task);
    std::shared_ptr<TRequestTask> TakeRequestTask();

    // What the configuration file holds of this block's own settings, as it
    // was last read or written (none before the first). Guarded: the
    // acquisition thread compares against it after a re-read.
    void SetFileSettings(const TDeviceSettings& s);
    bool FileSettings(TDeviceSettings& out) const;
    // The block was found holding other settings than the file after its
    // own menu was used. Set by the acquisition thread; cleared only when the
    // operator has compared and decided (or the block matches the file).
    Flag SettingsChangedOnSite{0};
    // The posted request's data (TRequestData), staged by the poster before
    // the code and taken by the thread after it. The thread's own event
    // cycle flips the global Fcb and its write-all uses CmdData as scratch,
    // so data staged in the globals by a window would not survive until the
    // request's turn.
    std::array<Atom<uint8_t>, kCmdDataSize> RequestCmdData{};
    Atom<uint8_t> RequestCmdDataCount{0};
    Atom<int16_t> RequestUirSegment{-1};
    Atom<int8_t> RequestFcb{-1};

    TCbData();
    TCbData(const TCbData&) = delete;
    TCbData& operator=(const TCbData&) = delete;

    // Only the poster calls Stage (before writing the code); only the
    // thread calls Take (after reading it), which leaves the slot's data empty.
    void StageRequestData(const TRequestData& d);
    TRequestData TakeRequestData();

    // Link bookkeeping.
    void CountFailure();
    void CountSuccess();

private:
    mutable std::mutex taskLock_;
    std::shared_ptr<TRequestTask> task_;
    mutable std::mutex fileSettingsLock_;
    TDeviceSettings fileSettings_;
    bool haveFileSettings_ = false;
};

// The persisted fields of one CB (and its UIRs) as plain values: what the
// configuration file carries. Used to stage a whole read before committing it.
struct TUirSettings {
    uint8_t Present = 0, Number = 1;
    Text Name, ChName1, ChName2, ChName3;
    uint8_t OutputEnabled = 0, PollEnabled = 0;
    uint8_t InputControl1 = 0, InputControl2 = 0, InputControl3 = 0;
    uint8_t InputFunction1 = 0, InputFunction2 = 0, InputFunction3 = 0;
    friend bool operator==(const TUirSettings&, const TUirSettings&) = default;
};

struct TCbSettings {
    Text Name, PowerName, ArcName, EmerName;
    uint8_t MtzWait = 0;
    uint16_t UrovTimeMs = 500;
    std::array<std::array<uint8_t, 4>, 4> FuncTable{};  // [k][m] as in TCbData
    uint8_t Enabled = 1;
    uint32_t Baud = 9600;
    uint8_t Address = 1, PortNumber = 1;
    int32_t DataBits = 8, Parity = 2, StopBits = 0;
    std::array<TUirSettings, kUirCount> Uir;
    friend bool operator==(const TCbSettings&, const TCbSettings&) = default;

    // The values of a freshly constructed record.
    static TCbSettings Defaults();
};

TCbSettings GetSettings(const TCbData& cb);
void ApplySettings(TCbData& cb, const TCbSettings& s);

// The block's own settings out of a record or the file's values.
TDeviceSettings DeviceSettingsOf(const TCbData& cb);
TDeviceSettings DeviceSettingsOf(const TCbSettings& s);
// Puts them into a record or file values; bits 6 and 7 of every function
// byte keep what they held, and the UROV time becomes units x 50 ms.
void ApplyDeviceSettings(TCbData& cb, const TDeviceSettings& d);
void ApplyDeviceSettings(TCbSettings& s, const TDeviceSettings& d);
// After an automatic re-read: flags the block when what it now holds is not
// what the file holds. true when it flagged it (it never clears the flag).
bool FlagWhenChangedOnSite(TCbData& cb);

// The global state record. One instance for the program; tests make their own.
class TGlobalState {
public:
    TGlobalState();
    TGlobalState(const TGlobalState&) = delete;
    TGlobalState& operator=(const TGlobalState&) = delete;

    // CbList: records are allocated once and keep their address for the whole
    // run; growing the table only fills further slots (never moves a record),
    // so the acquisition thread can hold a record across a visit.
    // The record at index, or nullptr when index is outside 0..CbCount-1.
    TCbData* Cb(int32_t index);
    const TCbData* Cb(int32_t index) const;
    // The record at CurrentCb (nullptr when none). CurrentCb belongs to the
    // acquisition thread: it moves after every visit.
    TCbData* Current() { return Cb(CurrentCb); }
    // The record the operator looks at (nullptr when none). Windows show and
    // post to this one, never to CurrentCb.
    TCbData* Shown() { return Cb(ShownCb); }
    const TCbData* Shown() const { return Cb(ShownCb); }
    // Bring ShownCb back into 0..CbCount-1 after the count shrank.
    void ClampShownCb();
    // Allocate records up to `count` (at most kMaxCbCount). Call under RecordLock.
    bool EnsureAllocated(int32_t count);
    int32_t Allocated() const { return allocated_; }
    // A request's data into Fcb, UirSegment and CmdData, just before the
    // request runs (the acquisition thread, the console's worker).
    void ApplyRequestData(const TRequestData& d);
    // Drop every record (shutdown).
    void ReleaseAll();
    // The start-up's own marking: every UIR of the current CB present and numbered.
    void MarkAllUirsPresent();

    Atom<int32_t> CbCount{1};
    Atom<int32_t> CurrentCb{0};
    Atom<int32_t> ShownCb{0};
    int32_t TileMinWidth = 115;
    int32_t TileGapX = 5;
    int32_t TileGapY = 5;
    Text AccessCode;             // set to the master value at start-up
    const Text MasterCode;       // "7ujm"
    Flag ConsoleOpen{0};
    Atom<uint8_t> Fcb{0};
    Atom<uint8_t> UirSegment{0};
    std::array<Atom<uint8_t>, kCmdDataSize> CmdData{};
    Text RegKeyCfg, RegKeyPassword;
    // UTF-8, whole as the operator chose it (not Windows-1251: a path may
    // hold any character the file system does).
    std::string CfgFilePath;

    // Held for whole-record changes (a configuration read commits under it)
    // and by the acquisition thread while it takes a CB's link settings.
    mutable std::recursive_mutex RecordLock;

private:
    std::array<std::unique_ptr<TCbData>, kMaxCbCount> list_;
    Atom<int32_t> allocated_{0};
};

}  // namespace kestrel
