#include "state/Model.h"

namespace kestrel {

void TCbData::StageRequestTask(std::shared_ptr<TRequestTask> task)
{
    std::lock_guard lock(taskLock_);
    task_ = std::move(task);
}

std::shared_ptr<TRequestTask> TCbData::TakeRequestTask()
{
    std::lock_guard lock(taskLock_);
    return std::move(task_);
}

void TCbData::SetFileSettings(const TDeviceSettings& s)
{
    std::lock_guard lock(fileSettingsLock_);
    fileSettings_ = s;
    haveFileSettings_ = true;
}

bool TCbData::FileSettings(TDeviceSettings& out) const
{
    std::lock_guard lock(fileSettingsLock_);
    if (haveFileSettings_)
        out = fileSettings_;
    return haveFileSettings_;
}

namespace {

// A record's atomics and the file values' plain bytes, read and written alike.
template <class T>
T Value(const Atom<T>& a) { return a.load(); }
inline uint8_t Value(uint8_t v) { return v; }
inline uint16_t Value(uint16_t v) { return v; }

uint8_t Bit(uint8_t v) { return v != 0 ? 1 : 0; }

uint8_t Outputs(uint8_t held, uint8_t outputs)
{
    return static_cast<uint8_t>((held & ~TDeviceSettings::kOutputBits) | (outputs & TDeviceSettings::kOutputBits));
}

uint16_t UrovMs(uint16_t units) { return static_cast<uint16_t>(units > 1310 ? 65500 : units * 50); }

// TCbData or TCbSettings: the same fields, the same rules.
template <class Cb>
TDeviceSettings Extract(const Cb& cb)
{
    TDeviceSettings d;
    for (int k = 0; k < 4; ++k)
        for (int m = 0; m < 4; ++m)
            d.FuncTable[k][m] = Value(cb.FuncTable[k][m]) & TDeviceSettings::kOutputBits;
    d.UrovUnits = static_cast<uint16_t>(Value(cb.UrovTimeMs) / 50);
    d.MtzWait = Bit(Value(cb.MtzWait));
    for (int i = 0; i < kUirCount; ++i) {
        const auto& u = cb.Uir[i];
        TDeviceUir& o = d.Uir[i];
        o.PollEnabled = Bit(Value(u.PollEnabled));
        o.OutputEnabled = Bit(Value(u.OutputEnabled));
        o.Control = {Bit(Value(u.InputControl1)), Bit(Value(u.InputControl2)), Bit(Value(u.InputControl3))};
        o.Function = {Value(u.InputFunction1), Value(u.InputFunction2), Value(u.InputFunction3)};
    }
    return d;
}

template <class Cb>
void Apply(Cb& cb, const TDeviceSettings& d)
{
    for (int k = 0; k < 4; ++k)
        for (int m = 0; m < 4; ++m)
            cb.FuncTable[k][m] = Outputs(Value(cb.FuncTable[k][m]), d.FuncTable[k][m]);
    // A record already holding these units keeps its own milliseconds.
    if (Value(cb.UrovTimeMs) / 50 != d.UrovUnits)
        cb.UrovTimeMs = UrovMs(d.UrovUnits);
    cb.MtzWait = d.MtzWait;
    for (int i = 0; i < kUirCount; ++i) {
        auto& u = cb.Uir[i];
        const TDeviceUir& o = d.Uir[i];
        u.PollEnabled = o.PollEnabled;
        u.OutputEnabled = o.OutputEnabled;
        u.InputControl1 = o.Control[0];
        u.InputControl2 = o.Control[1];
        u.InputControl3 = o.Control[2];
        u.InputFunction1 = o.Function[0];
        u.InputFunction2 = o.Function[1];
        u.InputFunction3 = o.Function[2];
    }
}

}  // namespace

TDeviceSettings DeviceSettingsOf(const TCbData& cb) { return Extract(cb); }
TDeviceSettings DeviceSettingsOf(const TCbSettings& s) { return Extract(s); }
void ApplyDeviceSettings(TCbData& cb, const TDeviceSettings& d) { Apply(cb, d); }
void ApplyDeviceSettings(TCbSettings& s, const TDeviceSettings& d) { Apply(s, d); }

bool FlagWhenChangedOnSite(TCbData& cb)
{
    TDeviceSettings file;
    if (!cb.FileSettings(file) || DeviceSettingsOf(cb) == file)
        return false;
    cb.SettingsChangedOnSite = 1;
    return true;
}

}  // namespace kestrel
