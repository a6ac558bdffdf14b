// The Linux serial device against a real pseudo-terminal.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "link/ComPort.h"
#include "link/SerialDeviceOs.h"
#include "state/SettingsStoreFile.h"

#include <filesystem>
#include <fstream>

namespace kestrel {
namespace detail {
int GetSpeed(int fd, unsigned& baud);
}
namespace {

struct Pty {
    int master = -1;
    std::string slave;
    Pty()
    {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
            return;
        slave = ptsname(master);
    }
    ~Pty()
    {
        if (master >= 0)
            close(master);
    }
    PortPathResolver Resolver() const
    {
        const std::string path = slave;
        return [path](int32_t n) { return n == 1 ? path : std::string(); };
    }
};

TEST(SerialDeviceLinux, DefaultNamesFollowTheComNumber)
{
    EXPECT_EQ(DefaultPortPath(1), "/dev/ttyS0");
    EXPECT_EQ(DefaultPortPath(12), "/dev/ttyS11");
}

TEST(SerialDeviceLinux, OpenIsExclusive)
{
    Pty pty;
    ASSERT_FALSE(pty.slave.empty());
    auto a = MakeOsSerialDevice(pty.Resolver());
    auto b = MakeOsSerialDevice(pty.Resolver());
    ASSERT_EQ(a->Open(1), 0u);
    EXPECT_EQ(b->Open(1), static_cast<uint32_t>(EBUSY));
    EXPECT_FALSE(b->IsOpen());
    a->Close();
    EXPECT_EQ(b->Open(1), 0u);
}

TEST(SerialDeviceLinux, MissingDeviceReportsErrno)
{
    auto d = MakeOsSerialDevice([](int32_t) { return std::string("/dev/does-not-exist-kestrel"); });
    EXPECT_EQ(d->Open(3), static_cast<uint32_t>(ENOENT));
    TComPort port(*d);
    port.SetPortNumber(3);
    port.Open();
    EXPECT_EQ(port.GetLastError(), static_cast<uint32_t>(ENOENT));
    uint8_t b[4];
    EXPECT_EQ(port.Read(b, 4), 0u);
    EXPECT_EQ(port.GetLastError(), static_cast<uint32_t>(EBADF));
}

// Waits for `done` with a guard against a hang only: a busy host may delay
// the pseudo-terminal's transfer of bytes, but never for this long.
template <class Done>
bool WaitUntil(Done done)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

TEST(SerialDeviceLinux, ReadsReturnAtOnceWithWhatIsBuffered)
{
    Pty pty;
    auto d = MakeOsSerialDevice(pty.Resolver());
    TComPort port(*d);
    port.Open();
    ASSERT_TRUE(port.IsOpen()) << port.GetLastError();
    // A read never waits for bytes: raw mode with VMIN = VTIME = 0 (the
    // master shows the terminal's settings). Judged on the settings, not on
    // a stopwatch a busy host could stop.
    termios t{};
    ASSERT_EQ(tcgetattr(pty.master, &t), 0);
    EXPECT_EQ(t.c_lflag & ICANON, 0u);
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);
    uint8_t buf[16];
    EXPECT_EQ(port.Read(buf, sizeof buf), 0u);
    EXPECT_EQ(port.GetLastError(), 0u);

    const uint8_t answer[] = {0xE5, 0x00, 0xFF, 0x16};
    ASSERT_EQ(write(pty.master, answer, sizeof answer), 4);
    // The pty moves the bytes across in its own time (the link's wait does
    // this in use): wait until the first two are there, then the other two.
    size_t got = 0;
    ASSERT_TRUE(WaitUntil([&] { return (got = port.Read(buf, 2)) != 0; }));
    ASSERT_EQ(got, 2u);
    EXPECT_EQ(buf[0], 0xE5);
    EXPECT_EQ(buf[1], 0x00);
    std::vector<uint8_t> rest;
    ASSERT_TRUE(WaitUntil([&] {
        const size_t n = port.Read(buf, sizeof buf);
        rest.insert(rest.end(), buf, buf + n);
        return rest.size() >= 2;
    }));
    EXPECT_EQ(rest, (std::vector<uint8_t>{0xFF, 0x16}));  // the rest, no more
    EXPECT_EQ(port.Read(buf, sizeof buf), 0u);

