// Configuration-file behaviour that needs POSIX to provoke: backslash paths,
// a write that fails half-way, and file permissions.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

#include "state/ConfigFile.h"
#include "state/Cp1251.h"
#include "state_test_util.h"

using namespace kestrel;
using namespace kestrel::testutil;

TEST(ConfigFilePosix, BackslashesAreSeparators)
{
    ScratchDir dir;
    std::filesystem::create_directory(dir / "sub");
    TGlobalState st;
    st.CfgFilePath = W1251(dir.Path().string() + "\\sub\\Щит.cfg");
    ASSERT_EQ(WriteConfigFile(st), 0);
    EXPECT_TRUE(std::filesystem::is_regular_file(dir / "sub" / "Щит.cfg"));
    EXPECT_EQ(ReadConfigFile(st), 0);

    // The default name ".\1.cfg" is 1.cfg in the working folder.
    const auto old = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    st.CfgFilePath = ".\\1.cfg";
    const int rc = WriteConfigFile(st);
    std::filesystem::current_path(old);
    ASSERT_EQ(rc, 0);
    EXPECT_EQ(ReadBytes(dir / "1.cfg"), SerializeConfig({TCbSettings::Defaults()}));
}

// The disk fills up (here: the file-size limit) in the middle of a write:
// the old file must survive whole and no temporary file may be left.
TEST(ConfigFilePosix, WriteFailingHalfWayKeepsOldFile)
{
    ScratchDir dir;
    TGlobalState st;
    st.CfgFilePath = (dir / "k.cfg").string();
    WriteBytes(dir / "k.cfg", "previous");
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 1000;  // less than the 2364 bytes of the file
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const int rc = WriteConfigFile(st);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(rc, -2);
    EXPECT_EQ(ReadBytes(dir / "k.cfg"), "previous");
    EXPECT_EQ(dir.Entries(), std::set<std::string>{"k.cfg"});
}

TEST(ConfigFilePosix, ReplaceKeepsPermissions)
{
    ScratchDir dir;
    TGlobalState st;
    st.CfgFilePath = (dir / "p.cfg").string();
    WriteBytes(dir / "p.cfg", "old");
    ASSERT_EQ(::chmod((dir / "p.cfg").c_str(), 0640), 0);
    ASSERT_EQ(WriteConfigFile(st), 0);
    struct stat sb {};
    ASSERT_EQ(::stat((dir / "p.cfg").c_str(), &sb), 0);
    EXPECT_EQ(sb.st_mode & 0777, 0640u);
}
