// The configuration file: exact layout, round trips, flag rules, and that a
// bad or short file never changes the model.
#include <gtest/gtest.h>

#include <thread>

#include "state/ConfigFile.h"
#include "state/Cp1251.h"
#include "state_test_util.h"

using namespace kestrel;
using namespace kestrel::testutil;

namespace {

std::string Hex(const std::string& bytes, std::size_t n)
{
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < n && i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (i)
            out += ' ';
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

// A CB whose every stored field differs from the defaults and from the
// other CBs (seed), with non-ASCII texts.
TCbSettings Varied(int seed)
{
    TCbSettings s;
    const auto b = [seed](int x) { return static_cast<uint8_t>(seed * 31 + x); };
    s.Name = W1251("Щит №" + std::to_string(seed) + " «Ввод»");
    s.PowerName = W1251("Питание ЩР-" + std::to_string(seed));
    s.ArcName = seed % 2 ? std::string() : W1251("Дуга ёЁ");
    s.EmerName = W1251("Отказ — блок " + std::to_string(seed));
    s.MtzWait = 1;
    s.UrovTimeMs = static_cast<uint16_t>(0xA55A + seed);
    for (int k = 0; k < 4; ++k)
        for (int m = 0; m < 4; ++m)
            s.FuncTable[k][m] = b(k * 4 + m + 1);
    s.Enabled = static_cast<uint8_t>(seed % 2);
    s.Baud = 115200u + static_cast<uint32_t>(seed) * 0x01010101u;
    s.Address = b(100);
    s.PortNumber = b(101);
    s.DataBits = -7 - seed;
    s.Parity = 0x7FFFFFF0 + seed;
    s.StopBits = -2147483647 - 1 + seed;
    for (int i = 0; i < kUirCount; ++i) {
        TUirSettings& u = s.Uir[i];
        u.Present = static_cast<uint8_t>((i + seed) % 2);
        u.Number = static_cast<uint8_t>(i + 1 + seed);
        u.Name = W1251("Ячейка " + std::to_string(i) + "/" + std::to_string(seed));
        u.ChName1 = i % 5 == 0 ? std::string() : W1251("Отсек А" + std::to_string(i));
        u.ChName2 = W1251("Шинный мост");
        u.ChName3 = std::string(static_cast<std::size_t>(i), static_cast<char>(0xFF));  // "яяя..."
        u.OutputEnabled = static_cast<uint8_t>(i % 2);
        u.PollEnabled = static_cast<uint8_t>((i / 2) % 2);
        u.InputControl1 = static_cast<uint8_t>((i / 3) % 2);
        u.InputControl2 = static_cast<uint8_t>((i / 4) % 2);
        u.InputControl3 = static_cast<uint8_t>((i / 5) % 2);
        u.InputFunction1 = static_cast<uint8_t>(i % 4);
        u.InputFunction2 = static_cast<uint8_t>((i + 1) % 4);
        u.InputFunction3 = static_cast<uint8_t>((i + seed) % 256);
    }
    return s;
}

std::vector<TCbSettings> Snapshot(const TGlobalState& st)
{
    std::vector<TCbSettings> out;
    EXPECT_TRUE(SnapshotSettings(st, out));
    return out;
}

// Every record allocated, whatever CbCount says.
std::vector<TCbSettings> AllRecords(TGlobalState& st)
{
    const int32_t count = st.CbCount;
    st.CbCount = st.Allocated();
    std::vector<TCbSettings> out = Snapshot(st);
    st.CbCount = count;
    return out;
}

void Load(TGlobalState& st, const std::vector<TCbSettings>& cbs)
{
    ASSERT_TRUE(st.EnsureAllocated(static_cast<int32_t>(cbs.size())));
    st.CbCount = static_cast<int32_t>(cbs.size());
    for (std::size_t c = 0; c < cbs.size(); ++c)
        ApplySettings(*st.Cb(static_cast<int32_t>(c)), cbs[c]);
}

int Parse(const std::string& bytes, std::vector<TCbSettings>& cbs, ConfigError& err)
{
    return ParseConfig(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), cbs, err);
}

void PutU32(std::string& bytes, std::size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<char>(v >> (8 * i));
}

}  // namespace

// --- layout -----------------------------------------------------------------

