#pragma once
// Every central-block command (request codes 1..23), the composite sequences
// (101..107), the event decoding and texts, and the dispatcher that the
// acquisition thread and the service console share.
//
// Every operation takes the index of the CB it talks to; failure flags,
// decoded data and link bookkeeping go to that record. Operations return 0
// (or a positive data indication) on success and a negative code on failure.
#include <functional>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "link/ComPort.h"
#include "link/Link.h"
#include "state/Clock.h"
#include "state/Events.h"
#include "state/Model.h"
#include "state/UiHooks.h"

namespace kestrel {

enum TRequestCode : int32_t {
    ReqResetLink = 1,
    ReqReadJournalRecord = 2,
    ReqReadFuncTableNoMtz = 3,
    ReqReadFuncTableMtz1 = 4,
    ReqReadFuncTableMtz2 = 5,
    ReqReadFuncTableMtz3 = 6,
    ReqResetFcb = 7,
    ReqReadClock = 8,
    ReqReadUirSegment = 9,
    ReqClearJournal = 10,
    ReqWriteFuncTableNoMtz = 11,
    ReqWriteFuncTableMtz1 = 12,
    ReqWriteFuncTableMtz2 = 13,
    ReqWriteFuncTableMtz3 = 14,
    ReqWriteClock = 15,
    ReqWriteUirSegment = 16,
    ReqResetCb = 17,
    ReqSetAddress = 18,
    ReqSetSpeed = 19,
    ReqLinkStatus = 20,
    ReqPollEvent = 21,
    ReqStopClock = 22,
    ReqReadJournalRecord2 = 23,
    ReqFetchJournal = 101,
    ReqReadAllFuncTables = 102,
    ReqWriteAllFuncTables = 103,
    ReqReadUirConfig = 104,
    ReqWriteUirConfig = 105,
    ReqEventCycle = 106,
    ReqFetchJournal2 = 107,
};

// One event cycle takes at most this many events, as a journal fetch takes
// at most 255 records: a block that answers every poll with another event
// cannot hold the caller in one cycle. The rest wait for the next cycle.
constexpr int kMaxEventsPerCycle = 255;

class TCbProtocol {
public:
    TCbProtocol(TGlobalState& state, TComPort& port, ISleeper& sleeper, IUiHooks& hooks);

    // Port for a CB: 0 open; -1 .. -6 a setting or the open failed; -7 exception;
    // -8 no such CB. Close: 0; -2 no such CB; -1 exception.
    int OpenPortForCb(int32_t cb);
    int ClosePortForCb(int32_t cb);

    // Single commands (one exchange each). The methods carry the names of
    // their request codes; inside the class kestrel::ReqX names the code.
    int ReqResetLink(int32_t cb);                                  // 1
    int ReqReadJournalRecord(int32_t cb, bool fcb);                // 2
    int ReqReadFuncTableNoMtz(int32_t cb, bool fcb);               // 3
    int ReqReadFuncTableMtz1(int32_t cb, bool fcb);                // 4
    int ReqReadFuncTableMtz2(int32_t cb, bool fcb);                // 5
    int ReqReadFuncTableMtz3(int32_t cb, bool fcb);                // 6
    int ReqReadFuncTable(int32_t cb, int mode, bool fcb);          // 3..6 by mode 0..3
    int ReqResetFcb(int32_t cb);                                   // 7
    int ReqReadClock(int32_t cb, bool fcb);                        // 8
    int ReqReadUirSegment(int32_t cb, int segment, bool fcb);      // 9
    int ReqClearJournal(int32_t cb);                               // 10
    // 11..14: data from CmdData[0..3] (MTZ-3 also [4], [5]); C from Fcb.
    int ReqWriteFuncTableNoMtz(int32_t cb);                        // 11
    int ReqWriteFuncTableMtz1(int32_t cb);                         // 12
    int ReqWriteFuncTableMtz2(int32_t cb);                         // 13
    int ReqWriteFuncTableMtz3(int32_t cb);                         // 14
    int ReqWriteFuncTable(int32_t cb, int mode);                   // 11..14 by mode 0..3
    int ReqWriteClock(int32_t cb);                                 // 15, CmdData[0..5], C from Fcb
    int ReqWriteUirSegment(int32_t cb, int segment, bool fcb);     // 16, packs CmdData[1..8] itself
    int ReqResetCb(int32_t cb);                                    // 17, C from Fcb
    int ReqSetAddress(int32_t cb);                                 // 18, CmdData[0], C from Fcb
    int ReqSetSpeed(int32_t cb);                                   // 19, CmdData[0], C from Fcb
    int ReqLinkStatus(int32_t cb, bool fcb);                       // 20
    int ReqPollEvent(int32_t cb, bool fcb);                        // 21
    int ReqStopClock(int32_t cb);                                  // 22
    int ReqReadJournalRecord2(int32_t cb, bool fcb);               // 23

