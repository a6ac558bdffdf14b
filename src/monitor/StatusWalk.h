#pragma once
// The status tick's view of the central blocks: walks a CB's event list,
// marks the UIR alarm flags it finds, and works out what every tile should
// show; over all blocks, the mark of each block in the block list and the
// status-bar line naming the blocks in alarm. No windows here, so the rules
// can be checked without a screen (and the benchmark can use them).
#include <array>
#include <string>
#include <vector>

#include "state/Model.h"

namespace kestrel {

struct TUirTileState {
    int Ch[3] = {0, 0, 0};  // inputs 1..3: 0 not polled, 1 quiet, 2 arc, 3 sensor fault
    int Link = 0;           // 0 not polled, 1 polled, 2 UIR not answering
    bool OutputEnabled = false;
    friend bool operator==(const TUirTileState&, const TUirTileState&) = default;
};

struct TStatusPicture {
    std::array<TUirTileState, kUirCount> Uir{};
    int CbPower = 0;  // 0 disabled, 1 served, 2 link lost
    int CbArc = 1;    // 1 quiet, 2 alarm
    int CbFault = 1;
    // A flag went from clear to set on this walk: a minimised window comes back.
    bool AlarmRaised = false;
};

// The event walk and the tile states for CB `cb` (the status tick's steps
// after the first-poll check). Sets ChArc*, ChFault*, UirLinkLost and
// MtzActive as the list says; a reset (0xD2) at the head clears them.
TStatusPicture StatusWalk(TCbData& cb);

// The mark of a block's entry in the block list: red for an arc or a
// failure, magenta for a lost link, as the tiles use those colours.
enum class TCbMark { None, Alarm, LinkLost };

// What a block's tiles show as wrong.
struct TCbAlarm {
    bool Arc = false;       // a UIR input red, or the CB tile's arc indicator red
    bool Failure = false;   // the CB tile's fault indicator red, a sensor blinking, a UIR not answering
    bool LinkLost = false;  // the CB tile's link indicator red: the block does not answer
    // Alarm wins over a lost link: it needs the operator first.
    TCbMark Mark() const;
    friend bool operator==(const TCbAlarm&, const TCbAlarm&) = default;
};

TCbAlarm CbAlarmOf(const TStatusPicture& pic);

// The status tick of one block. Until the block's first poll has run nothing
// is drawn for it (Walked false): no walk, no flag touched, no mark.
struct TBlockStatus {
    bool Walked = false;
    TStatusPicture Picture;
    TCbAlarm Alarm;
};
TBlockStatus BlockStatus(TCbData& cb);

// The mark of one block now (walks its list, as the status tick does).
TCbMark CbMark(TCbData& cb);

// The status tick over every configured block (0..CbCount-1), so flags and
// marks are kept for the blocks not shown too.
struct TStatusSweep {
    std::vector<TBlockStatus> Blocks;  // by block index
    // A flag went from clear to set on some block: a minimised window comes back.
    bool AlarmRaised = false;
    // The status-bar line (UTF-8), see AlarmLine.
    std::string Line;
};
TStatusSweep StatusSweep(TGlobalState& state);

// One short line naming the blocks in alarm by number (index + 1), for
// example "Дуга: ЦБ 2; Отказ: ЦБ 1, 3–5; Нет связи: ЦБ 7"; runs of three or
// more numbers are written as a range. Empty when all is quiet.
std::string AlarmLine(const std::vector<TCbAlarm>& byBlock);

}  // namespace kestrel
