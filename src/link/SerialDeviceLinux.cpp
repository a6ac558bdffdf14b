// termios device: raw 8-bit I/O, no flow control, reads that return at once,
// and an exclusive open (TIOCEXCL for other openers, flock for everybody).
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include "link/SerialDeviceOs.h"

namespace kestrel {

namespace detail {
int SetOtherSpeed(int fd, int baud);
}

namespace {

speed_t SpeedCode(int32_t baud, bool& ok)
{
    ok = true;
    switch (baud) {
    case 110: return B110;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    default: ok = false; return B0;
    }
}

// Unix98 pseudo-terminal slaves (majors 136..143): the simulated block and
// the tests stand behind one.
bool IsPseudoTerminal(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    const unsigned m = major(st.st_rdev);
    return m >= 136 && m <= 143;
}

class SerialDeviceLinux final : public ISerialDevice {
public:
    explicit SerialDeviceLinux(PortPathResolver resolver) : resolver_(std::move(resolver)) {}
    ~SerialDeviceLinux() override { Close(); }

    uint32_t Open(int32_t portNumber) override
    {
        if (fd_ >= 0)
            Close();
        std::string path;
        if (resolver_)
            path = resolver_(portNumber);
        if (path.empty())
            path = DefaultPortPath(portNumber);
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return static_cast<uint32_t>(errno);
        // Not shared with other processes (nor with another open in this one).
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            return EBUSY;
        }
        termios t{};
        if (::tcgetattr(fd, &t) != 0) {
            const int e = errno;
            ::close(fd);
            return static_cast<uint32_t>(e);
        }
        ::ioctl(fd, TIOCEXCL);
        fd_ = fd;
        return 0;
    }

    void Close() override
    {
        if (fd_ < 0)
            return;
        ::ioctl(fd_, TIOCNXCL);
        ::close(fd_);  // releases the flock as well
        fd_ = -1;
    }

    bool IsOpen() const override { return fd_ >= 0; }

    uint32_t ApplyLineSettings(const LineSettings& s) override
    {
        if (fd_ < 0)
            return EBADF;
        termios t{};
        if (::tcgetattr(fd_, &t) != 0)
            return static_cast<uint32_t>(errno);
        ::cfmakeraw(&t);
        if (s.Baud <= 0)
            return EINVAL;
        bool ok = false;
        // A speed outside the table is set afterwards, by number.
        const speed_t sp = SpeedCode(s.Baud, ok);
        const bool other = !ok;
        ::cfsetispeed(&t, other ? B38400 : sp);
        ::cfsetospeed(&t, other ? B38400 : sp);
        t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | HUPCL);
        t.c_cflag |= CLOCAL | CREAD;
        switch (s.DataBits) {
        case 5: t.c_cflag |= CS5; break;
        case 6: t.c_cflag |= CS6; break;
        case 7: t.c_cflag |= CS7; break;
        case 8: t.c_cflag |= CS8; break;
        default: return EINVAL;
        }
        switch (s.Parity) {
        case 0: break;
        case 1: t.c_cflag |= PARENB | PARODD; break;
        case 2: t.c_cflag |= PARENB; break;
        case 3: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
        case 4: t.c_cflag |= PARENB | CMSPAR; break;
        default: return EINVAL;
        }
        switch (s.StopBits) {
        case 0: break;
        // A UART gives one and a half stop bits for 5-bit characters only.
        case 1:
            if (s.DataBits != 5)
                return EINVAL;
            t.c_cflag |= CSTOPB;
            break;
        case 2: t.c_cflag |= CSTOPB; break;
        default: return EINVAL;
        }
        // No parity checking, no software flow control.
        t.c_iflag &= ~static_cast<tcflag_t>(INPCK | PARMRK | ISTRIP | IXON | IXOFF | IXANY);
        t.c_iflag |= IGNBRK;
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 0;
        if (IsPseudoTerminal(fd_)) {
            // A pseudo-terminal moves whole bytes: it always reports CS8 and no
            // parity, and the C library calls any other request invalid.
            t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB);
            t.c_cflag |= CS8;
        }
        if (::tcsetattr(fd_, TCSANOW, &t) != 0)
            return static_cast<uint32_t>(errno);
        if (other) {
            if (int e = detail::SetOtherSpeed(fd_, s.Baud))
                return static_cast<uint32_t>(e);
        }
        // DTR and RTS off, as the line has no hardware handshake (a pseudo-terminal refuses; no matter).
        int lines = TIOCM_DTR | TIOCM_RTS;
        ::ioctl(fd_, TIOCMBIC, &lines);
        return 0;
    }

    void ApplyTimeouts(const PortTimeouts& t) override
    {
        // O_NONBLOCK with VMIN = VTIME = 0 is the only behaviour the program
        // asks for: every read returns at once with what is buffered.
        timeouts_ = t;
    }

    bool Read(uint8_t* buf, size_t n, size_t& got, uint32_t& err) override
    {
        got = 0;
        err = 0;
        if (fd_ < 0) {
            err = EBADF;
            return false;
        }
        if (n == 0)
            return true;
        for (;;) {
            const ssize_t r = ::read(fd_, buf, n);
            if (r >= 0) {
                got = static_cast<size_t>(r);
                return true;
            }
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return true;
            err = static_cast<uint32_t>(errno);
            return false;
        }
    }

    bool Write(const uint8_t* buf, size_t n, uint32_t& err) override
    {
        err = 0;
        if (fd_ < 0) {
            err = EBADF;
            return false;
        }
        // No write time-out: hand every byte to the driver.
        size_t done = 0;
        while (done < n) {
            const ssize_t r = ::write(fd_, buf + done, n - done);
            if (r > 0) {
                done += static_cast<size_t>(r);
                continue;
            }
            if (r < 0 && errno == EINTR)
                continue;
            if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                pollfd p{fd_, POLLOUT, 0};
                ::poll(&p, 1, -1);
                continue;
            }
            err = r < 0 ? static_cast<uint32_t>(errno) : EIO;
            return false;
        }
        return true;
    }

private:
    PortPathResolver resolver_;
    int fd_ = -1;
    PortTimeouts timeouts_{};
};

}  // namespace

std::string DefaultPortPath(int32_t portNumber)
{
    return "/dev/ttyS" + std::to_string(portNumber - 1);
}

std::unique_ptr<ISerialDevice> MakeOsSerialDevice(PortPathResolver resolver)
{
    return std::make_unique<SerialDeviceLinux>(std::move(resolver));
}

std::string PortOpenErrorText(uint32_t osError)
{
    switch (osError) {
    case 0:
        return "no error";
    case EACCES:
    case EPERM:
        return "permission denied: the user must be in the dialout group "
               "(sudo usermod -aG dialout $USER, then log in again)";
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return "no such device (adapter unplugged? see kestrel-cfg ports)";
    case EBUSY:
    case EWOULDBLOCK:
        return "the port is in use by another program";
    default:
        return std::strerror(static_cast<int>(osError));
    }
}

uint32_t CheckPortAccess(const std::string& path)
{
    if (::access(path.c_str(), R_OK | W_OK) == 0)
        return 0;
    return static_cast<uint32_t>(errno);
}

}  // namespace kestrel
