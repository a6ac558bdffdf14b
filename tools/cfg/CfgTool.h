#pragma once
// kestrel-cfg, the service engineers' tool for configuration files:
//   kestrel-cfg show FILE    every stored field, one per line, UTF-8
//   kestrel-cfg new FILE     write the default one-CB file (43 UIRs, 1..43)
//   kestrel-cfg check FILE   validate; report unusual values as warnings
// Exit status: 0 success, 1 bad or unreadable file (or one that cannot be
// written), 2 bad usage.
#include <iosfwd>
#include <string>
#include <vector>

#include "state/ConfigFile.h"

namespace kestrel::cfgtool {

constexpr int kExitOk = 0;
constexpr int kExitBadFile = 1;
constexpr int kExitUsage = 2;

// args without the program name.
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The listing of `show` for parsed records.
void Show(const std::vector<TCbSettings>& cbs, std::ostream& out);

// A Windows-1251 text as a quoted UTF-8 literal: control bytes, 0x98, '"'
// and '\' escaped, so every line stays one line and tells the bytes apart.
std::string Quote(const Text& text);

}  // namespace kestrel::cfgtool
