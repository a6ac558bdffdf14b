#include "app/PortMap.h"

namespace kestrel {

std::string MappedPortPath(int32_t) { return {}; }

}  // namespace kestrel