TEST(ConfigFile, DefaultFileSizeAndFirstBytes)
{
    ScratchDir dir;
    TGlobalState st;
    st.MarkAllUirsPresent();
    st.CfgFilePath = (dir / "1.cfg").string();
    ASSERT_EQ(WriteConfigFile(st), 0);
    const std::string bytes = ReadBytes(dir / "1.cfg");
    EXPECT_EQ(bytes.size(), 2364u);
    EXPECT_EQ(Hex(bytes, 13), "01 00 00 00 05 00 00 00 D1 C1 20 B9 31");
    EXPECT_EQ(bytes, SerializeConfig({DefaultCbSettings()}));
}

// Offsets of a one-CB file whose texts are all empty: the fixed fields then
// sit at known places.
TEST(ConfigFile, FieldOffsetsWidthsAndByteOrder)
{
    TCbSettings s;
    s.Name = s.PowerName = s.ArcName = s.EmerName = "";
    s.MtzWait = 7;  // written as 1
    s.UrovTimeMs = 0x1234;
    for (int k = 0; k < 4; ++k)
        for (int m = 0; m < 4; ++m)
            s.FuncTable[k][m] = static_cast<uint8_t>(0x10 * k + m);  // Fk of mode m
    s.Enabled = 0;
    s.Baud = 0x11223344;
    s.Address = 0xAB;
    s.PortNumber = 0xCD;
    s.DataBits = -2;
    s.Parity = 0x01020304;
    s.StopBits = 1;
    for (auto& u : s.Uir)
        u.Name = u.ChName1 = u.ChName2 = u.ChName3 = "";
    TUirSettings& u0 = s.Uir[0];
    u0.Present = 1;
    u0.Number = 42;
    u0.OutputEnabled = 0;
    u0.PollEnabled = 3;  // written as 1
    u0.InputControl1 = 1;
    u0.InputControl2 = 0;
    u0.InputControl3 = 1;
    u0.InputFunction1 = 1;
    u0.InputFunction2 = 2;
    u0.InputFunction3 = 3;
    const std::string f = SerializeConfig({s});
    ASSERT_EQ(f.size(), 4u + 16 + 38 + 43 * (10 + 16));

    struct Expect {
        std::size_t offset;
        uint8_t byte;
        const char* what;
    };
    const Expect table[] = {
        {0, 1, "count"},          {3, 0, "count high"},    {4, 0, "Name length"},   {19, 0, "EmerName length"},
        {20, 1, "MtzWait"},       {21, 0x34, "Urov low"},  {22, 0x12, "Urov high"},
        {23, 0x00, "mode0 F0"},   {24, 0x10, "mode0 F1"},  {25, 0x20, "mode0 F2"},  {26, 0x30, "mode0 F3"},
        {27, 0x01, "mode1 F0"},   {30, 0x31, "mode1 F3"},  {35, 0x03, "mode3 F0"},  {38, 0x33, "mode3 F3"},
        {39, 0, "Enabled"},       {40, 0x44, "Baud b0"},   {43, 0x11, "Baud b3"},   {44, 0xAB, "Address"},
        {45, 0xCD, "PortNumber"}, {46, 0xFE, "DataBits b0"}, {49, 0xFF, "DataBits b3"},
        {50, 0x04, "Parity b0"},  {53, 0x01, "Parity b3"}, {54, 1, "StopBits b0"},  {57, 0, "StopBits b3"},
        {58, 1, "UIR0 Present"},  {59, 42, "UIR0 Number"}, {60, 0, "UIR0 Name length"},
        {76, 0, "UIR0 OutputEnabled"}, {77, 1, "UIR0 PollEnabled"}, {78, 1, "UIR0 InputControl1"},
        {79, 0, "UIR0 InputControl2"}, {80, 1, "UIR0 InputControl3"}, {81, 1, "UIR0 InputFunction1"},
        {82, 2, "UIR0 InputFunction2"}, {83, 3, "UIR0 InputFunction3"},
        {84, 0, "UIR1 Present"},  {85, 1, "UIR1 Number"},
    };
    for (const Expect& e : table)
        EXPECT_EQ(static_cast<uint8_t>(f[e.offset]), e.byte) << e.what << " at " << e.offset;
}

