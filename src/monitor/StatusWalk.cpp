#include "monitor/StatusWalk.h"

namespace kestrel {

namespace {
constexpr uint8_t kReset = 0xD2;

void ClearAlarms(TCbData& cb)
{
    for (auto& u : cb.Uir) {
        for (int n = 1; n <= 3; ++n) {
            u.ChArc(n) = 0;
            u.ChFault(n) = 0;
        }
    }
    for (auto& f : cb.UirLinkLost)
        f = 0;
    for (auto& f : cb.MtzActive)
        f = 0;
}

// Sets a flag that was clear; true when it did.
bool Raise(Flag& f)
{
    // Most events of a long list find their flag set already: a plain read
    // keeps the walk cheap.
    if (f.load() != 0)
        return false;
    uint8_t expected = 0;
    return f.compareExchange(expected, 1);
}
}  // namespace

TStatusPicture StatusWalk(TCbData& cb)
{
    TStatusPicture pic;
    bool arcSeen = false, mtzSeen = false, outputsSeen = false, faultSeen = false;
    bool resetAtHead = false;
    bool first = true;

    cb.Events.Walk([&](const TEventData& e) {
        if (e.Code == kReset) {
            resetAtHead = first;
            return false;  // a reset hides everything older than itself
        }
        first = false;
        const int k = e.UirAddress;
        const bool uirOk = k >= 1 && k <= kUirCount;
        switch (e.Code) {
        case 0xA1: case 0xA2: case 0xA3:
            if (uirOk) {
                arcSeen = true;
                if (Raise(cb.Uir[k - 1].ChArc(e.Code - 0xA0)))
                    pic.AlarmRaised = true;
            }
            break;
        case 0xB1: case 0xB2: case 0xB3:
            mtzSeen = true;
            if (cb.MtzActive[e.Code - 0xB1].load() == 0)
                cb.MtzActive[e.Code - 0xB1] = 1;
            break;
        case 0xC0:
            outputsSeen = true;
            break;
        case 0xE0:
            if (uirOk) {
                faultSeen = true;
                if (Raise(cb.UirLinkLost[k - 1]))
                    pic.AlarmRaised = true;
            }
            break;
        case 0xE1: case 0xE2: case 0xE3:
            if (uirOk) {
                faultSeen = true;
                if (Raise(cb.Uir[k - 1].ChFault(e.Code - 0xE0)))
                    pic.AlarmRaised = true;
            }
            break;
        default:
            break;
        }
        return true;
    });
    if (resetAtHead)
        ClearAlarms(cb);

    for (int i = 0; i < kUirCount; ++i) {
        const TUirData& u = cb.Uir[i];
        TUirTileState& t = pic.Uir[i];
        const bool polled = u.PollEnabled != 0;
        t.OutputEnabled = u.OutputEnabled != 0;
        t.Link = (cb.UirLinkLost[i] && faultSeen) ? 2 : (polled ? 1 : 0);
        for (int n = 1; n <= 3; ++n) {
            TUirData& um = cb.Uir[i];
            t.Ch[n - 1] = um.ChArc(n) ? 2 : um.ChFault(n) ? 3 : (polled ? 1 : 0);
        }
    }
    pic.CbPower = cb.LinkLost ? 2 : (cb.Enabled ? 1 : 0);
    pic.CbArc = ((arcSeen && mtzSeen) || outputsSeen) ? 2 : 1;
    pic.CbFault = faultSeen ? 2 : 1;
    return pic;
}

}  // namespace kestrel
