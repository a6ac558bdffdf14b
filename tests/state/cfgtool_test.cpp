// kestrel-cfg: listings, exit codes and messages.
#include <gtest/gtest.h>

#include <sstream>

#include "CfgTool.h"
#include "state/Cp1251.h"
#include "state_test_util.h"

using namespace kestrel;
using namespace kestrel::testutil;

namespace {

struct Result {
    int rc;
    std::string out, err;
};

Result Tool(std::vector<std::string> args)
{
    std::ostringstream out, err;
    const int rc = cfgtool::Run(args, out, err);
    return {rc, out.str(), err.str()};
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        lines.push_back(l);
    return lines;
}

}  // namespace

TEST(CfgTool, UsageErrorsExitTwo)
{
    const std::vector<std::vector<std::string>> table = {
        {}, {"show"}, {"show", "a", "b"}, {"frobnicate", "x.cfg"}, {"new"}, {"--force", "x.cfg"},
    };
    for (const auto& args : table) {
        const Result r = Tool(args);
        EXPECT_EQ(r.rc, 2) << args.size();
        EXPECT_NE(r.err.find("usage: kestrel-cfg"), std::string::npos);
        EXPECT_EQ(r.out, "");
    }
    const Result help = Tool({"--help"});
    EXPECT_EQ(help.rc, 0);
    EXPECT_NE(help.out.find("kestrel-cfg check FILE"), std::string::npos);
}

TEST(CfgTool, NewWritesDefaultFileThatShowsAndChecks)
{
    ScratchDir dir;
    const std::string file = (dir / "n.cfg").string();
    Result r = Tool({"new", file});
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(ReadBytes(file), SerializeConfig({DefaultCbSettings()}));
    EXPECT_EQ(ReadBytes(file).size(), 2364u);

    r = Tool({"show", file});
    ASSERT_EQ(r.rc, 0) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 1u + 29 + 43 * 14);
    EXPECT_EQ(lines[0], "CbCount = 1");
    EXPECT_EQ(lines[1], "Cb[0].Name = \"СБ №1\"");
    EXPECT_EQ(lines[4], "Cb[0].EmerName = \"Отказ блока\"");
    EXPECT_EQ(lines[6], "Cb[0].UrovTimeMs = 500");
    EXPECT_EQ(lines[7], "Cb[0].FuncTable[0][0] = 0x00");
    EXPECT_EQ(lines[23], "Cb[0].Enabled = 1");
    EXPECT_EQ(lines[24], "Cb[0].Baud = 9600");
    EXPECT_EQ(lines[29], "Cb[0].StopBits = 0");
    EXPECT_EQ(lines[30], "Cb[0].Uir[0].Present = 1");
    EXPECT_EQ(lines[32], "Cb[0].Uir[0].Name = \"УИР №1\"");
    EXPECT_EQ(lines.back(), "Cb[0].Uir[42].InputFunction3 = 0");
    EXPECT_NE(r.out.find("Cb[0].Uir[42].Number = 43\n"), std::string::npos);

    r = Tool({"check", file});
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.out, file + ": ok, 1 CB(s), 2364 bytes\n");
}

TEST(CfgTool, ShowListsEveryCbWithItsValues)
{
    ScratchDir dir;
    TCbSettings a = DefaultCbSettings(), b = DefaultCbSettings();
    b.Name = W1251("Ввод \"2\"\tА\\Б");
    b.FuncTable[2][3] = 0xA5;
    b.DataBits = -1;
    b.Uir[7].InputFunction2 = 3;
    const std::string file = (dir / "two.cfg").string();
    WriteBytes(file, SerializeConfig({a, b}));
    const Result r = Tool({"show", file});
    ASSERT_EQ(r.rc, 0);
    EXPECT_EQ(Lines(r.out).size(), 1u + 2 * (29 + 43 * 14));
    for (const char* want : {"CbCount = 2\n", "Cb[1].Name = \"Ввод \\\"2\\\"\\x09А\\\\Б\"\n",
                             "Cb[1].FuncTable[2][3] = 0xA5\n", "Cb[1].DataBits = -1\n",
                             "Cb[1].Uir[7].InputFunction2 = 3\n"})
        EXPECT_NE(r.out.find(want), std::string::npos) << want;
}

TEST(CfgTool, QuoteEscapesWhatWouldBreakALine)
{
    const std::pair<std::string, std::string> table[] = {
        {"", "\"\""},
        {"abc", "\"abc\""},
        {W1251("Дуга"), "\"Дуга\""},
        {std::string("a\nb", 3), "\"a\\x0Ab\""},
        {std::string("\0", 1), "\"\\x00\""},
        {"\x7F", "\"\\x7F\""},
        {"\x98", "\"\\x98\""},  // no character in Windows-1251
        {"q\"\\", "\"q\\\"\\\\\""},
        {"\xB9", "\"№\""},
    };
    for (const auto& [in, out] : table)
        EXPECT_EQ(cfgtool::Quote(in), out);
}

