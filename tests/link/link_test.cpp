#include <gtest/gtest.h>

#include <functional>

#include "link/ComPort.h"
#include "link/FakeSerialDevice.h"
#include "link/Link.h"

namespace kestrel {
namespace {

using test::Bytes;
using test::FakeSerialDevice;
using test::RecordingHooks;
using test::RecordingSleeper;

using Rig = test::LinkRig;

// ---------------------------------------------------------------- TComPort

TEST(ComPort, StartsClosedWithTheDocumentedSettings)
{
    FakeSerialDevice dev;
    TComPort port(dev);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.GetPortNumber(), 1);
    EXPECT_EQ(port.GetSpeed(), 9600);
    EXPECT_EQ(port.GetDataBits(), 8);
    EXPECT_EQ(port.GetParity(), 2);
    EXPECT_EQ(port.GetStopBits(), 0);
    EXPECT_EQ(port.Timeouts().ReadInterval, 0xFFFFFFFFu);
    EXPECT_EQ(port.Timeouts().ReadTotalConstant, 0u);
    EXPECT_EQ(port.Timeouts().WriteTotalConstant, 0u);
    EXPECT_TRUE(dev.Calls.empty());
}

TEST(ComPort, OpenAppliesLineSettingsThenTimeoutsAndIsIdempotent)
{
    FakeSerialDevice dev;
    TComPort port(dev);
    port.Open();
    port.Open();
    EXPECT_EQ(dev.Calls, (std::vector<std::string>{"open 1", "line 9600 8 2 0", "timeouts"}));
    EXPECT_TRUE(port.IsOpen());
}

TEST(ComPort, SameNumberReopensDifferentNumberKeepsClosedPortClosed)
{
    FakeSerialDevice dev;
    TComPort port(dev);
    port.SetPortNumber(1);  // same number: open, then close and open again
    EXPECT_EQ(dev.Calls, (std::vector<std::string>{"open 1", "line 9600 8 2 0", "timeouts", "close", "open 1",
                                                    "line 9600 8 2 0", "timeouts"}));
    EXPECT_TRUE(port.IsOpen());
    port.Close();
    dev.Calls.clear();
    port.SetPortNumber(2);  // closed port, other number: stays closed
    EXPECT_TRUE(dev.Calls.empty());
    EXPECT_FALSE(port.IsOpen());
    port.Open();
    dev.Calls.clear();
    port.SetPortNumber(3);  // open port moves to the new device
    EXPECT_EQ(dev.Calls, (std::vector<std::string>{"close", "open 3", "line 9600 8 2 0", "timeouts"}));
}

TEST(ComPort, SettersTouchOnlyAnOpenDeviceAndOnlyOnChange)
{
    FakeSerialDevice dev;
    TComPort port(dev);
    port.SetSpeed(19200);
    port.SetParity(0);
    EXPECT_TRUE(dev.Calls.empty());
    port.Open();
    dev.Calls.clear();
    port.SetSpeed(19200);  // equal: nothing
    port.SetDataBits(7);
    port.SetStopBits(2);
    EXPECT_EQ(dev.Calls, (std::vector<std::string>{"line 19200 7 0 0", "line 19200 7 0 2"}));
}

TEST(ComPort, LastErrorComesFromEachOperationAndSurvivesClose)
{
    FakeSerialDevice dev;
    dev.OpenErrors[4] = 2;
    TComPort port(dev);
    port.SetPortNumber(4);
    port.Open();
    EXPECT_EQ(port.GetLastError(), 2u);
    EXPECT_FALSE(port.IsOpen());
    port.Close();
    EXPECT_EQ(port.GetLastError(), 2u);
    port.SetPortNumber(1);
    port.Open();
    EXPECT_EQ(port.GetLastError(), 0u);
    dev.LineError = 87;
    port.SetSpeed(57600);
    EXPECT_EQ(port.GetLastError(), 87u);
    uint8_t b[4];
    dev.Rx = {1, 2};
    EXPECT_EQ(port.Read(b, 4), 2u);
    EXPECT_EQ(port.GetLastError(), 0u);
    dev.WriteError = 31;
    EXPECT_FALSE(port.Write(b, 2));
    EXPECT_EQ(port.GetLastError(), 31u);
}

// ---------------------------------------------------------------- open and close for a CB

TEST(OpenPortForCb, SecondVisitOnTheSamePortReopensBeforeTheSettings)
{
    Rig r;
    ASSERT_EQ(r.link.OpenPortForCb(0), 0);
    ASSERT_EQ(r.link.ClosePortForCb(0), 0);
    r.dev.Calls.clear();
    ASSERT_EQ(r.link.OpenPortForCb(0), 0);
    EXPECT_EQ(r.dev.Calls, (std::vector<std::string>{"open 1", "line 9600 8 2 0", "timeouts", "close", "open 1",
                                                      "line 9600 8 2 0", "timeouts"}));
    EXPECT_TRUE(r.port.IsOpen());
}

TEST(OpenPortForCb, OtherPortAfterAClosedOneOpensAndAppliesAllAtOnce)
{
    Rig r;
    r.state.CbCount = 2;
    r.state.EnsureAllocated(2);
    r.state.Cb(1)->PortNumber = 2;
    r.state.Cb(1)->Baud = 19200;
    r.state.Cb(1)->Parity = 0;
    ASSERT_EQ(r.link.OpenPortForCb(0), 0);
    r.link.ClosePortForCb(0);
    r.dev.Calls.clear();
    ASSERT_EQ(r.link.OpenPortForCb(1), 0);
    EXPECT_EQ(r.dev.Calls, (std::vector<std::string>{"open 2", "line 19200 8 0 0", "timeouts"}));
}

TEST(OpenPortForCb, NonexistentPortGivesMinusOneOnSameNumberElseMinusSix)
{
    {
        Rig r;
        r.state.ConsoleOpen = 1;
        r.dev.OpenErrors[1] = 2;
        EXPECT_EQ(r.link.OpenPortForCb(0), -1);
        EXPECT_EQ(r.cb().LastPortError.load(), 2u);
        EXPECT_EQ(r.hooks.Lines, (std::vector<std::string>{"Нет такого порта, или он занят другой программой."}));
        EXPECT_FALSE(r.port.IsOpen());
    }
    {
        Rig r;
        r.state.ConsoleOpen = 1;
        r.cb().PortNumber = 7;
        r.dev.OpenErrors[7] = 2;
        EXPECT_EQ(r.link.OpenPortForCb(0), -6);
        EXPECT_EQ(r.hooks.Lines, (std::vector<std::string>{"Ошибка открытия СОМ-порта."}));
        EXPECT_EQ(r.cb().FailCount.load(), 1);
    }
}

TEST(OpenPortForCb, RejectedSettingsGiveTheirCodesAndTexts)
{
    struct Case {
        int Step;
        int Result;
        const char* Text;
    };
    const Case cases[] = {
        {0, -2, "Ошибка установки скорости обмена данными."},
        {1, -3, "Ошибка установки количества бит данных."},
        {2, -4, "Ошибка установки бита четности."},
        {3, -5, "Ошибка установки количества бит старт-стоп."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Step);
        Rig r;
        r.state.ConsoleOpen = 1;
        ASSERT_EQ(r.link.OpenPortForCb(0), 0);  // same port number next time: step 2 re-opens it
        r.link.ClosePortForCb(0);
        // The device refuses exactly the value this step changes.
        if (c.Step == 0) r.cb().Baud = 19200;
        if (c.Step == 1) r.cb().DataBits = 7;
        if (c.Step == 2) r.cb().Parity = 1;
        if (c.Step == 3) r.cb().StopBits = 2;
        r.dev.LineCheck = [](const LineSettings& s) -> uint32_t {
            return (s.Baud == 19200 || s.DataBits == 7 || s.Parity == 1 || s.StopBits == 2) ? 87 : 0;
        };
        EXPECT_EQ(r.link.OpenPortForCb(0), c.Result);
        EXPECT_EQ(r.hooks.Lines, (std::vector<std::string>{c.Text}));
        EXPECT_EQ(r.cb().LastPortError.load(), 87u);
        EXPECT_EQ(r.cb().FailCount.load(), 1);
        EXPECT_FALSE(r.port.IsOpen());
    }
}

// A device that refuses the settings left from before (here the defaults'
// even parity, as a pseudo-terminal does) but takes the block's own: the
// block is reached; one that refuses the block's own fails at the open.
TEST(OpenPortForCb, StaleSettingsRefusedOnTheSamePortDoNotFailTheBlock)
{
    for (const int own : {0, 2}) {
        SCOPED_TRACE(own);
        Rig r;
        r.state.ConsoleOpen = 1;
        r.cb().Parity = own;
        r.dev.LineCheck = [](const LineSettings& s) -> uint32_t { return s.Parity != 0 ? 87 : 0; };
        if (own == 0) {
            EXPECT_EQ(r.link.OpenPortForCb(0), 0);
            // The same number re-opens the port (twice, with what it held);
            // then once more with the block's own.
            EXPECT_EQ(r.dev.Calls, (std::vector<std::string>{"open 1", "line 9600 8 2 0", "timeouts", "close",
                                                              "open 1", "line 9600 8 2 0", "timeouts", "close",
                                                              "open 1", "line 9600 8 0 0", "timeouts"}));
            EXPECT_TRUE(r.hooks.Lines.empty());
            EXPECT_EQ(r.cb().LastPortError.load(), 0u);
            EXPECT_EQ(r.cb().FailCount.load(), 0);
            EXPECT_TRUE(r.port.IsOpen());
        } else {
            EXPECT_EQ(r.link.OpenPortForCb(0), -6);
            EXPECT_EQ(r.hooks.Lines, (std::vector<std::string>{"Ошибка открытия СОМ-порта."}));
            EXPECT_EQ(r.cb().LastPortError.load(), 87u);
            EXPECT_EQ(r.cb().FailCount.load(), 1);
            EXPECT_FALSE(r.port.IsOpen());
        }
    }
}

TEST(OpenPortForCb, SettingsOfAClosedPortRecordNothingUntilTheOpen)
{
    Rig r;
    r.cb().PortNumber = 2;  // port object still on 1 and closed: steps 3-6 touch no device
    r.cb().Baud = 19200;
    r.dev.LineCheck = [](const LineSettings& s) -> uint32_t { return s.Baud == 19200 ? 87 : 0; };
    r.state.ConsoleOpen = 1;
    EXPECT_EQ(r.link.OpenPortForCb(0), -6);
    EXPECT_EQ(r.hooks.Lines, (std::vector<std::string>{"Ошибка открытия СОМ-порта."}));
}

TEST(OpenPortForCb, FailuresSaturateAtLimitPlusOne)
{
    Rig r;
    r.cb().FailLimit = 3;
    r.cb().PortNumber = 5;
    r.dev.OpenErrors[5] = 2;
    for (int i = 0; i < 4; ++i)
        r.link.OpenPortForCb(0);
    EXPECT_EQ(r.cb().FailCount.load(), 4);
    EXPECT_EQ(r.cb().LinkLost.load(), 1);
    r.link.OpenPortForCb(0);
    r.link.OpenPortForCb(0);
    EXPECT_EQ(r.cb().FailCount.load(), 4);
    // A successful open does not reset the count; a successful exchange does.
    r.dev.OpenErrors.clear();
    ASSERT_EQ(r.link.OpenPortForCb(0), 0);
    EXPECT_EQ(r.cb().FailCount.load(), 4);
}

TEST(OpenPortForCb, IndexEqualToCbCountGivesMinusEightAndTouchesNothing)
{
    Rig r;
    r.state.ConsoleOpen = 1;
    r.state.EnsureAllocated(2);
    EXPECT_EQ(r.link.OpenPortForCb(1), -8);
    EXPECT_EQ(r.link.OpenPortForCb(-1), -8);
    EXPECT_EQ(r.hooks.Lines.size(), 2u);
    EXPECT_EQ(r.hooks.Lines[0], "Обращение к несуществующему центральному блоку");
    EXPECT_TRUE(r.dev.Calls.empty());
    EXPECT_EQ(r.state.Cb(0)->FailCount.load(), 0);
    EXPECT_EQ(r.link.ClosePortForCb(1), -2);
}

TEST(OpenPortForCb, NothingIsLoggedWithTheConsoleClosed)
{
    Rig r;
    r.dev.OpenErrors[1] = 2;
    EXPECT_EQ(r.link.OpenPortForCb(0), -1);
    EXPECT_EQ(r.link.OpenPortForCb(3), -8);
    EXPECT_TRUE(r.hooks.Lines.empty());
}

// Block 0 on COM1 (present), block 1 on COM5. Whatever block 1's visit left
// in the shared port object, block 0's next open is judged on COM1 alone.
TEST(OpenPortForCb, EachBlockIsJudgedOnItsOwnPort)
{
    struct Case {
        const char* what;
        std::function<void(Rig&)> leave;  // block 1's visit, port left closed
        uint32_t blockOneError;           // block 1's LastPortError after it
    };
    const Case cases[] = {
        {"COM5 missing", [](Rig& r) { EXPECT_EQ(r.link.OpenPortForCb(1), -6); }, 2},
        {"COM5 busy", [](Rig& r) { r.dev.OpenErrors[5] = 5; EXPECT_EQ(r.link.OpenPortForCb(1), -6); }, 5},
        {"read error on COM5",
         [](Rig& r) {
             r.dev.OpenErrors.erase(5);
             ASSERT_EQ(r.link.OpenPortForCb(1), 0);
             r.dev.ReadErrors = {995};
             uint8_t b[4];
             r.port.Read(b, 4);
             r.cb1().LastPortError = r.port.GetLastError();
             r.link.ClosePortForCb(1);
         },
         995},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig r;
        r.state.EnsureAllocated(2);
        r.state.CbCount = 2;
        r.cb1().PortNumber = 5;
        r.dev.OpenErrors[5] = 2;
        r.state.ConsoleOpen = 1;
        for (int round = 0; round < 3; ++round) {
            c.leave(r);
            r.link.ClosePortForCb(1);
            EXPECT_EQ(r.cb1().LastPortError.load(), c.blockOneError);
            r.hooks.Lines.clear();
            r.dev.Calls.clear();
            ASSERT_EQ(r.link.OpenPortForCb(0), 0) << round;
            EXPECT_TRUE(r.hooks.Lines.empty());
            EXPECT_EQ(r.dev.Calls, (std::vector<std::string>{"open 1", "line 9600 8 2 0", "timeouts"}));
            EXPECT_EQ(r.cb().LastPortError.load(), 0u);
            EXPECT_EQ(r.cb().FailCount.load(), 0);
            EXPECT_TRUE(r.port.IsOpen());
            r.link.ClosePortForCb(0);
        }
        // Block 1 keeps its own error; a missing port is counted on it alone.
        EXPECT_EQ(r.cb1().LastPortError.load(), c.blockOneError);
        EXPECT_EQ(r.cb1().FailCount.load(), c.blockOneError == 995 ? 0 : 3);
    }
}

// A missing port still fails on every visit of its own block, and a second
// visit of the same number still reads the failed re-open.
TEST(OpenPortForCb, MissingPortStillFailsEveryVisitOfItsBlock)
{
    Rig r;
    r.cb().PortNumber = 5;
    r.dev.OpenErrors[5] = 2;
    r.cb().FailLimit = 3;
    EXPECT_EQ(r.link.OpenPortForCb(0), -6);  // the port object was on COM1
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(r.link.OpenPortForCb(0), -1) << i;  // same number: the re-open fails
    EXPECT_EQ(r.cb().LastPortError.load(), 2u);
    EXPECT_EQ(r.cb().FailCount.load(), 4);
    EXPECT_EQ(r.cb().LinkLost.load(), 1);
}

// ---------------------------------------------------------------- frames and waits

TEST(Frames, CheckSumsAndLayouts)
{
    EXPECT_EQ(TLink::ShortFrame(0x40, 0x01), (Bytes{0x10, 0x40, 0x01, 0x41, 0x16}));
    EXPECT_EQ(TLink::LongFrame(0x44, 0x01, 0x44), (Bytes{0x68, 0x03, 0x03, 0x68, 0x44, 0x01, 0x44, 0x89, 0x16}));
    const Bytes data{0xFF, 0xFF};
    EXPECT_EQ(TLink::LongFrame(0xFF, 0xFF, 0xFF, data),
              (Bytes{0x68, 0x05, 0x05, 0x68, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFB, 0x16}));
    EXPECT_EQ(TLink::HexBytes(Bytes{0x0A, 0xE5}), "0A; E5; ");
}

// The published table of waits: speed, then w for n = 5, 9, 10, 25.
struct WaitRow {
    int32_t Speed;
    uint32_t W5, W9, W10, W25;
};
const WaitRow kWaitTable[] = {
    {110, 2560, 4608, 5120, 12800}, {300, 1280, 2304, 2560, 6400}, {600, 640, 1152, 1280, 3200},
    {1200, 320, 576, 640, 1600},    {2400, 160, 288, 320, 800},    {4800, 80, 144, 160, 400},
    {9600, 40, 72, 80, 200},        {19200, 20, 36, 40, 100},      {38400, 10, 18, 20, 50},
    {57600, 5, 9, 10, 25},          {115200, 3, 4, 5, 12},
};

TEST(Waits, TableForEverySpeed)
{
    for (const WaitRow& row : kWaitTable) {
        SCOPED_TRACE(row.Speed);
        EXPECT_EQ(TLink::PostWriteWaitMs(row.Speed, 5), row.W5);
        EXPECT_EQ(TLink::PostWriteWaitMs(row.Speed, 9), row.W9);
        EXPECT_EQ(TLink::PostWriteWaitMs(row.Speed, 10), row.W10);
        EXPECT_EQ(TLink::PostWriteWaitMs(row.Speed, 25), row.W25);
        const uint32_t poll = row.Speed >= 19200 ? 2 * row.W5 : row.W5;
        EXPECT_EQ(TLink::PostWriteWaitMs(row.Speed, 5, true), row.Speed == 115200 ? 5u : poll);
    }
    EXPECT_EQ(TLink::PostWriteWaitMs(14400, 5), 0u);
    EXPECT_EQ(TLink::PostWriteWaitMs(0, 25), 0u);
}

// ---------------------------------------------------------------- exchange skeleton

TExchangePlan AckSpec()
{
    TExchangePlan s;
    s.Frame = TLink::ShortFrame(0x40, 0x01);
    s.WaitBasis = 5;
    s.Profile = TProfile::Acknowledge;
    s.ReadLength = 5;
    s.BadText = "Первый принятый байт не равен 0xE5.";
    return s;
}

TEST(Exchange, FullTrafficLogOfAnAcknowledgedRequest)
{
    Rig r;
    r.state.ConsoleOpen = 1;
    r.link.OpenPortForCb(0);
    r.dev.Answer({0xE5, 0xE5});
    EXPECT_EQ(r.link.Exchange(0, AckSpec()), 0);
    EXPECT_EQ(r.hooks.Lines, (std::vector<std::string>{"Переданные байты: ", "10; 40; 01; 41; 16; ",
                                                        "Полученные байты: ", "E5; E5; "}));
    EXPECT_EQ(r.sleeper.Sleeps, (std::vector<uint32_t>{40}));
    EXPECT_EQ(r.dev.ReadSizes, (std::vector<size_t>{5}));
}

TEST(Exchange, AcknowledgeRejectPaths)
{
    struct Case {
        const char* Name;
        Bytes Answer;
        uint32_t ReadError;
        int Result;
        std::vector<std::string> TailLines;
    };
    const Case cases[] = {
        {"no answer", {}, 0, -6, {"Нет ответа от центрального блока (ЦБ)"}},
        {"short frame", {0x10, 0x00}, 0, -5, {"Полученные байты: ", "10; 00; ", "Первый принятый байт не равен 0xE5."}},
        {"read error", {0xE5}, 1117, -4, {"Полученные байты: ", "E5; ", "Ошибка получения данных; Код ошибки: 1117"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Rig r;
        r.state.ConsoleOpen = 1;
        r.link.OpenPortForCb(0);
        r.dev.Answer(c.Answer);
        r.dev.ReadErrors.push_back(c.ReadError);
        EXPECT_EQ(r.link.Exchange(0, AckSpec()), c.Result);
        ASSERT_GE(r.hooks.Lines.size(), 2 + c.TailLines.size());
        const std::vector<std::string> tail(r.hooks.Lines.begin() + 2, r.hooks.Lines.end());
        EXPECT_EQ(tail, c.TailLines);
        EXPECT_EQ(r.cb().FailCount.load(), 1);
    }
}

TEST(Exchange, WriteErrorIsLoggedWithItsCodeAndNothingIsRead)
{
    Rig r;
    r.state.ConsoleOpen = 1;
    r.link.OpenPortForCb(0);
    r.dev.WriteError = 5;
    auto s = AckSpec();
    s.FailFlag = &TCbData::ResetError;
    EXPECT_EQ(r.link.Exchange(0, s), -3);
    EXPECT_EQ(r.hooks.Lines, (std::vector<std::string>{"Переданные байты: ", "10; 40; 01; 41; 16; ",
                                                        "Ошибка записи в СОМ-порт; Код ошибки: 5"}));
    EXPECT_TRUE(r.sleeper.Sleeps.empty());
    EXPECT_TRUE(r.dev.ReadSizes.empty());
    EXPECT_EQ(r.cb().LastPortError.load(), 5u);
    EXPECT_EQ(r.cb().ResetError.load(), 1);
    EXPECT_EQ(r.cb().FailCount.load(), 1);
}

TEST(Exchange, ClosedPortFailsTheWrite)
{
    Rig r;  // port never opened
    EXPECT_EQ(r.link.Exchange(0, AckSpec()), -3);
    EXPECT_NE(r.cb().LastPortError.load(), 0u);
}

TEST(Exchange, BadIndexSendsNothing)
{
    Rig r;
    r.link.OpenPortForCb(0);
    EXPECT_EQ(r.link.Exchange(1, AckSpec()), -2);
    EXPECT_EQ(r.link.Exchange(-1, AckSpec()), -2);
    EXPECT_TRUE(r.dev.Writes.empty());
}

TEST(Exchange, ExceptionGivesMinusOneWithTheCommandsText)
{
    Rig r;
    r.state.ConsoleOpen = 1;
    r.link.OpenPortForCb(0);
    r.dev.ThrowOnRead = true;
    auto s = AckSpec();
    s.ExceptionText = "Ошибка выполнения команды";
    s.FailFlag = &TCbData::ResetError;
    EXPECT_EQ(r.link.Exchange(0, s), -1);
    EXPECT_EQ(r.hooks.Lines.back(), "Ошибка выполнения команды");
    EXPECT_EQ(r.cb().ResetError.load(), 1);
    EXPECT_EQ(r.cb().FailCount.load(), 1);
}

TEST(Exchange, SuccessResetsBookkeepingAndClearsTheFlag)
{
    Rig r;
    r.link.OpenPortForCb(0);
    r.cb().FailCount = 51;
    r.cb().LinkLost = 1;
    r.cb().ResetError = 1;
    r.dev.Answer(test::Ack());
    auto s = AckSpec();
    s.FailFlag = &TCbData::ResetError;
    EXPECT_EQ(r.link.Exchange(0, s), 0);
    EXPECT_EQ(r.cb().FailCount.load(), 0);
    EXPECT_EQ(r.cb().LinkLost.load(), 0);
    EXPECT_EQ(r.cb().ResetError.load(), 0);
}

TEST(Exchange, LeftoverBytesOfAnEarlierAnswerAreReadFirst)
{
    Rig r;
    r.link.OpenPortForCb(0);
    r.dev.Rx = {0x10};  // stale, never flushed
    r.dev.Answer(test::Ack());
    EXPECT_EQ(r.link.Exchange(0, AckSpec()), -5);
}

TExchangePlan DataSpec(size_t minData = 0)
{
    TExchangePlan s;
    s.Frame = TLink::LongFrame(0x5B, 0x01, 0x3C);
    s.WaitBasis = 25;
    s.Profile = TProfile::Data;
    s.BadText = "Ошибка контрольной суммы.";
    s.MinData = minData;
    return s;
}

TEST(Exchange, DataProfileAcceptAndReject)
{
    const Bytes good = TLink::LongFrame(0x08, 0x01, 0x3C, Bytes{1, 2, 3});
    Bytes badSum = good;
    badSum[good.size() - 2] ^= 1;
    Bytes badStop = good;
    badStop.back() = 0x00;
    struct Case {
        const char* Name;
        Bytes Answer;
        size_t MinData;
        int Result;
        std::vector<std::string> Tail;  // log lines after the sent and received ones
    };
    const Case cases[] = {
        {"good", good, 3, 1, {"08; 01; 3C; 01; 02; 03; 4B; 16; ", "Контрольная сумма: 4B;"}},
        {"stop byte not examined", badStop, 3, 1, {"08; 01; 3C; 01; 02; 03; 4B; 00; ", "Контрольная сумма: 4B;"}},
        {"check sum", badSum, 0, -5,
         {"08; 01; 3C; 01; 02; 03; 4A; 16; ", "Контрольная сумма: 4B;", "Ошибка контрольной суммы."}},
        {"header",
         {0x69, 0x06, 0x07, 0x67},
         0,
         -5,
         {"Нулевой байт не равен 0x68;", "Несовпадение количества переданных байт (L) в байтах №1 и №2;",
          "Байт №3 не равен 0x68;"}},
        {"short header", {0x68, 0x06}, 0, -5,
         {"Несовпадение количества переданных байт (L) в байтах №1 и №2;", "Байт №3 не равен 0x68;"}},
        {"L above the buffer", {0x68, 67, 67, 0x68}, 0, -5, {"Длина кадра (L) больше допустимой;"}},
        {"no body", {0x68, 0x06, 0x06, 0x68}, 0, -6, {}},
        {"one body byte", {0x68, 0x06, 0x06, 0x68, 0x08}, 0, -5, {"08; ", "Ошибка контрольной суммы."}},
        {"too few data", good, 4, -5,
         {"08; 01; 3C; 01; 02; 03; 4B; 16; ", "Контрольная сумма: 4B;", "Недостаточно байт данных в ответе;"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Rig r;
        r.state.ConsoleOpen = 1;
        r.link.OpenPortForCb(0);
        r.dev.Answer(c.Answer);
        int seenData = -1;
        const int result = r.link.Exchange(0, DataSpec(c.MinData), [&](const TAnswer& a) {
            seenData = static_cast<int>(a.Data.size());
            EXPECT_EQ(a.C, 0x08);
            return 1;
        });
        EXPECT_EQ(result, c.Result);
        EXPECT_EQ(seenData, c.Result > 0 ? 3 : -1);
        ASSERT_GE(r.hooks.Lines.size(), 4u);
        const std::vector<std::string> tail(r.hooks.Lines.begin() + 4, r.hooks.Lines.end());
        EXPECT_EQ(tail, c.Tail);
        EXPECT_EQ(r.dev.ReadSizes[0], 4u);
        if (r.dev.ReadSizes.size() > 1) {
            EXPECT_EQ(r.dev.ReadSizes[1], static_cast<size_t>(c.Answer[1]) + 2);
        }
    }
}

TExchangePlan OrNothingSpec(TDataOrNothingKind kind)
{
    TExchangePlan s;
    s.Frame = TLink::ShortFrame(0x5B, 0x01);
    s.WaitBasis = 5;
    s.PollWait = kind == TDataOrNothingKind::Poll;
    s.Profile = TProfile::DataOrNothing;
    s.Kind = kind;
    s.BadText = "Ошибка контрольной суммы";
    return s;
}

TEST(Exchange, DataOrNothingFirstByteDecides)
{
    struct Case {
        TDataOrNothingKind Kind;
        Bytes Answer;
        int Result;
        int FailCount;
        std::vector<std::string> Tail;
    };
    const Bytes ev = TLink::LongFrame(0x28, 1, 0, Bytes(12, 0));
    const Case cases[] = {
        {TDataOrNothingKind::Poll, {0xE5}, 0, 0, {"Новых данных нет"}},
        {TDataOrNothingKind::Journal, {0xE5}, 0, 0, {}},
        {TDataOrNothingKind::Poll, {0x10, 0x00}, 0, 0, {}},
        {TDataOrNothingKind::Journal, {0x10, 0x00}, -2, 1, {}},
        {TDataOrNothingKind::Poll, ev, 7, 0,
         {"Новые данные есть.", "28; 01; 00; 00; 00; 00; 00; 00; 00; 00; 00; 00; 00; 00; 00; 29; 16; ",
          "Контрольная сумма: 29;"}},
        {TDataOrNothingKind::Journal, ev, 7, 0,
         {"Получение записи журнала.", "28; 01; 00; 00; 00; 00; 00; 00; 00; 00; 00; 00; 00; 00; 00; 29; 16; ",
          "Контрольная сумма: 29;"}},
        {TDataOrNothingKind::Journal, {0x68, 0x0F, 0x0E, 0x69}, -5, 1,
         {"Получение записи журнала.", "Несовпадение количества переданных байт (L) в байтах №1 и №2;",
          "Байт №3 не равен 0x68;"}},
        {TDataOrNothingKind::Poll, {0x68, 0x0F, 0x0F, 0x68}, -6, 1,
         {"Новые данные есть.", "Нет ответа от центрального блока (ЦБ)"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(TLink::HexBytes(c.Answer));
        Rig r;
        r.state.ConsoleOpen = 1;
        r.link.OpenPortForCb(0);
        r.dev.Answer(c.Answer);
        EXPECT_EQ(r.link.Exchange(0, OrNothingSpec(c.Kind), [](const TAnswer&) { return 7; }), c.Result);
        EXPECT_EQ(r.cb().FailCount.load(), c.FailCount);
        const std::vector<std::string> tail(r.hooks.Lines.begin() + 4, r.hooks.Lines.end());
        EXPECT_EQ(tail, c.Tail);
        // The poll gives the CB 10 ms more before it reads the body.
        const bool pollBody = c.Kind == TDataOrNothingKind::Poll && c.Answer[0] == 0x68;
        EXPECT_EQ(r.sleeper.Sleeps.size(), pollBody ? 2u : 1u);
    }
}

TEST(Exchange, LinkStatusProfile)
{
    struct Case {
        Bytes Answer;
        int Result;
        std::vector<std::string> Tail;
    };
    const Case cases[] = {
        {{0x10, 0x0B, 0x01, 0x0C, 0x16}, 0, {"Контрольная сумма: 0C;"}},
        {{0x10, 0x0B, 0x01, 0x0D, 0x16}, -5, {"Контрольная сумма: 0C;", "Ошибка контрольной суммы."}},
        {{0x10, 0x0B, 0x01, 0x0C, 0x17}, -5, {"Контрольная сумма: 0C;", "Ошибка контрольной суммы."}},
        {{0x10, 0x0B, 0x01, 0x0C}, -5, {}},
        {{0xE5}, -5, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(TLink::HexBytes(c.Answer));
        Rig r;
        r.state.ConsoleOpen = 1;
        r.link.OpenPortForCb(0);
        r.dev.Answer(c.Answer);
        TExchangePlan s;
        s.Frame = TLink::ShortFrame(0x49, 0x01);
        s.WaitBasis = 5;
        s.Profile = TProfile::LinkStatus;
        s.BadText = "Ошибка контрольной суммы.";
        EXPECT_EQ(r.link.Exchange(0, s), c.Result);
        EXPECT_EQ(r.dev.ReadSizes, (std::vector<size_t>{7}));
        const std::vector<std::string> tail(r.hooks.Lines.begin() + 4, r.hooks.Lines.end());
        EXPECT_EQ(tail, c.Tail);
    }
}

TEST(Exchange, NoReplyProfiles)
{
    {
        Rig r;
        r.state.ConsoleOpen = 1;
        r.link.OpenPortForCb(0);
        TExchangePlan s;
        s.Frame = TLink::LongFrame(0x44, 0x01, 0x44);
        s.Profile = TProfile::NoReplyRead;
        s.FailFlag = &TCbData::ClearJournalError;
        r.cb().ClearJournalError = 1;
        EXPECT_EQ(r.link.Exchange(0, s), 0);
        EXPECT_EQ(r.hooks.Lines.back(), "Нет ответа от центрального блока (ЦБ)");
        EXPECT_EQ(r.cb().ClearJournalError.load(), 0);
        r.dev.ReadErrors.push_back(22);
        EXPECT_EQ(r.link.Exchange(0, s), -4);
        EXPECT_EQ(r.cb().ClearJournalError.load(), 1);
    }
    {
        Rig r;
        r.link.OpenPortForCb(0);
        TExchangePlan s;
        s.Frame = TLink::LongFrame(0x44, 0x01, 0x54);
        s.WaitBasis = 9;
        s.ExtraWaitMs = 20;
        s.Profile = TProfile::NoReply;
        r.dev.Answer({0x10});
        EXPECT_EQ(r.link.Exchange(0, s), 0);
        EXPECT_TRUE(r.dev.ReadSizes.empty());
        EXPECT_EQ(r.sleeper.Sleeps, (std::vector<uint32_t>{72, 20}));
    }
}

TEST(Exchange, UnknownSpeedWaitsNotAtAll)
{
    Rig r;
    r.cb().Baud = 14400;
    r.link.OpenPortForCb(0);
    r.dev.Answer(test::Ack());
    EXPECT_EQ(r.link.Exchange(0, AckSpec()), 0);
    EXPECT_TRUE(r.sleeper.Sleeps.empty());
}

}  // namespace
}  // namespace kestrel
