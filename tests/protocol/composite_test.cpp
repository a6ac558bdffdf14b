// Composite sequences against a scripted device: retry counts, pauses, FCB
// handling and results.
#include <gtest/gtest.h>

#include <algorithm>

#include "protocol/ProtocolRig.h"

namespace kestrel {
namespace {

using test::Bytes;
using test::Ev;
using test::EventFrame;
using test::FakeSerialDevice;
using test::LongAnswer;
using test::RecordingHooks;
using test::RecordingSleeper;

struct Rig : test::ProtocolRig {
    // Control field of write i.
    uint8_t C(size_t i) const { return dev.Writes[i][0] == 0x10 ? dev.Writes[i][1] : dev.Writes[i][4]; }
    size_t CountWrites(uint8_t ci) const
    {
        size_t n = 0;
        for (const Bytes& w : dev.Writes)
            if (w[0] == 0x68 && w[6] == ci)
                ++n;
        return n;
    }
};

Bytes Record(uint8_t code, uint8_t uir = 0, uint8_t c = 0x08)
{
    Ev e;
    e.Code = code;
    e.B8 = uir;
    e.B9 = 0xFF;
    e.C = c;
    return EventFrame(e);
}

// ---------------------------------------------------------------- journal

TEST(FetchJournal, EmptyJournalAsksTenTimesFiveMsApart)
{
    Rig r;
    r.cb().JournalError = 1;
    r.dev.Answer(test::Ack());      // reset of the link
    r.dev.Answer(test::Ack(), 10);  // nothing to send, ten times
    EXPECT_EQ(r.proto.ReqFetchJournal(0), 0);
    EXPECT_EQ(r.dev.Writes.size(), 11u);
    EXPECT_EQ(r.dev.Writes[0], (Bytes{0x10, 0x40, 0x01, 0x41, 0x16}));
    for (size_t i = 1; i < 11; ++i)
        EXPECT_EQ(r.C(i), 0x7B);  // the same request each time
    // reset wait 40; then per read: 5 + 200; then 10 after the ten.
    std::vector<uint32_t> expect{40};
    for (int i = 0; i < 10; ++i) {
        expect.push_back(5);
        expect.push_back(200);
    }
    expect.push_back(10);
    EXPECT_EQ(r.sleeper.Sleeps, expect);
    EXPECT_EQ(r.cb().JournalError.load(), 0);
    EXPECT_EQ(r.cb().Events.Count(), 0);
}

TEST(FetchJournal, SecondVariantEndsAtTheFirstNothingToSend)
{
    Rig r;
    r.dev.Answer(test::Ack(), 2);
    EXPECT_EQ(r.proto.ReqFetchJournal2(0), 0);
    EXPECT_EQ(r.dev.Writes.size(), 2u);
}

TEST(FetchJournal, StopsAfter255RecordsWithAlternatingFcb)
{
    for (bool second : {false, true}) {
        SCOPED_TRACE(second);
        Rig r;
        r.dev.Answer(test::Ack());
        r.dev.Answer(Record(0xD1), 300);
        EXPECT_EQ(second ? r.proto.ReqFetchJournal2(0) : r.proto.ReqFetchJournal(0), 0);
        EXPECT_EQ(r.cb().Events.Count(), 255);
        ASSERT_EQ(r.dev.Writes.size(), 256u);
        for (size_t i = 1; i < 256; ++i)
            ASSERT_EQ(r.C(i), (i % 2) ? 0x7B : 0x5B) << i;
        EXPECT_EQ(r.cb().JournalError.load(), 0);
    }
}

TEST(FetchJournal, NoAnswerGivesUpAfterTenResets)
{
    for (bool second : {false, true}) {
        Rig r;
        EXPECT_EQ(second ? r.proto.ReqFetchJournal2(0) : r.proto.ReqFetchJournal(0), -2);
        EXPECT_EQ(r.dev.Writes.size(), 10u);
        EXPECT_EQ(r.cb().JournalError.load(), 1);
        // No pause between the resets: only their own waits.
        EXPECT_EQ(r.sleeper.Sleeps, std::vector<uint32_t>(10, 40));
    }
}

TEST(FetchJournal, BadRecordIsAskedAgainWithTheSameFcbThenFails)
{
    Rig r;
    Bytes bad = Record(0xA1, 3);
    bad[bad.size() - 2] ^= 0x55;
    r.dev.Answer(test::Ack());
    r.dev.Answer(Record(0xD1));
    r.dev.Answer(bad);
    r.dev.Answer(Record(0xD0));
    r.dev.Answer(test::Ack());
    EXPECT_EQ(r.proto.ReqFetchJournal(0), 0);
    ASSERT_EQ(r.dev.Writes.size(), 5u);
    EXPECT_EQ(r.C(1), 0x7B);
    EXPECT_EQ(r.C(2), 0x5B);
    EXPECT_EQ(r.C(3), 0x5B);  // repeated after the check-sum failure
    EXPECT_EQ(r.C(4), 0x7B);
    EXPECT_EQ(r.cb().Events.Count(), 2);
    // 40 reset; 5+200 first; 10; 5+200 bad; 5+200 good; 10; 5+200 E5; 10
    EXPECT_EQ(r.sleeper.Sleeps,
              (std::vector<uint32_t>{40, 5, 200, 10, 5, 200, 5, 200, 10, 5, 200, 10}));

    Rig f;
    f.dev.Answer(test::Ack());
    f.dev.Answer(Record(0xD1));
    f.dev.Answer(bad, 10);
    EXPECT_EQ(f.proto.ReqFetchJournal(0), -3);
    EXPECT_EQ(f.dev.Writes.size(), 12u);
    EXPECT_EQ(f.cb().JournalError.load(), 1);
    EXPECT_EQ(f.cb().Events.Count(), 1);  // what arrived stays
}

TEST(FetchJournal, FirstVariantReplaysAllSecondStopsAtTheReset)
{
    // A1 (UIR 2), B1, D2, A2 (UIR 3) in the CB's order.
    const Bytes journal[] = {Record(0xA1, 2), Record(0xB1), Record(0xD2), Record(0xA2, 3)};
    {
        Rig r;
        r.dev.Answer(test::Ack());
        for (const Bytes& b : journal)
            r.dev.Answer(b);
        r.dev.Answer(test::Ack());
        EXPECT_EQ(r.proto.ReqFetchJournal(0), 0);
        const auto list = r.cb().Events.Snapshot();
        ASSERT_EQ(list.size(), 4u);
        EXPECT_EQ(list[0].Code, 0xA1);  // appended in the CB's order
        EXPECT_EQ(list[3].Code, 0xA2);
        EXPECT_EQ(r.cb().Uir[2].ChArc2.load(), 1);
        EXPECT_EQ(r.cb().Uir[1].ChArc1.load(), 0);
        EXPECT_EQ(r.cb().MtzActive[0].load(), 0);
        EXPECT_EQ(r.hooks.Restores, 3);
    }
    {
        Rig r;
        r.dev.Answer(test::Ack());
        for (const Bytes& b : journal)
            r.dev.Answer(b);
        EXPECT_EQ(r.proto.ReqFetchJournal2(0), 0);
        const auto list = r.cb().Events.Snapshot();
        ASSERT_EQ(list.size(), 3u);
        EXPECT_EQ(list[2].Code, 0xD2);
        EXPECT_EQ(r.dev.Writes.size(), 4u);
        for (int i = 0; i < kUirCount; ++i)
            for (int in = 1; in <= 3; ++in)
                EXPECT_EQ(r.cb().Uir[i].ChArc(in).load(), 0);
        EXPECT_EQ(r.cb().MtzActive[0].load(), 0);
    }
}

TEST(FetchJournal, ConsoleShowsEachRecordInTheJournalWindow)
{
    Rig r;
    r.state.ConsoleOpen = 1;
    Ev e;
    e.Code = 0xC0;
    e.B8 = 0xF2;
    e.H = 9;
    e.Mi = 7;
    e.S = 5;
    e.Ms = 40;
    e.D = 3;
    e.Mo = 3;
    e.Y = 14;
    r.dev.Answer(test::Ack());
    r.dev.Answer(EventFrame(e));
    e.Code = 0xD4;
    r.dev.Answer(EventFrame(e));
    r.dev.Answer(test::Ack());
    EXPECT_EQ(r.proto.ReqFetchJournal(0), 0);
    ASSERT_EQ(r.hooks.JournalRows.size(), 2u);
    EXPECT_EQ(r.hooks.JournalRows[0].Code, "C0");
    EXPECT_EQ(r.hooks.JournalRows[0].Text, "Состояние выходов ЦБ 0D");
    EXPECT_EQ(r.hooks.JournalRows[0].Date, "3.3.14  9:7:5.40");
    EXPECT_EQ(r.hooks.JournalRows[1].Text, "");
    EXPECT_NE(std::find(r.hooks.Lines.begin(), r.hooks.Lines.end(), "Получение записи журнала."), r.hooks.Lines.end());
}

// ---------------------------------------------------------------- function tables

TEST(ReadAllFuncTables, ReadsFourModesWithOneFcb)
{
    Rig r;
    r.cb().FuncReadError = 1;
    for (uint8_t ci : {0x2C, 0x30, 0x34})
        r.dev.Answer(LongAnswer(0x08, 0x01, ci, {0, 0, 0, 0}));
    r.dev.Answer(LongAnswer(0x08, 0x01, 0x38, {0, 0, 0, 0, 2, 0, 1}));
    EXPECT_EQ(r.proto.ReqReadAllFuncTables(0, true), 0);
    ASSERT_EQ(r.dev.Writes.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(r.C(i), 0x7B);
        EXPECT_EQ(r.dev.Writes[i][6], 0x2C + 4 * i);
    }
    EXPECT_EQ(r.sleeper.Sleeps, std::vector<uint32_t>(4, 200));  // no pause after a success
    EXPECT_EQ(r.cb().FuncReadError.load(), 0);
    EXPECT_EQ(r.cb().UrovTimeMs.load(), 100);
}

TEST(ReadAllFuncTables, FailureOnMtz2KeepsEarlierTablesAndSkipsMtz3)
{
    Rig r;
    r.dev.Answer(LongAnswer(0x08, 0x01, 0x2C, {1, 1, 1, 1}));
    r.dev.Answer(LongAnswer(0x08, 0x01, 0x30, {2, 2, 2, 2}));
    EXPECT_EQ(r.proto.ReqReadAllFuncTables(0, false), -2);
    EXPECT_EQ(r.cb().FuncTable[0][0].load(), 0xFE);
    EXPECT_EQ(r.cb().FuncTable[0][1].load(), 0xFD);
    EXPECT_EQ(r.CountWrites(0x34), 10u);
    EXPECT_EQ(r.CountWrites(0x38), 0u);
    EXPECT_EQ(r.cb().FuncReadError.load(), 1);
    size_t pauses = 0;
    for (uint32_t s : r.sleeper.Sleeps)
        pauses += s == 10;
    EXPECT_EQ(pauses, 9u);  // between the ten tries
}

TEST(ReadAllFuncTables, SilentDeviceTriesTheFirstTableTenTimes)
{
    Rig r;
    EXPECT_EQ(r.proto.ReqReadAllFuncTables(0, false), -2);
    EXPECT_EQ(r.dev.Writes.size(), 10u);
}

TEST(WriteAllFuncTables, StagesFromTheRecordAndWritesFourModes)
{
    Rig r;
    for (int k = 0; k < 4; ++k)
        for (int m = 0; m < 4; ++m)
            r.cb().FuncTable[k][m] = static_cast<uint8_t>(0xC0 + 4 * m + k);
    r.cb().UrovTimeMs = 230;
    r.cb().MtzWait = 1;
    r.cb().FuncWriteError = 1;
    r.state.Fcb = 1;
    r.dev.Answer(test::Ack(), 4);
    EXPECT_EQ(r.proto.ReqWriteAllFuncTables(0), 0);
    ASSERT_EQ(r.dev.Writes.size(), 4u);
    EXPECT_EQ(r.dev.Writes[0], (Bytes{0x68, 0x07, 0x07, 0x68, 0x73, 0x01, 0x2C, 0x3F, 0x3E, 0x3D, 0x3C, 0x96, 0x16}));
    const Bytes& last = r.dev.Writes[3];
    ASSERT_EQ(last.size(), 15u);
    EXPECT_EQ(last[11], 4);  // 230 ms / 50
    EXPECT_EQ(last[12], 1);
    EXPECT_EQ(last[7], static_cast<uint8_t>(~0xCC));
    EXPECT_EQ(r.sleeper.Sleeps, (std::vector<uint32_t>{200, 10, 200, 10, 200, 10, 200}));
    EXPECT_EQ(r.cb().FuncWriteError.load(), 0);
}

TEST(WriteAllFuncTables, HundredCallsPerModeAndTheModesResult)
{
    Rig r;
    EXPECT_EQ(r.proto.ReqWriteAllFuncTables(0), -2);
    EXPECT_EQ(r.dev.Writes.size(), 100u);
    EXPECT_EQ(r.cb().FuncWriteError.load(), 1);

    Rig q;
    q.dev.Answer(test::Ack(), 3);
    EXPECT_EQ(q.proto.ReqWriteAllFuncTables(0), -5);  // the fourth mode failed
    EXPECT_EQ(q.dev.Writes.size(), 103u);
}

// ---------------------------------------------------------------- UIR configuration

Bytes Segment(int s) { return LongAnswer(0x08, 0x01, 0x40, {static_cast<uint8_t>(4 * s), 1, 1, 1, 1, 1, 1, 1, 1}); }

TEST(UirConfig, ReadAllElevenSegments)
{
    Rig r;
    for (int s = 0; s <= 10; ++s)
        r.dev.Answer(Segment(s));
    EXPECT_EQ(r.proto.ReqReadUirConfig(0, true), 0);
    ASSERT_EQ(r.dev.Writes.size(), 11u);
    for (size_t s = 0; s < 11; ++s) {
        EXPECT_EQ(r.dev.Writes[s][7], 4 * s);
        EXPECT_EQ(r.C(s), 0x7B);
    }
    EXPECT_EQ(r.cb().Uir[42].InputFunction1.load(), 1);
    EXPECT_EQ(r.cb().UirReadError.load(), 0);
}

TEST(UirConfig, FailedSegmentGivesItsResult)
{
    struct Case {
        int FailAt;
        int Result;
    };
    for (const Case c : {Case{0, -2}, Case{3, -5}, Case{7, -9}, Case{10, -12}}) {
        SCOPED_TRACE(c.FailAt);
        Rig r;
        for (int s = 0; s < c.FailAt; ++s)
            r.dev.Answer(Segment(s));
        EXPECT_EQ(r.proto.ReqReadUirConfig(0, false), c.Result);
        EXPECT_EQ(r.dev.Writes.size(), static_cast<size_t>(c.FailAt + 10));
        EXPECT_EQ(r.cb().UirReadError.load(), 1);
    }
}

TEST(UirConfig, WriteAllSegmentsWithTheGivenFcb)
{
    Rig r;
    r.dev.Answer(test::Ack(), 11);
    EXPECT_EQ(r.proto.ReqWriteUirConfig(0, true), 0);
    ASSERT_EQ(r.dev.Writes.size(), 11u);
    for (size_t s = 0; s < 11; ++s) {
        EXPECT_EQ(r.C(s), 0x73);
        EXPECT_EQ(r.dev.Writes[s][7], 4 * s);
    }
    EXPECT_EQ(r.cb().UirWriteError.load(), 0);

    Rig f;
    EXPECT_EQ(f.proto.ReqWriteUirConfig(0, false), -2);
    EXPECT_EQ(f.dev.Writes.size(), 10u);
    EXPECT_EQ(f.cb().UirWriteError.load(), 1);
}

// ---------------------------------------------------------------- event cycle

TEST(EventCycle, NothingNewOnTheFirstPoll)
{
    Rig r;
    r.cb().NewEventCount = 5;
    r.dev.Answer(test::Ack());  // reset FCB
    r.dev.Answer(test::Ack());  // poll: nothing
    EXPECT_EQ(r.proto.ReqEventCycle(0), 0);
    EXPECT_EQ(r.cb().NewEventCount.load(), 0);
    EXPECT_EQ(r.state.Fcb.load(), 0);
    ASSERT_EQ(r.dev.Writes.size(), 2u);
    EXPECT_EQ(r.dev.Writes[0], (Bytes{0x10, 0x47, 0x01, 0x48, 0x16}));
    EXPECT_EQ(r.dev.Writes[1], (Bytes{0x10, 0x7B, 0x01, 0x7C, 0x16}));
    EXPECT_EQ(r.sleeper.Sleeps, (std::vector<uint32_t>{40, 10, 40}));
}

TEST(EventCycle, ThreeEventsNewestFirstAheadOfOlderEntries)
{
    Rig r;
    TEventData old;
    old.Code = 0xD0;
    r.cb().Events.Append(old);
    r.dev.Answer(test::Ack());
    r.dev.Answer(Record(0xB1, 0, 0x28));
    r.dev.Answer(Record(0xB2, 0, 0x28));
    r.dev.Answer(Record(0xB3, 0, 0x08));
    r.dev.Answer(test::Ack());
    EXPECT_EQ(r.proto.ReqEventCycle(0), 0);
    ASSERT_EQ(r.dev.Writes.size(), 5u);
    EXPECT_EQ(r.C(1), 0x7B);
    EXPECT_EQ(r.C(2), 0x5B);
    EXPECT_EQ(r.C(3), 0x7B);
    EXPECT_EQ(r.C(4), 0x5B);
    EXPECT_EQ(r.cb().NewEventCount.load(), 3);
    const auto list = r.cb().Events.Snapshot();
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0].Code, 0xB3);
    EXPECT_EQ(list[1].Code, 0xB2);
    EXPECT_EQ(list[2].Code, 0xB1);
    EXPECT_EQ(list[3].Code, 0xD0);
    ASSERT_EQ(r.proto.LastCycleEvents().size(), 3u);
}

