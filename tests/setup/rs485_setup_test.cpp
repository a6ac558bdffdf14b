// The service console's logic: the missing-selection messages, the bytes it
// stages per command, and one run on a scripted port: exact request bytes,
// and a port that fails to open sends nothing.
#include <gtest/gtest.h>

#include "link/FakeSerialDevice.h"
#include "setup/Rs485Setup.h"

namespace kestrel {
namespace {

using test::Bytes;

struct Rig {
    TGlobalState state;
    test::FakeSerialDevice dev;
    TComPort port{dev};
    test::RecordingSleeper sleeper;
    test::RecordingHooks hooks;
    TCbProtocol proto{state, port, sleeper, hooks};
    Rig()
    {
        state.ConsoleOpen = 1;
        state.Cb(0)->Address = 5;
    }
};

std::vector<uint8_t> Staged(const TRs485Command& c)
{
    return std::vector<uint8_t>(c.Data.CmdData.begin(), c.Data.CmdData.begin() + c.Data.CmdDataCount);
}

TEST(Rs485Setup, EachMissingSelectionHasItsOwnMessage)
{
    struct Case { int cmd; int32_t cb; int seg; const char* msg; };
    const Case cases[] = {
        {-1, 0, 0, "Неверно задан код команды"},
        {17, 0, 0, "Неверно задан код команды"},
        {0, -1, 0, "Неверно задан центральный блок (ЦБ)"},
        {0, 1, 0, "Неверно задан центральный блок (ЦБ)"},  // only one block
        {0, 0, -1, "Неверно задан номер сегмента в конфигурации УИР"},
        {0, 0, 12, "Неверно задан номер сегмента в конфигурации УИР"},
        {16, 0, 11, ""},
    };
    for (const Case& c : cases) {
        TRs485Selection s;
        s.Command = c.cmd;
        s.Cb = c.cb;
        s.Segment = c.seg;
        EXPECT_EQ(Rs485SelectionError(s, 1), c.msg) << c.cmd << " " << c.cb << " " << c.seg;
    }
}

TEST(Rs485Setup, FunctionTableTestValuesPerMode)
{
    struct Case { int mode; int urov; int mtz; std::vector<uint8_t> bytes; int32_t code; };
    const Case cases[] = {
        {0, 9, 0, {0xC7, 0xC7, 0xFF, 0xFF}, 11},
        {1, 9, 0, {0xC6, 0xC6, 0xC6, 0xC1}, 12},
        {2, 9, 0, {0xC1, 0xC1, 0xC6, 0xC1}, 13},
        {3, 2, 1, {0xC7, 0xC7, 0xC6, 0xC1, 3, 1}, 14},   // "150", "Ждать"
        {3, 0, 0, {0xC7, 0xC7, 0xC6, 0xC1, 1, 0}, 14},   // "50", "Не ждать"
        {3, 9, 1, {0xC7, 0xC7, 0xC6, 0xC1, 10, 1}, 14},  // "500"
    };
    for (const Case& c : cases) {
        TGlobalState st;
        TRs485Selection s{0, 0, 7, c.mode, c.urov, c.mtz, false};
        const TRs485Command cmd = Rs485StageCommand(st, s);
        EXPECT_EQ(cmd.Code, c.code);
        EXPECT_EQ(Staged(cmd), c.bytes) << "mode " << c.mode;
    }
    EXPECT_EQ(Rs485UrovTexts()[2], "150");
    EXPECT_EQ(Rs485UrovTexts().back(), "500");
}

TEST(Rs485Setup, CodesFcbSegmentAndFixedBytes)
{
    TGlobalState st;
    const int32_t codes[kRs485CommandCount] = {1, 2, 3, 7, 8, 9, 10, 11, 15, 16, 17, 18, 19, 20, 21, 106, 22};
    for (int item = 0; item < kRs485CommandCount; ++item) {
        TRs485Selection s{0, 4, item, 0, 9, 0, item % 2 == 1};
        const TRs485Command cmd = Rs485StageCommand(st, s);
        EXPECT_EQ(cmd.Code, codes[item]) << item;
        EXPECT_EQ(cmd.Data.Fcb, item % 2 == 1 ? 1 : 0);
        EXPECT_EQ(cmd.Data.UirSegment, 4);
        if (item == 11 || item == 12) {
            EXPECT_EQ(Staged(cmd), (std::vector<uint8_t>{item == 11 ? uint8_t{1} : uint8_t{0}}));
        }
        // Nothing reaches the globals before the command runs.
        EXPECT_EQ(st.UirSegment.load(), 0);
        EXPECT_EQ(st.CmdData[0].load(), 0);
    }
    TRs485Selection read{0, 0, 2, 2, 9, 0, false};
    EXPECT_EQ(Rs485StageCommand(st, read).Code, ReqReadFuncTableMtz2);
}

TEST(Rs485Setup, ClockInBcdAndFirstUirOfSegment)
{
    TRs485Command cmd;
    Rs485StageClock(cmd, {59, 7, 23, 30, 11, 19});  // 31.12.2026 23:07:59
    EXPECT_EQ(Staged(cmd), (std::vector<uint8_t>{0x59, 0x07, 0x23, 0x31, 0x12, 0x26}));
    EXPECT_EQ(Rs485FirstUirEntry(0), 0);
    EXPECT_EQ(Rs485FirstUirEntry(1), 3);
    EXPECT_EQ(Rs485FirstUirEntry(10), 39);
    EXPECT_EQ(Rs485FirstUirEntry(11), -1);
}

TEST(Rs485Setup, PollCarriesFcbOnlyWhenTicked)
{
    for (bool fcb : {false, true}) {
        Rig r;
        r.state.Cb(0)->NewEventCount = 7;
        TRs485Selection s{0, 0, 14, 0, 9, 0, fcb};
        const TRs485Command cmd = Rs485StageCommand(r.state, s);
        EXPECT_EQ(r.state.Cb(0)->NewEventCount.load(), 0);
        Rs485Run(r.proto, r.state, 0, cmd);
        ASSERT_FALSE(r.dev.Writes.empty());
        const uint8_t c = fcb ? 0x7B : 0x5B;
        EXPECT_EQ(r.dev.Writes[0], (Bytes{0x10, c, 5, static_cast<uint8_t>(c + 5), 0x16}));
        EXPECT_EQ(r.dev.Calls.back(), "close");
    }
}

TEST(Rs485Setup, MissingPortLogsAndSendsNothing)
{
    Rig r;
    r.state.Cb(0)->PortNumber = 3;
    r.dev.OpenErrors[3] = 2;  // no such file
    const int result = Rs485Run(r.proto, r.state, 0, ReqResetLink);
    EXPECT_LT(result, 0);
    EXPECT_NE(r.state.Cb(0)->LastPortError.load(), 0u);
    EXPECT_TRUE(r.dev.Writes.empty());
    EXPECT_FALSE(r.hooks.Lines.empty());
}

}  // namespace
}  // namespace kestrel