TEST(CfgTool, BadFilesNameFieldAndOffsetAndPrintNothing)
{
    ScratchDir dir;
    const std::string full = SerializeConfig({DefaultCbSettings()});
    std::string hugeName = full;
    hugeName[4] = '\xFF';
    hugeName[5] = '\xFF';
    std::string hugeCount = full;
    hugeCount[1] = 1;  // 257 CBs
    struct Case {
        std::string bytes;
        const char* expect;
    };
    const Case table[] = {
        {"", "CbCount at byte offset 0: the file is empty"},
        {full.substr(0, 2), "CbCount at byte offset 0"},
        {full.substr(0, 300), "Cb[0].Uir[4].Name at byte offset 299"},
        {full.substr(0, full.size() - 1), "Cb[0].Uir[42].InputFunction3 at byte offset 2363"},
        {hugeName, "Cb[0].Name at byte offset 4: text length 65535 exceeds"},
        {hugeCount, "CbCount at byte offset 0: CB count 257 exceeds the limit of 255"},
    };
    for (const Case& c : table) {
        const std::string file = (dir / "bad.cfg").string();
        WriteBytes(file, c.bytes);
        for (const char* cmd : {"show", "check"}) {
            const Result r = Tool({cmd, file});
            EXPECT_EQ(r.rc, 1) << cmd << " " << c.expect;
            EXPECT_EQ(r.out, "") << cmd << " " << c.expect;
            EXPECT_NE(r.err.find(c.expect), std::string::npos) << r.err;
        }
    }
    const Result missing = Tool({"show", (dir / "none.cfg").string()});
    EXPECT_EQ(missing.rc, 1);
    EXPECT_NE(missing.err.find("cannot open"), std::string::npos);
}

TEST(CfgTool, CheckWarnsAboutUnusualValues)
{
    ScratchDir dir;
    std::string f = SerializeConfig({DefaultCbSettings()}) + "xy";
    f[85 + 52] = 9;  // UIR 0 InputFunction3
    const std::string file = (dir / "w.cfg").string();
    WriteBytes(file, f);
    const Result r = Tool({"check", file});
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.out, file + ": warning: Cb[0].Uir[0].InputFunction3 at byte offset 137: function number 9 outside 0..3\n" +
                         file + ": warning: (end) at byte offset 2364: 2 bytes after the last record (not read)\n" +
                         file + ": ok, 1 CB(s), 2366 bytes\n");
}

TEST(CfgTool, NewCannotCreate)
{
    ScratchDir dir;
    const Result r = Tool({"new", (dir / "no" / "x.cfg").string()});
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(r.err.find("cannot create"), std::string::npos);
}

TEST(CfgTool, HelpAnywhereGoesToStandardOutput)
{
    ScratchDir dir;
    const std::string file = (dir / "h.cfg").string();
    const std::vector<std::vector<std::string>> table = {
        {"--help"}, {"-h"}, {"help"}, {"new", file, "-h"}, {"show", "--help"}, {"new", file, "--cbs", "0", "--help"},
    };
    for (const auto& args : table) {
        const Result r = Tool(args);
        EXPECT_EQ(r.rc, 0) << ::testing::PrintToString(args);
        EXPECT_EQ(r.out.rfind("usage: kestrel-cfg show FILE", 0), 0u) << r.out;
        EXPECT_NE(r.out.find("kestrel-cfg new FILE [--cbs N]"), std::string::npos);
        EXPECT_EQ(r.err, "");
    }
    EXPECT_TRUE(dir.Entries().empty());  // help does nothing else
}

TEST(CfgTool, NewWithCbsWritesThatManyBlocks)
{
    ScratchDir dir;
    for (int n : {1, 2, 255}) {
        SCOPED_TRACE(n);
        const std::string file = (dir / "n.cfg").string() + std::to_string(n);
        // The option may come before or after the file.
        const Result made = n == 2 ? Tool({"new", "--cbs", "2", file}) : Tool({"new", file, "--cbs", std::to_string(n)});
        ASSERT_EQ(made.rc, 0) << made.err;
        EXPECT_EQ(made.err, "");

        const std::string bytes = ReadBytes(file);
        std::vector<TCbSettings> cbs;
        ConfigError error;
        ASSERT_EQ(ParseConfig(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), cbs, error), 0)
            << error.Describe();
        ASSERT_EQ(cbs.size(), static_cast<std::size_t>(n));
        for (int c = 0; c < n; ++c) {
            TCbSettings want = DefaultCbSettings();
            want.Address = static_cast<uint8_t>(c + 1);
            want.Name = W1251("ЦБ " + std::to_string(c + 1));
            EXPECT_TRUE(cbs[static_cast<std::size_t>(c)] == want) << "CB " << c;
        }
        EXPECT_EQ(bytes.size(), SerializeConfig(cbs).size());

        const Result shown = Tool({"show", file});
        ASSERT_EQ(shown.rc, 0) << shown.err;
        const auto lines = Lines(shown.out);
        EXPECT_EQ(lines.size(), 1u + static_cast<std::size_t>(n) * (29 + 43 * 14));
        EXPECT_EQ(lines.at(0), "CbCount = " + std::to_string(n));
        const std::string last = "Cb[" + std::to_string(n - 1) + "].";
        EXPECT_NE(shown.out.find(last + "Name = \"ЦБ " + std::to_string(n) + "\"\n"), std::string::npos);
        EXPECT_NE(shown.out.find(last + "Address = " + std::to_string(n) + "\n"), std::string::npos);
        EXPECT_NE(shown.out.find(last + "Uir[42].Number = 43\n"), std::string::npos);
    }
}