TEST(EventCycle, ResetThenArcInOneCycleLeavesTheArcShowing)
{
    Rig r;
    r.cb().Uir[4].ChArc1 = 1;  // an old alarm, cleared by the reset
    r.dev.Answer(test::Ack());
    r.dev.Answer(Record(0xD2, 0, 0x28));
    r.dev.Answer(Record(0xA1, 6, 0x08));
    r.dev.Answer(test::Ack());
    EXPECT_EQ(r.proto.ReqEventCycle(0), 0);
    EXPECT_EQ(r.cb().Uir[4].ChArc1.load(), 0);
    EXPECT_EQ(r.cb().Uir[5].ChArc1.load(), 1);
    // The status walk reads from the front and stops at the newest reset: the
    // arc must stand before it.
    bool arcBeforeReset = false;
    r.cb().Events.Walk([&](const TEventData& e) {
        if (e.Code == 0xD2)
            return false;
        if (e.Code == 0xA1 && e.UirAddress == 6)
            arcBeforeReset = true;
        return true;
    });
    EXPECT_TRUE(arcBeforeReset);
}

TEST(EventCycle, MenuLeftAmongTheNewEventsMarksTablesAndConfig)
{
    Rig r;
    r.dev.Answer(test::Ack());
    r.dev.Answer(Record(0xD3, 0, 0x28));
    r.dev.Answer(Record(0xD4, 0, 0x08));
    r.dev.Answer(test::Ack());
    EXPECT_EQ(r.proto.ReqEventCycle(0), 0);
    EXPECT_EQ(r.cb().FuncTablesChanged.load(), 1);
    EXPECT_EQ(r.cb().UirCfgChanged.load(), 1);

    // A 0xD4 already in the list from an earlier cycle does not count.
    Rig q;
    TEventData d4;
    d4.Code = 0xD4;
    q.cb().Events.Append(d4);
    q.dev.Answer(test::Ack());
    q.dev.Answer(Record(0xD1, 0, 0x08));
    q.dev.Answer(test::Ack());
    EXPECT_EQ(q.proto.ReqEventCycle(0), 0);
    EXPECT_EQ(q.cb().FuncTablesChanged.load(), 0);
    EXPECT_EQ(q.cb().UirCfgChanged.load(), 0);
}

