// Event decoding, effects on the model, texts and the shared list.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "protocol/ProtocolRig.h"

namespace kestrel {
namespace {

using test::Bytes;
using test::Ev;
using test::EventFrame;
using test::FakeSerialDevice;
using test::RecordingHooks;
using test::RecordingSleeper;

struct Rig : test::ProtocolRig {
    int Poll(const Ev& e)
    {
        dev.Answer(EventFrame(e));
        return proto.ReqPollEvent(0, true);
    }
};

TEventData Decode(const Ev& e)
{
    const Bytes f = EventFrame(e);
    TEventData out;
    EXPECT_TRUE(DecodeEventMessage(f.data(), f.size(), out));
    return out;
}

TEST(EventDecode, FieldsBcdAndInvertedBytes)
{
    Ev e;
    e.Code = 0xC0;
    e.B8 = 0xF2;
    e.Ms = 987;
    e.S = 59;
    e.Mi = 48;
    e.H = 23;
    e.D = 31;
    e.Mo = 12;
    e.Y = 99;
    const TEventData d = Decode(e);
    EXPECT_EQ(d.Outputs, 0x0D);
    EXPECT_EQ(d.UirAddress, 0);
    EXPECT_EQ(d.Milliseconds, 987);
    EXPECT_EQ(d.Seconds, 59);
    EXPECT_EQ(d.Minutes, 48);
    EXPECT_EQ(d.Hours, 23);
    EXPECT_EQ(d.Day, 31);
    EXPECT_EQ(d.Month, 12);
    EXPECT_EQ(d.Year, 99);
    // The hundreds digit takes the low nibble only.
    Bytes f = EventFrame(e);
    f[10] = 0xF9;
    TEventData g;
    ASSERT_TRUE(DecodeEventMessage(f.data(), f.size(), g));
    EXPECT_EQ(g.Milliseconds, 987);
}

TEST(EventDecode, WhatEachCodeCarries)
{
    struct Case {
        uint8_t Code;
        uint8_t Uir, Interval, Outputs;
    };
    const Case cases[] = {
        {0xA1, 5, 10, 0}, {0xA3, 5, 10, 0}, {0xE0, 5, 0, 0}, {0xE3, 5, 0, 0}, {0xC0, 0, 0, 0x3A},
        {0xB2, 0, 0, 0},  {0xD2, 0, 0, 0},  {0xFF, 0, 0, 0}, {0x77, 0, 0, 0},
    };
    for (const Case& c : cases) {
        Ev e;
        e.Code = c.Code;
        e.B8 = c.Code == 0xC0 ? 0x05 : 0x05;
        e.B9 = 0xF5;
        e.H = 12;
        const TEventData d = Decode(e);
        EXPECT_EQ(d.Code, c.Code);
        EXPECT_EQ(d.UirAddress, c.Uir) << std::hex << int(c.Code);
        EXPECT_EQ(d.Interval, c.Interval) << std::hex << int(c.Code);
        EXPECT_EQ(d.Outputs, c.Outputs) << std::hex << int(c.Code);
    }
}

TEST(EventDecode, ArcTimeIsCorrectedByTheInterval)
{
    Ev e;
    e.Code = 0xA2;
    e.B8 = 5;
    e.B9 = 0xF5;  // interval 10 ms
    e.H = 12;
    e.Ms = 5;
    e.D = 15;
    e.Mo = 6;
    e.Y = 13;
    const TEventData d = Decode(e);
    EXPECT_EQ(d.Interval, 10);
    EXPECT_EQ(d.Hours, 11);
    EXPECT_EQ(d.Minutes, 59);
    EXPECT_EQ(d.Seconds, 59);
    EXPECT_EQ(d.Milliseconds, 995);
    EXPECT_EQ(d.Day, 15);
}

TEST(EventDecode, ArcBeforeMidnightMovesToThePreviousDay)
{
    struct Case {
        int D, Mo, Y;
        int ExpD, ExpMo, ExpY;
    };
    const Case cases[] = {
        {15, 6, 13, 14, 6, 13},  {1, 3, 16, 29, 2, 16}, {1, 3, 15, 28, 2, 15}, {1, 3, 0, 29, 2, 0},
        {1, 1, 14, 31, 12, 13},  {1, 1, 0, 31, 12, 99}, {1, 5, 14, 30, 4, 14}, {1, 8, 14, 31, 7, 14},
    };
    for (const Case& c : cases) {
        Ev e;
        e.Code = 0xA1;
        e.B8 = 1;
        e.B9 = static_cast<uint8_t>(~20);  // 20 ms
        e.Ms = 5;                          // 00:00:00.005
        e.D = c.D;
        e.Mo = c.Mo;
        e.Y = c.Y;
        const TEventData d = Decode(e);
        EXPECT_EQ(d.Hours, 23);
        EXPECT_EQ(d.Minutes, 59);
        EXPECT_EQ(d.Seconds, 59);
        EXPECT_EQ(d.Milliseconds, 985);
        EXPECT_EQ(d.Day, c.ExpD) << c.D << "." << c.Mo << "." << c.Y;
        EXPECT_EQ(d.Month, c.ExpMo);
        EXPECT_EQ(d.Year, c.ExpY);
    }
}

TEST(EventDecode, ShortInputIsRefused)
{
    const Bytes f = EventFrame(Ev{});
    TEventData d;
    d.Code = 0x42;
    EXPECT_FALSE(DecodeEventMessage(f.data(), 18, d));
    EXPECT_FALSE(DecodeEventData(f.data() + 7, 11, d));
    EXPECT_FALSE(DecodeEventData(nullptr, 12, d));
    EXPECT_EQ(d.Code, 0x42);
}

TEST(EventEffects, ArcsFaultsLinksMtzAndReset)
{
    struct Case {
        uint8_t Code, Uir;
        bool Restores;
    };
    const Case cases[] = {{0xA1, 1, true},  {0xA2, 5, true},  {0xA3, 43, true}, {0xA2, 0, false}, {0xA2, 44, false},
                          {0xE0, 7, true},  {0xE0, 0, false}, {0xE1, 2, true},  {0xE3, 43, true}, {0xE2, 200, false},
                          {0xB1, 0, true},  {0xB3, 0, true},  {0xC0, 0, false}, {0xD0, 0, false}, {0xD4, 0, false},
                          {0xFF, 0, false}, {0x42, 0, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.Code) + "/" + std::to_string(c.Uir));
        Rig r;
        Ev e;
        e.Code = c.Code;
        e.B8 = c.Uir;
        EXPECT_EQ(r.Poll(e), 1);
        EXPECT_EQ(r.hooks.Restores, c.Restores ? 1 : 0);
        EXPECT_EQ(r.cb().Events.Count(), 1);  // stored whatever the code
        const bool known = c.Uir >= 1 && c.Uir <= 43;
        int set = 0;
        for (int i = 0; i < kUirCount; ++i) {
            for (int in = 1; in <= 3; ++in)
                set += r.cb().Uir[i].ChArc(in) + r.cb().Uir[i].ChFault(in);
            set += r.cb().UirLinkLost[i];
        }
        for (auto& m : r.cb().MtzActive)
            set += m;
        const bool expectSet = (c.Code >= 0xB1 && c.Code <= 0xB3) ||
                               (known && ((c.Code >= 0xA1 && c.Code <= 0xA3) || (c.Code >= 0xE0 && c.Code <= 0xE3)));
        EXPECT_EQ(set, expectSet ? 1 : 0);
        if (c.Code == 0xA2 && known) {
            EXPECT_EQ(r.cb().Uir[c.Uir - 1].ChArc2.load(), 1);
        }
        if (c.Code == 0xE0 && known) {
            EXPECT_EQ(r.cb().UirLinkLost[c.Uir - 1].load(), 1);
        }
        if (c.Code == 0xE3 && known) {
            EXPECT_EQ(r.cb().Uir[c.Uir - 1].ChFault3.load(), 1);
        }
        if (c.Code == 0xB3) {
            EXPECT_EQ(r.cb().MtzActive[2].load(), 1);
        }
    }
}

TEST(EventEffects, ResetClearsEveryAlarmOfTheCb)
{
    Rig r;
    for (int i = 0; i < kUirCount; ++i) {
        for (int in = 1; in <= 3; ++in) {
            r.cb().Uir[i].ChArc(in) = 1;
            r.cb().Uir[i].ChFault(in) = 1;
        }
        r.cb().UirLinkLost[i] = 1;
    }
    for (auto& m : r.cb().MtzActive)
        m = 1;
    Ev e;
    e.Code = 0xD2;
    EXPECT_EQ(r.Poll(e), 1);
    for (int i = 0; i < kUirCount; ++i) {
        for (int in = 1; in <= 3; ++in) {
            EXPECT_EQ(r.cb().Uir[i].ChArc(in).load(), 0);
            EXPECT_EQ(r.cb().Uir[i].ChFault(in).load(), 0);
        }
        EXPECT_EQ(r.cb().UirLinkLost[i].load(), 0);
    }
    for (auto& m : r.cb().MtzActive)
        EXPECT_EQ(m.load(), 0);
    EXPECT_EQ(r.hooks.Restores, 0);
}

TEST(EventPoll, ResultFollowsTheReceivedControlField)
{
    for (const auto& [c, result] : {std::pair<uint8_t, int>{0x08, 1}, {0x28, 2}, {0x00, 0}, {0x48, 0}}) {
        Rig r;
        Ev e;
        e.C = c;
        EXPECT_EQ(r.Poll(e), result);
        EXPECT_EQ(r.cb().Events.Count(), 1);
    }
}

TEST(EventPoll, LogLinesOfAnArc)
{
    Rig r;
    r.state.ConsoleOpen = 1;
    Ev e;
    e.Code = 0xA1;
    e.B8 = 0x2B;
    e.B9 = 0xF5;
    e.H = 12;
    e.Ms = 5;
    e.D = 2;
    e.Mo = 10;
    e.Y = 13;
    r.Poll(e);
    const std::vector<std::string> tail(r.hooks.Lines.end() - 3, r.hooks.Lines.end());
    EXPECT_EQ(tail[0], "Код вида сообщения: A1;");
    EXPECT_EQ(tail[1], "ДЗ на входе 1; Адрес УИР: 2B; Интервал времени от обнаружения дуги до получения сообщения ЦБ: 0A");
    EXPECT_EQ(tail[2], "Время события: часы 11; минуты 59; секунды 59; милисекунды 995; день 2; месяц 10; год 13");
    EXPECT_EQ(r.hooks.Lines[4], "Новые данные есть.");
}

TEST(EventTexts, LogLinesByCode)
{
    struct Case {
        uint8_t Code, B8;
        std::string Line;
        size_t Count;
    };
    const Case cases[] = {
        {0xB2, 0, "МТЗ - 2", 3},
        {0xC0, 0xF2, "Состояние выходов ЦБ: 0D", 3},
        {0xE0, 0x10, "Нет ответа от УИР. Адрес УИР: 10", 3},
        {0xE2, 0x03, "Нет ответа от ПС на входе 2. Адрес УИР: 03", 3},
        {0xFF, 0, "Запрошенные данные отсутствуют", 2},
        {0xD1, 0, "", 3},
    };
    for (const Case& c : cases) {
        Ev e;
        e.Code = c.Code;
        e.B8 = c.B8;
        const auto lines = EventLogLines(Decode(e));
        ASSERT_EQ(lines.size(), c.Count);
        EXPECT_EQ(lines[1], c.Line);
    }
}

TEST(EventTexts, ListTextAndDate)
{
    struct Case {
        uint8_t Code, B8, B9;
        std::string Text;
    };
    const Case cases[] = {
        {0xA3, 43, 0xC0, "ДЗ на входе 3, УИР 43, интервал 63"},
        {0xB1, 0, 0, "МТЗ - 1"},
        {0xC0, 0xF2, 0, "Состояние выходов ЦБ (0D)  101100"},
        {0xC0, 0xFA, 0, "Состояние выходов ЦБ (05)  101000"},
        {0xD0, 0, 0, "Отключение питания"},
        {0xD1, 0, 0, "Включение питания"},
        {0xD2, 0, 0, "Сброс ВЖРКН"},
        {0xD3, 0, 0, "Вход в меню настроек"},
        {0xD4, 0, 0, "Выход из меню настроек"},
        {0xE0, 7, 0, "Нет ответа от УИР 7"},
        {0xE1, 8, 0, "Нет ответа от ПС на входе 1 УИР 8"},
        {0xE3, 9, 0, "Нет ответа от ПС на входе 3 УИР 9"},
        {0x00, 0, 0, ""},
        {0xFF, 0, 0, ""},
    };
    for (const Case& c : cases) {
        Ev e;
        e.Code = c.Code;
        e.B8 = c.B8;
        e.B9 = c.B9;
        e.H = 12;
        EXPECT_EQ(EventListText(Decode(e)), c.Text);
    }
    TEventData d;
    d.Day = 3;
    d.Month = 3;
    d.Year = 14;
    d.Hours = 9;
    d.Minutes = 7;
    d.Seconds = 5;
    d.Milliseconds = 40;
    EXPECT_EQ(EventListDate(d), "3.3.2014  9:7:5.40");
    d = TEventData{};
    d.Day = 31;
    d.Month = 12;
    d.Year = 19;
    d.Hours = 10;
    EXPECT_EQ(EventListDate(d), "31.12.2019  10:0:0.0");
    EXPECT_EQ(EventConsoleDate(d), "31.12.19  10:0:0.0");
    EXPECT_EQ(EventCodeText(0x0A), "0A");
    EXPECT_EQ(EventCodeText(0xA1), "A1");
}

TEST(EventList, PollInsertsWhileWindowsWalk)
{
    // The acquisition side inserts; a window walks and snapshots at the same time.
    Rig r;
    std::atomic<bool> done{false};
    std::atomic<int> walks{0};
    std::thread reader([&] {
        while (!done) {
            const auto snap = r.cb().Events.Snapshot();
            // Newest first: codes never increase going back in time.
            for (size_t i = 1; i < snap.size(); ++i)
                ASSERT_GE(snap[i - 1].Year, snap[i].Year);
            int n = 0;
            r.cb().Events.Walk([&](const TEventData&) { return ++n < 1000; });
            walks.fetch_add(1);
        }
    });
    while (walks.load() == 0)
        std::this_thread::yield();
    for (int i = 0; i < 200; ++i) {
        Ev e;
        e.Code = 0xD1;
        e.Y = i / 2;  // non-decreasing in arrival order
        r.Poll(e);
    }
    done = true;
    reader.join();
    EXPECT_EQ(r.cb().Events.Count(), 200);
    EXPECT_GT(walks.load(), 0);
}

// The list keeps at most its limit: the oldest go, the newest (the head,
// whose reset clears the alarms) always stays.
TEST(EventList, FullListDropsTheOldestAndKeepsTheHead)
{
    auto ev = [](uint8_t code, int n) {
        TEventData e;
        e.Code = code;
        e.Milliseconds = static_cast<uint16_t>(n);
        return e;
    };
    auto ms = [](const TKestrelEvents& l) {
        std::vector<int> v;
        for (const TEventData& e : l.Snapshot())
            v.push_back(e.Milliseconds);
        return v;
    };
    struct Case {
        const char* what;
        std::function<void(TKestrelEvents&)> act;
        std::vector<int> expect;  // Milliseconds from the front
    };
    // Each case starts from a list limited to 3 holding 3, 2, 1 (3 the newest).
    const Case cases[] = {
        {"insert at the front", [&](TKestrelEvents& l) { l.InsertAt(ev(0xD1, 4), 0); }, {4, 3, 2}},
        {"insert in the middle", [&](TKestrelEvents& l) { l.InsertAt(ev(0xD1, 9), 1); }, {3, 9, 2}},
        {"append (an older record)", [&](TKestrelEvents& l) { EXPECT_TRUE(l.Append(ev(0xD1, 9))); }, {3, 2, 1}},
        {"insert beyond the end", [&](TKestrelEvents& l) { l.InsertAt(ev(0xD1, 9), 7); }, {3, 2, 1}},
        {"lower the limit", [&](TKestrelEvents& l) { l.SetLimit(1); }, {3}},
        {"limit 0 counts as 1", [&](TKestrelEvents& l) { l.SetLimit(0); l.InsertAt(ev(0xD2, 5), 0); }, {5}},
        {"raise the limit", [&](TKestrelEvents& l) { l.SetLimit(5); l.InsertAt(ev(0xD1, 4), 0); l.Append(ev(0xD1, 0)); },
         {4, 3, 2, 1, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TKestrelEvents l;
        l.SetLimit(3);
        for (int n = 1; n <= 3; ++n)
            l.InsertAt(ev(0xD1, n), 0);
        l.SetCursor(2);
        c.act(l);
        EXPECT_EQ(ms(l), c.expect);
        EXPECT_LT(l.Cursor(), std::max(1, l.Count()));
    }
}

TEST(EventList, DefaultLimitHoldsADayAtOneEventASecond)
{
    TKestrelEvents l;
    EXPECT_EQ(l.Limit(), TKestrelEvents::kDefaultLimit);
    EXPECT_GE(TKestrelEvents::kDefaultLimit, 24 * 3600);
    // A reset arrives after a day and a bit of arcs: it stays at the head,
    // the oldest arcs went.
    TEventData arc;
    arc.Code = 0xA1;
    TEventData first = arc;
    first.Interval = 1;
    l.InsertAt(first, 0);
    for (int i = 1; i < TKestrelEvents::kDefaultLimit + 99; ++i)
        l.InsertAt(arc, 0);
    TEventData reset;
    reset.Code = 0xD2;
    l.InsertAt(reset, 0);
    EXPECT_EQ(l.Count(), TKestrelEvents::kDefaultLimit);
    TEventData head, last;
    ASSERT_TRUE(l.At(0, head));
    ASSERT_TRUE(l.At(l.Count() - 1, last));
    EXPECT_EQ(head.Code, 0xD2);
    EXPECT_EQ(last.Code, 0xA1);
    EXPECT_EQ(last.Interval, 0);  // the very first arc was dropped
}

// Polled events go into a full list at the front and the count stays.
TEST(EventList, PollIntoAFullListKeepsItAtItsLimit)
{
    Rig r;
    r.cb().Events.SetLimit(10);
    for (int i = 0; i < 25; ++i) {
        Ev e;
        e.Code = i == 24 ? 0xD2 : 0xA1;
        e.B8 = 5;
        e.S = i % 60;
        ASSERT_GE(r.Poll(e), 0);
    }
    EXPECT_EQ(r.cb().Events.Count(), 10);
    TEventData head;
    ASSERT_TRUE(r.cb().Events.At(0, head));
    EXPECT_EQ(head.Code, 0xD2);
    EXPECT_EQ(r.cb().Uir[4].ChArc1.load(), 0);  // the reset at the head cleared the arcs
    TEventData tail;
    ASSERT_TRUE(r.cb().Events.At(9, tail));
    EXPECT_EQ(tail.Seconds, 15);
}

}  // namespace
}  // namespace kestrel
