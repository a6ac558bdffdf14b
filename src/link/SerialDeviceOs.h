#pragma once
// The serial device of the platform the program runs on (termios on Linux,
// Win32 on Windows), behind ISerialDevice.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "link/SerialDevice.h"

namespace kestrel {

class ISettingsStore;

// Port number n (COMn) -> device path. An empty answer means "use the default".
using PortPathResolver = std::function<std::string(int32_t portNumber)>;

// The platform's own name of COMn: "/dev/ttyS{n-1}" on Linux, "\\.\COMn" on Windows.
std::string DefaultPortPath(int32_t portNumber);

// On Linux the resolver (when given) names the device of each port number;
// on Windows the device is always "\\.\COMn" and the resolver is not used.
std::unique_ptr<ISerialDevice> MakeOsSerialDevice(PortPathResolver resolver = {});

// Linux: the device named for COMn in the settings store, that is the value
// "COMn" of the key "Software\KestrelUtilite\Ports" (with the file store:
// the file <root>/Software/KestrelUtilite/Ports/COMn holding, say,
// "/dev/ttyUSB0"); empty when there is none. Windows: always empty, the
// system's own COM names apply.
std::string PortPathFromSettings(const ISettingsStore& store, int32_t portNumber);
// A resolver over PortPathFromSettings; the store must outlive the device.
PortPathResolver MakeSettingsPortResolver(const ISettingsStore& store);

// What an OS error from opening a port means to the operator, one line, no
// trailing newline. Linux: a permission error names the dialout group.
std::string PortOpenErrorText(uint32_t osError);

// 0 when the device at path could be opened for reading and writing by this
// user, else the OS error an open would give (no open is made: that would
// change the modem lines of a port in use). Windows: always 0.
uint32_t CheckPortAccess(const std::string& path);

}  // namespace kestrel
