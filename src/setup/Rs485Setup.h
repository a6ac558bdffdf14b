#pragma once
// The service console's logic without widgets: its command list, the checks
// of the selections, the data of each command (Fcb, UirSegment, CmdData), and one
// command run on the port of the selected block through the dispatcher.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// Rs485StampedLine lives in the link library, where kestrel-console uses it too.
#include "link/StampedLine.h"
#include "protocol/Protocol.h"
#include "state/Model.h"

namespace kestrel {

constexpr int kRs485CommandCount = 17;
constexpr int kRs485SegmentCount = 12;

// The 17 command texts in list order (the index is the item number).
const std::vector<std::string>& Rs485CommandTexts();
// The function-table mode list and the UROV and MTZ lists.
const std::vector<std::string>& Rs485ModeTexts();
const std::vector<std::string>& Rs485UrovTexts();
const std::vector<std::string>& Rs485MtzTexts();

// The operator's selections; -1 means nothing selected.
struct TRs485Selection {
    int32_t Cb = -1;
    int Segment = -1;
    int Command = -1;
    int Mode = 0;
    int Urov = 9;  // "500"
    int Mtz = 0;   // "Не ждать"
    bool Fcb = false;
};

// The message for the first missing selection, empty when all are set.
std::string Rs485SelectionError(const TRs485Selection& s, int32_t cbCount);
constexpr const char* kRs485WarningCaption = "Внимание";

// Items that need a dialog before they run.
constexpr int kRs485ItemWriteClock = 8;
constexpr int kRs485ItemWriteUir = 9;

// A console command: its request code and the data it goes with.
struct TRs485Command {
    int32_t Code = 0;
    TRequestData Data;
};

// The command of an item: code, Fcb, UirSegment and CmdData (and for the
// single poll it clears the NewEventCount of the block at CurrentCb). Items
// 8 and 9 carry only Fcb and the segment: their data come from their
// dialogs. Nothing reaches the globals until Rs485Run.
TRs485Command Rs485StageCommand(TGlobalState& state, const TRs485Selection& s);

// The clock write's CmdData from the date/time dialog's list indices.
struct TRs485DateTime {
    int Second = 0, Minute = 0, Hour = 0;
    int DayIndex = 0, MonthIndex = 0, YearIndex = 0;  // year list starts at 2007
};
void Rs485StageClock(TRs485Command& command, const TRs485DateTime& t);

// The UIR list entry selected for a segment in the UIR setup window
// (-1: none, for segment 11).
int Rs485FirstUirEntry(int segment);

// Opens the port of the block, puts the command's data into the globals,
// runs its code through the dispatcher and closes the port. A failed open
// stops before anything is sent (its reason is already in the traffic log);
// the result is then the open's (or -6).
int Rs485Run(TCbProtocol& proto, TGlobalState& state, int32_t cb, const TRs485Command& command);
int Rs485Run(TCbProtocol& proto, TGlobalState& state, int32_t cb, int32_t code);

// The log as its file holds it: UTF-8 with a byte-order mark, every line
// (LF-separated in the window) ended by CR LF.
std::string Rs485LogFileBytes(const std::string& text);
// Writes the log through a temporary file and a rename; empty on success,
// else the message for the operator.
std::string Rs485SaveLog(const std::filesystem::path& path, const std::string& text);

}  // namespace kestrel
