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

uint8_t Bit(uint8_t v) { return v != 0 ? 1 : 0; }

}  // namespace

TDeviceSettings DeviceSettingsOf(const TCbData& cb)
{
    TDeviceSettings d;
    for (int k = 0; k < 4; ++k)
        for (int m = 0; m < 4; ++m)
            d.FuncTable[k][m] = cb.FuncTable[k][m].load() & TDeviceSettings::kOutputBits;
    d.UrovUnits = static_cast<uint16_t>(cb.UrovTimeMs.load() / 50);
    d.MtzWait = Bit(cb.MtzWait.load());
    for (int i = 0; i < kUirCount; ++i) {
        const TUirData& u = cb.Uir[i];
        TDeviceUir& o = d.Uir[i];
        o.PollEnabled = Bit(u.PollEnabled.load());
        o.OutputEnabled = Bit(u.OutputEnabled.load());
        o.Control = {Bit(u.InputControl1.load()), Bit(u.InputControl2.load()), Bit(u.InputControl3.load())};
        o.Function = {u.InputFunction1.load(), u.InputFunction2.load(), u.InputFunction3.load()};
    }
    return d;
}

TDeviceSettings DeviceSettingsOf(const TCbSettings& s)
{
    TDeviceSettings d;
    for (int k = 0; k < 4; ++k)
        for (int m = 0; m < 4; ++m)
            d.FuncTable[k][m] = s.FuncTable[k][m] & TDeviceSettings::kOutputBits;
    d.UrovUnits = static_cast<uint16_t>(s.UrovTimeMs / 50);
    d.MtzWait = Bit(s.MtzWait);
    for (int i = 0; i < kUirCount; ++i) {
        const TUirSettings& u = s.Uir[i];
        TDeviceUir& o = d.Uir[i];
        o.PollEnabled = Bit(u.PollEnabled);
        o.OutputEnabled = Bit(u.OutputEnabled);
        o.Control = {Bit(u.InputControl1), Bit(u.InputControl2), Bit(u.InputControl3)};
        o.Function = {u.InputFunction1, u.InputFunction2, u.InputFunction3};
    }
    return d;
}

namespace {

uint8_t Outputs(uint8_t held, uint8_t outputs)
{
    return static_cast<uint8_t>((held & ~TDeviceSettings::kOutputBits) | (outputs & TDeviceSettings::kOutputBits));
}

uint16_t UrovMs(uint16_t units) { return static_cast<uint16_t>(units > 1310 ? 65500 : units * 50); }

}  // namespace

void ApplyDeviceSettings(TCbData& cb, const TDeviceSettings& d)
{
    for (int k = 0; k < 4; ++k)
        for (int m = 0; m < 4; ++m)
            cb.FuncTable[k][m] = Outputs(cb.FuncTable[k][m].load(), d.FuncTable[k][m]);
    // A record already holding these units keeps its own milliseconds.
    if (cb.UrovTimeMs.load() / 50 != d.UrovUnits)
        cb.UrovTimeMs = UrovMs(d.UrovUnits);
    cb.MtzWait = d.MtzWait;
    for (int i = 0; i < kUirCount; ++i) {
        TUirData& u = cb.Uir[i];
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

void ApplyDeviceSettings(TCbSettings& s, const TDeviceSettings& d)
{
    for (int k = 0; k < 4; ++k)
        for (int m = 0; m < 4; ++m)
            s.FuncTable[k][m] = Outputs(s.FuncTable[k][m], d.FuncTable[k][m]);
    if (s.UrovTimeMs / 50 != d.UrovUnits)
        s.UrovTimeMs = UrovMs(d.UrovUnits);
    s.MtzWait = d.MtzWait;
    for (int i = 0; i < kUirCount; ++i) {
        TUirSettings& u = s.Uir[i];
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

bool FlagWhenChangedOnSite(TCbData& cb)
{
    TDeviceSettings file;
    if (!cb.FileSettings(file) || DeviceSettingsOf(cb) == file)
        return false;
    cb.SettingsChangedOnSite = 1;
    return true;
}

}  // namespace kestrel
