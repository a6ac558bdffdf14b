#include "check/BlockSettingsIo.h"

namespace kestrel {

int ReadBlockSettings(TCbProtocol& p, int32_t cb, TCbData& scratch)
{
    try {
        const bool fcb = p.Link().State().Fcb.load() != 0;
        // The composites' rule: 10 tries a table or segment, 10 ms after a
        // failed one, none after a success.
        for (int m = 0; m < 4; ++m) {
            if (p.TryUpTo(10, 10, [&] { return p.ReadFuncTableInto(cb, m, fcb, scratch); }) < 0)
                return -2 - m;
        }
        for (int s = 0; s <= 10; ++s) {
            if (p.TryUpTo(10, 10, [&] { return p.ReadUirSegmentInto(cb, s, fcb, scratch); }) < 0)
                return -6 - s;
        }
        return 0;
    } catch (...) {
        return -1;
    }
}

std::string SegmentUirs(int segment)
{
    const int first = segment == 0 ? 1 : 4 * segment;
    return std::to_string(first) + "–" + std::to_string(4 * segment + 3);
}

std::string BlockReadFailureText(int result)
{
    if (result <= -2 && result >= -5)
        return "ЦБ не ответил на чтение таблицы функций " + ModeName(-2 - result) + ".";
    if (result <= -6 && result >= -16)
        return "ЦБ не ответил на чтение конфигурации УИР " + SegmentUirs(-6 - result) + ".";
    if (result == kBlockNotRead)
        return "Обмен с ЦБ не состоялся: блок не опрашивается или программа завершает работу.";
    return "Ошибка выполнения команды";
}

namespace {

bool TableDiffers(const TDeviceSettings& a, const TDeviceSettings& b, int m)
{
    for (int k = 0; k < 4; ++k) {
        if (a.FuncTable[k][m] != b.FuncTable[k][m])
            return true;
    }
    return m == 3 && (a.UrovUnits != b.UrovUnits || a.MtzWait != b.MtzWait);
}

bool SegmentDiffers(const TDeviceSettings& a, const TDeviceSettings& b, int s)
{
    for (int j = 0; j < 4; ++j) {
        const int n = 4 * s + j;
        if (n >= 1 && n <= kUirCount && !(a.Uir[n - 1] == b.Uir[n - 1]))
            return true;
    }
    return false;
}

}  // namespace

TRestoreReport RestoreBlockSettings(TCbProtocol& p, int32_t cb, const TDeviceSettings& target)
{
    TRestoreReport r;
    try {
        TGlobalState& state = p.Link().State();
        TCbData held;
        r.Result = ReadBlockSettings(p, cb, held);
        if (r.Result < 0)
            return r;
        r.Before = DeviceSettingsOf(held);

        // What the block is to hold, with its own bits 6 and 7.
        TCbData wanted;
        for (int k = 0; k < 4; ++k)
            for (int m = 0; m < 4; ++m)
                wanted.FuncTable[k][m] = held.FuncTable[k][m].load();
        wanted.UrovTimeMs = held.UrovTimeMs.load();
        ApplyDeviceSettings(wanted, target);

        bool wrote = false;
        for (int m = 0; m < 4; ++m) {
            if (!TableDiffers(r.Before, target, m))
                continue;
            if (wrote)
                p.Link().Sleeper().SleepMs(10);  // as between the tables of a write-all
            for (int k = 0; k < 4; ++k)
                state.CmdData[k] = wanted.FuncTable[k][m].load();
            if (m == 3) {
                state.CmdData[4] = static_cast<uint8_t>(target.UrovUnits > 255 ? 255 : target.UrovUnits);
                state.CmdData[5] = target.MtzWait ? 1 : 0;
            }
            // A write counts only when acknowledged exactly (result 0), 100 tries.
            bool ok = false;
            for (int t = 0; t < 100 && !ok; ++t) {
                if (t > 0)
                    p.Link().Sleeper().SleepMs(10);
                ok = p.ReqWriteFuncTable(cb, m) == 0;
                if (p.Link().Stopped())
                    break;
            }
            wrote = true;
            if (ok)
                ++r.TablesWritten;
            else
                r.Unacknowledged.push_back("таблица " + ModeName(m));
        }
        const bool fcb = state.Fcb.load() != 0;
        for (int s = 0; s <= 10; ++s) {
            if (!SegmentDiffers(r.Before, target, s))
                continue;
            if (p.TryUpTo(10, 10, [&] { return p.WriteUirSegmentFrom(cb, s, fcb, wanted); }) >= 0)
                ++r.SegmentsWritten;
            else
                r.Unacknowledged.push_back("УИР " + SegmentUirs(s));
        }

        // Only what the block answers afterwards proves a value took.
        TCbData after;
        r.ReadBackResult = ReadBlockSettings(p, cb, after);
        if (r.ReadBackResult < 0) {
            r.Result = r.ReadBackResult;
            return r;
        }
        r.After = DeviceSettingsOf(after);
        r.NotTaken = CompareDeviceSettings(target, r.After);
        r.Result = r.NotTaken.empty() ? 0 : 1;
        return r;
    } catch (...) {
        r.Result = -1;
        return r;
    }
}

void TReadSettingsTask::Run(TCbProtocol& protocol, int32_t cb)
{
    TCbData scratch;
    Result = ReadBlockSettings(protocol, cb, scratch);
    Settings = DeviceSettingsOf(scratch);
}

void TRestoreSettingsTask::Run(TCbProtocol& protocol, int32_t cb)
{
    Report = RestoreBlockSettings(protocol, cb, Target);
}

}  // namespace kestrel
