#include <gtest/gtest.h>

#include <thread>

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
    void Stage(std::initializer_list<uint8_t> bytes)
    {
        int i = 0;
        for (uint8_t b : bytes)
            state.CmdData[i++] = b;
    }
    std::vector<std::string> LogAfterSentAndReceived() const
    {
        return {hooks.Lines.begin() + std::min<size_t>(4, hooks.Lines.size()), hooks.Lines.end()};
    }
};

// ---------------------------------------------------------------- exact bytes

TEST(Commands, EveryCodeSendsExactlyItsFrame)
{
    struct Case {
        int32_t Code;
        bool Fcb;
        uint8_t Segment;
        std::vector<uint8_t> CmdData;
        Bytes Frame;
    };
    const Case cases[] = {
        {1, false, 0, {}, {0x10, 0x40, 0x01, 0x41, 0x16}},
        {1, true, 0, {}, {0x10, 0x40, 0x01, 0x41, 0x16}},
        {2, true, 0, {}, {0x68, 0x03, 0x03, 0x68, 0x7B, 0x01, 0xF0, 0x6C, 0x16}},
        {2, false, 0, {}, {0x68, 0x03, 0x03, 0x68, 0x5B, 0x01, 0xF0, 0x4C, 0x16}},
        {3, false, 0, {}, {0x68, 0x03, 0x03, 0x68, 0x5B, 0x01, 0x2C, 0x88, 0x16}},
        {3, true, 0, {}, {0x68, 0x03, 0x03, 0x68, 0x7B, 0x01, 0x2C, 0xA8, 0x16}},
        {4, false, 0, {}, {0x68, 0x03, 0x03, 0x68, 0x5B, 0x01, 0x30, 0x8C, 0x16}},
        {5, false, 0, {}, {0x68, 0x03, 0x03, 0x68, 0x5B, 0x01, 0x34, 0x90, 0x16}},
        {6, false, 0, {}, {0x68, 0x03, 0x03, 0x68, 0x5B, 0x01, 0x38, 0x94, 0x16}},
        {7, true, 0, {}, {0x10, 0x47, 0x01, 0x48, 0x16}},
        {8, false, 0, {}, {0x68, 0x03, 0x03, 0x68, 0x5B, 0x01, 0x3C, 0x98, 0x16}},
        {9, false, 1, {}, {0x68, 0x04, 0x04, 0x68, 0x5B, 0x01, 0x40, 0x04, 0xA0, 0x16}},
        {9, true, 11, {}, {0x68, 0x04, 0x04, 0x68, 0x7B, 0x01, 0x40, 0x2C, 0xE8, 0x16}},
        {10, true, 0, {}, {0x68, 0x03, 0x03, 0x68, 0x44, 0x01, 0x44, 0x89, 0x16}},
        {11, false, 0, {0xC7, 0xC7, 0xFF, 0xFF},
         {0x68, 0x07, 0x07, 0x68, 0x53, 0x01, 0x2C, 0x38, 0x38, 0x00, 0x00, 0xF0, 0x16}},
        {12, true, 0, {0xC6, 0xC6, 0xC6, 0xC1},
         {0x68, 0x07, 0x07, 0x68, 0x73, 0x01, 0x30, 0x39, 0x39, 0x39, 0x3E, 0x8D, 0x16}},
        {13, false, 0, {0xC1, 0xC1, 0xC6, 0xC1},
         {0x68, 0x07, 0x07, 0x68, 0x53, 0x01, 0x34, 0x3E, 0x3E, 0x39, 0x3E, 0x7B, 0x16}},
        {14, false, 0, {0xC7, 0xC7, 0xC6, 0xC1, 0x04, 0x01},
         {0x68, 0x09, 0x09, 0x68, 0x53, 0x01, 0x38, 0x38, 0x38, 0x39, 0x3E, 0x04, 0x01, 0x78, 0x16}},
        {15, false, 0, {0x05, 0x30, 0x17, 0x02, 0x10, 0x13},
         {0x68, 0x09, 0x09, 0x68, 0x53, 0x01, 0x3C, 0x05, 0x30, 0x17, 0x02, 0x10, 0x13, 0x01, 0x16}},
        {17, true, 0, {}, {0x68, 0x03, 0x03, 0x68, 0x73, 0x01, 0x48, 0xBC, 0x16}},
        {18, false, 0, {5}, {0x68, 0x04, 0x04, 0x68, 0x53, 0x01, 0x4C, 0x05, 0xA5, 0x16}},
        {19, false, 0, {1}, {0x68, 0x04, 0x04, 0x68, 0x53, 0x01, 0x50, 0x01, 0xA5, 0x16}},
        {20, false, 0, {}, {0x10, 0x49, 0x01, 0x4A, 0x16}},
        {20, true, 0, {}, {0x10, 0x69, 0x01, 0x6A, 0x16}},
        {21, false, 0, {}, {0x10, 0x5B, 0x01, 0x5C, 0x16}},
        {21, true, 0, {}, {0x10, 0x7B, 0x01, 0x7C, 0x16}},
        {22, false, 0, {}, {0x68, 0x03, 0x03, 0x68, 0x44, 0x01, 0x54, 0x99, 0x16}},
        {23, true, 0, {}, {0x68, 0x03, 0x03, 0x68, 0x7B, 0x01, 0xF0, 0x6C, 0x16}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Code);
        Rig r;
        r.state.Fcb = c.Fcb;
        r.state.UirSegment = c.Segment;
        for (size_t i = 0; i < c.CmdData.size(); ++i)
            r.state.CmdData[i] = c.CmdData[i];
        r.proto.Dispatch(0, c.Code);
        ASSERT_EQ(r.dev.Writes.size(), 1u);
        EXPECT_EQ(TLink::HexBytes(r.dev.Writes[0]), TLink::HexBytes(c.Frame));
        EXPECT_EQ(r.state.Fcb.load(), c.Fcb);  // no single command changes Fcb
    }
}

