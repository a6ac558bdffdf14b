// Files on POSIX systems. Paths come from the model as their own bytes
// (UTF-8 in practice) and go to the OS unchanged, but for a backslash, which
// is a separator as on Windows, so the default ".\1.cfg" names "./1.cfg".
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>
#include <system_error>

#include "state/FileIo.h"

namespace kestrel {

namespace {

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { Close(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int Get() const { return fd_; }
    bool Close()
    {
        if (fd_ < 0)
            return true;
        const int rc = ::close(fd_);
        fd_ = -1;
        return rc == 0;
    }

private:
    int fd_;
};

std::string FolderOf(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string ErrnoText(int err)
{
    return std::generic_category().message(err);
}

bool WriteAll(int fd, const char* data, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void SyncFolderOf(const std::string& path)
{
    Fd dir(::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Get() >= 0)
        (void)::fsync(dir.Get());
}

// Enough for years of damaged files; past it something else is wrong.
constexpr unsigned kMaxCopies = 9999;

}  // namespace

std::filesystem::path NativePath(const std::string& pathUtf8)
{
    std::string p = pathUtf8;
    for (char& ch : p)
        if (ch == '\\')
            ch = '/';
    return std::filesystem::path(p);
}

ReadFileResult ReadWholeFile(const std::filesystem::path& native, std::string& bytes, std::uintmax_t maxBytes)
{
    bytes.clear();
    const std::string path = native.string();
    // Look before opening: opening a device can have effects of its own (a
    // terminal becomes ours, a tape rewinds), and opening a FIFO for reading
    // waits for a writer.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
        return ReadFileResult::CannotOpen;
    if (!S_ISREG(st.st_mode))
        return ReadFileResult::NotRegular;
    // Should the name be swapped for a FIFO or a device between the look and
    // the open, O_NONBLOCK keeps the open from waiting and fstat tells.
    Fd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.Get() < 0)
        return ReadFileResult::CannotOpen;
    if (::fstat(fd.Get(), &st) != 0 || S_ISDIR(st.st_mode))
        return ReadFileResult::CannotOpen;
    if (!S_ISREG(st.st_mode))
        return ReadFileResult::NotRegular;
    if (static_cast<std::uintmax_t>(st.st_size) > maxBytes)
        return ReadFileResult::TooLarge;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), buf, sizeof buf);
        if (n == 0)
            return ReadFileResult::Ok;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return ReadFileResult::ReadError;
        }
        bytes.append(buf, static_cast<std::size_t>(n));
        // The file grew after fstat.
        if (bytes.size() > maxBytes) {
            bytes.clear();
            return ReadFileResult::TooLarge;
        }
    }
}

ReplaceFileResult ReplaceFileAtomically(const std::filesystem::path& native, const std::string& bytes)
{
    static std::atomic<unsigned> serial{0};
    const std::string path = native.string();
    if (path.empty() || path.back() == '/')
        return ReplaceFileResult::CannotCreate;
    const std::string tmp = path + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(serial++);

    // Keep the permissions of the file being replaced.
    mode_t mode = 0666;
    struct stat old {};
    const bool hadOld = ::stat(path.c_str(), &old) == 0;
    if (hadOld)
        mode = old.st_mode & 07777;

    Fd fd(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
    if (fd.Get() < 0)
        return ReplaceFileResult::CannotCreate;
    if (hadOld)
        (void)::fchmod(fd.Get(), mode);

    bool ok = WriteAll(fd.Get(), bytes.data(), bytes.size());
    ok = ok && ::fsync(fd.Get()) == 0;
    ok = fd.Close() && ok;
    ok = ok && ::rename(tmp.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(tmp.c_str());
        return ReplaceFileResult::WriteFailed;
    }
    // Make the rename itself durable.
    SyncFolderOf(path);
    return ReplaceFileResult::Ok;
}

KeepCopyResult KeepCopyOf(const std::filesystem::path& native, const std::string& suffix,
                          std::filesystem::path& copy, std::string& reason)
{
    const std::string path = native.string();
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return KeepCopyResult::NoFile;
        reason = "cannot look at " + path + ": " + ErrnoText(errno);
        return KeepCopyResult::Failed;
    }
    if (!S_ISREG(st.st_mode))
        return KeepCopyResult::NoFile;
    Fd in(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (in.Get() < 0) {
        reason = "cannot open " + path + ": " + ErrnoText(errno);
        return KeepCopyResult::Failed;
    }
    if (::fstat(in.Get(), &st) != 0) {
        reason = "cannot look at " + path + ": " + ErrnoText(errno);
        return KeepCopyResult::Failed;
    }
    if (!S_ISREG(st.st_mode))
        return KeepCopyResult::NoFile;
    const mode_t mode = st.st_mode & 0777;

    for (unsigned n = 1; n <= kMaxCopies; ++n) {
        const std::string name = path + suffix + std::to_string(n);
        // O_EXCL: an existing name, even a dangling link, is never reused.
        const int made = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (made < 0 && errno == EEXIST)
            continue;
        if (made < 0) {
            reason = "cannot create " + name + ": " + ErrnoText(errno);
            return KeepCopyResult::Failed;
        }
        Fd out(made);
        (void)::fchmod(out.Get(), mode);  // past the umask: the copy is as private as the file
        bool ok = true;
        int err = 0;
        char buf[65536];
        for (;;) {
            const ssize_t got = ::read(in.Get(), buf, sizeof buf);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                err = errno;
                ok = false;
                break;
            }
            if (got == 0)
                break;
            if (!WriteAll(out.Get(), buf, static_cast<std::size_t>(got))) {
                err = errno;
                ok = false;
                break;
            }
        }
        if (ok && ::fsync(out.Get()) != 0) {
            err = errno;
            ok = false;
        }
        if (!out.Close() && ok) {
            err = errno;
            ok = false;
        }
        if (!ok) {
            ::unlink(name.c_str());
            reason = "cannot copy " + path + " to " + name + ": " + ErrnoText(err);
            return KeepCopyResult::Failed;
        }
        SyncFolderOf(name);
        copy = name;
        return KeepCopyResult::Kept;
    }
    reason = "every name from " + path + suffix + "1 to " + suffix + std::to_string(kMaxCopies) + " is taken";
    return KeepCopyResult::Failed;
}

}  // namespace kestrel