    // Composite sequences.
    int ReqFetchJournal(int32_t cb);                               // 101
    int ReqReadAllFuncTables(int32_t cb, bool fcb);                // 102
    int ReqWriteAllFuncTables(int32_t cb);                         // 103
    int ReqReadUirConfig(int32_t cb, bool fcb);                    // 104
    int ReqWriteUirConfig(int32_t cb, bool fcb);                   // 105
    int ReqEventCycle(int32_t cb);                                 // 106
    // The event cycle with a stop request: `stopRequested` is asked before
    // every exchange, and when it answers true the cycle ends there (result:
    // the last poll's, 0 when no poll was made). The acquisition thread
    // hands in its shutdown, the console its interrupt.
    int ReqEventCycle(int32_t cb, const std::function<bool()>& stopRequested);
    int ReqFetchJournal2(int32_t cb);                              // 107

    static bool IsKnownCode(int32_t code);
    // Runs the command or composite of `code` with the current Fcb and
    // UirSegment, as the acquisition thread and the console's dispatcher do;
    // 0 for a code that names nothing. Opens no port.
    int Dispatch(int32_t cb, int32_t code);

    // Stages CmdData[1..8] from the UIR records of the CB for a segment
    // (segments above 10 pack nothing; slot 0 packs as 0).
    void PackUirSegment(int32_t cb, int segment);
    void PackUirSegmentFrom(const TCbData& from, int segment);

    // The same exchanges with block cb (its address, link bookkeeping and
    // failure flags), but the data decoded into, or packed from, another
    // record: a scratch copy that the windows never show, so a comparison
    // reads the block without touching the model.
    int ReadFuncTableInto(int32_t cb, int mode, bool fcb, TCbData& into);
    int ReadUirSegmentInto(int32_t cb, int segment, bool fcb, TCbData& into);
    int WriteUirSegmentFrom(int32_t cb, int segment, bool fcb, const TCbData& from);
    // Up to `tries` calls, `pauseMs` after each failed one; the first result
    // of 0 or more ends them (the composites' retry rule).
    int TryUpTo(int tries, uint32_t pauseMs, const std::function<int()>& call);

    // The events the last ReqEventCycle received, in the order they arrived.
    const std::vector<TEventData>& LastCycleEvents() const { return cycleEvents_; }

    TLink& Link() { return link_; }

private:
    int ReadJournalRecordImpl(int32_t cb, bool fcb, bool second);
    int FetchJournalImpl(int32_t cb, bool second);
    // Applies an event's effect on the CB's model; true when it asks to
    // restore the main window.
    bool ApplyEffect(TCbData& rec, const TEventData& e);
    void LogEvent(const TEventData& e);

    TGlobalState& state_;
    TLink link_;
    std::vector<TEventData> cycleEvents_;
    bool inCycle_ = false;
};

// Event messages.
// Decodes the data bytes of an event message (frame bytes 7..18: the bytes
// after C, A and CI). false when fewer than 12 bytes are given.
bool DecodeEventData(const uint8_t* data, size_t len, TEventData& out);
// Decodes a whole event frame (0x68 L L 0x68 C A CI ...). false when it is
// shorter than 19 bytes.
bool DecodeEventMessage(const uint8_t* frame, size_t len, TEventData& out);

// Texts, UTF-8.
std::string EventListText(const TEventData& e);
std::string EventListDate(const TEventData& e);
// The journal window's code column: upper-case hex, at least two digits.
std::string EventCodeText(uint8_t code);
// The console display of a journal record (differs from the list text for
// 0xC0, 0xD3 and 0xD4; the date has a two-digit year).
std::string EventConsoleText(const TEventData& e);
std::string EventConsoleDate(const TEventData& e);
// The traffic-log lines of a received event.
std::vector<std::string> EventLogLines(const TEventData& e);
// "Январь" .. "Декабрь"; empty for any other value.
std::string MonthName(int month);

uint8_t ToBcd(int v);
int FromBcd(uint8_t b);

}  // namespace kestrel
