#include "setup/CfgActions.h"

#include <algorithm>

namespace kestrel {

int PortItemOf(uint8_t portNumber)
{
    if (portNumber == 0)
        return 0;
    return std::min<int>(portNumber, cfg_text::kPortItems) - 1;
}

int SpeedItemOf(uint32_t baud) { return baud == 19200 ? 1 : 0; }

uint32_t BaudOfSpeedItem(int item) { return item == 1 ? 19200 : 9600; }

TCfgActions::TCfgActions(TGlobalState& state, std::function<bool()> save, std::function<void()> relayout)
    : state_(state), save_(std::move(save)), relayout_(std::move(relayout))
{
    // As the window is designed: every box ticked and enabled.
    Checked.fill(true);
    Enabled.fill(true);
}

void TCfgActions::Rule(int index)
{
    const size_t i = static_cast<size_t>(index);
    if (Checked[i]) {
        if (i + 1 < Checked.size())
            Enabled[i + 1] = true;
        return;
    }
    for (size_t k = i + 1; k < Checked.size(); ++k) {
        Checked[k] = false;
        Enabled[k] = false;
    }
}

void TCfgActions::SetTick(int index, bool on)
{
    if (index < 0 || index >= kUirCount || Checked[static_cast<size_t>(index)] == on)
        return;
    Checked[static_cast<size_t>(index)] = on;
    Rule(index);
}

void TCfgActions::Prepare(int32_t cb)
{
    cb_ = cb;
    if (const TCbData* rec = Record()) {
        for (int i = 0; i < kUirCount; ++i)
            SetTick(i, rec->Uir[static_cast<size_t>(i)].Present != 0);
        PortItem = PortItemOf(rec->PortNumber);
        SpeedItem = SpeedItemOf(rec->Baud);
    }
    // Filling the boxes is no operator's change.
    UirTicksChanged = false;
    CfgApplied = false;
    ApplyEnabled = false;
}

void TCfgActions::Click(int index, bool on)
{
    if (index < 0 || index >= kUirCount)
        return;
    Checked[static_cast<size_t>(index)] = on;
    Rule(index);
    UirTicksChanged = true;
    ApplyEnabled = true;
}

void TCfgActions::ChoosePort(int item)
{
    PortItem = std::clamp(item, 0, cfg_text::kPortItems - 1);
    if (TCbData* rec = Record())
        rec->PortNumber = static_cast<uint8_t>(PortItem + 1);
    ApplyEnabled = true;
}

void TCfgActions::ChooseSpeed(int item)
{
    SpeedItem = item == 1 ? 1 : 0;
    if (TCbData* rec = Record())
        rec->Baud = BaudOfSpeedItem(SpeedItem);
    ApplyEnabled = true;
}

void TCfgActions::Apply()
{
    CfgApplied = true;
    if (UirTicksChanged) {
        if (TCbData* rec = Record())
            for (size_t i = 0; i < Checked.size(); ++i)
                rec->Uir[i].Present = Checked[i] ? 1 : 0;
        UirTicksChanged = false;
        if (relayout_)
            relayout_();
    }
    if (save_)
        save_();
}

void TCfgActions::Cancel() { UirTicksChanged = false; }

void TCfgActions::StatusTick()
{
    if (!CfgApplied)
        return;
    CfgApplied = false;
    ApplyEnabled = false;
    if (TCbData* rec = Record()) {
        rec->PortNumber = static_cast<uint8_t>(PortItem + 1);
        rec->Baud = BaudOfSpeedItem(SpeedItem);
    }
}

}  // namespace kestrel
