// Port numbers named in the file settings store (systems without COM names).
#include <fstream>
#include <sstream>

#include "link/SerialDeviceOs.h"
#include "state/SettingsStoreFile.h"

namespace kestrel {

std::string PortPathFromSettings(const ISettingsStore& store, int32_t portNumber)
{
    const auto* files = dynamic_cast<const TFileSettingsStore*>(&store);
    if (!files || portNumber < 0)
        return {};
    const auto file = files->ValueFile("Software\\KestrelUtilite\\Ports", "COM" + std::to_string(portNumber));
    if (file.empty())
        return {};
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return {};
    std::ostringstream text;
    text << in.rdbuf();
    std::string path = text.str();
    // A value written by hand usually ends in a newline.
    while (!path.empty() && (path.back() == '\n' || path.back() == '\r' || path.back() == ' ' || path.back() == '\t'))
        path.pop_back();
    return path;
}

PortPathResolver MakeSettingsPortResolver(const ISettingsStore& store)
{
    return [&store](int32_t n) { return PortPathFromSettings(store, n); };
}

}  // namespace kestrel
