#pragma once
// One simulated central block: what it stores, how it answers each request
// and what happens inside it when the installation does something (an arc,
// an MTZ signal, the settings menu ...). The wire timing is not here: the
// block turns a complete request into an answer plan; the bus (SimWire)
// puts the plan on the line.
//
// Every public method takes the mutex handed in at construction, so tests
// and the stdin console may drive a block while the PC side talks to it.
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "SimEvent.h"
#include "SimFrame.h"
#include "link/SerialDevice.h"
#include "state/Clock.h"

namespace kestrel::sim {

// Requests as the block tells them apart.
enum class SimCmd : int {
    ResetLink,
    ResetFcb,
    Poll,
    LinkStatus,
    ReadJournal,
    ClearJournal,
    ReadTable,
    WriteTable,
    ReadClock,
    WriteClock,
    StopClock,
    ReadSegment,
    WriteSegment,
    ResetCb,
    SetAddress,
    SetSpeed,
    Unknown,
    Count_
};
constexpr int kSimCmdCount = static_cast<int>(SimCmd::Count_);
const char* SimCmdName(SimCmd c);
std::optional<SimCmd> SimCmdFromName(std::string_view name);
SimCmd ClassifyRequest(const TRequest& r);

enum class FaultKind {
    NoAnswer,      // request carried out, answer lost
    Ignore,        // request not even heard
    BadSum,        // answer with a wrong check sum (0xE5 becomes a short frame with a bad sum)
    BadStart,      // first byte of the answer altered
    Late,          // answer starts Param ms later
    Split,         // answer sent in two halves, Param ms apart
    EveryNth,      // only every Param-th matching request is heard
    Garbage,       // Param garbage bytes before the answer
    GarbageAfter,  // Param garbage bytes after the answer (they reach the next exchange)
    Flood,         // every poll finds another event (an outputs event of a chattering relay)
};
const char* FaultKindName(FaultKind k);
std::optional<FaultKind> FaultKindFromName(std::string_view name);

struct TFaultRule {
    FaultKind Kind = FaultKind::NoAnswer;
    std::optional<SimCmd> Cmd;  // empty: every request
    uint32_t Param = 0;
    int32_t Remaining = -1;     // applications left; -1 for ever
    uint32_t Seen = 0;          // EveryNth: matching requests so far
};

// One piece of an answer: sent Gap ms after the previous piece ended (for
// the first piece: after the turnaround).
struct TAnswerChunk {
    uint32_t GapUs = 0;
    std::vector<uint8_t> Bytes;
};

struct TAnswerPlan {
    bool Addressed = false;     // the frame was for this block
    SimCmd Cmd = SimCmd::Unknown;
    bool Repeated = false;      // resent by the frame-count rule
    LineSettings Line;          // the line the answer goes out at
    std::vector<TAnswerChunk> Chunks;
    bool Empty() const;
    std::vector<uint8_t> AllBytes() const;
};

struct TSimCbOptions {
    uint8_t Address = 1;
    LineSettings Line{9600, 8, 2, 0};
    bool JournalNewestFirst = true;
    size_t JournalCapacity = 1024;
    // Calendar at start, ms since 2000; the block's clock runs from there.
    int64_t ClockStartMs2000 = 0;
};

// The two bytes of a UIR slot as they travel.
struct TUirSlot {
    uint8_t A = 0;
    uint8_t B = 0;
    bool operator==(const TUirSlot&) const = default;
};

class TSimCb {
public:
    static constexpr int kUirCount = 43;
    static constexpr int kSlots = 44;  // slot n holds UIR n; slot 0 none

    TSimCb(IClock& clock, std::recursive_mutex& mu, const TSimCbOptions& opt);

    // --- device side ---
    // A complete, valid request frame: what the block does and answers.
    TAnswerPlan Handle(const TRequest& req);
    uint8_t Address() const;
    LineSettings Line() const;

    // --- the installation ---
    // Queue an event for the poll and write it into the journal, with its
    // effect on the block. Time 0 stamps it with the block's clock.
    void RaiseEvent(TSimEvent e);
    // Arc on an input (1..3) of a UIR: the arc event, then the MTZ event
    // (mtz 1..3; 0 for none) and the outputs the function tables give for
    // the input's function in that MTZ mode. False (nothing happens) when the
    // block does not poll that UIR.
    // outputsOverride >= 0: the outputs reported instead of what the tables give.
    bool RaiseArc(int uir, int input, int intervalMs = 3, int mtz = 1, int outputsOverride = -1);
    // Sensor on an input stopped answering; false when the input is not
    // monitored or the UIR not polled.
    bool RaiseSensorFault(int uir, int input);
    bool RaiseUirLost(int uir);
    void RaiseMtz(int n);
    void RaiseOutputs(uint8_t outputs);
    // Protection reset (0xD2): alarms cleared, outputs released.
    void RaiseReset();
    void PowerOff();
    void PowerOn();
    void EnterMenu();
    void LeaveMenu();
    bool InMenu() const;

