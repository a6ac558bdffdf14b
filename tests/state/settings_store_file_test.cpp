// The file-backed settings store: the common contract, and the exact folder
// layout that scripts rely on.
#include <gtest/gtest.h>

#include <cstdlib>

#include "settings_store_contract.h"
#include "state/SettingsStoreFile.h"
#include "state_test_util.h"

using namespace kestrel;
using namespace kestrel::testutil;

namespace {

// One scratch root per test; removed at the end of the test program.
ScratchDir* g_root = nullptr;

class RootEnv : public ::testing::Environment {
public:
    void SetUp() override { g_root = new ScratchDir; }
    void TearDown() override
    {
        delete g_root;
        g_root = nullptr;
    }
};
const auto* const g_env = ::testing::AddGlobalTestEnvironment(new RootEnv);

// Sets an environment variable for one scope.
class EnvVar {
public:
    EnvVar(const char* name, const char* value) : name_(name)
    {
        if (const char* old = std::getenv(name))
            old_ = old, had_ = true;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~EnvVar()
    {
        if (had_)
            ::setenv(name_.c_str(), old_.c_str(), 1);
        else
            ::unsetenv(name_.c_str());
    }

private:
    std::string name_, old_;
    bool had_ = false;
};

}  // namespace

namespace kestrel::contract {
std::unique_ptr<ISettingsStore> MakeStoreUnderTest()
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return std::make_unique<TFileSettingsStore>(g_root->Path() / info->name());
}
std::string TestKeyBase()
{
    return "Software\\KestrelUtiliteTest";
}
}  // namespace kestrel::contract

KESTREL_SETTINGS_STORE_CONTRACT_TESTS(FileSettingsStore)

TEST(FileSettingsStoreLayout, ValueFileAndBytesExactly)
{
    ScratchDir root;
    TFileSettingsStore store(root.Path());
    const std::string key = "Software\\KestrelUtilite\\Cfg";
    ASSERT_EQ(store.WriteRegString(key, W1251(".\\Щит.cfg")), 0);
    const auto file = root / "Software/KestrelUtilite/Cfg/Software%5CKestrelUtilite%5CCfg";
    ASSERT_TRUE(std::filesystem::is_regular_file(file));
    EXPECT_EQ(ReadBytes(file), W1251(".\\Щит.cfg"));  // no newline, Windows-1251 bytes
    EXPECT_EQ(store.ValueFile(key, key), file);
    // Only the value file is in the key's folder (no temporary left).
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(root / "Software/KestrelUtilite/Cfg"))
        names.insert(e.path().filename().string());
    EXPECT_EQ(names, std::set<std::string>{"Software%5CKestrelUtilite%5CCfg"});
}

TEST(FileSettingsStoreLayout, ScriptWrittenValueIsRead)
{
    ScratchDir root;
    const auto folder = root / "Software/KestrelUtilite/Password";
    std::filesystem::create_directories(folder);
    WriteBytes(folder / "Software%5CKestrelUtilite%5CPassword", "abc\n");
    TFileSettingsStore store(root.Path());
    std::string out;
    ASSERT_EQ(store.ReadRegString("Software\\KestrelUtilite\\Password", out), 0);
    EXPECT_EQ(out, "abc\n");  // bytes exactly, a newline included
    // Key folder present, value file absent: empty text.
    std::filesystem::remove(folder / "Software%5CKestrelUtilite%5CPassword");
    out = "x";
    ASSERT_EQ(store.ReadRegString("Software\\KestrelUtilite\\Password", out), 0);
    EXPECT_EQ(out, "");
}

TEST(FileSettingsStoreLayout, ValueNameEncoding)
{
    const std::pair<std::string, std::string> table[] = {
        {"plain", "plain"},
        {"a\\b", "a%5Cb"},
        {"a/b", "a%2Fb"},
        {"100%", "100%25"},
        {"%5C", "%255C"},
        {"\\/%", "%5C%2F%25"},
        {W1251("Пароль"), "Пароль"},  // names are Windows-1251, files UTF-8
        {"", ""},
    };
    for (const auto& [name, file] : table)
        EXPECT_EQ(TFileSettingsStore::EncodeValueName(name), file) << file;
}

TEST(FileSettingsStoreLayout, KeysThatWouldLeaveTheRootAreRefused)
{
    ScratchDir root;
    TFileSettingsStore store(root.Path() / "reg");
    for (const std::string key : {"", "..", "a\\..\\..\\x", ".\\a", "a\\\\b", "\\a", "a\\"}) {
        EXPECT_EQ(store.WriteRegString(key, "v"), -1) << key;
        std::string out = "kept";
        EXPECT_EQ(store.ReadRegString(key, out), -1) << key;
        EXPECT_EQ(out, "kept");
    }
    EXPECT_EQ(root.Entries(), std::set<std::string>{});  // nothing created anywhere
    // A slash inside a key name stays inside one folder name.
    ASSERT_EQ(store.WriteRegString("a/b", "v"), 0);
    EXPECT_TRUE(std::filesystem::is_directory(root / "reg/a%2Fb"));
}

TEST(FileSettingsStoreLayout, WriteFailsWhenKeyCannotBeCreated)
{
    ScratchDir root;
    WriteBytes(root / "file", "not a folder");
    TFileSettingsStore store(root / "file");
    EXPECT_EQ(store.WriteRegString("Software\\K", "v"), -1);
    std::string out = "kept";
    EXPECT_EQ(store.ReadRegString("Software\\K", out), -1);
    EXPECT_EQ(out, "kept");
}

TEST(FileSettingsStoreLayout, DefaultRootFromEnvironment)
{
    {
        EnvVar xdg("XDG_CONFIG_HOME", "/tmp/xdg-test");
        EnvVar home("HOME", "/home/someone");
        EXPECT_EQ(TFileSettingsStore::DefaultRoot(), std::filesystem::path("/tmp/xdg-test/KestrelUtilite/registry"));
    }
    {
        EnvVar xdg("XDG_CONFIG_HOME", nullptr);
        EnvVar home("HOME", "/home/someone");
        EXPECT_EQ(TFileSettingsStore::DefaultRoot(),
                  std::filesystem::path("/home/someone/.config/KestrelUtilite/registry"));
    }
    {
        EnvVar xdg("XDG_CONFIG_HOME", "");  // set but empty counts as unset
        EnvVar home("HOME", "/h");
        EXPECT_EQ(TFileSettingsStore::DefaultRoot(), std::filesystem::path("/h/.config/KestrelUtilite/registry"));
    }
}

TEST(FileSettingsStoreLayout, UserStoreUsesDefaultRoot)
{
    ScratchDir dir;
    EnvVar xdg("XDG_CONFIG_HOME", dir.Path().c_str());
    auto store = MakeUserSettingsStore();
    ASSERT_EQ(store->WriteRegString("Software\\KestrelUtilite\\Cfg", "1.cfg"), 0);
    EXPECT_EQ(ReadBytes(dir / "KestrelUtilite/registry/Software/KestrelUtilite/Cfg/Software%5CKestrelUtilite%5CCfg"),
              "1.cfg");
}
