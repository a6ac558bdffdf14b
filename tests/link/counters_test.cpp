// The link counters of a block's record after one exchange, for every
// response profile and outcome; their text for the service engineer; and the
// port error an operator sees after a failed open.
#include <gtest/gtest.h>

#include "link/ComPort.h"
#include "link/FakeSerialDevice.h"
#include "link/Link.h"

namespace kestrel {
namespace {

using test::Bytes;

struct Rig {
    TGlobalState state;
    test::FakeSerialDevice dev;
    TComPort port{dev};
    test::RecordingSleeper sleeper;
    test::RecordingHooks hooks;
    TLink link{state, port, sleeper, hooks};
    TCbData& cb() { return *state.Cb(0); }
};

struct Counts {
    uint32_t Sent, Answers, Checksum, Timeouts;
    friend bool operator==(const Counts&, const Counts&) = default;
};

std::ostream& operator<<(std::ostream& os, const Counts& c)
{
    return os << "{sent " << c.Sent << ", answers " << c.Answers << ", check sum " << c.Checksum << ", time-outs "
              << c.Timeouts << "}";
}

Counts Of(const TCbData& cb)
{
    return {cb.FramesSent.load(), cb.AnswersReceived.load(), cb.ChecksumErrors.load(), cb.Timeouts.load()};
}

TExchangePlan Plan(TProfile p, TDataOrNothingKind kind = TDataOrNothingKind::Journal, size_t minData = 0)
{
    TExchangePlan s;
    s.Profile = p;
    s.Kind = kind;
    s.MinData = minData;
    s.BadText = "Ошибка контрольной суммы.";
    switch (p) {
    case TProfile::Acknowledge:
    case TProfile::WriteAcknowledge:
        s.Frame = TLink::ShortFrame(0x40, 0x01);
        s.WaitBasis = 5;
        s.ReadLength = p == TProfile::Acknowledge ? 5 : 7;
        break;
    case TProfile::LinkStatus:
        s.Frame = TLink::ShortFrame(0x49, 0x01);
        s.WaitBasis = 5;
        break;
    case TProfile::DataOrNothing:
        s.Frame = kind == TDataOrNothingKind::Poll ? TLink::ShortFrame(0x5B, 0x01) : TLink::LongFrame(0x5B, 0x01, 0x01);
        s.PollWait = kind == TDataOrNothingKind::Poll;
        break;
    default:
        s.Frame = TLink::LongFrame(0x5B, 0x01, 0x3C);
        break;
    }
    return s;
}

const Bytes kClock = TLink::LongFrame(0x08, 0x01, 0x3C, Bytes{0x05, 0x30, 0x17, 0x02, 0x10, 0x13});
const Bytes kEvent = test::EventFrame(test::Ev{});

Bytes BadSum(Bytes b)
{
    b[b.size() - 2] ^= 0x01;
    return b;
}

Bytes Cut(const Bytes& b, size_t n)
{
    return Bytes(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(n));
}

TEST(LinkCounters, OneExchangeOfEachProfileAndOutcome)
{
    using P = TProfile;
    using K = TDataOrNothingKind;
    struct Case {
        const char* Name;
        TExchangePlan Plan;
        Bytes Answer;
        int Result;
        Counts After;
    };
    const Case cases[] = {
        {"ack valid", Plan(P::Acknowledge), {0xE5}, 0, {1, 1, 0, 0}},
        {"ack no answer", Plan(P::Acknowledge), {}, -6, {1, 0, 0, 1}},
        {"ack bad frame", Plan(P::Acknowledge), {0x10, 0x08, 0x01, 0x09, 0x16}, -5, {1, 0, 1, 0}},
        {"ack long frame", Plan(P::Acknowledge), kClock, -5, {1, 0, 1, 0}},
        {"write ack valid", Plan(P::WriteAcknowledge), {0xE5}, 0, {1, 1, 0, 0}},
        {"write ack refused", Plan(P::WriteAcknowledge), {0xA2}, -5, {1, 0, 1, 0}},
        {"write ack no answer", Plan(P::WriteAcknowledge), {}, -6, {1, 0, 0, 1}},

        {"data valid", Plan(P::Data), kClock, 1, {1, 1, 0, 0}},
        {"data no answer", Plan(P::Data), {}, -6, {1, 0, 0, 1}},
        {"data bad check sum", Plan(P::Data), BadSum(kClock), -5, {1, 0, 1, 0}},
        {"data bad header", Plan(P::Data), {0x68, 0x09, 0x08, 0x68, 0x08, 0x01}, -5, {1, 0, 1, 0}},
        {"data bad first byte", Plan(P::Data), {0xE5}, -5, {1, 0, 1, 0}},
        {"data L beyond the buffer", Plan(P::Data), {0x68, 67, 67, 0x68}, -5, {1, 0, 1, 0}},
        {"data short header", Plan(P::Data), Cut(kClock, 2), -5, {1, 0, 0, 1}},
        {"data short header, L bytes differ", Plan(P::Data), {0x68, 0x09, 0x08}, -5, {1, 0, 1, 0}},
        {"data header only", Plan(P::Data), Cut(kClock, 4), -6, {1, 0, 0, 1}},
        {"data short body", Plan(P::Data), Cut(kClock, 9), -5, {1, 0, 0, 1}},
        {"data one body byte", Plan(P::Data), Cut(kClock, 5), -5, {1, 0, 0, 1}},
        {"data too few data bytes", Plan(P::Data, K::Journal, 7), kClock, -5, {1, 0, 1, 0}},

        {"journal nothing to send", Plan(P::DataOrNothing), {0xE5}, 0, {1, 1, 0, 0}},
        {"journal record", Plan(P::DataOrNothing), kEvent, 1, {1, 1, 0, 0}},
        {"journal no answer", Plan(P::DataOrNothing), {}, -6, {1, 0, 0, 1}},
        {"journal other first byte", Plan(P::DataOrNothing), {0x10, 0x08}, -2, {1, 0, 1, 0}},
        {"journal bad check sum", Plan(P::DataOrNothing), BadSum(kEvent), -5, {1, 0, 1, 0}},
        {"journal bad header", Plan(P::DataOrNothing), {0x68, 0x0F, 0x0F, 0x69}, -5, {1, 0, 1, 0}},
        {"journal short body", Plan(P::DataOrNothing), Cut(kEvent, 12), -5, {1, 0, 0, 1}},
        {"journal no body", Plan(P::DataOrNothing), Cut(kEvent, 4), -6, {1, 0, 0, 1}},

        {"poll nothing new", Plan(P::DataOrNothing, K::Poll), {0xE5}, 0, {1, 1, 0, 0}},
        {"poll event", Plan(P::DataOrNothing, K::Poll), kEvent, 1, {1, 1, 0, 0}},
        // The poll passes over another first byte and counts a success.
        {"poll other first byte", Plan(P::DataOrNothing, K::Poll), {0x10, 0x08}, 0, {1, 1, 0, 0}},
        {"poll no answer", Plan(P::DataOrNothing, K::Poll), {}, -6, {1, 0, 0, 1}},
        {"poll bad check sum", Plan(P::DataOrNothing, K::Poll), BadSum(kEvent), -5, {1, 0, 1, 0}},
        {"poll short header", Plan(P::DataOrNothing, K::Poll), Cut(kEvent, 3), -5, {1, 0, 0, 1}},

        {"status valid", Plan(P::LinkStatus), {0x10, 0x0B, 0x01, 0x0C, 0x16}, 0, {1, 1, 0, 0}},
        {"status bad check sum", Plan(P::LinkStatus), {0x10, 0x0B, 0x01, 0x0D, 0x16}, -5, {1, 0, 1, 0}},
        {"status bad stop byte", Plan(P::LinkStatus), {0x10, 0x0B, 0x01, 0x0C, 0x17}, -5, {1, 0, 1, 0}},
        {"status bad first byte", Plan(P::LinkStatus), {0xE5}, -5, {1, 0, 1, 0}},
        {"status short", Plan(P::LinkStatus), {0x10, 0x0B, 0x01, 0x0C}, -5, {1, 0, 0, 1}},
        {"status no answer", Plan(P::LinkStatus), {}, -6, {1, 0, 0, 1}},

        // Answers to these are not judged: a frame sent and nothing else.
        {"no reply read, nothing", Plan(P::NoReplyRead), {}, 0, {1, 0, 0, 0}},
        {"no reply read, bytes", Plan(P::NoReplyRead), {0x10, 0x00}, 0, {1, 0, 0, 0}},
        {"no reply", Plan(P::NoReply), {0xE5}, 0, {1, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Rig r;
        ASSERT_EQ(r.link.OpenPortForCb(0), 0);
        r.dev.Answer(c.Answer);
        EXPECT_EQ(r.link.Exchange(0, c.Plan), c.Result);
        EXPECT_EQ(Of(r.cb()), c.After);
        // A refused answer is counted once as a failure, a valid one resets the count.
        EXPECT_EQ(r.cb().FailCount.load(), c.Result < 0 ? 1 : 0);
    }
}

TEST(LinkCounters, PortErrorsAndExceptionsCountNoLineOutcome)
{
    struct Case {
        const char* Name;
        std::function<void(Rig&)> Arrange;
        int Result;
        Counts After;
    };
    const Case cases[] = {
        {"write error: nothing went out", [](Rig& r) { r.dev.WriteError = 5; }, -3, {0, 0, 0, 0}},
        {"read error", [](Rig& r) { r.dev.Answer({0xE5}); r.dev.ReadErrors.push_back(1117); }, -4, {1, 0, 0, 0}},
        {"exception while reading", [](Rig& r) { r.dev.ThrowOnRead = true; }, -1, {1, 0, 0, 0}},
        {"no reply read, read error", [](Rig& r) { r.dev.ReadErrors.push_back(22); }, -4, {1, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Rig r;
        ASSERT_EQ(r.link.OpenPortForCb(0), 0);
        c.Arrange(r);
        const TExchangePlan plan = Plan(std::string(c.Name).rfind("no reply", 0) == 0 ? TProfile::NoReplyRead
                                                                                        : TProfile::Acknowledge);
        EXPECT_EQ(r.link.Exchange(0, plan), c.Result);
        EXPECT_EQ(Of(r.cb()), c.After);
    }
}

TEST(LinkCounters, AddUpOverExchangesAndStayWithTheirBlock)
{
    Rig r;
    {
        std::lock_guard lock(r.state.RecordLock);
        r.state.EnsureAllocated(2);
        r.state.CbCount = 2;
    }
    ASSERT_EQ(r.link.OpenPortForCb(0), 0);
    const TExchangePlan ack = Plan(TProfile::Acknowledge);
    r.dev.Answer({0xE5}, 3);
    r.dev.Answer({});
    r.dev.Answer({0x10});
    for (int i = 0; i < 5; ++i)
        r.link.Exchange(0, ack);
    r.dev.Answer({0xE5});
    r.link.Exchange(1, ack);
    EXPECT_EQ(Of(r.cb()), (Counts{5, 3, 1, 1}));
    EXPECT_EQ(Of(*r.state.Cb(1)), (Counts{1, 1, 0, 0}));
    // A block index out of range sends nothing and counts nothing.
    EXPECT_EQ(r.link.Exchange(2, ack), -2);
    EXPECT_EQ(r.dev.Writes.size(), 6u);
}

TEST(LinkCounters, Text)
{
    struct Case {
        Counts C;
        int32_t Fails;
        uint8_t Lost;
        const char* Text;
    };
    const Case cases[] = {
        {{0, 0, 0, 0}, 0, 0, "Кадров: 0, ответов: 0, ошибок КС: 0, тайм-аутов: 0, сбоев подряд: 0, связь: есть"},
        {{12, 11, 0, 1}, 1, 0, "Кадров: 12, ответов: 11, ошибок КС: 0, тайм-аутов: 1, сбоев подряд: 1, связь: есть"},
        {{4294967295u, 7, 300, 65536}, 51, 1,
         "Кадров: 4294967295, ответов: 7, ошибок КС: 300, тайм-аутов: 65536, сбоев подряд: 51, связь: потеряна"},
    };
    for (const Case& c : cases) {
        TCbData cb;
        cb.FramesSent = c.C.Sent;
        cb.AnswersReceived = c.C.Answers;
        cb.ChecksumErrors = c.C.Checksum;
        cb.Timeouts = c.C.Timeouts;
        cb.FailCount = c.Fails;
        cb.LinkLost = c.Lost;
        EXPECT_EQ(LinkCountersText(cb), c.Text);
    }
}

TEST(LinkCounters, RuntimeOnlyNotPartOfTheStoredSettings)
{
    TCbData a;
    a.FramesSent = 9;
    a.AnswersReceived = 8;
    a.ChecksumErrors = 1;
    a.Timeouts = 2;
    TCbData b;
    // The stored settings of a record with counters equal those of a fresh one,
    // and applying settings leaves the counters alone.
    EXPECT_EQ(GetSettings(a), GetSettings(b));
    ApplySettings(a, TCbSettings::Defaults());
    EXPECT_EQ(Of(a), (Counts{9, 8, 1, 2}));
}

// ---------------------------------------------------------------- port error after a failed open

TEST(FailedOpen, TheOpensErrorStaysThroughTheVisitsExchangesAndClose)
{
    struct Case {
        const char* Name;
        uint8_t Port;     // the block's port; the port object starts on COM1
        uint32_t Error;   // the OS error of its open
        int OpenResult;
    };
    const Case cases[] = {
        {"missing, same number", 1, 2, -1},
        {"no permission, same number", 1, 13, -1},
        {"busy, other number", 4, 16, -6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Rig r;
        r.state.ConsoleOpen = 1;
        r.cb().PortNumber = c.Port;
        r.dev.OpenErrors[c.Port] = c.Error;
        EXPECT_EQ(r.link.OpenPortForCb(0), c.OpenResult);
        ASSERT_EQ(r.cb().LastPortError.load(), c.Error);
        // The acquisition thread goes on to its exchanges on the closed port.
        EXPECT_EQ(r.link.Exchange(0, Plan(TProfile::Acknowledge)), -3);
        EXPECT_EQ(r.link.Exchange(0, Plan(TProfile::Data)), -3);
        EXPECT_EQ(r.link.ClosePortForCb(0), 0);
        EXPECT_EQ(r.cb().LastPortError.load(), c.Error);
        EXPECT_EQ(r.cb().FailCount.load(), 3);
        EXPECT_TRUE(r.dev.Writes.empty());
        EXPECT_EQ(Of(r.cb()), (Counts{0, 0, 0, 0}));
        // The log still says what the write itself met.
        EXPECT_EQ(r.hooks.Lines.back(), "Ошибка записи в СОМ-порт; Код ошибки: 9");

        // Back: the next visit's open clears it.
        r.dev.OpenErrors.clear();
        EXPECT_EQ(r.link.OpenPortForCb(0), 0);
        EXPECT_EQ(r.cb().LastPortError.load(), 0u);
        r.dev.Answer({0xE5});
        EXPECT_EQ(r.link.Exchange(0, Plan(TProfile::Acknowledge)), 0);
        EXPECT_EQ(r.cb().LastPortError.load(), 0u);
    }
}

TEST(FailedOpen, AWriteErrorOnAnOpenPortIsStillRecorded)
{
    Rig r;
    ASSERT_EQ(r.link.OpenPortForCb(0), 0);
    r.dev.WriteError = 31;
    EXPECT_EQ(r.link.Exchange(0, Plan(TProfile::Acknowledge)), -3);
    EXPECT_EQ(r.cb().LastPortError.load(), 31u);
}

TEST(FailedOpen, APortNeverOpenedShowsTheWritesOwnError)
{
    Rig r;
    EXPECT_EQ(r.link.Exchange(0, Plan(TProfile::Acknowledge)), -3);
    EXPECT_EQ(r.cb().LastPortError.load(), 9u);
}

}  // namespace
}  // namespace kestrel
