#pragma once
// The status tick's view of one central block: walks the CB's event list,
// marks the UIR alarm flags it finds, and works out what every tile should
// show. No windows here, so the rules can be checked without a screen.
#include <array>

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

}  // namespace kestrel