TEST(ConfigFile, CountedStringIsLengthThenBytes)
{
    TCbSettings s = DefaultCbSettings();
    s.Name = W1251("Ы");
    const std::string f = SerializeConfig({s});
    EXPECT_EQ(Hex(f.substr(4, 6), 6), "01 00 00 00 DB 07");  // "Ы", then PowerName's length 7
}

// --- round trips --------------------------------------------------------------

TEST(ConfigFile, RoundTripEveryFieldSeveralCbs)
{
    ScratchDir dir;
    std::vector<TCbSettings> cbs = {Varied(1), Varied(2), Varied(3)};
    cbs[1].Name.clear();
    for (int b = 0; b < 256; ++b)
        cbs[2].Uir[42].Name += static_cast<char>(b);  // every byte value
    TGlobalState src;
    Load(src, cbs);
    src.CfgFilePath = (dir / "rt.cfg").string();
    ASSERT_EQ(WriteConfigFile(src), 0);

    TGlobalState dst;
    dst.CfgFilePath = src.CfgFilePath;
    ASSERT_EQ(ReadConfigFile(dst), 0);
    EXPECT_EQ(dst.CbCount, 3);
    EXPECT_GE(dst.Allocated(), 3);
    const auto back = Snapshot(dst);
    ASSERT_EQ(back.size(), 3u);
    for (std::size_t c = 0; c < 3; ++c)
        EXPECT_TRUE(back[c] == cbs[c]) << "CB " << c;
    EXPECT_EQ(U8(dst.Cb(0)->Name), U8(cbs[0].Name));  // each CB's texts in its own record
    EXPECT_EQ(dst.Cb(1)->Name, "");
    EXPECT_EQ(U8(dst.Cb(2)->EmerName), "Отказ — блок 3");

    // And written again, byte for byte the same file.
    dst.CfgFilePath = (dir / "rt2.cfg").string();
    ASSERT_EQ(WriteConfigFile(dst), 0);
    EXPECT_EQ(ReadBytes(dir / "rt.cfg"), ReadBytes(dir / "rt2.cfg"));
}

TEST(ConfigFile, EmptyTextsStayEmpty)
{
    TCbSettings s = DefaultCbSettings();
    s.Name = s.PowerName = s.ArcName = s.EmerName = "";
    for (auto& u : s.Uir)
        u.Name = u.ChName1 = u.ChName2 = u.ChName3 = "";
    const std::string f = SerializeConfig({s});
    EXPECT_EQ(f.size(), 4u + 16 + 38 + 43 * 26);
    std::vector<TCbSettings> back;
    ConfigError err;
    ASSERT_EQ(Parse(f, back, err), 0);
    EXPECT_TRUE(back.at(0) == s);
}

TEST(ConfigFile, FlagBytesReadByRecordKindAndWriteAsZeroOrOne)
{
    const std::string base = SerializeConfig({DefaultCbSettings()});
    // Offsets in a default file: CB block at 4 (texts 43 bytes), UIR 0 at 85.
    const std::size_t cb = 4 + 43;          // MtzWait
    const std::size_t uir = 85;             // UIR 0
    const std::size_t uirFlags = uir + 2 + 4 * 4 + 6 + 7 + 7 + 7;  // OutputEnabled of UIR 0
    struct Case {
        const char* field;
        std::size_t offset;
        uint8_t byte;
        uint8_t expect;
    };
    const Case table[] = {
        {"MtzWait", cb, 2, 1},           {"MtzWait", cb, 255, 1},        {"MtzWait", cb, 1, 1},
        {"Enabled", cb + 19, 2, 1},      {"Enabled", cb + 19, 0, 0},     {"Enabled", cb + 19, 0x80, 1},
        {"Present", uir, 2, 0},          {"Present", uir, 255, 0},       {"Present", uir, 1, 1},
        {"OutputEnabled", uirFlags, 2, 0}, {"PollEnabled", uirFlags + 1, 2, 0},
        {"InputControl1", uirFlags + 2, 2, 0}, {"InputControl2", uirFlags + 3, 3, 0},
        {"InputControl3", uirFlags + 4, 2, 0}, {"InputControl3", uirFlags + 4, 1, 1},
    };
    for (const Case& c : table) {
        std::string f = base;
        f[c.offset] = static_cast<char>(c.byte);
        std::vector<TCbSettings> cbs;
        ConfigError err;
        ASSERT_EQ(Parse(f, cbs, err), 0) << c.field;
        const TCbSettings& s = cbs.at(0);
        const TUirSettings& u = s.Uir[0];
        const std::string name = c.field;
        const uint8_t got = name == "MtzWait" ? s.MtzWait
                            : name == "Enabled" ? s.Enabled
                            : name == "Present" ? u.Present
                            : name == "OutputEnabled" ? u.OutputEnabled
                            : name == "PollEnabled" ? u.PollEnabled
                            : name == "InputControl1" ? u.InputControl1
                            : name == "InputControl2" ? u.InputControl2
                                                      : u.InputControl3;
        EXPECT_EQ(got, c.expect) << c.field << " byte " << int(c.byte);
        // Written back as exactly 0 or 1.
        const std::string again = SerializeConfig(cbs);
        EXPECT_EQ(static_cast<uint8_t>(again[c.offset]), c.expect) << c.field << " byte " << int(c.byte);
    }
}