TEST(CfgTool, BadCbsIsAUsageError)
{
    ScratchDir dir;
    const std::string file = (dir / "b.cfg").string();
    const std::vector<std::vector<std::string>> table = {
        {"new", file, "--cbs", "0"},     {"new", file, "--cbs", "256"},  {"new", file, "--cbs", "x"},
        {"new", file, "--cbs", ""},      {"new", file, "--cbs", "-1"},   {"new", file, "--cbs", "2x"},
        {"new", file, "--cbs", "1.5"},   {"new", file, "--cbs", "+3"},   {"new", file, "--cbs", "1000"},
        {"new", file, "--cbs"},          {"new", "--cbs", "2", "--cbs", "3", file},
        {"show", file, "--cbs", "2"},    {"new", "--cbs", "2"},
    };
    for (const auto& args : table) {
        const Result r = Tool(args);
        EXPECT_EQ(r.rc, 2) << ::testing::PrintToString(args);
        EXPECT_NE(r.err.find("usage: kestrel-cfg"), std::string::npos);
        EXPECT_EQ(r.out, "");
    }
    EXPECT_TRUE(dir.Entries().empty());  // nothing was written
}

// `new` over an existing file keeps its bytes first, under a name no later
// copy reuses.
TEST(CfgTool, NewKeepsTheFileItReplaces)
{
    ScratchDir dir;
    const std::string file = (dir / "k.cfg").string();
    WriteBytes(file, "not a configuration");
    Result r = Tool({"new", file});
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(ReadBytes(dir / "k.cfg.damaged-1"), "not a configuration");
    EXPECT_NE(r.err.find("k.cfg.damaged-1"), std::string::npos) << r.err;

    r = Tool({"new", file, "--cbs", "3"});  // replaces the readable default file
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(ReadBytes(dir / "k.cfg.old-1"), SerializeConfig({DefaultCbSettings()}));
    r = Tool({"new", file});
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(ReadBytes(dir / "k.cfg.old-2"), SerializeConfig(cfgtool::NewConfiguration(3)));
    EXPECT_EQ(ReadBytes(dir / "k.cfg.damaged-1"), "not a configuration");
    EXPECT_EQ(dir.Entries(), (std::set<std::string>{"k.cfg", "k.cfg.damaged-1", "k.cfg.old-1", "k.cfg.old-2"}));
}

// A file named in any script is created, shown and checked under that name.
TEST(CfgTool, FileNamesOutsideWindows1251)
{
    for (const std::string folder : {"Δοκιμή", "Проверка"}) {
        ScratchDir dir;
        std::filesystem::create_directory(dir / folder);
        const std::string file = U8Str(dir / folder / U8Path("Щит.cfg"));
        ASSERT_EQ(Tool({"new", file}).rc, 0) << folder;
        EXPECT_EQ(ReadBytes(U8Path(file)), SerializeConfig({DefaultCbSettings()}));
        EXPECT_EQ(Tool({"show", file}).rc, 0);
        EXPECT_EQ(Tool({"check", file}).rc, 0);
    }
}

#if defined(_WIN32) && defined(KESTREL_CFG_EXE_FROM_TESTS)
#include <windows.h>

// The program takes its arguments from the wide command line: a name the
// ANSI code page lacks still names its file.
TEST(CfgTool, ProgramTakesWideArguments)
{
    wchar_t self[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    const auto exe = std::filesystem::path(self).parent_path() / std::filesystem::path(KESTREL_CFG_EXE_FROM_TESTS);
    ScratchDir dir;
    std::filesystem::create_directory(dir / "Δοκιμή");
    const std::filesystem::path file = dir / "Δοκιμή" / U8Path("Проверка.cfg");
    std::wstring cmd = L"\"" + exe.wstring() + L"\" new \"" + file.wstring() + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si,
                               &pi)) << U8Str(exe);
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(ReadBytes(file), SerializeConfig({DefaultCbSettings()}));
}
#endif
