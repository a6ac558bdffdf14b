#include "setup/SetupCbActions.h"

#include <utility>

#include "state/ConfigFile.h"

namespace kestrel {

namespace t = setup_cb_text;

bool PortBit(uint8_t funcByte, int port)
{
    if (port < 1 || port > 6)
        return false;
    return (funcByte >> (port - 1)) & 1u;
}

uint8_t WithPortBit(uint8_t funcByte, int port, bool on)
{
    if (port < 1 || port > 6)
        return funcByte;
    const auto mask = static_cast<uint8_t>(1u << (port - 1));
    return on ? static_cast<uint8_t>(funcByte | mask) : static_cast<uint8_t>(funcByte & ~mask);
}

int AddressItem(uint8_t address)
{
    if (address == 255)
        return kAddressItem255;
    if (address >= 1 && address <= 32)
        return address - 1;
    return 0;
}

uint8_t AddressForItem(int item)
{
    if (item == kAddressItem255)
        return 255;
    if (item < 0 || item > 31)
        return 1;
    return static_cast<uint8_t>(item + 1);
}

int UrovItem(uint16_t ms)
{
    if (ms < 50 || ms > 500 || ms % 50 != 0)
        return -1;
    return ms / 50 - 1;
}

uint16_t UrovMsForItem(int item) { return static_cast<uint16_t>(50 * (item + 1)); }

int DaysInMonth(int monthItem, int yearItem)
{
    switch (monthItem) {
    case 3:
    case 5:
    case 8:
    case 10: return 30;
    case 1: return (yearItem >= 0 && yearItem < kYearItems && (kFirstYear + yearItem) % 4 == 0) ? 29 : 28;
    default: return 31;
    }
}

int KeptDayItem(int rememberedItem, int days)
{
    if (rememberedItem >= 0 && rememberedItem < days)
        return rememberedItem;
    return days - 1;
}

int YearItemFor(int year)
{
    if (year < kFirstYear || year >= kFirstYear + kYearItems)
        return -1;
    return year - kFirstYear;
}

bool PackClock(TRequestData& data, const TClockChoice& c)
{
    if (c.YearItem < 0 || c.YearItem >= kYearItems)
        return false;
    data = TRequestData::Bytes({ToBcd(c.Second), ToBcd(c.Minute), ToBcd(c.Hour), ToBcd(c.DayItem + 1),
                                ToBcd(c.MonthItem + 1), ToBcd(c.YearItem + 7)});
    return true;
}

TFuncBytes CopyFuncTable(const TCbData& cb)
{
    TFuncBytes t{};
    for (size_t k = 0; k < 4; ++k)
        for (size_t m = 0; m < 4; ++m)
            t[k][m] = cb.FuncTable[k][m].load();
    return t;
}

void StoreFuncTable(TCbData& cb, const TFuncBytes& t)
{
    for (size_t k = 0; k < 4; ++k)
        for (size_t m = 0; m < 4; ++m)
            cb.FuncTable[k][m] = t[k][m];
}

TSetupCbActions::TSetupCbActions(TGlobalState& state, ISetupCbView& view, TPostFn post, TSaveFn save)
    : state_(state), view_(view), post_(std::move(post)), save_(std::move(save))
{
    if (!save_) {
        save_ = [this] {
            const int r = WriteConfigFile(state_);
            if (r >= 0)
                ReadConfigFile(state_);
            return r;
        };
    }
}

bool TSetupCbActions::Gate()
{
    if (!NeedAccess)
        return true;
    return view_.AccessPrompt();
}

bool TSetupCbActions::Save()
{
    if (save_() < 0) {
        // Without this the operator would take a lost change for a stored one.
        view_.Message(t::kSaveFailed, t::kAttention, PromptIcon::Error);
        return false;
    }
    return true;
}

bool TSetupCbActions::SetMtz(int32_t cb)
{
    TCbData* c = state_.Cb(cb);
    if (!c || !Gate())
        return false;
    const MtzAnswer a = view_.AskMtz();
    if (a == MtzAnswer::Cancel)
        return false;
    c->MtzWait = a == MtzAnswer::Yes ? 1 : 0;
    Save();
    return true;
}

bool TSetupCbActions::SetEnabled(int32_t cb, bool on)
{
    TCbData* c = state_.Cb(cb);
    if (!c || !Gate())
        return false;
    c->Enabled = on ? 1 : 0;
    Save();
    return true;
}

bool TSetupCbActions::SetAddressItem(int32_t cb, int item)
{
    TCbData* c = state_.Cb(cb);
    if (!c || !Gate())
        return false;
    c->Address = AddressForItem(item);
    // "255" is a value for this run only.
    if (item != kAddressItem255)
        Save();
    return true;
}

bool TSetupCbActions::SaveToFile(int32_t cb)
{
    if (!state_.Cb(cb) || !Gate())
        return false;
    return Save();
}

PostResult TSetupCbActions::Post(int32_t cb, int32_t code, uint32_t pauseMs, const char* waitText,
                                  const TRequestData& data)
{
    PostArgs a = PostArgs::Standard(code, pauseMs);
    a.Cb = cb;
    a.Data = data;
    if (waitText)
        a.WaitText = waitText;
    return post_(a);
}

PostResult TSetupCbActions::ReadTables(int32_t cb) { return Post(cb, kReqReadAllFuncTables, 100, t::kWaitData); }

PostResult TSetupCbActions::WriteTables(int32_t cb)
{
    if (!Gate())
        return {};
    return Post(cb, kReqWriteAllFuncTables, 100, t::kWaitWrite);
}

PostResult TSetupCbActions::ResetCb(int32_t cb) { return Post(cb, kReqResetCb, 0, nullptr); }

PostResult TSetupCbActions::StopClock(int32_t cb)
{
    if (!Gate())
        return {};
    return Post(cb, kReqStopClock, 100, nullptr);
}

PostResult TSetupCbActions::ReadClock(int32_t cb) { return Post(cb, kReqReadClock, 100, nullptr); }

PostResult TSetupCbActions::WriteClock(int32_t cb, const TClockChoice& c)
{
    TRequestData data;
    if (!PackClock(data, c))
        return {};
    return Post(cb, kReqWriteClock, 100, nullptr, data);
}

bool TSetupCbActions::FactoryConfig(int32_t cb)
{
    TCbData* c = state_.Cb(cb);
    if (!c || !Gate())
        return false;
    c->MtzWait = 1;
    c->UrovTimeMs = 500;
    StoreFuncTable(*c, TFuncBytes{});
    PostArgs w = PostArgs::Standard(kReqWriteAllFuncTables, 100);
    w.Cb = cb;
    w.WaitText = t::kWaitWrite;
    w.ErrorText = t::kWriteToCbFailed;
    // A block that is not served takes no request: the record keeps the
    // factory values and the window shows them, as after a write that
    // changed nothing.
    const PostResult wr = post_(w);
    if (wr.Status == PostStatus::Failed)
        return false;
    PostArgs r = PostArgs::Standard(kReqReadAllFuncTables, 100);
    r.Cb = cb;
    r.WaitText = t::kWaitData;
    r.ErrorText = t::kReadFromCbFailed;
    post_(r);
    return true;
}

void TSetupCbActions::TakeFuncTables(int32_t cb, const TFuncBytes& tables)
{
    TCbData* c = state_.Cb(cb);
    if (!c)
        return;
    StoreFuncTable(*c, tables);
    Save();
}

void TSetupCbActions::TakeUrov(int32_t cb, uint16_t ms)
{
    TCbData* c = state_.Cb(cb);
    if (!c)
        return;
    c->UrovTimeMs = ms;
    Save();
}

PostResult TSetupCbActions::SetDeviceAddress(int32_t cb, int item)
{
    if (!view_.AskYesNo(t::kAddrQuestion, t::kQuestionCaption, PromptIcon::Warning))
        return {};
    return Post(cb, kReqSetAddress, 0, nullptr, TRequestData::Bytes({static_cast<uint8_t>(item + 1)}));
}

PostResult TSetupCbActions::SetDeviceSpeed(int32_t cb, int speedItem)
{
    if (!view_.AskYesNo(t::kSpeedQuestion, t::kQuestionCaption, PromptIcon::Warning))
        return {};
    return Post(cb, kReqSetSpeed, 0, nullptr, TRequestData::Bytes({static_cast<uint8_t>(speedItem == 1 ? 1 : 0)}));
}

}  // namespace kestrel