// --- the file operations -----------------------------------------------------

TEST(ConfigFile, MissingFileIsMinusOneAndChangesNothing)
{
    ScratchDir dir;
    TGlobalState st;
    st.CfgFilePath = (dir / "none.cfg").string();
    const auto before = Snapshot(st);
    EXPECT_EQ(ReadConfigFile(st), -1);
    EXPECT_EQ(st.CbCount, 1);
    EXPECT_TRUE(Snapshot(st) == before);
    st.CfgFilePath = dir.Path().string();  // a folder is no file
    EXPECT_EQ(ReadConfigFile(st), -1);
}

TEST(ConfigFile, ZeroCbCountReadsAndTouchesNoRecord)
{
    ScratchDir dir;
    TGlobalState st;
    Load(st, {Varied(5)});
    const auto before = AllRecords(st);
    WriteBytes(dir / "z.cfg", std::string(4, '\0'));
    st.CfgFilePath = (dir / "z.cfg").string();
    EXPECT_EQ(ReadConfigFile(st), 0);
    EXPECT_EQ(st.CbCount, 0);
    EXPECT_EQ(st.Cb(0), nullptr);
    EXPECT_TRUE(AllRecords(st) == before);
    // And such a model writes the same four bytes back.
    st.CfgFilePath = (dir / "z2.cfg").string();
    ASSERT_EQ(WriteConfigFile(st), 0);
    EXPECT_EQ(ReadBytes(dir / "z2.cfg"), std::string(4, '\0'));
}

// Every way a file can end early: the read fails with -2 (never with values
// the file did not hold) and the model keeps every record and CbCount.
TEST(ConfigFile, EveryTruncationPointFailsAndLeavesModelUntouched)
{
    ScratchDir dir;
    const std::string full = SerializeConfig({Varied(7)});
    TGlobalState st;
    Load(st, {Varied(1)});
    st.Cb(0)->Baud = 4800;
    const auto before = AllRecords(st);
    const auto path = dir / "t.cfg";
    st.CfgFilePath = path.string();
    for (std::size_t len = 0; len < full.size(); ++len) {
        WriteBytes(path, full.substr(0, len));
        ASSERT_EQ(ReadConfigFile(st), -2) << "length " << len;
        ASSERT_EQ(st.CbCount, 1) << "length " << len;
        ASSERT_EQ(st.Allocated(), 1) << "length " << len;
        ASSERT_TRUE(AllRecords(st) == before) << "length " << len;
    }
    WriteBytes(path, full);
    EXPECT_EQ(ReadConfigFile(st), 0);
    EXPECT_TRUE(GetSettings(*st.Cb(0)) == Varied(7));
}

// The same for the second CB of a file, on the parser alone (cuts inside the
// first CB take the same paths as above).
TEST(ConfigFile, EveryTruncationPointOfSeveralCbsFails)
{
    const std::string full = SerializeConfig({Varied(7), Varied(8)});
    const std::size_t second = SerializeConfig({Varied(7)}).size();  // where CB 1 starts
    for (std::size_t len = second - 16; len < full.size(); ++len) {
        std::vector<TCbSettings> cbs;
        ConfigError err;
        ASSERT_EQ(ParseConfig(reinterpret_cast<const uint8_t*>(full.data()), len, cbs, err), -2) << len;
        ASSERT_TRUE(cbs.empty()) << len;
        ASSERT_FALSE(err.field.empty()) << len;
        ASSERT_LE(err.offset, len) << len;
    }
}

