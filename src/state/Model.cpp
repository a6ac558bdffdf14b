#include "state/Model.h"

#include "state/Cp1251.h"

namespace kestrel {

TUirData::TUirData()
    : Name(W1251("УИР №1")), ChName1(W1251("Канал 1")), ChName2(W1251("Канал 2")), ChName3(W1251("Канал 3"))
{
}

Flag& TUirData::InputControl(int input)
{
    return input == 3 ? InputControl3 : input == 2 ? InputControl2 : InputControl1;
}

Atom<uint8_t>& TUirData::InputFunction(int input)
{
    return input == 3 ? InputFunction3 : input == 2 ? InputFunction2 : InputFunction1;
}

Flag& TUirData::ChArc(int input)
{
    return input == 3 ? ChArc3 : input == 2 ? ChArc2 : ChArc1;
}

Flag& TUirData::ChFault(int input)
{
    return input == 3 ? ChFault3 : input == 2 ? ChFault2 : ChFault1;
}

TCbData::TCbData()
    : Name(W1251("СБ №1")), PowerName(W1251("Питание")), ArcName(W1251("Дуга")), EmerName(W1251("Отказ блока"))
{
}

TRequestData TRequestData::Bytes(std::initializer_list<uint8_t> bytes)
{
    TRequestData d;
    for (uint8_t b : bytes) {
        if (d.CmdDataCount >= kCmdDataSize)
            break;
        d.CmdData[d.CmdDataCount++] = b;
    }
    return d;
}

void TCbData::StageRequestData(const TRequestData& d)
{
    const uint8_t n = d.CmdDataCount > kCmdDataSize ? kCmdDataSize : d.CmdDataCount;
    for (size_t i = 0; i < n; ++i)
        RequestCmdData[i] = d.CmdData[i];
    RequestCmdDataCount = n;
    RequestUirSegment = d.UirSegment;
    RequestFcb = d.Fcb;
}

TRequestData TCbData::TakeRequestData()
{
    TRequestData d;
    d.CmdDataCount = RequestCmdDataCount.exchange(0);
    if (d.CmdDataCount > kCmdDataSize)
        d.CmdDataCount = kCmdDataSize;
    for (size_t i = 0; i < d.CmdDataCount; ++i)
        d.CmdData[i] = RequestCmdData[i];
    d.UirSegment = RequestUirSegment.exchange(-1);
    d.Fcb = RequestFcb.exchange(-1);
    return d;
}

void TCbData::CountFailure()
{
    const int32_t limit = FailLimit;
    const int32_t next = FailCount + 1;
    if (next > limit) {
        FailCount = limit + 1;
        LinkLost = 1;
    } else {
        FailCount = next;
    }
}

void TCbData::CountSuccess()
{
    FailCount = 0;
    LinkLost = 0;
}

TCbSettings TCbSettings::Defaults()
{
    const TCbData fresh;
    return GetSettings(fresh);
}

TCbSettings GetSettings(const TCbData& cb)
{
    TCbSettings s;
    s.Name = cb.Name;
    s.PowerName = cb.PowerName;
    s.ArcName = cb.ArcName;
    s.EmerName = cb.EmerName;
    s.MtzWait = cb.MtzWait;
    s.UrovTimeMs = cb.UrovTimeMs;
    for (int k = 0; k < 4; ++k)
        for (int m = 0; m < 4; ++m)
            s.FuncTable[k][m] = cb.FuncTable[k][m];
    s.Enabled = cb.Enabled;
    s.Baud = cb.Baud;
    s.Address = cb.Address;
    s.PortNumber = cb.PortNumber;
    s.DataBits = cb.DataBits;
    s.Parity = cb.Parity;
    s.StopBits = cb.StopBits;
    for (int i = 0; i < kUirCount; ++i) {
        const TUirData& u = cb.Uir[i];
        TUirSettings& o = s.Uir[i];
        o.Present = u.Present;
        o.Number = u.Number;
        o.Name = u.Name;
        o.ChName1 = u.ChName1;
        o.ChName2 = u.ChName2;
        o.ChName3 = u.ChName3;
        o.OutputEnabled = u.OutputEnabled;
        o.PollEnabled = u.PollEnabled;
        o.InputControl1 = u.InputControl1;
        o.InputControl2 = u.InputControl2;
        o.InputControl3 = u.InputControl3;
        o.InputFunction1 = u.InputFunction1;
        o.InputFunction2 = u.InputFunction2;
        o.InputFunction3 = u.InputFunction3;
    }
    return s;
}

void ApplySettings(TCbData& cb, const TCbSettings& s)
{
    cb.Name = s.Name;
    cb.PowerName = s.PowerName;
    cb.ArcName = s.ArcName;
    cb.EmerName = s.EmerName;
    cb.MtzWait = s.MtzWait;
    cb.UrovTimeMs = s.UrovTimeMs;
    for (int k = 0; k < 4; ++k)
        for (int m = 0; m < 4; ++m)
            cb.FuncTable[k][m] = s.FuncTable[k][m];
    cb.Enabled = s.Enabled;
    cb.Baud = s.Baud;
    cb.Address = s.Address;
    cb.PortNumber = s.PortNumber;
    cb.DataBits = s.DataBits;
    cb.Parity = s.Parity;
    cb.StopBits = s.StopBits;
    for (int i = 0; i < kUirCount; ++i) {
        TUirData& u = cb.Uir[i];
        const TUirSettings& o = s.Uir[i];
        u.Present = o.Present;
        u.Number = o.Number;
        u.Name = o.Name;
        u.ChName1 = o.ChName1;
        u.ChName2 = o.ChName2;
        u.ChName3 = o.ChName3;
        u.OutputEnabled = o.OutputEnabled;
        u.PollEnabled = o.PollEnabled;
        u.InputControl1 = o.InputControl1;
        u.InputControl2 = o.InputControl2;
        u.InputControl3 = o.InputControl3;
        u.InputFunction1 = o.InputFunction1;
        u.InputFunction2 = o.InputFunction2;
        u.InputFunction3 = o.InputFunction3;
    }
}

TGlobalState::TGlobalState() : AccessCode("7ujm"), MasterCode("7ujm")
{
    EnsureAllocated(CbCount);
}

TCbData* TGlobalState::Cb(int32_t index)
{
    if (index < 0 || index >= CbCount || index >= allocated_)
        return nullptr;
    return list_[static_cast<size_t>(index)].get();
}

const TCbData* TGlobalState::Cb(int32_t index) const
{
    return const_cast<TGlobalState*>(this)->Cb(index);
}

void TGlobalState::ClampShownCb()
{
    const int32_t count = CbCount;
    const int32_t shown = ShownCb;
    if (shown < 0 || shown >= count)
        ShownCb = 0;
}

bool TGlobalState::EnsureAllocated(int32_t count)
{
    if (count > kMaxCbCount)
        return false;
    // Fill the slot first, then publish the new size.
    for (int32_t i = allocated_; i < count; ++i) {
        list_[static_cast<size_t>(i)] = std::make_unique<TCbData>();
        allocated_ = i + 1;
    }
    return true;
}

void TGlobalState::ApplyRequestData(const TRequestData& d)
{
    for (size_t i = 0; i < d.CmdDataCount && i < kCmdDataSize; ++i)
        CmdData[i] = d.CmdData[i];
    if (d.UirSegment >= 0)
        UirSegment = static_cast<uint8_t>(d.UirSegment);
    if (d.Fcb >= 0)
        Fcb = static_cast<uint8_t>(d.Fcb != 0 ? 1 : 0);
}

void TGlobalState::ReleaseAll()
{
    std::lock_guard lock(RecordLock);
    const int32_t n = allocated_;
    allocated_ = 0;
    for (int32_t i = 0; i < n; ++i)
        list_[static_cast<size_t>(i)].reset();
}

void TGlobalState::MarkAllUirsPresent()
{
    if (TCbData* cb = Current())
        for (int i = 0; i < kUirCount; ++i) {
            cb->Uir[i].Present = 1;
            cb->Uir[i].Number = static_cast<uint8_t>(i + 1);
        }
}

}  // namespace kestrel
