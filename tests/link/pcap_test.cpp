// The pcap capture of the link: exact bytes of the file, one record per frame
// as it crossed the wire, and what a protocol analyser (tshark) reads from it.
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

namespace kestrel {
namespace {

using test::Bytes;
namespace fs = std::filesystem;
using Clock = std::chrono::system_clock;

class TempDir {
public:
    TempDir()
    {
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        path_ = fs::temp_directory_path() / ("kestrel-pcap-" + std::to_string(stamp));
        fs::create_directories(path_);
    }
    ~TempDir()
    {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& Path() const { return path_; }

private:
    fs::path path_;
};

Bytes ReadAll(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

uint32_t Le32(const Bytes& b, size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

uint32_t Be32(const Bytes& b, size_t at)
{
    return (static_cast<uint32_t>(b[at]) << 24) | (b[at + 1] << 16) | (b[at + 2] << 8) | b[at + 3];
}

struct Rec {
    uint32_t Sec, Usec;
    uint8_t Type;
    Bytes Data;
};

// Every record of a capture file; fails the test on a malformed one.
std::vector<Rec> Records(const fs::path& p)
{
    const Bytes b = ReadAll(p);
    std::vector<Rec> out;
    EXPECT_GE(b.size(), kPcapGlobalHeaderSize);
    size_t at = kPcapGlobalHeaderSize;
    while (at < b.size()) {
        EXPECT_GE(b.size() - at, kPcapRecordHeaderSize + kRtacSerialHeaderSize) << "cut record at " << at;
        if (b.size() - at < kPcapRecordHeaderSize + kRtacSerialHeaderSize)
            break;
        const uint32_t incl = Le32(b, at + 8);
        EXPECT_EQ(Le32(b, at + 12), incl);
        EXPECT_LE(at + kPcapRecordHeaderSize + incl, b.size());
        Rec r;
        r.Sec = Le32(b, at);
        r.Usec = Le32(b, at + 4);
        const size_t h = at + kPcapRecordHeaderSize;
        // The serial header repeats the record's time, big-endian.
        EXPECT_EQ(Be32(b, h), r.Sec);
        EXPECT_EQ(Be32(b, h + 4), r.Usec);
        r.Type = b[h + 8];
        EXPECT_EQ(b[h + 9], 0);
        EXPECT_EQ(b[h + 10], 0);
        EXPECT_EQ(b[h + 11], 0);
        r.Data.assign(b.begin() + static_cast<std::ptrdiff_t>(h + kRtacSerialHeaderSize),
                      b.begin() + static_cast<std::ptrdiff_t>(at + kPcapRecordHeaderSize + incl));
        out.push_back(r);
        at += kPcapRecordHeaderSize + incl;
    }
    return out;
}

TEST(PcapCapture, GlobalHeaderAndOneRecordByteForByte)
{
    TempDir dir;
    const fs::path file = dir.Path() / "a.pcap";
    TPcapCapture cap;
    std::string error;
    ASSERT_TRUE(cap.Open(file, error)) << error;
    EXPECT_TRUE(cap.IsOpen());
    EXPECT_EQ(ReadAll(file), (Bytes{0xD4, 0xC3, 0xB2, 0xA1, 0x02, 0x00, 0x04, 0x00, 0, 0, 0, 0, 0, 0, 0, 0,
                                    0xFF, 0xFF, 0x00, 0x00, 0xFA, 0x00, 0x00, 0x00}));
    // 2023-11-14 22:13:20.123456 UTC = 0x6553F100 s.
    const auto at = Clock::time_point(std::chrono::seconds(1700000000) + std::chrono::microseconds(123456));
    cap.Record(true, Bytes{0x10, 0x40, 0x01, 0x41, 0x16}, at);
    cap.Record(false, Bytes{0xE5}, at + std::chrono::microseconds(876544));
    EXPECT_EQ(cap.Records(), 2u);
    const Bytes b = ReadAll(file);  // flushed: read while still open
    const Bytes first(b.begin() + 24, b.begin() + 24 + 33);
    EXPECT_EQ(first, (Bytes{0x00, 0xF1, 0x53, 0x65, 0x40, 0xE2, 0x01, 0x00, 17, 0, 0, 0, 17, 0, 0, 0,  // record header
                            0x65, 0x53, 0xF1, 0x00, 0x00, 0x01, 0xE2, 0x40, 0x01, 0x00, 0x00, 0x00,   // serial header
                            0x10, 0x40, 0x01, 0x41, 0x16}));
    const Bytes second(b.begin() + 57, b.end());
    EXPECT_EQ(second, (Bytes{0x01, 0xF1, 0x53, 0x65, 0x00, 0x00, 0x00, 0x00, 13, 0, 0, 0, 13, 0, 0, 0,
                             0x65, 0x53, 0xF1, 0x01, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0xE5}));
}

TEST(PcapCapture, OpenTruncatesCloseStopsRecordingAndAFailedOpenSaysWhichFile)
{
    TempDir dir;
    const fs::path file = dir.Path() / "b.pcap";
    TPcapCapture cap;
    std::string error;
    ASSERT_TRUE(cap.Open(file, error));
    // Line feeds and the old end-of-file byte go out as they are (binary mode).
    cap.Record(true, Bytes{0x0A, 0x0D, 0x1A}, Clock::now());
    cap.Close();
    EXPECT_FALSE(cap.IsOpen());
    cap.Record(true, Bytes{4}, Clock::now());  // ignored
    EXPECT_EQ(cap.Records(), 1u);
    EXPECT_EQ(fs::file_size(file), 24u + 16 + 12 + 3);
    ASSERT_TRUE(cap.Open(file, error));
    EXPECT_EQ(cap.Records(), 0u);
    EXPECT_EQ(fs::file_size(file), 24u);

    const fs::path bad = dir.Path() / fs::path(u8"нет-папки") / "c.pcap";
    TPcapCapture other;
    error.clear();
    EXPECT_FALSE(other.Open(bad, error));
    EXPECT_FALSE(other.IsOpen());
    EXPECT_EQ(error.rfind("Невозможно создать файл записи обмена \"", 0), 0u) << error;
    EXPECT_NE(error.find("нет-папки"), std::string::npos) << error;
    other.Record(true, Bytes{1}, Clock::now());
    EXPECT_EQ(other.Records(), 0u);
    EXPECT_FALSE(fs::exists(bad));
}

TEST(PcapCapture, RecordsFromTwoThreadsStayWhole)
{
    TempDir dir;
    const fs::path file = dir.Path() / "t.pcap";
    TPcapCapture cap;
    std::string error;
    ASSERT_TRUE(cap.Open(file, error));
    const auto writer = [&](bool sent, uint8_t fill) {
        for (int i = 0; i < 200; ++i)
            cap.Record(sent, Bytes(static_cast<size_t>(1 + i % 40), fill), Clock::now());
    };
    std::thread a(writer, true, 0xAA);
    std::thread b(writer, false, 0x55);
    a.join();
    b.join();
    EXPECT_EQ(cap.Records(), 400u);
    const auto recs = Records(file);
    ASSERT_EQ(recs.size(), 400u);
    for (const Rec& r : recs) {
        // Each record holds one writer's bytes only.
        const uint8_t fill = r.Type == kRtacSerialSent ? 0xAA : 0x55;
        EXPECT_EQ(r.Data, Bytes(r.Data.size(), fill));
    }
}

// ---------------------------------------------------------------- the link writes the capture

struct Rig {
    TGlobalState state;
    test::FakeSerialDevice dev;
    TComPort port{dev};
    test::RecordingSleeper sleeper;
    test::RecordingHooks hooks;
    TLink link{state, port, sleeper, hooks};
};

TExchangePlan Ack()
{
    TExchangePlan s;
    s.Frame = TLink::ShortFrame(0x40, 0x01);
    s.WaitBasis = 5;
    s.Profile = TProfile::Acknowledge;
    return s;
}

TExchangePlan Clock8()
{
    TExchangePlan s;
    s.Frame = TLink::LongFrame(0x5B, 0x01, 0x3C);
    s.Profile = TProfile::Data;
    s.BadText = "Ошибка контрольной суммы.";
    return s;
}

TExchangePlan StopClock()
{
    TExchangePlan s;
    s.Frame = TLink::LongFrame(0x44, 0x01, 0x54);
    s.WaitBasis = 9;
    s.Profile = TProfile::NoReply;
    return s;
}

const Bytes kClockAnswer = TLink::LongFrame(0x08, 0x01, 0x3C, Bytes{0x05, 0x30, 0x17, 0x02, 0x10, 0x13});

TEST(LinkCapture, OneRecordPerFrameAsItCrossedTheWire)
{
    struct Case {
        const char* Name;
        TExchangePlan Plan;
        Bytes Answer;
        uint32_t WriteError;
        std::vector<std::pair<uint8_t, Bytes>> Records;
    };
    const Bytes ack = TLink::ShortFrame(0x40, 0x01);
    const Bytes clk = TLink::LongFrame(0x5B, 0x01, 0x3C);
    Bytes badSum = kClockAnswer;
    badSum[13] ^= 0xFF;
    const Case cases[] = {
        {"acknowledged", Ack(), {0xE5, 0xE5}, 0, {{1, ack}, {2, {0xE5, 0xE5}}}},
        {"no answer", Ack(), {}, 0, {{1, ack}}},
        // Header and body read apart, recorded as one answer.
        {"long answer", Clock8(), kClockAnswer, 0, {{1, clk}, {2, kClockAnswer}}},
        {"bad check sum", Clock8(), badSum, 0, {{1, clk}, {2, badSum}}},
        {"partial", Clock8(), {0x68, 0x09, 0x09, 0x68, 0x08, 0x01}, 0,
         {{1, clk}, {2, {0x68, 0x09, 0x09, 0x68, 0x08, 0x01}}}},
        {"bad header: the rest stays unread", Clock8(), {0x69, 0x09, 0x09, 0x68, 0x08}, 0,
         {{1, clk}, {2, {0x69, 0x09, 0x09, 0x68}}}},
        {"no reply: nothing read", StopClock(), {0xE5}, 0, {{1, TLink::LongFrame(0x44, 0x01, 0x54)}}},
        {"write failed: nothing went out", Ack(), {0xE5}, 5, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TempDir dir;
        TPcapCapture cap;
        std::string error;
        ASSERT_TRUE(cap.Open(dir.Path() / "x.pcap", error));
        Rig r;
        ASSERT_EQ(r.link.OpenPortForCb(0), 0);
        r.link.SetCapture(&cap);
        r.dev.WriteError = c.WriteError;
        r.dev.Answer(c.Answer);
        const auto before = Clock::now();
        r.link.Exchange(0, c.Plan);
        const auto after = Clock::now();
        const auto recs = Records(dir.Path() / "x.pcap");
        ASSERT_EQ(recs.size(), c.Records.size());
        EXPECT_EQ(cap.Records(), c.Records.size());
        const auto us = [](Clock::time_point t) {
            return std::chrono::duration_cast<std::chrono::microseconds>(t.time_since_epoch()).count();
        };
        int64_t last = 0;
        for (size_t i = 0; i < recs.size(); ++i) {
            EXPECT_EQ(recs[i].Type, c.Records[i].first) << i;
            EXPECT_EQ(recs[i].Data, c.Records[i].second) << i;
            const int64_t t = int64_t{recs[i].Sec} * 1000000 + recs[i].Usec;
            EXPECT_GE(t, us(before) - 1);
            EXPECT_LE(t, us(after));
            EXPECT_GE(t, last);  // the answer is never stamped before its request
            last = t;
        }
    }
}

TEST(LinkCapture, SwitchedOffAndOnBetweenExchanges)
{
    TempDir dir;
    TPcapCapture cap;
    std::string error;
    ASSERT_TRUE(cap.Open(dir.Path() / "y.pcap", error));
    Rig r;
    ASSERT_EQ(r.link.OpenPortForCb(0), 0);
    r.dev.Answer({0xE5}, 3);
    r.link.Exchange(0, Ack());
    r.link.SetCapture(&cap);
    r.link.Exchange(0, Ack());
    r.link.SetCapture(nullptr);
    r.link.Exchange(0, Ack());
    EXPECT_EQ(Records(dir.Path() / "y.pcap").size(), 2u);
    EXPECT_EQ(r.state.Cb(0)->FramesSent.load(), 3u);
}

// ---------------------------------------------------------------- tshark reads it as FT1.2

std::string RunCommand(const std::string& cmd)
{
#ifdef _WIN32
    (void)cmd;
    return {};
#else
    std::string out;
    FILE* f = popen(cmd.c_str(), "r");
    if (!f)
        return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        out.append(buf, n);
    pclose(f);
    return out;
#endif
}

bool HaveTshark()
{
#ifdef _WIN32
    return false;
#else
    return RunCommand("command -v tshark 2>/dev/null").find("tshark") != std::string::npos;
#endif
}

std::string Hex(unsigned v)
{
    char b[8];
    std::snprintf(b, sizeof b, "0x%02x", v);
    return b;
}

// What tshark must print for one frame, worked out from its bytes:
// direction, frame format, control field, address, FCB (requests only),
// check sum byte, and whether that check sum is right.
struct Expect {
    std::string Line;
    bool SumRight;
};

Expect ExpectFor(uint8_t type, const Bytes& f)
{
    std::string fmt, c, a, fcb, cs;
    bool right = true;
    if (f[0] == 0x10 && f.size() >= 5) {
        fmt = "0x10";
        c = Hex(f[1]);
        a = std::to_string(f[2]);
        cs = Hex(f[3]);
        right = ((f[1] + f[2]) & 0xFF) == f[3];
    } else if (f[0] == 0x68 && f.size() >= 6) {
        fmt = "0x68,0x68";
        c = Hex(f[4]);
        a = std::to_string(f[5]);
        unsigned s = 0;
        for (size_t i = 4; i < f.size() - 2; ++i)
            s += f[i];
        cs = Hex(f[f.size() - 2]);
        right = (s & 0xFF) == f[f.size() - 2];
    } else {
        fmt = Hex(f[0]);
    }
    if (type == kRtacSerialSent && !c.empty())
        fcb = (f[0] == 0x10 ? f[1] : f[4]) & 0x20 ? "1" : "0";
    return {Hex(type) + "\t" + fmt + "\t" + c + "\t" + a + "\t" + fcb + "\t" + cs, right};
}

TEST(LinkCapture, TsharkDecodesEveryFrameAsSent)
{
    if (!HaveTshark())
        GTEST_SKIP() << "tshark is not installed";
    TempDir dir;
    const fs::path file = dir.Path() / "ft12.pcap";
    TPcapCapture cap;
    std::string error;
    ASSERT_TRUE(cap.Open(file, error));
    Rig r;
    r.state.Cb(0)->Address = 7;
    ASSERT_EQ(r.link.OpenPortForCb(0), 0);
    r.link.SetCapture(&cap);

    // Reset of the link, a poll with and without FCB, a clock read and a link
    // status; answers: ack, an event, nothing new, the clock with a bad check
    // sum, a status frame.
    TExchangePlan reset = Ack();
    reset.Frame = TLink::ShortFrame(0x40, 7);
    TExchangePlan poll1;
    poll1.Frame = TLink::ShortFrame(0x7B, 7);
    poll1.Profile = TProfile::DataOrNothing;
    poll1.Kind = TDataOrNothingKind::Poll;
    TExchangePlan poll0 = poll1;
    poll0.Frame = TLink::ShortFrame(0x5B, 7);
    TExchangePlan clock = Clock8();
    clock.Frame = TLink::LongFrame(0x7B, 7, 0x3C);
    TExchangePlan status;
    status.Frame = TLink::ShortFrame(0x49, 7);
    status.Profile = TProfile::LinkStatus;
    test::Ev ev;
    Bytes event = test::EventFrame(ev);
    event[5] = 7;
    event[event.size() - 2] = static_cast<uint8_t>(event[event.size() - 2] + 6);
    Bytes badClock = TLink::LongFrame(0x08, 7, 0x3C, Bytes{0x05, 0x30, 0x17, 0x02, 0x10, 0x13});
    badClock[badClock.size() - 2] ^= 0x5A;
    const std::vector<std::pair<TExchangePlan, Bytes>> steps = {
        {reset, {0xE5}}, {poll1, event}, {poll0, {0xE5}}, {clock, badClock},
        {status, {0x10, 0x0B, 7, 0x12, 0x16}},
    };
    std::vector<std::pair<uint8_t, Bytes>> wire;
    for (const auto& [plan, answer] : steps) {
        r.dev.Answer(answer);
        r.link.Exchange(0, plan);
        wire.push_back({kRtacSerialSent, plan.Frame});
        wire.push_back({kRtacSerialReceived, answer});
    }
    ASSERT_EQ(r.dev.Writes.size(), steps.size());
    cap.Close();

    // The ASDU layer is switched off: these blocks' long frames carry no ASDU.
    const std::string out = RunCommand("tshark -r '" + file.string() +
                                "' -d rtacser.data,iec60870_101 --disable-protocol iec60870_asdu -T fields"
                                " -e rtacser.eventtype -e iec60870_101.header -e iec60870_101.ctrlfield"
                                " -e iec60870_101.linkaddr -e iec60870_101.ctrl_fcb -e iec60870_101.checksum"
                                " -e frame.cap_len 2>/dev/null");
    std::istringstream lines(out);
    std::vector<std::string> got;
    for (std::string l; std::getline(lines, l);)
        got.push_back(l);
    std::printf("tshark:\n%s", out.c_str());
    ASSERT_EQ(got.size(), wire.size()) << out;
    int wrongSums = 0;
    for (size_t i = 0; i < wire.size(); ++i) {
        const Expect e = ExpectFor(wire[i].first, wire[i].second);
        wrongSums += e.SumRight ? 0 : 1;
        EXPECT_EQ(got[i], e.Line + "\t" + std::to_string(12 + wire[i].second.size())) << i;
    }
    // Only the spoilt clock answer has a wrong check sum, as tshark shows it.
    EXPECT_EQ(wrongSums, 1);
    EXPECT_EQ(r.state.Cb(0)->ChecksumErrors.load(), 1u);
}

}  // namespace
}  // namespace kestrel