TEST(ConfigFile, ParseErrorNamesFieldAndOffset)
{
    const std::string full = SerializeConfig({DefaultCbSettings(), DefaultCbSettings()});
    struct Case {
        std::size_t len;
        const char* field;
        std::size_t offset;
    };
    const Case table[] = {
        {0, "CbCount", 0},
        {3, "CbCount", 0},
        {4, "Cb[0].Name", 4},
        {10, "Cb[0].Name", 4},  // count present, text cut short
        {47, "Cb[0].MtzWait", 47},
        {49, "Cb[0].UrovTimeMs", 48},
        {50, "Cb[0].FuncTable[0][0]", 50},
        {55, "Cb[0].FuncTable[1][1]", 55},
        {84, "Cb[0].StopBits", 81},
        {85, "Cb[0].Uir[0].Present", 85},
        {86, "Cb[0].Uir[0].Number", 86},
        {85 + 52, "Cb[0].Uir[0].InputFunction3", 85 + 52},
        {85 + 53 * 43, "Cb[1].Name", 85 + 53 * 43},
        {full.size() - 1, "Cb[1].Uir[42].InputFunction3", full.size() - 1},
    };
    for (const Case& c : table) {
        std::vector<TCbSettings> cbs;
        ConfigError err;
        EXPECT_EQ(Parse(full.substr(0, c.len), cbs, err), -2) << c.len;
        EXPECT_EQ(err.field, c.field) << c.len;
        EXPECT_EQ(err.offset, c.offset) << c.len;
        EXPECT_NE(err.Describe().find("byte offset " + std::to_string(c.offset)), std::string::npos);
        EXPECT_TRUE(cbs.empty());
    }
}

TEST(ConfigFile, OversizedStringCountsAreReadFailures)
{
    const std::string full = SerializeConfig({DefaultCbSettings()});
    struct Case {
        std::size_t at;     // the length field
        uint32_t value;
        int expect;
        const char* field;
    };
    const std::size_t uirName = 85 + 2;
    const std::size_t rest = full.size() - 8;  // what follows the Name's length
    const Case table[] = {
        {4, 0xFFFFFFFFu, -2, "Cb[0].Name"},
        {4, 0x80000000u, -2, "Cb[0].Name"},
        {4, static_cast<uint32_t>(rest + 1), -2, "Cb[0].Name"},
        {4, static_cast<uint32_t>(rest), -2, "Cb[0].Name"},  // fits the file, but no text is that long
        {uirName, 0x7FFFFFFFu, -2, "Cb[0].Uir[0].Name"},
    };
    for (const Case& c : table) {
        std::string f = full;
        PutU32(f, c.at, c.value);
        std::vector<TCbSettings> cbs;
        ConfigError err;
        EXPECT_EQ(Parse(f, cbs, err), c.expect) << c.at << "=" << c.value;
        EXPECT_EQ(err.field, c.field) << c.at << "=" << c.value;
    }
}

// Texts up to kMaxTextBytes read and write; one byte more is a bad file and
// is never written.
TEST(ConfigFile, TextLengthLimit)
{
    ScratchDir dir;
    struct Case {
        std::size_t length;
        bool inUir;  // a UIR text rather than a CB text
        int expect;
        const char* field;
    };
    const Case table[] = {
        {0, false, 0, ""},
        {kMaxTextBytes, false, 0, ""},
        {kMaxTextBytes, true, 0, ""},
        {kMaxTextBytes + 1, false, -2, "Cb[0].EmerName"},
        {kMaxTextBytes + 1, true, -2, "Cb[1].Uir[42].ChName3"},
    };
    for (const Case& c : table) {
        SCOPED_TRACE(std::to_string(c.length) + (c.inUir ? " UIR" : " CB"));
        std::vector<TCbSettings> cbs = {Varied(1), Varied(2)};
        (c.inUir ? cbs[1].Uir[42].ChName3 : cbs[0].EmerName) = std::string(c.length, '\xC0');
        const std::string image = SerializeConfig(cbs);
        std::vector<TCbSettings> back;
        ConfigError err;
        EXPECT_EQ(Parse(image, back, err), c.expect);
        EXPECT_EQ(err.field, c.field);
        if (c.expect != 0) {
            EXPECT_NE(err.reason.find("exceeds the limit of " + std::to_string(kMaxTextBytes)), std::string::npos)
                << err.reason;
        }

        // The writer refuses what the reader would refuse, and keeps the old file.
        TGlobalState st;
        st.CfgFilePath = (dir / "t.cfg").string();
        WriteBytes(dir / "t.cfg", "previous");
        Load(st, cbs);
        EXPECT_EQ(WriteConfigFile(st), c.expect);
        EXPECT_EQ(ReadBytes(dir / "t.cfg"), c.expect == 0 ? image : std::string("previous"));
        EXPECT_EQ(ReadConfigFile(st), c.expect == 0 ? 0 : -2);
    }
}