    const uint8_t req[] = {0x10, 0x40, 0x01, 0x41, 0x16};
    ASSERT_TRUE(port.Write(req, sizeof req));
    uint8_t seen[8] = {};
    ssize_t n = 0;
    ASSERT_TRUE(WaitUntil([&] {
        pollfd q{pty.master, POLLIN, 0};
        if (poll(&q, 1, 10) > 0) {
            const ssize_t r = read(pty.master, seen + n, sizeof seen - static_cast<size_t>(n));
            if (r > 0)
                n += r;
        }
        return n >= 5;
    }));
    ASSERT_EQ(n, 5);
    EXPECT_EQ(0, memcmp(seen, req, 5));  // raw: no translation of any byte
}

TEST(SerialDeviceLinux, LineSettingsReachTheTerminal)
{
    Pty pty;
    auto d = MakeOsSerialDevice(pty.Resolver());
    TComPort port(*d);
    port.Open();
    ASSERT_TRUE(port.IsOpen());
    struct Case {
        int32_t Baud, DataBits, Parity, StopBits;
        speed_t Speed;
        tcflag_t Size, Flags;
    };
    const Case cases[] = {
        {19200, 7, 1, 2, B19200, CS7, PARENB | PARODD | CSTOPB},
        {9600, 8, 2, 0, B9600, CS8, PARENB},
        {115200, 8, 0, 0, B115200, CS8, 0},
        {4800, 8, 3, 0, B4800, CS8, PARENB | PARODD | CMSPAR},
        {2400, 6, 4, 0, B2400, CS6, PARENB | CMSPAR},
        {1200, 5, 0, 1, B1200, CS5, CSTOPB},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Baud);
        port.SetSpeed(c.Baud);
        port.SetDataBits(c.DataBits);
        port.SetParity(c.Parity);
        port.SetStopBits(c.StopBits);
        EXPECT_EQ(port.GetLastError(), 0u);
        termios t{};
        ASSERT_EQ(tcgetattr(pty.master, &t), 0);
        termios s{};
        int fd = open(pty.slave.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
        // The slave is held exclusively (TIOCEXCL); a privileged test run may still open it.
        if (fd >= 0) {
            ASSERT_EQ(tcgetattr(fd, &s), 0);
            close(fd);
        } else {
            s = t;
        }
        EXPECT_EQ(cfgetospeed(&s), c.Speed);
        // A pseudo-terminal forces CS8 and clears PARENB on every change; the
        // other bits show what the device asked for.
        (void)c.Size;
        EXPECT_EQ(s.c_cflag & (PARODD | CMSPAR | CSTOPB), c.Flags & ~static_cast<tcflag_t>(PARENB));
        EXPECT_EQ(s.c_cflag & CRTSCTS, 0u);
        EXPECT_EQ(s.c_iflag & (IXON | IXOFF | INPCK), 0u);
        EXPECT_EQ(s.c_lflag & (ICANON | ECHO), 0u);
    }
    // Values the device cannot give are refused with an error, settings stay open.
    port.SetStopBits(1);  // one and a half with 5 data bits is fine: set 8 bits first
    port.SetDataBits(8);
    EXPECT_EQ(port.GetLastError(), static_cast<uint32_t>(EINVAL));
    EXPECT_TRUE(port.IsOpen());
    port.SetStopBits(0);
    EXPECT_EQ(port.GetLastError(), 0u);
    // A speed outside the termios table is set by number.
    port.SetSpeed(14400);
    EXPECT_EQ(port.GetLastError(), 0u);
    unsigned baud = 0;
    ASSERT_EQ(detail::GetSpeed(pty.master, baud), 0);
    EXPECT_EQ(baud, 14400u);
    port.SetSpeed(0);
    EXPECT_EQ(port.GetLastError(), static_cast<uint32_t>(EINVAL));
}

TEST(SerialDeviceLinux, PortNumbersMappedInTheSettingsStore)
{
    const auto root = std::filesystem::temp_directory_path() / ("kestrel-ports-" + std::to_string(getpid()));
    std::filesystem::create_directories(root / "Software" / "KestrelUtilite" / "Ports");
    std::ofstream(root / "Software" / "KestrelUtilite" / "Ports" / "COM3") << "/dev/ttyUSB0\n";
    TFileSettingsStore store(root);
    EXPECT_EQ(PortPathFromSettings(store, 3), "/dev/ttyUSB0");
    EXPECT_EQ(PortPathFromSettings(store, 4), "");

    // Through the device: COM3 opens whatever the store names.
    Pty pty;
    std::ofstream(root / "Software" / "KestrelUtilite" / "Ports" / "COM3", std::ios::trunc) << pty.slave;
    auto dev = MakeOsSerialDevice(MakeSettingsPortResolver(store));
    EXPECT_EQ(dev->Open(3), 0u);
    dev->Close();
    TFileSettingsStore empty(root / "nothing");
    auto fallback = MakeOsSerialDevice(MakeSettingsPortResolver(empty));
    // COM200 is /dev/ttyS199, which no machine has.
    EXPECT_EQ(fallback->Open(200), static_cast<uint32_t>(ENOENT));
    std::filesystem::remove_all(root);
}

}  // namespace
}  // namespace kestrel