TEST(EventCycle, ResetFcbFailingTenTimes)
{
    Rig r;
    EXPECT_EQ(r.proto.ReqEventCycle(0), -3);
    EXPECT_EQ(r.dev.Writes.size(), 10u);
    std::vector<uint32_t> expect;
    for (int i = 0; i < 10; ++i) {
        if (i)
            expect.push_back(50);
        expect.push_back(40);
    }
    EXPECT_EQ(r.sleeper.Sleeps, expect);
    EXPECT_EQ(r.proto.ReqEventCycle(3), -2);
}

TEST(EventCycle, PollFailingHundredTimesKeepsItsFcb)
{
    Rig r;
    r.dev.Answer(test::Ack());
    EXPECT_EQ(r.proto.ReqEventCycle(0), -6);
    ASSERT_EQ(r.dev.Writes.size(), 101u);
    for (size_t i = 1; i < 101; ++i)
        ASSERT_EQ(r.C(i), 0x7B);
    EXPECT_EQ(r.state.Fcb.load(), 0);  // inverted whatever the result
}

TEST(EventCycle, OtherFirstByteEndsTheCycleAsNothingLeft)
{
    Rig r;
    r.dev.Answer(test::Ack());
    r.dev.Answer({0x10, 0x00});
    EXPECT_EQ(r.proto.ReqEventCycle(0), 0);
    EXPECT_EQ(r.cb().FailCount.load(), 0);
}