// The largest valid file: 255 CBs, every text at its longest. It reads, and
// its size is the limit the reader takes, so one byte more is refused,
// although the parser alone would ignore a trailing byte.
TEST(ConfigFile, LargestValidFileReadsAndOneByteMoreIsRefused)
{
    ScratchDir dir;
    TCbSettings widest = Varied(5);
    for (Text* t : {&widest.Name, &widest.PowerName, &widest.ArcName, &widest.EmerName})
        *t = std::string(kMaxTextBytes, '\xD6');
    for (TUirSettings& u : widest.Uir)
        for (Text* t : {&u.Name, &u.ChName1, &u.ChName2, &u.ChName3})
            *t = std::string(kMaxTextBytes, '\xE9');
    std::string image = SerializeConfig(std::vector<TCbSettings>(kMaxCbCount, widest));
    ASSERT_EQ(image.size(), kMaxConfigFileBytes);
    WriteBytes(dir / "max.cfg", image);
    image.clear();

    TGlobalState st;
    st.CfgFilePath = (dir / "max.cfg").string();
    ASSERT_EQ(ReadConfigFile(st), 0);
    EXPECT_EQ(st.CbCount, kMaxCbCount);
    EXPECT_TRUE(GetSettings(*st.Cb(kMaxCbCount - 1)) == widest);

    {
        std::ofstream more(dir / "max.cfg", std::ios::binary | std::ios::app);
        more.put('\0');
    }
    TGlobalState fresh;
    fresh.CfgFilePath = st.CfgFilePath;
    const auto before = Snapshot(fresh);
    EXPECT_EQ(ReadConfigFile(fresh), -2);
    EXPECT_EQ(fresh.CbCount, 1);
    EXPECT_TRUE(Snapshot(fresh) == before);
}

TEST(ConfigFile, CbCountGrowsTableUpTo255AndRefusesMore)
{
    ScratchDir dir;
    const auto path = dir / "n.cfg";
    struct Case {
        uint32_t declared;
        uint32_t present;  // CB records actually in the file
        int expect;
    };
    const Case table[] = {
        {2, 2, 0}, {3, 2, -2}, {255, 255, 0}, {256, 256, -2}, {1000, 1, -2}, {0xFFFFFFFFu, 1, -2},
    };
    for (const Case& c : table) {
        TGlobalState st;
        st.CfgFilePath = path.string();
        const auto before = AllRecords(st);
        std::vector<TCbSettings> cbs(c.present, DefaultCbSettings());
        if (c.present > 1)
            cbs[c.present - 1] = Varied(9);
        std::string f = SerializeConfig(cbs);
        PutU32(f, 0, c.declared);
        WriteBytes(path, f);
        EXPECT_EQ(ReadConfigFile(st), c.expect) << c.declared;
        if (c.expect == 0) {
            EXPECT_EQ(st.CbCount, static_cast<int32_t>(c.declared));
            EXPECT_EQ(st.Allocated(), static_cast<int32_t>(c.declared));
            EXPECT_TRUE(GetSettings(*st.Cb(static_cast<int32_t>(c.present) - 1)) == Varied(9));
            EXPECT_EQ(st.Cb(static_cast<int32_t>(c.declared)), nullptr);
        } else {
            EXPECT_EQ(st.CbCount, 1);
            EXPECT_EQ(st.Allocated(), 1);
            EXPECT_TRUE(AllRecords(st) == before);
        }
    }
}

