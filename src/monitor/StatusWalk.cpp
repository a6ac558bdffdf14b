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

TCbMark TCbAlarm::Mark() const
{
    if (Arc || Failure)
        return TCbMark::Alarm;
    return LinkLost ? TCbMark::LinkLost : TCbMark::None;
}

TCbAlarm CbAlarmOf(const TStatusPicture& pic)
{
    TCbAlarm a;
    a.Arc = pic.CbArc == 2;
    a.Failure = pic.CbFault == 2;
    for (const TUirTileState& u : pic.Uir) {
        for (int ch : u.Ch) {
            a.Arc = a.Arc || ch == 2;
            a.Failure = a.Failure || ch == 3;
        }
        a.Failure = a.Failure || u.Link == 2;
    }
    a.LinkLost = pic.CbPower == 2;
    return a;
}

TBlockStatus BlockStatus(TCbData& cb)
{
    TBlockStatus s;
    if (cb.FirstPollPending.load() != 0)
        return s;
    s.Walked = true;
    s.Picture = StatusWalk(cb);
    s.Alarm = CbAlarmOf(s.Picture);
    return s;
}

TCbMark CbMark(TCbData& cb) { return BlockStatus(cb).Alarm.Mark(); }

TStatusSweep StatusSweep(TGlobalState& state)
{
    TStatusSweep sweep;
    const int32_t count = state.CbCount.load();
    std::vector<TCbAlarm> alarms;
    for (int32_t i = 0; i < count; ++i) {
        TCbData* cb = state.Cb(i);
        if (!cb)
            break;
        sweep.Blocks.push_back(BlockStatus(*cb));
        const TBlockStatus& b = sweep.Blocks.back();
        sweep.AlarmRaised = sweep.AlarmRaised || b.Picture.AlarmRaised;
        alarms.push_back(b.Alarm);
    }
    sweep.Line = AlarmLine(alarms);
    return sweep;
}

namespace {
// "ЦБ 1, 3–5, 9": block numbers, runs of three or more as a range.
std::string BlockNumbers(const std::vector<int>& numbers)
{
    std::string out = "ЦБ ";
    for (size_t i = 0; i < numbers.size();) {
        size_t j = i;
        while (j + 1 < numbers.size() && numbers[j + 1] == numbers[j] + 1)
            ++j;
        if (i != 0)
            out += ", ";
        out += std::to_string(numbers[i]);
        if (j - i >= 2) {
            out += "–" + std::to_string(numbers[j]);
        } else if (j > i) {
            out += ", " + std::to_string(numbers[j]);
        }
        i = j + 1;
    }
    return out;
}
}  // namespace

std::string AlarmLine(const std::vector<TCbAlarm>& byBlock)
{
    std::vector<int> arc, failure, lost;
    for (size_t i = 0; i < byBlock.size(); ++i) {
        const int n = static_cast<int>(i) + 1;
        if (byBlock[i].Arc)
            arc.push_back(n);
        if (byBlock[i].Failure)
            failure.push_back(n);
        if (byBlock[i].LinkLost)
            lost.push_back(n);
    }
    std::string line;
    auto part = [&line](const char* what, const std::vector<int>& numbers) {
        if (numbers.empty())
            return;
        if (!line.empty())
            line += "; ";
        line += what;
        line += ": ";
        line += BlockNumbers(numbers);
    };
    part("Дуга", arc);
    part("Отказ", failure);
    part("Нет связи", lost);
    return line;
}

}  // namespace kestrel