    // --- journal and queue ---
    // Adds records older than everything in the journal (at the far end).
    void AddJournalRecord(const TSimEvent& e);
    // N synthetic records, one minute apart, ending an hour before now.
    void FillJournal(int n);
    void ClearJournalRecords();
    // Journal in the order the block sends it.
    std::vector<TSimEvent> Journal() const;
    size_t PendingEvents() const;
    void ClearPendingEvents();
    void SetJournalNewestFirst(bool v);

    // --- settings (function tables as they travel: complemented) ---
    uint8_t TableWire(int mode, int func) const;
    void SetTableWire(int mode, int func, uint8_t b);
    uint8_t UrovUnits() const;   // 50 ms units
    void SetUrovUnits(uint8_t v);
    uint8_t MtzWaitByte() const;
    void SetMtzWaitByte(uint8_t v);
    uint8_t Outputs() const;
    void SetOutputs(uint8_t v);
    TUirSlot UirSlot(int slot) const;
    void SetUirSlot(int slot, TUirSlot s);
    // Convenience: A from functions and flags, B from the monitored inputs.
    void ConfigureUir(int uir, bool poll, bool output, int f1, int f2, int f3, bool c1, bool c2, bool c3);

    // --- clock ---
    TSimTime ClockNow() const;
    int64_t ClockNowMs2000() const;
    void SetClock(const TSimTime& t);
    bool ClockRunning() const;
    void SetClockRunning(bool run);

    // --- link ---
    void SetAddress(uint8_t a);
    void SetLine(const LineSettings& s);
    // A silent block hears nothing (power gone, cable cut).
    void SetSilent(bool v);
    bool Silent() const;

    // --- faults ---
    void Inject(const TFaultRule& r);
    void ClearFaults();
    void ClearFaults(SimCmd cmd);
    std::vector<TFaultRule> Faults() const;

    // --- what happened ---
    uint32_t RequestCount(SimCmd c) const;
    uint32_t TotalRequests() const;
    // Answers resent because the PC repeated a frame with the same FCB.
    uint32_t RepeatedAnswers() const;
    void ResetCounts();
    // Every valid frame addressed to this block, in order.
    std::vector<TRequest> Requests() const;
    void SetOnEvent(std::function<void(const TSimEvent&)> f);

    std::string Status() const;

private:
    int64_t NowMs2000() const;
    TSimEvent Stamp(TSimEvent e) const;
    void RecordEvent(const TSimEvent& e);  // queue + journal + effect
    void ApplyEffect(const TSimEvent& e);
    std::vector<uint8_t> Execute(SimCmd cmd, const TRequest& req, LineSettings& lineAfter);
    std::vector<uint8_t> AnswerData(uint8_t ci, const std::vector<uint8_t>& data) const;
    bool UirPolled(int uir) const;
    uint8_t OutputsFor(int uir, int input, int mode) const;
    bool HeardAfterFaults(SimCmd cmd);
    void ShapeAnswer(SimCmd cmd, TAnswerPlan& plan);
    bool Matches(const TFaultRule& r, SimCmd cmd) const;
    // A flooding block raises one more event when a poll finds none queued.
    void FloodIfEmpty();

    IClock& clock_;
    std::recursive_mutex& mu_;
    TSimCbOptions opt_;

    // frame-count rule
    bool haveLast_ = false;
    std::vector<uint8_t> lastRequest_;
    std::vector<uint8_t> lastAnswer_;

    std::deque<TSimEvent> journal_;  // newest at the front
    size_t journalCursor_ = 0;
    std::deque<TSimEvent> queue_;

    std::array<std::array<uint8_t, 4>, 4> tables_{};  // [mode][func], wire form
    uint8_t urovUnits_ = 4;
    uint8_t mtzWait_ = 0;
    uint8_t outputs_ = 0;
    std::array<TUirSlot, kSlots> uirs_{};
    std::array<bool, 3> mtzActive_{};
    bool inMenu_ = false;

    int64_t clockBaseMs_ = 0;   // calendar at clockRefMs_
    uint64_t clockRefMs_ = 0;   // bus clock then
    bool clockRunning_ = true;

    bool silent_ = false;
    std::vector<TFaultRule> faults_;
    uint32_t garbageSeed_ = 0x2545F491u;

    std::array<uint32_t, kSimCmdCount> counts_{};
    uint32_t repeated_ = 0;
    std::vector<TRequest> requests_;
    std::function<void(const TSimEvent&)> onEvent_;
};

}  // namespace kestrel::sim