namespace kestrel {
namespace {

TEST(Rs485Setup, StampedLines)
{
    struct Case { int64_t ms, prev; const char* out; };
    const Case cases[] = {
        {0, -1, "00:00:00.000 x"},
        {14 * 3600000 + 3 * 60000 + 7 * 1000 + 42, 15, "14:03:07.042 +15 мс x"},
        {86400000 - 1, 0, "23:59:59.999 +0 мс x"},
        {86400000 + 5, -1, "00:00:00.005 x"},  // past midnight wraps
    };
    for (const Case& c : cases)
        EXPECT_EQ(Rs485StampedLine("x", c.ms, c.prev), c.out);
}

}  // namespace
}  // namespace kestrel

#include <fstream>
#include <sstream>

namespace kestrel {
namespace {

TEST(Rs485Setup, LogFileIsUtf8WithBomAndCrLf)
{
    EXPECT_EQ(Rs485LogFileBytes(""), "\xEF\xBB\xBF");
    EXPECT_EQ(Rs485LogFileBytes("a\nб"), "\xEF\xBB\xBF" "a\r\nб\r\n");
    EXPECT_EQ(Rs485LogFileBytes("a\r\n\nb\n"), "\xEF\xBB\xBF" "a\r\n\r\nb\r\n");
}

TEST(Rs485Setup, SaveLogWritesOrSaysWhy)
{
    const auto dir = std::filesystem::temp_directory_path() / "kestrel_rs485_log_test";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const auto file = dir / "log.txt";
    EXPECT_EQ(Rs485SaveLog(file, "x\ny"), "");
    std::stringstream got;
    {
        // Closed before the folder goes: Windows keeps an open file.
        std::ifstream in(file, std::ios::binary);
        got << in.rdbuf();
    }
    EXPECT_EQ(got.str(), "\xEF\xBB\xBF" "x\r\ny\r\n");
    const std::string err = Rs485SaveLog(dir / "missing" / "log.txt", "x");
    EXPECT_NE(err.find("Журнал обмена не сохранён"), std::string::npos) << err;
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace kestrel