TEST(Commands, UirSegmentWritePacksTheRecords)
{
    Rig r;
    for (auto& u : r.cb().Uir) {
        u.OutputEnabled = 0;
        u.PollEnabled = 0;
        u.InputControl1 = u.InputControl2 = u.InputControl3 = 1;
        u.InputFunction1 = 0;
        u.InputFunction2 = 1;
        u.InputFunction3 = 2;
    }
    r.state.UirSegment = 1;
    r.proto.Dispatch(0, ReqWriteUirSegment);
    ASSERT_EQ(r.dev.Writes.size(), 1u);
    EXPECT_EQ(r.dev.Writes[0], (Bytes{0x68, 0x0C, 0x0C, 0x68, 0x53, 0x01, 0x40, 0x04, 0x24, 0x07, 0x24, 0x07, 0x24,
                                      0x07, 0x24, 0x07, 0x44, 0x16}));
    // Segment 0: slot 0 carries no UIR and goes as zeros.
    r.cb().Uir[0].InputFunction1 = 3;
    r.cb().Uir[0].InputFunction3 = 2;
    r.cb().Uir[0].InputFunction2 = 0;
    r.cb().Uir[0].PollEnabled = 1;
    r.cb().Uir[0].OutputEnabled = 1;
    r.proto.PackUirSegment(0, 0);
    EXPECT_EQ(r.state.CmdData[1].load(), 0);
    EXPECT_EQ(r.state.CmdData[2].load(), 0);
    EXPECT_EQ(r.state.CmdData[3].load(), 0x23 + 0x40 + 0x80);
    EXPECT_EQ(r.state.CmdData[4].load(), 0x07);
    // Segment 11 lies past UIR 43: nothing of any UIR.
    r.proto.PackUirSegment(0, 11);
    for (int i = 1; i <= 8; ++i)
        EXPECT_EQ(r.state.CmdData[i].load(), 0);
}

