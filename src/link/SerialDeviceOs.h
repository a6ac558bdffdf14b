#pragma once
// The serial device of the platform the program runs on (termios on Linux,
// Win32 on Windows), behind ISerialDevice.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "link/SerialDevice.h"

namespace kestrel {

// Port number n (COMn) -> device path. An empty answer means "use the default".
using PortPathResolver = std::function<std::string(int32_t portNumber)>;

// The platform's own name of COMn: "/dev/ttyS{n-1}" on Linux, "\\.\COMn" on Windows.
std::string DefaultPortPath(int32_t portNumber);

// On Linux the resolver (when given) names the device of each port number;
// on Windows the device is always "\\.\COMn" and the resolver is not used.
std::unique_ptr<ISerialDevice> MakeOsSerialDevice(PortPathResolver resolver = {});

}  // namespace kestrel