TEST(ConfigFile, FewerCbsKeepsSurplusRecordsAllocated)
{
    ScratchDir dir;
    TGlobalState st;
    Load(st, {Varied(1), Varied(2), Varied(3)});
    st.CfgFilePath = (dir / "one.cfg").string();
    WriteBytes(dir / "one.cfg", SerializeConfig({Varied(4)}));
    ASSERT_EQ(ReadConfigFile(st), 0);
    EXPECT_EQ(st.CbCount, 1);
    EXPECT_EQ(st.Allocated(), 3);  // records never move or vanish while the program runs
    EXPECT_TRUE(GetSettings(*st.Cb(0)) == Varied(4));
    EXPECT_EQ(st.Cb(1), nullptr);
}

TEST(ConfigFile, BytesAfterLastRecordAreIgnored)
{
    std::string f = SerializeConfig({Varied(2)}) + "trailing junk";
    std::vector<TCbSettings> cbs;
    ConfigError err;
    std::vector<ConfigNote> notes;
    ASSERT_EQ(ParseConfig(reinterpret_cast<const uint8_t*>(f.data()), f.size(), cbs, err, &notes), 0);
    EXPECT_TRUE(cbs.at(0) == Varied(2));
    ASSERT_FALSE(notes.empty());
    EXPECT_EQ(notes.back().field, "(end)");
}

TEST(ConfigFile, NotesReportUnusualValues)
{
    std::string f = SerializeConfig({DefaultCbSettings()});
    f[4 + 43] = 2;          // MtzWait
    f[85] = 2;              // UIR 0 Present
    f[85 + 1] = 44;         // UIR 0 Number
    f[85 + 52] = 4;         // UIR 0 InputFunction3
    std::vector<TCbSettings> cbs;
    ConfigError err;
    std::vector<ConfigNote> notes;
    ASSERT_EQ(ParseConfig(reinterpret_cast<const uint8_t*>(f.data()), f.size(), cbs, err, &notes), 0);
    std::vector<std::pair<std::string, std::size_t>> got;
    for (const auto& n : notes)
        got.emplace_back(n.field, n.offset);
    const std::vector<std::pair<std::string, std::size_t>> want = {
        {"Cb[0].MtzWait", 47},
        {"Cb[0].Uir[0].Present", 85},
        {"Cb[0].Uir[0].Number", 86},
        {"Cb[0].Uir[0].InputFunction3", 137},
    };
    EXPECT_EQ(got, want);
}

TEST(ConfigFile, WriteFailureKeepsOldFile)
{
    ScratchDir dir;
    TGlobalState st;
    st.CfgFilePath = (dir / "keep.cfg").string();
    Load(st, {Varied(3)});
    ASSERT_EQ(WriteConfigFile(st), 0);
    const std::string old = ReadBytes(dir / "keep.cfg");

    // A model that does not fit its table is not written at all.
    st.CbCount = st.Allocated() + 1;
    EXPECT_EQ(WriteConfigFile(st), -2);
    st.CbCount = 1;
    EXPECT_EQ(ReadBytes(dir / "keep.cfg"), old);

    // A folder that does not exist: nothing can be created.
    st.CfgFilePath = (dir / "no-such-folder" / "x.cfg").string();
    EXPECT_EQ(WriteConfigFile(st), -1);

    // A folder in the file's place cannot be replaced.
    std::filesystem::create_directory(dir / "isdir.cfg");
    st.CfgFilePath = (dir / "isdir.cfg").string();
    EXPECT_NE(WriteConfigFile(st), 0);
    EXPECT_TRUE(std::filesystem::is_directory(dir / "isdir.cfg"));
    // No temporary file is left behind.
    EXPECT_EQ(dir.Entries(), (std::set<std::string>{"isdir.cfg", "keep.cfg"}));
}

TEST(ConfigFile, OverwriteReplacesWholeFile)
{
    ScratchDir dir;
    TGlobalState st;
    st.CfgFilePath = (dir / "o.cfg").string();
    WriteBytes(dir / "o.cfg", std::string(10000, 'x'));  // longer than the new content
    ASSERT_EQ(WriteConfigFile(st), 0);
    EXPECT_EQ(ReadBytes(dir / "o.cfg"), SerializeConfig({TCbSettings::Defaults()}));
    EXPECT_EQ(dir.Entries(), std::set<std::string>{"o.cfg"});
}

