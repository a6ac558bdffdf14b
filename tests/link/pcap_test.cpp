// The pcap capture: the file byte for byte, one record per frame as it
// crossed the wire, and tshark reading it as FT1.2.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include "link/ComPort.h"
#include "link/FakeSerialDevice.h"
#include "link/Link.h"
#include "link/PcapCapture.h"
#ifndef _WIN32
#include "sim/SimProcess.h"
#endif

namespace kestrel {
namespace {

using test::Bytes;
namespace fs = std::filesystem;
using Clock = std::chrono::system_clock;

struct TempDir {
    fs::path Path = fs::temp_directory_path() /
                    ("kestrel-pcap-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    TempDir() { fs::create_directories(Path); }
    ~TempDir() { std::error_code ec; fs::remove_all(Path, ec); }
};

Bytes ReadAll(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

uint32_t Le32(const Bytes& b, size_t at) { return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t{b[at + 3]} << 24; }

// Each record as {event type, bytes}; the serial header must repeat the record's time.
std::vector<std::pair<uint8_t, Bytes>> Records(const fs::path& p)
{
    const Bytes b = ReadAll(p);
    std::vector<std::pair<uint8_t, Bytes>> out;
    for (size_t at = 24; at + 28 <= b.size(); at += 16 + Le32(b, at + 8)) {
        EXPECT_EQ(Le32(b, at + 8), Le32(b, at + 12));
        EXPECT_EQ(Bytes(b.begin() + long(at), b.begin() + long(at) + 4),
                  Bytes(b.rbegin() + long(b.size() - at - 20), b.rbegin() + long(b.size() - at - 16)));
        out.push_back({b[at + 24], Bytes(b.begin() + long(at) + 28, b.begin() + long(at + 16 + Le32(b, at + 8)))});
    }
    return out;
}

TEST(PcapCapture, FileByteForByte)
{
    TempDir dir;
    const fs::path file = dir.Path / "a.pcap";
    TPcapCapture cap;
    std::string error;
    ASSERT_TRUE(cap.Open(file, error)) << error;
    EXPECT_EQ(ReadAll(file), (Bytes{0xD4, 0xC3, 0xB2, 0xA1, 2, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                    0xFF, 0xFF, 0, 0, 250, 0, 0, 0}));
    // 1700000000 s = 0x6553F100; 123456 us = 0x1E240. Line feeds go out as they are.
    const auto at = Clock::time_point(std::chrono::seconds(1700000000) + std::chrono::microseconds(123456));
    cap.Record(true, Bytes{0x10, 0x0A, 0x1A}, at);
    cap.Record(false, Bytes{0xE5}, at + std::chrono::microseconds(876544));
    EXPECT_EQ(cap.Records(), 2u);
    const Bytes b = ReadAll(file);  // flushed while still open
    EXPECT_EQ(Bytes(b.begin() + 24, b.end()),
              (Bytes{0x00, 0xF1, 0x53, 0x65, 0x40, 0xE2, 0x01, 0x00, 15, 0, 0, 0, 15, 0, 0, 0,  // record header, LE
                     0x65, 0x53, 0xF1, 0x00, 0x00, 0x01, 0xE2, 0x40, 0x01, 0x00, 0x00, 0x00,   // serial header, BE
                     0x10, 0x0A, 0x1A,
                     0x01, 0xF1, 0x53, 0x65, 0x00, 0x00, 0x00, 0x00, 13, 0, 0, 0, 13, 0, 0, 0,
                     0x65, 0x53, 0xF1, 0x01, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0xE5}));
    cap.Close();
    cap.Record(true, Bytes{4}, at);  // closed: ignored
    EXPECT_EQ(ReadAll(file).size(), b.size());
    ASSERT_TRUE(cap.Open(file, error));  // truncates
    EXPECT_EQ(ReadAll(file).size(), 24u);
    EXPECT_EQ(cap.Records(), 0u);

    const fs::path bad = dir.Path / fs::path(u8"нет-папки") / "c.pcap";
    TPcapCapture other;
    EXPECT_FALSE(other.Open(bad, error));
    EXPECT_FALSE(other.IsOpen());
    EXPECT_EQ(error.rfind("Невозможно создать файл записи обмена \"", 0), 0u) << error;
    EXPECT_NE(error.find("нет-папки"), std::string::npos) << error;
}

TEST(PcapCapture, RecordsFromTwoThreadsStayWhole)
{
    TempDir dir;
    TPcapCapture cap;
    std::string error;
    ASSERT_TRUE(cap.Open(dir.Path / "t.pcap", error));
    const auto writer = [&](bool sent, uint8_t fill) {
        for (int i = 0; i < 200; ++i)
            cap.Record(sent, Bytes(size_t(1 + i % 40), fill), Clock::now());
    };
    std::thread a(writer, true, 0xAA), b(writer, false, 0x55);
    a.join();
    b.join();
    const auto recs = Records(dir.Path / "t.pcap");
    ASSERT_EQ(recs.size(), 400u);
    for (const auto& [type, data] : recs)
        EXPECT_EQ(data, Bytes(data.size(), type == kRtacSerialSent ? 0xAA : 0x55));
}

using Rig = test::LinkRig;

TExchangePlan Plan(TProfile p, Bytes frame)
{
    TExchangePlan s;
    s.Profile = p;
    s.Frame = std::move(frame);
    return s;
}

TEST(LinkCapture, OneRecordPerFrameAsItCrossedTheWire)
{
    const Bytes ack = TLink::ShortFrame(0x40, 1), clk = TLink::LongFrame(0x5B, 1, 0x3C);
    const Bytes answer = TLink::LongFrame(0x08, 1, 0x3C, Bytes{5, 0x30, 0x17, 2, 0x10, 0x13});
    struct Case {
        const char* Name;
        TExchangePlan Plan;
        Bytes Answer;
        uint32_t WriteError;
        std::vector<std::pair<uint8_t, Bytes>> Records;
    };
    const Case cases[] = {
        {"acknowledged", Plan(TProfile::Acknowledge, ack), {0xE5, 0xE5}, 0, {{1, ack}, {2, {0xE5, 0xE5}}}},
        {"no answer", Plan(TProfile::Acknowledge, ack), {}, 0, {{1, ack}}},
        // Header and body are read apart and recorded as one answer.
        {"long answer", Plan(TProfile::Data, clk), answer, 0, {{1, clk}, {2, answer}}},
        {"partial", Plan(TProfile::Data, clk), Bytes(answer.begin(), answer.begin() + 6), 0,
         {{1, clk}, {2, Bytes(answer.begin(), answer.begin() + 6)}}},
        {"bad header: the rest stays unread", Plan(TProfile::Data, clk), {0x69, 9, 9, 0x68, 8}, 0,
         {{1, clk}, {2, {0x69, 9, 9, 0x68}}}},
        {"no reply: nothing read", Plan(TProfile::NoReply, clk), {0xE5}, 0, {{1, clk}}},
        {"write failed: nothing went out", Plan(TProfile::Acknowledge, ack), {0xE5}, 5, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TempDir dir;
        TPcapCapture cap;
        std::string error;
        ASSERT_TRUE(cap.Open(dir.Path / "x.pcap", error));
        Rig r;
        ASSERT_EQ(r.link.OpenPortForCb(0), 0);
        r.link.Exchange(0, c.Plan);  // capture off: nothing recorded
        r.link.SetCapture(&cap);
        r.dev.WriteError = c.WriteError;
        r.dev.Answer(c.Answer);
        r.link.Exchange(0, c.Plan);
        EXPECT_EQ(Records(dir.Path / "x.pcap"), c.Records);
    }
}

#ifndef _WIN32
using sim::test::RunCommand;

TEST(LinkCapture, TsharkDecodesEveryFrameAsSent)
{
    if (RunCommand("command -v tshark").empty())
        GTEST_SKIP() << "tshark is not installed";
    TempDir dir;
    TPcapCapture cap;
    std::string error;
    ASSERT_TRUE(cap.Open(dir.Path / "ft12.pcap", error));
    Rig r;
    ASSERT_EQ(r.link.OpenPortForCb(0), 0);
    r.link.SetCapture(&cap);
    Bytes badClock = TLink::LongFrame(0x08, 7, 0x3C, Bytes{5, 0x30, 0x17, 2, 0x10, 0x13});
    badClock[13] ^= 0x5A;
    // Request and answer of: reset of the link, poll with FCB, poll without, clock read, link status.
    const std::vector<std::pair<Bytes, Bytes>> steps = {
        {TLink::ShortFrame(0x40, 7), {0xE5}},
        {TLink::ShortFrame(0x7B, 7), TLink::LongFrame(0x08, 7, 0, Bytes(12, 1))},
        {TLink::ShortFrame(0x5B, 7), {0xE5}},
        {TLink::LongFrame(0x7B, 7, 0x3C), badClock},
        {TLink::ShortFrame(0x49, 7), {0x10, 0x0B, 7, 0x12, 0x16}},
    };
    for (const auto& [frame, answer] : steps) {
        r.dev.Answer(answer);
        r.link.Exchange(0, Plan(TProfile::Data, frame));
    }
    cap.Close();
    // The ASDU layer is off: these blocks' long frames carry none.
    const std::string out = RunCommand("tshark -r '" + (dir.Path / "ft12.pcap").string() +
                                       "' -d rtacser.data,iec60870_101 --disable-protocol iec60870_asdu -T fields"
                                       " -e rtacser.eventtype -e iec60870_101.header -e iec60870_101.ctrlfield"
                                       " -e iec60870_101.linkaddr -e iec60870_101.ctrl_fcb -e iec60870_101.checksum"
                                       " 2>/dev/null");
    std::printf("%s", out.c_str());
    // Worked out from the bytes: type, format, C, A, FCB (requests), check-sum byte.
    EXPECT_EQ(out, "0x01\t0x10\t0x40\t7\t0\t0x47\n"
                   "0x02\t0xe5\t\t\t\t\n"
                   "0x01\t0x10\t0x7b\t7\t1\t0x82\n"
                   "0x02\t0x68,0x68\t0x08\t7\t\t0x1b\n"
                   "0x01\t0x10\t0x5b\t7\t0\t0x62\n"
                   "0x02\t0xe5\t\t\t\t\n"
                   "0x01\t0x68,0x68\t0x7b\t7\t1\t0xbe\n"
                   "0x02\t0x68,0x68\t0x08\t7\t\t0xe6\n"  // 0xbc ^ 0x5a: the one wrong sum, as sent
                   "0x01\t0x10\t0x49\t7\t0\t0x50\n"
                   "0x02\t0x10\t0x0b\t7\t\t0x12\n");
}
#endif

}  // namespace
}  // namespace kestrel
