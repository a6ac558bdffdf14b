// Configuration-file behaviour that needs POSIX to provoke: backslash paths,
// a write that fails half-way, file permissions, FIFOs and devices in the
// file's place, and copies kept before a file is replaced.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <future>

#include "state/Access.h"
#include "state/ConfigFile.h"
#include "state/Cp1251.h"
#include "state/FileIo.h"
#include "state_test_util.h"

using namespace kestrel;
using namespace kestrel::testutil;

namespace {

// Limits the size of any file this process writes while it lives; a write
// beyond it fails (EFBIG) instead of raising SIGXFSZ.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) : handler_(std::signal(SIGXFSZ, SIG_IGN))
    {
        ok_ = ::getrlimit(RLIMIT_FSIZE, &old_) == 0;
        rlimit small = old_;
        small.rlim_cur = bytes;
        ok_ = ok_ && ::setrlimit(RLIMIT_FSIZE, &small) == 0;
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, handler_);
    }
    bool Ok() const { return ok_; }

private:
    void (*handler_)(int);
    rlimit old_{};
    bool ok_ = false;
};

// ReadConfigFile on its own thread. Should it hang on the FIFO (the fault
// this guards against), the test's own writer is closed and another one
// opened and closed after a generous wait, which sets the reader free with
// an end of file; the test then fails instead of hanging.
int ReadReleasingFifo(TGlobalState& st, const std::filesystem::path& fifo, int& writer, bool& hung)
{
    auto result = std::async(std::launch::async, [&st] { return ReadConfigFile(st); });
    hung = result.wait_for(std::chrono::seconds(20)) != std::future_status::ready;
    if (hung) {
        if (writer >= 0)
            ::close(writer);
        writer = -1;
        const int w = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (w >= 0)
            ::close(w);
    }
    return result.get();
}

}  // namespace

// A FIFO, a device or a folder in the file's place is never read: the open
// does not wait for a writer, nothing is taken out of the pipe, and the
// model stays as it was.
TEST(ConfigFilePosix, OnlyPlainFilesAreRead)
{
    ScratchDir dir;
    const auto fifo = dir / "fifo.cfg";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string good = SerializeConfig({DefaultCbSettings(), DefaultCbSettings()});
    WriteBytes(dir / "good.cfg", good);
    std::filesystem::create_symlink(dir / "good.cfg", dir / "link.cfg");

    struct Case {
        const char* name;
        std::filesystem::path path;
        bool withWriter;  // a writer holds the FIFO open with a whole file in it
        int expect;
    };
    const Case table[] = {
        {"FIFO without a writer", fifo, false, -2},
        {"FIFO with a writer", fifo, true, -2},
        {"/dev/zero", "/dev/zero", false, -2},
        {"/dev/null", "/dev/null", false, -2},
        {"folder", dir.Path(), false, -1},
        {"link to a plain file", dir / "link.cfg", false, 0},
    };
    for (const Case& c : table) {
        SCOPED_TRACE(c.name);
        int writer = -1;
        if (c.withWriter) {
            // O_RDWR opens a FIFO at once on Linux; the pipe holds the bytes.
            writer = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
            ASSERT_GE(writer, 0);
            ASSERT_EQ(::write(writer, good.data(), 1000), 1000);
        }
        TGlobalState st;
        st.CfgFilePath = c.path.string();
        const TCbSettings before = GetSettings(*st.Cb(0));
        bool hung = false;
        EXPECT_EQ(ReadReleasingFifo(st, fifo, writer, hung), c.expect);
        EXPECT_FALSE(hung) << "the read waited on " << c.path;
        if (c.expect != 0) {
            EXPECT_EQ(st.CbCount, 1);
            EXPECT_TRUE(GetSettings(*st.Cb(0)) == before);
        } else {
            EXPECT_EQ(st.CbCount, 2);
        }
        if (writer >= 0) {
            char back[1000];
            EXPECT_EQ(::read(writer, back, sizeof back), 1000);  // nothing was taken out
            EXPECT_EQ(std::string(back, 1000), good.substr(0, 1000));
            ::close(writer);
        }
    }
    // The settings store shares the reader: a FIFO in a value's place reads
    // as an unreadable key, without waiting either.
    std::string bytes = "left";
    EXPECT_EQ(ReadWholeFile(fifo, bytes), ReadFileResult::NotRegular);
    EXPECT_EQ(bytes, "");
}

// A file larger than any configuration is refused before a byte is read
// (a sparse file of 4 GiB here), at exactly one byte past the limit.
TEST(ConfigFilePosix, OversizedFileIsRefusedUnread)
{
    ScratchDir dir;
    const auto path = dir / "big.cfg";
    WriteBytes(path, SerializeConfig({DefaultCbSettings()}));
    struct Case {
        std::uintmax_t size;
        int expect;
    };
    const Case table[] = {
        {kMaxConfigFileBytes, 0},  // one CB, then zeros that are never read
        {kMaxConfigFileBytes + 1, -2},
        {std::uintmax_t{1} << 32, -2},
    };
    for (const Case& c : table) {
        SCOPED_TRACE(c.size);
        std::filesystem::resize_file(path, c.size);
        TGlobalState st;
        st.CfgFilePath = path.string();
        st.Cb(0)->Name = "before";
        EXPECT_EQ(ReadConfigFile(st), c.expect);
        EXPECT_EQ(st.Cb(0)->Name, c.expect == 0 ? W1251("СБ №1") : std::string("before"));
    }
    std::string bytes;
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(ReadWholeFile(path, bytes, kMaxConfigFileBytes), ReadFileResult::TooLarge);
    EXPECT_TRUE(bytes.empty());
    // Refused from its size alone: reading 4 GiB of zeros would take far longer.
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
}

