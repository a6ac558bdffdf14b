// Windows names its serial devices itself ("\\.\COMn"): nothing to map.
#include "link/SerialDeviceOs.h"

namespace kestrel {

std::string PortPathFromSettings(const ISettingsStore&, int32_t)
{
    return {};
}

PortPathResolver MakeSettingsPortResolver(const ISettingsStore&)
{
    return {};
}

}  // namespace kestrel