TEST(EventCycle, ConsoleShowsTheJournalOnlyWhenEventsCame)
{
    Rig r;
    r.state.ConsoleOpen = 1;
    r.dev.Answer(test::Ack(), 2);
    r.proto.ReqEventCycle(0);
    EXPECT_EQ(r.hooks.JournalShows, 0);
    r.dev.Answer(test::Ack());
    r.dev.Answer(Record(0xD1));
    r.dev.Answer(test::Ack());
    r.proto.ReqEventCycle(0);
    EXPECT_EQ(r.hooks.JournalShows, 1);
}

// A block with n events waiting: one cycle takes at most 255 of them, the
// rest come with the next cycle, in order and without a gap.
TEST(EventCycle, TakesAtMost255EventsTheRestComeWithTheNextCycle)
{
    struct Case {
        int queued;
        size_t firstPolls;   // polls of the first cycle
        int firstResult;
        int secondEvents;    // events the second cycle brings
    };
    const Case cases[] = {
        {254, 255, 0, 0},  // all taken, the 255th poll finds nothing
        {255, 255, 1, 0},  // the last one (C 0x08) is the 255th
        {256, 255, 2, 1},  // C 0x28: more waiting, taken next time
        {600, 255, 2, 255},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.queued);
        Rig r;
        r.dev.Answer(test::Ack());
        std::vector<Bytes> events;
        for (int i = 0; i < c.queued; ++i) {
            Ev e;
            e.Code = 0xC0;
            e.B8 = static_cast<uint8_t>(~(i & 0x3F));
            e.Mi = (i / 60) % 60;
            e.S = i % 60;
            e.C = i + 1 == c.queued ? 0x08 : 0x28;
            events.push_back(EventFrame(e));
        }
        size_t next = 0;
        auto feed = [&](size_t n) {
            for (; n > 0 && next < events.size(); --n)
                r.dev.Answer(events[next++]);
        };
        feed(255);
        r.dev.Answer(test::Ack(), 2);  // nothing more (only reached below 255), and the next FCB reset
        EXPECT_EQ(r.proto.ReqEventCycle(0), c.firstResult);
        EXPECT_EQ(r.dev.Writes.size(), 1 + c.firstPolls);
        const int first = std::min(c.queued, 255);
        EXPECT_EQ(r.cb().NewEventCount.load(), first);
        EXPECT_EQ(r.proto.LastCycleEvents().size(), static_cast<size_t>(first));
        EXPECT_EQ(r.cb().Events.Count(), first);
        // The FCB alternated on every poll and the next cycle starts afresh.
        for (size_t i = 1; i < r.dev.Writes.size(); ++i)
            ASSERT_EQ(r.C(i), i % 2 ? 0x7B : 0x5B) << i;

        if (c.queued <= 255)
            continue;
        r.dev.Script.clear();
        r.dev.Writes.clear();
        r.dev.Answer(test::Ack());
        feed(255);
        r.dev.Answer(test::Ack());
        r.proto.ReqEventCycle(0);
        EXPECT_EQ(r.cb().NewEventCount.load(), c.secondEvents);
        EXPECT_EQ(r.dev.Writes[0], (Bytes{0x10, 0x47, 0x01, 0x48, 0x16}));
        // Every event once, the newest at the front.
        const auto list = r.cb().Events.Snapshot();
        ASSERT_EQ(list.size(), static_cast<size_t>(first + c.secondEvents));
        for (size_t k = 0; k < list.size(); ++k) {
            const int i = static_cast<int>(list.size() - 1 - k);
            ASSERT_EQ(list[k].Seconds, i % 60) << k;
            ASSERT_EQ(list[k].Minutes, (i / 60) % 60) << k;
        }
    }
}