// ---------------------------------------------------------------- waits per command

TEST(Commands, WaitOfEveryCommandAtEverySpeed)
{
    // Wait basis per code, from the command table.
    const std::pair<int32_t, uint32_t> basis[] = {
        {1, 5},   {2, 25},  {3, 25},  {4, 25},  {5, 25},  {6, 25},  {7, 5},   {8, 25},
        {9, 25},  {10, 25}, {11, 25}, {12, 25}, {13, 25}, {14, 25}, {15, 25}, {16, 25},
        {17, 9},  {18, 10}, {19, 10}, {20, 5},  {21, 5},  {22, 9},  {23, 25},
    };
    // speed, w(5), w(9), w(10), w(25), poll w(5)
    const uint32_t table[][6] = {
        {110, 2560, 4608, 5120, 12800, 2560}, {300, 1280, 2304, 2560, 6400, 1280}, {600, 640, 1152, 1280, 3200, 640},
        {1200, 320, 576, 640, 1600, 320},     {2400, 160, 288, 320, 800, 160},     {4800, 80, 144, 160, 400, 80},
        {9600, 40, 72, 80, 200, 40},          {19200, 20, 36, 40, 100, 40},        {38400, 10, 18, 20, 50, 20},
        {57600, 5, 9, 10, 25, 10},            {115200, 3, 4, 5, 12, 5},
    };
    for (const auto& row : table) {
        for (const auto& [code, n] : basis) {
            SCOPED_TRACE(std::to_string(row[0]) + " bit/s, code " + std::to_string(code));
            Rig r;
            r.port.SetSpeed(static_cast<int32_t>(row[0]));
            r.proto.Dispatch(0, code);  // no answer at all
            uint32_t expect = n == 5 ? row[1] : n == 9 ? row[2] : n == 10 ? row[3] : row[4];
            if (code == ReqPollEvent)
                expect = row[5];
            ASSERT_FALSE(r.sleeper.Sleeps.empty());
            EXPECT_EQ(r.sleeper.Sleeps[0], expect);
            if (code == ReqStopClock)
                EXPECT_EQ(r.sleeper.Sleeps, (std::vector<uint32_t>{expect, 20}));
            else
                EXPECT_EQ(r.sleeper.Sleeps.size(), 1u);
        }
    }
}

TEST(Commands, SpotWaitsAt9600And115200)
{
    struct Case {
        int32_t Speed, Code;
        std::vector<uint32_t> Sleeps;
    };
    const Case cases[] = {
        {9600, ReqResetLink, {40}},   {9600, ReqReadClock, {200}},   {9600, ReqResetCb, {72}},
        {9600, ReqSetSpeed, {80}},    {9600, ReqStopClock, {72, 20}}, {115200, ReqResetLink, {3}},
        {115200, ReqPollEvent, {5}},  {19200, ReqPollEvent, {40}},   {19200, ReqResetLink, {20}},
        {14400, ReqResetLink, {}},
    };
    for (const Case& c : cases) {
        Rig r;
        r.port.SetSpeed(c.Speed);
        r.proto.Dispatch(0, c.Code);
        EXPECT_EQ(r.sleeper.Sleeps, c.Sleeps) << c.Speed << " " << c.Code;
    }
}

// ---------------------------------------------------------------- function tables

TEST(FuncTables, ReadStoresComplementsAndLogs)
{
    Rig r;
    r.state.ConsoleOpen = 1;
    r.dev.Answer(LongAnswer(0x08, 0x01, 0x2C, {0x38, 0x38, 0x00, 0x00}));
    EXPECT_EQ(r.proto.ReqReadFuncTableNoMtz(0, false), 0);
    EXPECT_EQ(r.cb().FuncTable[0][0].load(), 0xC7);
    EXPECT_EQ(r.cb().FuncTable[1][0].load(), 0xC7);
    EXPECT_EQ(r.cb().FuncTable[2][0].load(), 0xFF);
    EXPECT_EQ(r.cb().FuncTable[3][0].load(), 0xFF);
    const auto tail = r.LogAfterSentAndReceived();
    ASSERT_EQ(tail.size(), 4u);
    EXPECT_EQ(tail[2], "Значение функций в режиме без МТЗ или МТЗ-v: ");
    EXPECT_EQ(tail[3], "F0_1 = C7; F1_1 = C7; F2_1 = FF; F3_1 = FF; ");
}

