// Speeds outside the termios table (14400, 28800, ...) through termios2 and
// BOTHER. Kept apart: <asm/termbits.h> cannot share a file with <termios.h>.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <cerrno>
#include <sys/ioctl.h>

namespace kestrel::detail {

int SetOtherSpeed(int fd, int baud)
{
    struct termios2 t {};
    if (::ioctl(fd, TCGETS2, &t) != 0)
        return errno;
    t.c_cflag &= ~static_cast<tcflag_t>(CBAUD);
    t.c_cflag |= BOTHER;
    t.c_ispeed = static_cast<speed_t>(baud);
    t.c_ospeed = static_cast<speed_t>(baud);
    if (::ioctl(fd, TCSETS2, &t) != 0)
        return errno;
    return 0;
}

int GetSpeed(int fd, unsigned& baud)
{
    struct termios2 t {};
    if (::ioctl(fd, TCGETS2, &t) != 0)
        return errno;
    baud = t.c_ospeed;
    return 0;
}

}  // namespace kestrel::detail
