#include <gtest/gtest.h>

#include "ConsoleArgs.h"

namespace kestrel::console {
namespace {

TEST(ConsoleArgs, DefaultsAreThoseOfANewCbRecord)
{
    Options o;
    std::string err;
    ASSERT_TRUE(ParseArgs({"ReqReadClock"}, o, err)) << err;
    EXPECT_EQ(o.PortNumber, 1);
    EXPECT_EQ(o.Baud, 9600);
    EXPECT_EQ(o.DataBits, 8);
    EXPECT_EQ(o.Parity, 2);
    EXPECT_EQ(o.StopBits, 0);
    EXPECT_EQ(o.Address, 1);
    EXPECT_FALSE(o.Fcb);
    EXPECT_EQ(o.Segment, 0);
    EXPECT_EQ(o.Code, 8);
    EXPECT_EQ(o.What, Action::Code);
}

TEST(ConsoleArgs, EveryOption)
{
    Options o;
    std::string err;
    ASSERT_TRUE(ParseArgs({"--port", "COM3", "--baud", "19200", "--data-bits", "7", "--parity", "4", "--stop-bits",
                           "2", "--address", "32", "--fcb", "1", "--segment", "11", "--data", "c7C7C6C10401", "14"},
                          o, err))
        << err;
    EXPECT_EQ(o.PortNumber, 3);
    EXPECT_TRUE(o.PortPath.empty());
    EXPECT_EQ(o.Baud, 19200);
    EXPECT_EQ(o.DataBits, 7);
    EXPECT_EQ(o.Parity, 4);
    EXPECT_EQ(o.StopBits, 2);
    EXPECT_EQ(o.Address, 32);
    EXPECT_TRUE(o.Fcb);
    EXPECT_EQ(o.Segment, 11);
    EXPECT_EQ(o.Data, (std::vector<uint8_t>{0xC7, 0xC7, 0xC6, 0xC1, 0x04, 0x01}));
    EXPECT_EQ(o.Code, 14);

    ASSERT_TRUE(ParseArgs({"--port", "/dev/ttyUSB0", "journal"}, o, err));
    EXPECT_EQ(o.PortPath, "/dev/ttyUSB0");
    EXPECT_EQ(o.PortNumber, 1);
    EXPECT_EQ(o.What, Action::Journal);
    ASSERT_TRUE(ParseArgs({"watch", "--port", "7"}, o, err));
    EXPECT_EQ(o.PortNumber, 7);
    EXPECT_EQ(o.What, Action::Watch);
}

TEST(ConsoleArgs, NamesAndCodes)
{
    EXPECT_EQ(CodeOf("ReqResetLink"), 1);
    EXPECT_EQ(CodeOf("ReqReadJournalRecord2"), 23);
    EXPECT_EQ(CodeOf("ReqFetchJournal2"), 107);
    EXPECT_EQ(CodeOf("106"), 106);
    EXPECT_EQ(CodeOf("23"), 23);
    EXPECT_EQ(CodeOf("24"), 0);
    EXPECT_EQ(CodeOf("0"), 0);
    EXPECT_EQ(CodeOf("reqresetlink"), 0);
    EXPECT_EQ(CodeOf("8x"), 0);
}

TEST(ConsoleArgs, BadUsageIsRefusedWithAMessage)
{
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"--baud", "9600"},
        {"ReqNothing"},
        {"24"},
        {"1", "2"},
        {"--parity", "5", "1"},
        {"--stop-bits", "3", "1"},
        {"--fcb", "2", "1"},
        {"--data", "C7C", "11"},
        {"--data", "ZZ", "11"},
        {"--data", "00112233445566778899", "11"},
        {"--port", "COM0", "1"},
        {"--port", "COMx", "1"},
        {"--address", "256", "1"},
        {"--baud", "fast", "1"},
        {"--segment", "64", "9"},
        {"--verbose", "1", "1"},
        {"1", "--port"},
    };
    for (const auto& args : bad) {
        Options o;
        std::string err;
        EXPECT_FALSE(ParseArgs(args, o, err)) << ::testing::PrintToString(args);
        EXPECT_FALSE(err.empty());
    }
}

// --help or -h anywhere asks for the usage, even where a value or a command
// would be expected, and even after something that is bad usage on its own.
TEST(ConsoleArgs, HelpWinsWherever)
{
    const std::vector<std::vector<std::string>> table = {
        {"--help"}, {"-h"}, {"--port", "--help"}, {"ReqReadClock", "-h"}, {"ReqNothing", "--help"},
        {"--baud", "fast", "-h"}, {"1", "2", "--help"},
    };
    for (const auto& args : table) {
        Options o;
        std::string err;
        EXPECT_TRUE(ParseArgs(args, o, err)) << ::testing::PrintToString(args) << ": " << err;
        EXPECT_TRUE(o.Help) << ::testing::PrintToString(args);
    }
    // Neither a look-alike nor an ordinary command line is a request for help.
    for (const auto& args : std::vector<std::vector<std::string>>{{"ReqReadClock"}, {"--h", "1"}, {"-help"}}) {
        Options o;
        std::string err;
        ParseArgs(args, o, err);
        EXPECT_FALSE(o.Help) << ::testing::PrintToString(args);
    }
    const std::string usage = Usage();
    EXPECT_EQ(usage.rfind("usage: kestrel-console ", 0), 0u);
    EXPECT_NE(usage.find("--help | -h"), std::string::npos);
}

TEST(ConsoleArgs, CaptureAndTimestamps)
{
    Options o;
    std::string err;
    ASSERT_TRUE(ParseArgs({"--timestamps", "--capture", "x.pcap", "watch"}, o, err)) << err;
    EXPECT_EQ(o.CapturePath, "x.pcap");
    EXPECT_TRUE(o.Timestamps);
    EXPECT_EQ(o.What, Action::Watch);  // --timestamps takes no value
    Options plain;
    ASSERT_TRUE(ParseArgs({"8"}, plain, err));
    EXPECT_TRUE(plain.CapturePath.empty());
    EXPECT_FALSE(plain.Timestamps);
    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"--capture"}, {"watch", "--capture"}, {"--capture", "", "watch"}, {"--capture", "--timestamps", "watch"},
             {"--timestamps"}})
        EXPECT_FALSE(ParseArgs(bad, o, err)) << ::testing::PrintToString(bad);
    EXPECT_NE(std::string(Usage()).find("[--capture FILE] [--timestamps] COMMAND"), std::string::npos);
}

}  // namespace
}  // namespace kestrel::console
