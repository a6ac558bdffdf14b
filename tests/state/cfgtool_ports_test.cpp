// kestrel-cfg port / ports: the COMn -> device mapping in the file settings
// store, as the serial device reads it back, and what the operator is told.
#include <gtest/gtest.h>

#include <cerrno>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "CfgTool.h"
#include "link/SerialDeviceOs.h"
#include "state/SettingsStoreFile.h"
#include "state_test_util.h"

using namespace kestrel;
using namespace kestrel::testutil;

namespace {

struct Result {
    int rc;
    std::string out, err;
};

Result Tool(ISettingsStore& store, std::vector<std::string> args)
{
    std::ostringstream out, err;
    const int rc = cfgtool::Run(args, out, err, &store);
    return {rc, out.str(), err.str()};
}

fs::path PortFile(const TFileSettingsStore& s, int n)
{
    return s.Root() / "Software" / "KestrelUtilite" / "Ports" / ("COM" + std::to_string(n));
}

}  // namespace

TEST(CfgToolPorts, PortNames)
{
    const std::vector<std::pair<std::string, int>> table = {
        {"COM1", 1},   {"com7", 7},  {"Com255", 255}, {"COM256", 0}, {"COM0", 0},  {"COM01", 0},
        {"COM", 0},    {"COMx", 0},  {"COM 1", 0},    {"LPT1", 0},   {"COM1x", 0}, {"COM9999", 0},
        {"/dev/ttyS0", 0}, {"", 0},
    };
    for (const auto& [name, want] : table)
        EXPECT_EQ(cfgtool::ParsePortName(name), want) << name;
}

TEST(CfgToolPorts, MappingIsStoredWhereTheDeviceReadsIt)
{
    ScratchDir dir;
    TFileSettingsStore store(dir.Path() / "registry");
    const std::string device = (dir / "ttyUSB0").string();  // not there yet: mapped before it is plugged in
    const Result r = Tool(store, {"port", "com3", device});
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(r.out, "COM3 = " + device + " (no such device (adapter unplugged? see kestrel-cfg ports))\n");
    EXPECT_EQ(ReadBytes(PortFile(store, 3)), device);  // exactly the path, no newline
    EXPECT_EQ(PortPathFromSettings(store, 3), device);
    EXPECT_EQ(MakeSettingsPortResolver(store)(3), device);
    EXPECT_EQ(PortPathFromSettings(store, 2), "");

    // Plugged in: no remark.
    WriteBytes(dir / "ttyUSB0", "");
    EXPECT_EQ(Tool(store, {"port", "COM3", device}).out, "COM3 = " + device + "\n");

    const Result back = Tool(store, {"port", "COM3", "default"});
    EXPECT_EQ(back.rc, 0) << back.err;
    EXPECT_EQ(back.out, "COM3 = /dev/ttyS2 (default)\n");
    EXPECT_FALSE(fs::exists(PortFile(store, 3)));
    EXPECT_EQ(PortPathFromSettings(store, 3), "");
}

TEST(CfgToolPorts, PortsListsMappedPortsInNumberOrder)
{
    ScratchDir dir;
    TFileSettingsStore store(dir.Path() / "registry");
    const Result none = Tool(store, {"ports"});
    EXPECT_EQ(none.rc, 0) << none.err;
    EXPECT_EQ(none.out.substr(0, none.out.find('\n') + 1), "every COMn = /dev/ttyS(n-1)\n");

    WriteBytes(dir / "a", "");
    WriteBytes(dir / "b", "");
    ASSERT_EQ(Tool(store, {"port", "COM10", (dir / "a").string()}).rc, 0);
    ASSERT_EQ(Tool(store, {"port", "COM2", (dir / "b").string()}).rc, 0);
    // A hand-written value ending in a newline, and a stray file that is no port.
    WriteBytes(PortFile(store, 4).parent_path() / "COM4", (dir / "a").string() + "\n");
    WriteBytes(PortFile(store, 4).parent_path() / "notes", "x");
    const Result r = Tool(store, {"ports"});
    EXPECT_EQ(r.rc, 0) << r.err;
    const std::string head = "COM2 = " + (dir / "b").string() + "\nCOM4 = " + (dir / "a").string() + "\nCOM10 = " +
                             (dir / "a").string() + "\nevery other COMn = /dev/ttyS(n-1)\nserial adapters present:";
    EXPECT_EQ(r.out.substr(0, head.size()), head);
}

TEST(CfgToolPorts, PermissionErrorTextsNameTheDialoutGroup)
{
    EXPECT_NE(PortOpenErrorText(EACCES).find("dialout group"), std::string::npos);
    EXPECT_NE(PortOpenErrorText(EPERM).find("dialout group"), std::string::npos);
    EXPECT_NE(PortOpenErrorText(ENOENT).find("no such device"), std::string::npos);
    EXPECT_NE(PortOpenErrorText(EBUSY).find("another program"), std::string::npos);
    EXPECT_EQ(PortOpenErrorText(ENOENT).find('\n'), std::string::npos);
}

TEST(CfgToolPorts, UnwritableDeviceIsReportedWithTheDialoutGroup)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root opens any device; the file-mode case needs an ordinary user";
    ScratchDir dir;
    TFileSettingsStore store(dir.Path() / "registry");
    WriteBytes(dir / "ttyUSB1", "");
    ::chmod((dir / "ttyUSB1").c_str(), 0444);
    EXPECT_EQ(CheckPortAccess((dir / "ttyUSB1").string()), static_cast<uint32_t>(EACCES));
    const Result r = Tool(store, {"port", "COM1", (dir / "ttyUSB1").string()});
    EXPECT_EQ(r.rc, 0);
    EXPECT_NE(r.out.find("permission denied: the user must be in the dialout group"), std::string::npos) << r.out;
}

TEST(CfgToolPorts, BadUsageWritesNothing)
{
    ScratchDir dir;
    TFileSettingsStore store(dir.Path() / "registry");
    const std::vector<std::vector<std::string>> table = {
        {"port"},
        {"port", "COM1"},
        {"port", "COM0", "/dev/ttyUSB0"},
        {"port", "COM256", "/dev/ttyUSB0"},
        {"port", "ttyUSB0", "/dev/ttyUSB0"},
        {"port", "COM1", "ttyUSB0"},
        {"port", "COM1", ""},
        {"port", "COM1", "/dev/tty\nUSB0"},
        {"port", "COM1", "/dev/ttyUSB0", "extra"},
        {"ports", "COM1"},
    };
    for (const auto& args : table) {
        const Result r = Tool(store, args);
        EXPECT_EQ(r.rc, cfgtool::kExitUsage) << args.size();
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("kestrel-cfg: "), std::string::npos);
    }
    EXPECT_FALSE(fs::exists(dir.Path() / "registry"));
}

TEST(CfgToolPorts, UnwritableStoreIsABadFile)
{
    ScratchDir dir;
    WriteBytes(dir / "registry", "a file where the folder should be");
    TFileSettingsStore store(dir.Path() / "registry");
    const Result r = Tool(store, {"port", "COM1", "/dev/ttyUSB0"});
    EXPECT_EQ(r.rc, cfgtool::kExitBadFile);
    EXPECT_NE(r.err.find("cannot write the port setting"), std::string::npos) << r.err;
}
