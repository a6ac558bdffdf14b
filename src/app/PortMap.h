#pragma once
// Where COMn is on a system without COM ports: the settings store maps port
// numbers to devices (value "COMn" in key "Software\KestrelUtilite\Ports";
// the simulator and installers write it). Windows opens COMn itself.
#include <cstdint>
#include <string>

namespace kestrel {

// The device COM<portNumber> maps to; empty when none is mapped.
std::string MappedPortPath(int32_t portNumber);

}  // namespace kestrel