TEST(KeepCopy, NewNameEachTimeNothingOverwritten)
{
    ScratchDir dir;
    const auto file = dir / "k.cfg";
    std::filesystem::path copy;
    std::string reason;

    // Nothing of its own to keep.
    EXPECT_EQ(KeepCopyOf(file, ".damaged-", copy, reason), KeepCopyResult::NoFile);
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    EXPECT_EQ(KeepCopyOf(file, ".damaged-", copy, reason), KeepCopyResult::NoFile);  // and no wait
    std::filesystem::remove(file);
    std::filesystem::create_directory(file);
    EXPECT_EQ(KeepCopyOf(file, ".damaged-", copy, reason), KeepCopyResult::NoFile);
    std::filesystem::remove(file);
    EXPECT_EQ(dir.Entries(), std::set<std::string>{});

    // Names already taken, a dangling link among them, are passed over.
    WriteBytes(file, std::string("\x01\x00\xFF bytes", 9));
    ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
    WriteBytes(dir / "k.cfg.damaged-1", "first");
    std::filesystem::create_symlink(dir / "nowhere", dir / "k.cfg.damaged-2");
    ASSERT_EQ(KeepCopyOf(file, ".damaged-", copy, reason), KeepCopyResult::Kept) << reason;
    EXPECT_EQ(copy, dir / "k.cfg.damaged-3");
    EXPECT_EQ(ReadBytes(copy), std::string("\x01\x00\xFF bytes", 9));
    struct stat sb {};
    ASSERT_EQ(::stat(copy.c_str(), &sb), 0);
    EXPECT_EQ(sb.st_mode & 0777, 0640u);  // as private as the file
    EXPECT_EQ(ReadBytes(dir / "k.cfg.damaged-1"), "first");
    EXPECT_FALSE(std::filesystem::exists(dir / "nowhere"));
    ASSERT_EQ(KeepCopyOf(file, ".damaged-", copy, reason), KeepCopyResult::Kept) << reason;
    EXPECT_EQ(copy, dir / "k.cfg.damaged-4");
    EXPECT_EQ(ReadBytes(file), std::string("\x01\x00\xFF bytes", 9));
}

// The copy fails half-way (the disk is full, here the file-size limit): the
// half copy is removed, and the start-up writes no new file over the old.
TEST(KeepCopy, FailedCopyLeavesTheFileAlone)
{
    ScratchDir dir;
    const std::string damaged(3000, '\x07');
    WriteBytes(dir / "k.cfg", damaged);
    {
        FileSizeLimit limit(1000);
        ASSERT_TRUE(limit.Ok());
        std::filesystem::path copy;
        std::string reason;
        EXPECT_EQ(KeepCopyOf(dir / "k.cfg", ".damaged-", copy, reason), KeepCopyResult::Failed);
        EXPECT_NE(reason.find("k.cfg.damaged-1"), std::string::npos) << reason;
    }
    EXPECT_EQ(dir.Entries(), std::set<std::string>{"k.cfg"});

    // The same through the start-up: "1.cfg" cannot be read; Yes to a new file.
    WriteBytes(dir / "1.cfg", damaged);
    const auto old = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    TGlobalState st;
    st.RegKeyCfg = kRegKeyCfg;
    st.RegKeyPassword = kRegKeyPassword;
    MemoryStore store;
    store.keys = {kRegKeyCfg, kRegKeyPassword};
    store.values[kRegKeyCfg] = "1.cfg";
    ScriptedPrompt prompt;
    prompt.Yes();
    int rc = 0;
    std::string said;
    {
        StderrCapture err;
        FileSizeLimit limit(1000);
        rc = LoadSettings(st, store, prompt);
        said = err.Text();
    }
    std::filesystem::current_path(old);
    EXPECT_EQ(rc, -4);
    EXPECT_EQ(prompt.log.back(), "msg [warning] Ошибка чтения конфигурации | Ошибка создания нового файла конфигурации");
    EXPECT_EQ(ReadBytes(dir / "1.cfg"), damaged);
    EXPECT_EQ(dir.Entries(), (std::set<std::string>{"1.cfg", "k.cfg"}));
    EXPECT_NE(said.find("no new configuration is written over"), std::string::npos) << said;
}

TEST(ConfigFilePosix, BackslashesAreSeparators)
{
    ScratchDir dir;
    std::filesystem::create_directory(dir / "sub");
    TGlobalState st;
    st.CfgFilePath = dir.Path().string() + "\\sub\\Щит.cfg";
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