TEST(FuncTables, Mtz3CarriesUrovOutputsAndWait)
{
    struct Case {
        uint8_t D4, D5, D6;
        uint16_t Urov;
        uint8_t Wait;
    };
    const Case cases[] = {{4, 0x05, 0x03, 200, 1}, {4, 0x05, 0x02, 200, 0}, {0xFF, 0, 0, 12750, 0}};
    for (const Case& c : cases) {
        Rig r;
        r.state.ConsoleOpen = 1;
        r.dev.Answer(LongAnswer(0x08, 0x01, 0x38, {0x01, 0x02, 0x03, 0x04, c.D4, c.D5, c.D6}));
        EXPECT_EQ(r.proto.ReqReadFuncTableMtz3(0, true), 0);
        EXPECT_EQ(r.cb().UrovTimeMs.load(), c.Urov);
        EXPECT_EQ(r.cb().OutputsState.load(), c.D5);
        EXPECT_EQ(r.cb().MtzWait.load(), c.Wait);
        EXPECT_EQ(r.cb().FuncTable[3][3].load(), 0xFB);
        const auto tail = r.LogAfterSentAndReceived();
        ASSERT_EQ(tail.size(), 7u);
        EXPECT_EQ(tail[2], "Значение функций в режиме МТЗ-3: ");
        EXPECT_EQ(tail[3], "F0_4 = FE; F1_4 = FD; F2_4 = FC; F3_4 = FB;");
        EXPECT_EQ(tail[4], "Время УРОВ:  " + std::to_string(c.Urov));
        EXPECT_EQ(tail[5], c.D5 ? "Текущее состояние выходов ЦБ:  05" : "Текущее состояние выходов ЦБ:  00");
        EXPECT_EQ(tail[6], c.Wait ? "МТЗ:  ждать" : "МТЗ:  не ждать");
    }
}

TEST(FuncTables, WriteAcknowledge)
{
    Rig r;
    r.state.ConsoleOpen = 1;
    r.dev.Answer({0xE5, 0x10, 0x00});
    EXPECT_EQ(r.proto.ReqWriteFuncTableMtz1(0), 0);
    EXPECT_EQ(r.dev.ReadSizes, (std::vector<size_t>{7}));
    r.dev.Answer({0x10});
    EXPECT_EQ(r.proto.ReqWriteFuncTableMtz2(0), -5);
    EXPECT_EQ(r.hooks.Lines.back(), "Ошибка контрольной суммы.");
}

TEST(FuncTables, ExceptionTextsDifferByMode)
{
    const std::pair<int, const char*> cases[] = {{0, "Ошибка выполнения команды."},
                                                 {1, "Ошибка выполнения команды"},
                                                 {2, "Ошибка выполнения команды"},
                                                 {3, "Ошибка выполнения команды"}};
    for (const auto& [mode, text] : cases) {
        Rig r;
        r.state.ConsoleOpen = 1;
        r.dev.ThrowOnRead = true;
        EXPECT_EQ(r.proto.ReqReadFuncTable(0, mode, false), -1);
        EXPECT_EQ(r.hooks.Lines.back(), text);
        r.hooks.Lines.clear();
        EXPECT_EQ(r.proto.ReqWriteFuncTable(0, mode), -1);
        EXPECT_EQ(r.hooks.Lines.back(), "Ошибка выполнения команды.");
    }
}

