// Files on POSIX systems. Paths come as Windows-1251 text from the model and
// go to the OS as UTF-8; a backslash is a separator, as on Windows, so the
// default ".\1.cfg" names "./1.cfg".
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>

#include "state/Cp1251.h"
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

}  // namespace

std::filesystem::path NativePath(const std::string& path1251)
{
    std::string p = Cp1251ToUtf8(path1251);
    for (char& ch : p)
        if (ch == '\\')
            ch = '/';
    return std::filesystem::path(p);
}

ReadFileResult ReadWholeFile(const std::filesystem::path& native, std::string& bytes)
{
    bytes.clear();
    const std::string path = native.string();
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0)
        return ReadFileResult::CannotOpen;
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || S_ISDIR(st.st_mode))
        return ReadFileResult::CannotOpen;
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

    bool ok = true;
    std::size_t done = 0;
    while (ok && done < bytes.size()) {
        const ssize_t n = ::write(fd.Get(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            ok = false;
        else
            done += static_cast<std::size_t>(n);
    }
    ok = ok && ::fsync(fd.Get()) == 0;
    ok = fd.Close() && ok;
    ok = ok && ::rename(tmp.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(tmp.c_str());
        return ReplaceFileResult::WriteFailed;
    }
    // Make the rename itself durable.
    Fd dir(::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Get() >= 0)
        (void)::fsync(dir.Get());
    return ReplaceFileResult::Ok;
}

}  // namespace kestrel
