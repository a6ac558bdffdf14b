// The protocol fuzzer's rig keeps one model for every input; each input must
// still run exactly as on a new one, or a crash the fuzzer finds would not
// replay on its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "fuzz_protocol_rig.h"

namespace kestrel::fuzz {
namespace {

using Bytes = std::vector<uint8_t>;

// Command, console/Fcb/segment byte, address, then one chunk per answer.
Bytes Input(int32_t code, uint8_t flags, uint8_t address, std::initializer_list<Bytes> answers = {})
{
    const auto* codes = std::begin(ProtocolRig::kCodes);
    Bytes in{static_cast<uint8_t>(std::find(codes, std::end(ProtocolRig::kCodes), code) - codes), flags, address};
    for (const Bytes& a : answers) {
        in.push_back(static_cast<uint8_t>(a.size()));
        in.insert(in.end(), a.begin(), a.end());
    }
    return in;
}

const Bytes kAck{0xE5};

Bytes Answer(uint8_t ci, const Bytes& data)
{
    return TLink::LongFrame(0x08, 1, ci, data);
}

Bytes Event(uint8_t code, uint8_t uir)
{
    return Answer(0xF0, {code, uir, 0xFF, 0x01, 0x23, 0x45, 0x30, 0x12, 0x00, 0x15, 0x06, 0x24});
}

// Everything an input leaves behind that the next one could see.
struct Seen {
    int Result = 0;
    Bytes Written;
    std::string Log;
    TCbSettings Settings;
    std::vector<TEventData> Events;
    std::vector<int64_t> Fields;
    friend bool operator==(const Seen&, const Seen&) = default;
};

Seen Observe(ProtocolRig& rig, const Bytes& in)
{
    rig.Device().Keep = rig.Hooks().Keep = true;
    Seen s;
    s.Result = rig.Run(in.data(), in.size());
    s.Written = rig.Device().Written;
    s.Log = rig.Hooks().Text;
    const TGlobalState& g = rig.State();
    const TCbData& cb = *g.Cb(0);
    s.Settings = GetSettings(cb);
    s.Events = cb.Events.Snapshot();
    auto& f = s.Fields;
    f = {g.Fcb, g.UirSegment, g.ConsoleOpen, cb.ClockDay, cb.ClockMonth, cb.ClockHour, cb.ClockMinute,
         cb.ClockSecond, cb.ClockYear, cb.OutputsState, cb.JournalError, cb.FuncReadError, cb.FuncWriteError,
         cb.ResetError, cb.UirReadError, cb.UirWriteError, cb.AddressError, cb.SpeedError, cb.ClearJournalError,
         cb.ClockReadError, cb.ClockWriteError, cb.FuncTablesChanged, cb.UirCfgChanged, cb.NewEventCount,
         cb.FirstPollPending, cb.LastPortError, cb.FailCount, cb.LinkLost, cb.FailLimit, cb.FramesSent,
         cb.AnswersReceived, cb.ChecksumErrors, cb.Timeouts, cb.Events.Limit()};
    f.insert(f.end(), g.CmdData.begin(), g.CmdData.end());
    f.insert(f.end(), cb.MtzActive.begin(), cb.MtzActive.end());
    f.insert(f.end(), cb.UirLinkLost.begin(), cb.UirLinkLost.end());
    for (const TUirData& u : cb.Uir)
        f.insert(f.end(), {u.ChArc1, u.ChArc2, u.ChArc3, u.ChFault1, u.ChFault2, u.ChFault3});
    return s;
}

TEST(FuzzProtocolRig, EveryInputRunsAsOnANewModel)
{
    // Each input that changes the model is followed by one whose requests or
    // results depend on what it left; then arbitrary inputs.
    std::vector<Bytes> inputs = {
        Input(ReqReadUirSegment, 0x01, 1, {Answer(0x40, {0x00, 0xFF, 0x07, 0xFF, 0x07, 0xFF, 0x07, 0xFF, 0x07})}),
        Input(ReqWriteUirSegment, 0x00, 1),
        Input(ReqReadFuncTableMtz3, 0x00, 1, {Answer(0x38, {1, 2, 3, 4, 5, 6, 1})}),
        Input(ReqWriteAllFuncTables, 0x01, 1, {kAck, kAck, kAck}),
        Input(ReqWriteFuncTableNoMtz, 0x00, 1),
        Input(ReqReadClock, 0x00, 1, {Answer(0x3C, {0x59, 0x58, 0x23, 0x31, 0x12, 0x99})}),
        Input(ReqEventCycle, 0x01, 1,
              {kAck, Event(0xA1, 5), Event(0xE2, 6), Event(0xE0, 7), Event(0xB2, 0), Event(0xD4, 0)}),
        Input(ReqPollEvent, 0x00, 1),
        Input(ReqFetchJournal, 0x00, 1, {kAck, Event(0xA3, 43), Event(0xC0, 0)}),
        Input(ReqLinkStatus, 0x00, 1, {{0x10, 0x0B, 0x01, 0x0D, 0x16}}),
        Input(ReqResetLink, 0x00, 1),
    };
    inputs.back().push_back(0xF1);  // a read error instead of an answer
    std::mt19937 gen(20240611);
    for (int i = 0; i < 300; ++i) {
        Bytes b(3 + gen() % 60);
        for (uint8_t& x : b)
            x = static_cast<uint8_t>(gen());
        inputs.push_back(b);
    }
    ProtocolRig kept;
    for (const Bytes& in : inputs) {
        SCOPED_TRACE(TLink::HexBytes(in));
        const Seen after = Observe(kept, in);
        EXPECT_TRUE(after == Observe(*std::make_unique<ProtocolRig>(), in));
    }
}

// The header bytes reach the model: console, Fcb, UIR segment and address.
TEST(FuzzProtocolRig, HeaderSetsConsoleFcbSegmentAndAddress)
{
    ProtocolRig rig;
    Seen s = Observe(rig, Input(ReqResetLink, 0x00, 0x17));
    EXPECT_EQ(s.Written, TLink::ShortFrame(0x40, 0x17));
    EXPECT_EQ(s.Log, "");
    EXPECT_NE(Observe(rig, Input(ReqResetLink, 0x01, 0x17)).Log.find("Нет ответа"), std::string::npos);
    EXPECT_EQ(Observe(rig, Input(ReqLinkStatus, 0x02, 0x21)).Written, TLink::ShortFrame(0x69, 0x21));
    const uint8_t first = 4 * 5;
    EXPECT_EQ(Observe(rig, Input(ReqReadUirSegment, 5 << 2, 0x02)).Written,
              TLink::LongFrame(0x5B, 0x02, 0x40, std::span<const uint8_t>(&first, 1)));
}

}  // namespace
}  // namespace kestrel::fuzz