TEST(ShortAnswers, TooFewDataBytesStoreNothing)
{
    struct Case {
        const char* Name;
        int32_t Code;
        uint8_t Ci;
        size_t Bytes;
    };
    const Case cases[] = {{"table", ReqReadFuncTableNoMtz, 0x2C, 3},
                          {"MTZ-3", ReqReadFuncTableMtz3, 0x38, 6},
                          {"clock", ReqReadClock, 0x3C, 5},
                          {"UIR segment", ReqReadUirSegment, 0x40, 8}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Rig r;
        const TCbSettings before = GetSettings(r.cb());
        r.cb().ClockReadError = 0;
        Bytes data(c.Bytes, 0x11);
        data[0] = 0x04;
        r.dev.Answer(LongAnswer(0x08, 0x01, c.Ci, data));
        EXPECT_EQ(r.proto.Dispatch(0, c.Code), -5);
        EXPECT_EQ(GetSettings(r.cb()), before);
        EXPECT_EQ(r.cb().OutputsState.load(), 0);
        EXPECT_EQ(r.cb().ClockSecond.load(), 0);
        EXPECT_EQ(r.cb().FailCount.load(), 1);
        if (c.Code == ReqReadClock) {
            EXPECT_EQ(r.cb().ClockReadError.load(), 1);
        }
        // One byte more is enough.
        Rig ok;
        data.push_back(0x11);
        ok.dev.Answer(LongAnswer(0x08, 0x01, c.Ci, data));
        EXPECT_EQ(ok.proto.Dispatch(0, c.Code), 0);
    }
}

// ---------------------------------------------------------------- UIR configuration

TEST(UirConfig, SegmentAnswerIsPlacedByItsOwnFirstSlot)
{
    Rig r;
    r.state.ConsoleOpen = 1;
    // Asked for segment 1; answered for slot 5, which lies in segment 1 too.
    r.dev.Answer(LongAnswer(0x08, 0x01, 0x40, {0x05, 0xE4, 0x07, 0x00, 0x00, 0x23, 0x01, 0x40, 0x06}));
    EXPECT_EQ(r.proto.ReqReadUirSegment(0, 1, false), 0);
    const TUirData& u4 = r.cb().Uir[3];
    EXPECT_EQ(u4.InputFunction1.load(), 0);
    EXPECT_EQ(u4.InputFunction2.load(), 1);
    EXPECT_EQ(u4.InputFunction3.load(), 2);
    EXPECT_EQ(u4.PollEnabled.load(), 1);
    EXPECT_EQ(u4.OutputEnabled.load(), 1);
    EXPECT_EQ(u4.InputControl1.load() + u4.InputControl2.load() + u4.InputControl3.load(), 3);
    EXPECT_EQ(r.cb().Uir[5].InputFunction1.load(), 3);
    EXPECT_EQ(r.cb().Uir[5].InputFunction3.load(), 2);
    EXPECT_EQ(r.cb().Uir[6].PollEnabled.load(), 1);
    EXPECT_EQ(r.cb().Uir[6].InputControl2.load(), 1);
    EXPECT_EQ(r.cb().Uir[6].InputControl1.load(), 0);
    const auto tail = r.LogAfterSentAndReceived();
    ASSERT_EQ(tail.size(), 2u + 1 + 8);
    EXPECT_EQ(tail[2], "");
    EXPECT_EQ(tail[3], "УИР №4");
    EXPECT_EQ(tail[4],
              "Номер функции для входа 1: 0; \tНомер функции для входа 2: 1; \tНомер функции для входа 3: 2; "
              "\tОпрос этого УИР Разрешен; \tВыход этого УИР: Разрешен; \tКонтроль входа №1: Разрешен; "
              "\tКонтроль входа №2: Разрешен; \tКонтроль входа №3: Разрешен; ");
    EXPECT_EQ(tail[10].rfind("Номер функции для входа 1: 0", 0), 0u);
}

