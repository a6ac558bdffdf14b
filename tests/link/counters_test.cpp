// The link counters after one exchange of every response profile and
// outcome, their text, and the port error kept after a failed open.
#include <gtest/gtest.h>

#include "link/ComPort.h"
#include "link/FakeSerialDevice.h"
#include "link/Link.h"

namespace kestrel {
namespace {

using test::Bytes;
using P = TProfile;

using Rig = test::LinkRig;

// Frames sent, answers, check-sum errors, time-outs.
std::array<uint32_t, 4> Of(const TCbData& cb)
{
    return {cb.FramesSent.load(), cb.AnswersReceived.load(), cb.ChecksumErrors.load(), cb.Timeouts.load()};
}

TExchangePlan Plan(P p, bool poll = false, size_t minData = 0)
{
    TExchangePlan s;
    s.Profile = p;
    s.Kind = poll ? TDataOrNothingKind::Poll : TDataOrNothingKind::Journal;
    s.MinData = minData;
    s.Frame = p == P::LinkStatus ? TLink::ShortFrame(0x49, 1) : TLink::LongFrame(0x5B, 1, 0x3C);
    return s;
}

const Bytes kData = TLink::LongFrame(0x08, 0x01, 0x3C, Bytes{0x05, 0x30, 0x17, 0x02, 0x10, 0x13});
const Bytes kEvent = test::EventFrame(test::Ev{});
Bytes BadSum(Bytes b) { b[b.size() - 2] ^= 1; return b; }
Bytes Cut(const Bytes& b, long n) { return Bytes(b.begin(), b.begin() + n); }

TEST(LinkCounters, OneExchangeOfEachProfileAndOutcome)
{
    struct Case {
        const char* Name;
        TExchangePlan Plan;
        Bytes Answer;
        int Result;
        std::array<uint32_t, 4> After;
        uint32_t WriteError = 0, ReadError = 0;
    };
    const Case cases[] = {
        {"ack valid", Plan(P::Acknowledge), {0xE5}, 0, {1, 1, 0, 0}},
        {"ack no answer", Plan(P::Acknowledge), {}, -6, {1, 0, 0, 1}},
        {"ack bad frame", Plan(P::Acknowledge), {0x10, 0x08, 0x01, 0x09, 0x16}, -5, {1, 0, 1, 0}},
        {"write ack refused", Plan(P::WriteAcknowledge), {0xA2}, -5, {1, 0, 1, 0}},
        {"data valid", Plan(P::Data), kData, 1, {1, 1, 0, 0}},
        {"data no answer", Plan(P::Data), {}, -6, {1, 0, 0, 1}},
        {"data bad check sum", Plan(P::Data), BadSum(kData), -5, {1, 0, 1, 0}},
        {"data bad header", Plan(P::Data), {0x68, 0x09, 0x08, 0x68, 0x08}, -5, {1, 0, 1, 0}},
        {"data L beyond the buffer", Plan(P::Data), {0x68, 67, 67, 0x68}, -5, {1, 0, 1, 0}},
        {"data short header", Plan(P::Data), Cut(kData, 2), -5, {1, 0, 0, 1}},
        {"data header only", Plan(P::Data), Cut(kData, 4), -6, {1, 0, 0, 1}},
        {"data short body", Plan(P::Data), Cut(kData, 9), -5, {1, 0, 0, 1}},
        {"data too few data bytes", Plan(P::Data, false, 7), kData, -5, {1, 0, 1, 0}},
        {"journal nothing to send", Plan(P::DataOrNothing), {0xE5}, 0, {1, 1, 0, 0}},
        {"journal other first byte", Plan(P::DataOrNothing), {0x10, 0x08}, -2, {1, 0, 1, 0}},
        {"journal bad check sum", Plan(P::DataOrNothing), BadSum(kEvent), -5, {1, 0, 1, 0}},
        {"journal short body", Plan(P::DataOrNothing), Cut(kEvent, 12), -5, {1, 0, 0, 1}},
        {"poll event", Plan(P::DataOrNothing, true), kEvent, 1, {1, 1, 0, 0}},
        // The poll passes over another first byte and counts a success.
        {"poll other first byte", Plan(P::DataOrNothing, true), {0x10, 0x08}, 0, {1, 1, 0, 0}},
        {"poll short header", Plan(P::DataOrNothing, true), Cut(kEvent, 3), -5, {1, 0, 0, 1}},
        {"status valid", Plan(P::LinkStatus), {0x10, 0x0B, 0x01, 0x0C, 0x16}, 0, {1, 1, 0, 0}},
        {"status bad check sum", Plan(P::LinkStatus), {0x10, 0x0B, 0x01, 0x0D, 0x16}, -5, {1, 0, 1, 0}},
        {"status short", Plan(P::LinkStatus), {0x10, 0x0B, 0x01, 0x0C}, -5, {1, 0, 0, 1}},
        // Not judged: a frame sent and nothing else.
        {"no reply read", Plan(P::NoReplyRead), {0x10, 0x00}, 0, {1, 0, 0, 0}},
        {"no reply", Plan(P::NoReply), {0xE5}, 0, {1, 0, 0, 0}},
        // Port errors are not the line's: nothing but the frame (if it went out).
        {"write error", Plan(P::Acknowledge), {0xE5}, -3, {0, 0, 0, 0}, 5},
        {"read error", Plan(P::Acknowledge), {0xE5}, -4, {1, 0, 0, 0}, 0, 1117},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Rig r;
        ASSERT_EQ(r.link.OpenPortForCb(0), 0);
        r.dev.Answer(c.Answer);
        r.dev.WriteError = c.WriteError;
        r.dev.ReadErrors.push_back(c.ReadError);
        EXPECT_EQ(r.link.Exchange(0, c.Plan), c.Result);
        EXPECT_EQ(Of(r.cb()), c.After);
        EXPECT_EQ(r.cb().FailCount.load(), c.Result < 0 ? 1 : 0);
    }
}

TEST(LinkCounters, TextAndNotStoredWithTheSettings)
{
    TCbData cb;
    EXPECT_EQ(LinkCountersText(cb), "Кадров: 0, ответов: 0, ошибок КС: 0, тайм-аутов: 0, сбоев подряд: 0, связь: есть");
    cb.FramesSent = 4294967295u;
    cb.AnswersReceived = 11;
    cb.ChecksumErrors = 300;
    cb.Timeouts = 1;
    cb.FailCount = 51;
    cb.LinkLost = 1;
    EXPECT_EQ(LinkCountersText(cb),
              "Кадров: 4294967295, ответов: 11, ошибок КС: 300, тайм-аутов: 1, сбоев подряд: 51, связь: потеряна");
    EXPECT_EQ(GetSettings(cb), GetSettings(TCbData{}));
    ApplySettings(cb, TCbSettings::Defaults());
    EXPECT_EQ(Of(cb), (std::array<uint32_t, 4>{4294967295u, 11, 300, 1}));
}

TEST(FailedOpen, TheOpensErrorStaysThroughTheVisitsExchangesAndClose)
{
    struct Case { uint8_t Port; uint32_t Error; int OpenResult; };
    // The port object starts on COM1: the same number fails at the re-open (-1), another at the open (-6).
    for (const Case& c : {Case{1, 2, -1}, Case{1, 13, -1}, Case{4, 16, -6}}) {
        SCOPED_TRACE(c.Error);
        Rig r;
        r.state.ConsoleOpen = 1;
        r.cb().PortNumber = c.Port;
        r.dev.OpenErrors[c.Port] = c.Error;
        EXPECT_EQ(r.link.OpenPortForCb(0), c.OpenResult);
        // The acquisition thread goes on to its exchanges on the closed port.
        EXPECT_EQ(r.link.Exchange(0, Plan(P::Acknowledge)), -3);
        EXPECT_EQ(r.link.Exchange(0, Plan(P::Data)), -3);
        EXPECT_EQ(r.link.ClosePortForCb(0), 0);
        EXPECT_EQ(r.cb().LastPortError.load(), c.Error);
        EXPECT_EQ(r.cb().FailCount.load(), 3);
        EXPECT_EQ(r.hooks.Lines.back(), "Ошибка записи в СОМ-порт; Код ошибки: 9");  // what the write met
        r.dev.OpenErrors.clear();
        EXPECT_EQ(r.link.OpenPortForCb(0), 0);
        EXPECT_EQ(r.cb().LastPortError.load(), 0u);
    }
}

}  // namespace
}  // namespace kestrel
