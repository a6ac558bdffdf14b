#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <stdexcept>

#include "journal/JournalExport.h"

using namespace kestrel;
namespace fs = std::filesystem;

namespace {

// Files in memory, with a failure planted at one step.
class FakeFiles final : public IExportFiles {
public:
    int failCreate = 0, failWriteNo = 0, failClose = 0, failReplace = 0, throwOnWrite = 0;
    std::map<std::string, std::string> disk;
    std::string open;
    int writes = 0;

    bool Create(const std::string& path) override
    {
        if (failCreate)
            return false;
        open = path;
        disk[path].clear();
        return true;
    }
    bool Write(const char* data, size_t size) override
    {
        ++writes;
        if (throwOnWrite && writes == throwOnWrite)
            throw std::runtime_error("disk gone");
        if (writes == failWriteNo) {
            disk[open].append(data, size / 2);  // part of the line reached the disk
            return false;
        }
        disk[open].append(data, size);
        return true;
    }
    bool Close() override
    {
        open.clear();
        return !failClose;
    }
    bool Replace(const std::string& from, const std::string& to) override
    {
        if (failReplace || !disk.count(from))
            return false;
        disk[to] = disk[from];
        disk.erase(from);
        return true;
    }
    void Remove(const std::string& path) override { disk.erase(path); }
};

std::vector<TJournalRow> Rows(int n)
{
    std::vector<TJournalRow> rows;
    for (int k = 1; k <= n; ++k)
        rows.push_back({std::to_string(k), "D1", "Включение питания", "1.1.2020  0:0:0." + std::to_string(k)});
    return rows;
}

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string PathText(const fs::path& p)
{
    const auto u8 = p.u8string();
    return {u8.begin(), u8.end()};
}

class TempDir {
public:
    TempDir()
    {
        std::random_device rd;
        path_ = fs::temp_directory_path() / ("kestrel_journal_" + std::to_string(rd()));
        fs::create_directories(path_);
    }
    ~TempDir()
    {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

}  // namespace

TEST(JournalSave, FailureAtEachStepKeepsTheOldFile)
{
    const std::string target = "out.txt";
    const std::string good = "old good content\r\n";
    struct Case { const char* name; int create, writeNo, close, replace, throwNo; int result; };
    const Case cases[] = {
        {"create", 1, 0, 0, 0, 0, kExportCannotCreate},
        {"first write", 0, 1, 0, 0, 0, kExportWriteFailed},
        {"third write", 0, 3, 0, 0, 0, kExportWriteFailed},
        {"last write", 0, 5, 0, 0, 0, kExportWriteFailed},
        {"flush on close", 0, 0, 1, 0, 0, kExportWriteFailed},
        {"rename", 0, 0, 0, 1, 0, kExportReplaceFailed},
        {"exception", 0, 0, 0, 0, 2, kExportException},
    };
    for (const auto& c : cases) {
        FakeFiles files;
        files.disk[target] = good;
        files.failCreate = c.create;
        files.failWriteNo = c.writeNo;
        files.failClose = c.close;
        files.failReplace = c.replace;
        files.throwOnWrite = c.throwNo;
        EXPECT_EQ(SaveJournalFile(target, Rows(5), files), c.result) << c.name;
        EXPECT_EQ(files.disk.size(), 1u) << c.name << ": temporary file left behind";
        EXPECT_EQ(files.disk[target], good) << c.name;
    }
}

TEST(JournalSave, SuccessReplacesThroughTemporaryFile)
{
    FakeFiles files;
    files.disk["out.txt"] = "old";
    ASSERT_EQ(SaveJournalFile("out.txt", Rows(3), files), kExportOk);
    EXPECT_EQ(files.writes, 3);  // one write per line
    EXPECT_EQ(files.disk.size(), 1u);
    EXPECT_EQ(files.disk["out.txt"], JournalExportBytes(Rows(3)));
    EXPECT_NE(JournalTempPath("out.txt"), "out.txt");
}

TEST(JournalSave, DiskReplaceAndEmpty)
{
    TempDir dir;
    const fs::path target = dir.path() / "journal.txt";
    {
        std::ofstream(target, std::ios::binary) << "previous export, longer than the new one\r\n";
    }
    ASSERT_EQ(SaveJournalFile(PathText(target), Rows(2)), kExportOk);
    EXPECT_EQ(ReadFile(target), JournalExportBytes(Rows(2)));
    // An empty table gives an empty file.
    ASSERT_EQ(SaveJournalFile(PathText(target), {}), kExportOk);
    EXPECT_TRUE(fs::exists(target));
    EXPECT_EQ(fs::file_size(target), 0u);
    EXPECT_FALSE(fs::exists(JournalTempPath(PathText(target))));
}

// The chosen name reaches the disk whole, in folders outside Windows-1251 too.
TEST(JournalSave, DiskNamesOutsideWindows1251)
{
    for (const std::string folder : {"Проверка", "Δοκιμή", "試験"}) {
        TempDir dir;
        const fs::path sub = dir.path() / fs::path(std::u8string(folder.begin(), folder.end()));
        fs::create_directories(sub);
        const std::string target = PathText(sub) + "/Журнал ЦБ №1.txt";
        ASSERT_EQ(SaveJournalFile(target, Rows(1)), kExportOk) << folder;
        EXPECT_EQ(ReadFile(fs::path(std::u8string(target.begin(), target.end()))), JournalExportBytes(Rows(1)));
    }
}

// No name (what the window gives for one it cannot hand over): nothing is
// created, not even the temporary file.
TEST(JournalSave, EmptyNameCreatesNothing)
{
    TempDir dir;
    const fs::path old = fs::current_path();
    fs::current_path(dir.path());
    const int rc = SaveJournalFile("", Rows(1));
    const bool empty = fs::is_empty(dir.path());
    fs::current_path(old);
    EXPECT_EQ(rc, kExportCannotCreate);
    EXPECT_TRUE(empty);
}

TEST(JournalSave, DiskCannotCreate)
{
    TempDir dir;
    const fs::path target = dir.path() / "no such folder" / "journal.txt";
    EXPECT_EQ(SaveJournalFile(PathText(target), Rows(2)), kExportCannotCreate);
    EXPECT_FALSE(fs::exists(target));
    EXPECT_FALSE(fs::exists(dir.path() / "no such folder"));
}

TEST(JournalSave, DiskTargetIsAFolder)
{
    TempDir dir;
    const fs::path target = dir.path() / "taken";
    fs::create_directories(target / "inside");
    EXPECT_LT(SaveJournalFile(PathText(target), Rows(2)), 0);
    EXPECT_TRUE(fs::is_directory(target / "inside"));
    EXPECT_FALSE(fs::exists(JournalTempPath(PathText(target))));
}
