#pragma once
// What the system configuration window ("Конфигурация") does, without the
// window: the 43 UIR ticks with their gapless-run rule, the port and speed
// lists, apply / confirm / cancel, and the main window's status tick that
// finishes an apply. The window mirrors Checked/Enabled/ApplyEnabled into its
// controls after each call.
#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "state/Model.h"

namespace kestrel {

namespace cfg_text {
inline constexpr const char* kCaption = "Конфигурация";
inline constexpr const char* kFileCaption = "Файл конфигурации";
inline constexpr const char* kAttention = "Внимание!";
inline constexpr int kPortItems = 100;  // "COM 1" .. "COM 100"
}  // namespace cfg_text

// The port item of a record (item "COM 1" for port 0) and back.
int PortItemOf(uint8_t portNumber);
// The speed item: "19200" (1) for 19200, else "9600" (0); and back.
int SpeedItemOf(uint32_t baud);
uint32_t BaudOfSpeedItem(int item);

class TCfgActions {
public:
    // save: WriteConfigFile then ReadConfigFile with a reported failure;
    // relayout: the main window lays its UIR tiles out again.
    TCfgActions(TGlobalState& state, std::function<bool()> save, std::function<void()> relayout);

    std::array<bool, kUirCount> Checked{};
    std::array<bool, kUirCount> Enabled{};
    int PortItem = 0;
    int SpeedItem = 0;
    bool ApplyEnabled = false;
    bool UirTicksChanged = false;
    bool CfgApplied = false;

    // The opening (after the access prompt): ticks from Present of block
    // `cb` in order 1..43, each change running the tick rule; the lists; the
    // flags cleared, "Применить" off.
    void Prepare(int32_t cb);
    int32_t Cb() const { return cb_; }

    // A tick set by the program: when it changes, the rule runs.
    void SetTick(int index, bool on);
    // A click on box index (0-based) that left it `on`.
    void Click(int index, bool on);
    void ChoosePort(int item);
    void ChooseSpeed(int item);
    // "Применить" ("Подтвердить" is this, then hide).
    void Apply();
    // "Отменить" (and the close box): nothing applied, nothing written.
    void Cancel();
    // The main window's status tick: finishes an apply.
    void StatusTick();

private:
    void Rule(int index);
    TCbData* Record() { return state_.Cb(cb_); }

    TGlobalState& state_;
    std::function<bool()> save_;
    std::function<void()> relayout_;
    int32_t cb_ = 0;
};

}  // namespace kestrel