TEST(UirConfig, SlotZeroIgnoredAndSlotsPast43StoreNothing)
{
    Rig r;
    r.state.ConsoleOpen = 1;
    r.dev.Answer(LongAnswer(0x08, 0x01, 0x40, {0x00, 0xFF, 0xFF, 0x01, 0x00, 0x02, 0x00, 0x03, 0x00}));
    EXPECT_EQ(r.proto.ReqReadUirSegment(0, 0, false), 0);
    EXPECT_EQ(r.cb().Uir[0].InputFunction1.load(), 1);
    EXPECT_EQ(r.cb().Uir[2].InputFunction1.load(), 3);
    const auto tail = r.LogAfterSentAndReceived();
    EXPECT_EQ(tail.size(), 2u + 1 + 6);  // three UIRs logged

    Rig q;
    q.state.ConsoleOpen = 1;
    const TCbSettings before = GetSettings(q.cb());
    q.dev.Answer(LongAnswer(0x08, 0x01, 0x40, {0x2C, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(q.proto.ReqReadUirSegment(0, 11, false), 0);
    EXPECT_EQ(GetSettings(q.cb()), before);
    EXPECT_EQ(q.LogAfterSentAndReceived().size(), 2u);  // body and check sum only
}

// ---------------------------------------------------------------- clock, address, speed, reset

TEST(Clock, ReadDecodesBcdLogsAndShowsTheDisplay)
{
    Rig r;
    r.state.ConsoleOpen = 1;
    r.cb().ClockReadError = 1;
    r.dev.Answer(LongAnswer(0x08, 0x01, 0x3C, {0x05, 0x30, 0x17, 0x02, 0x10, 0x13}));
    EXPECT_EQ(r.proto.ReqReadClock(0, false), 0);
    EXPECT_EQ(r.cb().ClockHour.load(), 17);
    EXPECT_EQ(r.cb().ClockMinute.load(), 30);
    EXPECT_EQ(r.cb().ClockSecond.load(), 5);
    EXPECT_EQ(r.cb().ClockDay.load(), 2);
    EXPECT_EQ(r.cb().ClockMonth.load(), 10);
    EXPECT_EQ(r.cb().ClockYear.load(), 13u);
    EXPECT_EQ(r.cb().ClockReadError.load(), 0);
    EXPECT_EQ(r.hooks.Lines.back(), "Время/дата центрального блока: 17:30:5  2/10/13");
    ASSERT_EQ(r.hooks.Clocks.size(), 1u);
    EXPECT_EQ(r.hooks.Clocks[0].Year, 2013);
    EXPECT_EQ(r.hooks.Clocks[0].Month, "Октябрь");
    EXPECT_EQ(r.hooks.Clocks[0].Hour, 17);
}

TEST(Clock, NoConsoleNoDisplayAndUncheckedNibbles)
{
    Rig r;
    r.dev.Answer(LongAnswer(0x08, 0x01, 0x3C, {0x1A, 0x00, 0x00, 0x01, 0x13, 0x99}));
    EXPECT_EQ(r.proto.ReqReadClock(0, true), 0);
    EXPECT_EQ(r.cb().ClockSecond.load(), 20);
    EXPECT_EQ(r.cb().ClockMonth.load(), 13);
    EXPECT_TRUE(r.hooks.Clocks.empty());
    EXPECT_TRUE(r.hooks.Lines.empty());
    EXPECT_EQ(MonthName(13), "");
    EXPECT_EQ(MonthName(1), "Январь");
    EXPECT_EQ(MonthName(12), "Декабрь");
}

TEST(Clock, FailureKeepsTheFieldsAndSetsTheFlag)
{
    Rig r;
    r.cb().ClockHour = 9;
    EXPECT_EQ(r.proto.ReqReadClock(0, false), -6);
    EXPECT_EQ(r.cb().ClockHour.load(), 9);
    EXPECT_EQ(r.cb().ClockReadError.load(), 1);
}

TEST(SingleCommands, FlagsFollowTheOutcome)
{
    struct Case {
        int32_t Code;
        Flag TCbData::*F;
    };
    const Case cases[] = {{ReqWriteClock, &TCbData::ClockWriteError}, {ReqSetAddress, &TCbData::AddressError},
                          {ReqSetSpeed, &TCbData::SpeedError},        {ReqResetCb, &TCbData::ResetError},
                          {ReqWriteUirSegment, &TCbData::UirWriteError}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Code);
        Rig r;
        r.state.ConsoleOpen = 1;
        r.dev.Answer({0x10});
        EXPECT_EQ(r.proto.Dispatch(0, c.Code), -5);
        EXPECT_EQ(r.cb().*c.F, 1);
        r.dev.Answer({0xE5});
        EXPECT_EQ(r.proto.Dispatch(0, c.Code), 0);
        EXPECT_EQ(r.cb().*c.F, 0);
    }
}

TEST(SingleCommands, SetAddressKeepsTheConfiguredAddress)
{
    Rig r;
    r.state.ConsoleOpen = 1;
    r.Stage({5});
    r.dev.Answer({0x10});
    EXPECT_EQ(r.proto.ReqSetAddress(0), -5);
    EXPECT_EQ(r.hooks.Lines.back(), "Первый принятый байт не равен 0xE5.");
    r.dev.Answer({0xE5});
    EXPECT_EQ(r.proto.ReqSetAddress(0), 0);
    EXPECT_EQ(r.cb().Address.load(), 1);
    EXPECT_EQ(r.dev.ReadSizes.back(), 5u);
}

TEST(SingleCommands, ResetReadsFifteenAndStopClockNothing)
{
    Rig r;
    r.dev.Answer({0xE5});
    EXPECT_EQ(r.proto.ReqResetCb(0), 0);
    EXPECT_EQ(r.dev.ReadSizes, (std::vector<size_t>{15}));
    EXPECT_EQ(r.proto.ReqStopClock(0), 0);
    EXPECT_EQ(r.dev.ReadSizes.size(), 1u);
    r.dev.WriteError = 5;
    EXPECT_EQ(r.proto.ReqStopClock(0), -3);
    EXPECT_EQ(r.cb().FailCount.load(), 1);
}

TEST(SingleCommands, ClearJournalSucceedsWithoutAnAnswer)
{
    Rig r;
    r.cb().ClearJournalError = 1;
    EXPECT_EQ(r.proto.ReqClearJournal(0), 0);
    EXPECT_EQ(r.cb().ClearJournalError.load(), 0);
}

TEST(SingleCommands, ResetFcbBadAcknowledgeText)
{
    Rig r;
    r.state.ConsoleOpen = 1;
    r.dev.Answer({0x00});
    EXPECT_EQ(r.proto.ReqResetFcb(0), -5);
    EXPECT_EQ(r.hooks.Lines.back(), "Нулевой байт не равен 0xE5;");
}

TEST(Dispatch, UnknownCodesRunNothing)
{
    Rig r;
    for (int32_t code : {0, 24, 100, 108, -1, 1000}) {
        EXPECT_FALSE(TCbProtocol::IsKnownCode(code));
        EXPECT_EQ(r.proto.Dispatch(0, code), 0);
    }
    EXPECT_TRUE(r.dev.Writes.empty());
    for (int32_t code = 1; code <= 23; ++code)
        EXPECT_TRUE(TCbProtocol::IsKnownCode(code));
    for (int32_t code = 101; code <= 107; ++code)
        EXPECT_TRUE(TCbProtocol::IsKnownCode(code));
}

TEST(Dispatch, BadCbIndexSendsNothingForAnyCode)
{
    Rig r;
    for (int32_t code = 1; code <= 23; ++code)
        EXPECT_EQ(r.proto.Dispatch(1, code), -2) << code;
    for (int32_t code = 101; code <= 107; ++code)
        EXPECT_EQ(r.proto.Dispatch(5, code), -2) << code;
    EXPECT_TRUE(r.dev.Writes.empty());
}

}  // namespace
}  // namespace kestrel
