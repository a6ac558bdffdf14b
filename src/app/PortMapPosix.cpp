#include "app/PortMap.h"

#include <fstream>
#include <sstream>

#include "state/SettingsStoreFile.h"

namespace kestrel {

std::string MappedPortPath(int32_t portNumber)
{
    const auto root = TFileSettingsStore::DefaultRoot();
    if (root.empty())
        return {};
    const TFileSettingsStore store(root);
    std::ifstream in(store.ValueFile("Software\\KestrelUtilite\\Ports", "COM" + std::to_string(portNumber)),
                     std::ios::binary);
    if (!in)
        return {};
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

}  // namespace kestrel