// A stop request is looked at before every exchange: the cycle ends there,
// with the events received so far kept and counted.
TEST(EventCycle, StopRequestEndsTheCycleBetweenTwoExchanges)
{
    struct Case {
        size_t stopAfterWrites;
        bool pollsFail;      // the block stops answering after the FCB reset
        int result;
        int newEvents;
    };
    const Case cases[] = {
        {0, false, 0, 0},   // nothing sent at all
        {1, false, 0, 0},   // after the FCB reset
        {2, false, 2, 1},   // after the first event
        {40, false, 2, 39},
        {7, true, 0, 0},    // in the middle of the poll's retries
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stopAfterWrites);
        Rig r;
        r.dev.Answer(test::Ack());
        if (!c.pollsFail)
            r.dev.Answer(Record(0xD1, 0, 0x28), 300);
        int asked = 0;
        const auto stop = [&] {
            ++asked;
            return r.dev.Writes.size() >= c.stopAfterWrites;
        };
        EXPECT_EQ(r.proto.ReqEventCycle(0, stop), c.result);
        EXPECT_EQ(r.dev.Writes.size(), c.stopAfterWrites);
        EXPECT_EQ(r.cb().NewEventCount.load(), c.newEvents);
        EXPECT_EQ(r.cb().Events.Count(), c.newEvents);
        EXPECT_GE(asked, static_cast<int>(c.stopAfterWrites) + 1);
    }
    // Without a stop request the same block is drained to the cap.
    Rig r;
    r.dev.Answer(test::Ack());
    r.dev.Answer(Record(0xD1, 0, 0x28), 300);
    EXPECT_EQ(r.proto.ReqEventCycle(0, [] { return false; }), 2);
    EXPECT_EQ(r.cb().NewEventCount.load(), 255);
}

}  // namespace
}  // namespace kestrel
