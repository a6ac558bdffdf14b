#include "app/SingleInstance.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrel {

namespace {
// A private folder for the lock: ours, a real folder, not a link.
bool PrivateFolder(const std::string& dir)
{
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat st{};
    if (::lstat(dir.c_str(), &st) != 0)
        return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::getuid();
}
}  // namespace

TSingleInstance::~TSingleInstance()
{
    if (handle_ >= 0)
        ::close(static_cast<int>(handle_));
}

TSingleInstance::Result TSingleInstance::Acquire(const std::string& name, const std::string& folder)
{
    std::string dir = folder;
    if (dir.empty()) {
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        dir = (runtime && *runtime) ? runtime : "/tmp/kestrel-" + std::to_string(::getuid());
    }
    if (!PrivateFolder(dir))
        return Result::Unavailable;
    const std::string path = dir + "/" + name + ".lock";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return Result::Unavailable;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd);
        return err == EWOULDBLOCK ? Result::AlreadyRunning : Result::Unavailable;
    }
    if (handle_ >= 0)
        ::close(static_cast<int>(handle_));
    handle_ = fd;
    return Result::Acquired;
}

}  // namespace kestrel