// The acquisition thread takes a CB's link settings under RecordLock; it
// must only ever see the settings of one whole file, never a mix.
TEST(ConfigFile, CommitIsAtomicForLockHolders)
{
    ScratchDir dir;
    TCbSettings a = DefaultCbSettings();
    a.Baud = 9600;
    a.Address = 1;
    a.PortNumber = 1;
    TCbSettings b = a;
    b.Baud = 115200;
    b.Address = 2;
    b.PortNumber = 2;
    WriteBytes(dir / "a.cfg", SerializeConfig({a, a}));
    WriteBytes(dir / "b.cfg", SerializeConfig({b, b}));
    TGlobalState st;
    std::atomic<bool> stop{false};
    std::atomic<int> mixed{0}, seen{0};
    std::thread reader([&] {
        while (!stop) {
            std::lock_guard lock(st.RecordLock);
            const int32_t n = st.CbCount;
            uint32_t baud0 = 0;
            for (int32_t c = 0; c < n; ++c) {
                const TCbData* cb = st.Cb(c);
                if (!cb)
                    continue;
                const uint32_t baud = cb->Baud;
                const uint8_t addr = cb->Address, port = cb->PortNumber;
                const bool ok = (baud == 9600 && addr == 1 && port == 1) || (baud == 115200 && addr == 2 && port == 2);
                if (!ok || (c > 0 && baud != baud0))
                    ++mixed;
                baud0 = baud;
                ++seen;
            }
        }
    });
    // The reader looks before the first commit and again after the last, so
    // it has looked whatever the scheduler does; how often it lands in
    // between is up to the scheduler and is not judged.
    while (seen.load() == 0)
        std::this_thread::yield();
    for (int i = 0; i < 200; ++i) {
        st.CfgFilePath = (dir / (i % 2 ? "b.cfg" : "a.cfg")).string();
        ASSERT_EQ(ReadConfigFile(st), 0);
    }
    const int before = seen.load();
    while (seen.load() == before)
        std::this_thread::yield();
    stop = true;
    reader.join();
    EXPECT_EQ(mixed, 0);
}

// The model holds the path as UTF-8 and the OS gets it whole: the file lands
// in the folder named, outside Windows-1251 too, and nowhere else.
TEST(ConfigFile, PathOutsideWindows1251NamesItsOwnFile)
{
    // Every entry of a folder, by its UTF-8 name.
    const auto names = [](const std::filesystem::path& p) {
        std::set<std::string> out;
        for (const auto& e : std::filesystem::directory_iterator(p))
            out.insert(U8Str(e.path().filename()));
        return out;
    };
    for (const std::string folder : {"Δοκιμή", "Проверка", "試験"}) {
        ScratchDir dir;
        std::filesystem::create_directory(dir / folder);
        TGlobalState st;
        st.CfgFilePath = U8Str(dir / folder / U8Path("Щит.cfg"));
        ASSERT_EQ(WriteConfigFile(st), 0) << folder;
        EXPECT_EQ(names(dir.Path()), std::set<std::string>{folder});
        EXPECT_EQ(names(dir / folder), std::set<std::string>{"Щит.cfg"});
        EXPECT_EQ(ReadConfigFile(st), 0) << folder;
    }
#ifdef _WIN32
    // Text that is not UTF-8 names no file here, rather than a look-alike.
    ScratchDir dir;
    TGlobalState st;
    st.CfgFilePath = U8Str(dir.Path()) + "\\" + W1251("Щит.cfg");
    EXPECT_EQ(WriteConfigFile(st), -1);
    EXPECT_EQ(names(dir.Path()), std::set<std::string>{});
#endif
}

TEST(ConfigFile, ChosenPathKeptWholeOrRefused)
{
#ifdef _WIN32
    const bool backslashKept = true;
#else
    const bool backslashKept = false;  // a separator here: it would lead elsewhere
#endif
    const std::pair<std::string, bool> table[] = {
        {"/srv/Δοκιμή/Проверка 試験 😀.cfg", true},
        {"C:\\Δοκιμή\\1.cfg", backslashKept},
        {"", false},
        {"/srv/a\xEF\xBF\xBD.cfg", false},  // U+FFFD: a name the dialog could not decode
        {W1251("/srv/Проверка.cfg"), false},
        {"/srv/a\xED\xA0\x80.cfg", false},  // a surrogate
        {"/srv/\xC0\xAF.cfg", false},       // an overlong "/"
    };
    for (const auto& [path, kept] : table)
        EXPECT_EQ(PathKeptWhole(path), kept) << U8(path);
}
