#pragma once
// kestrel-cfg, the service engineers' tool for configuration files:
//   kestrel-cfg show FILE            every stored field, one per line, UTF-8
//   kestrel-cfg new FILE [--cbs N]   write the default one-CB file (43 UIRs,
//                                    1..43), or N CBs at addresses 1..N named
//                                    "ЦБ 1".."ЦБ N"; an existing FILE keeps
//                                    its bytes in FILE.damaged-N / .old-N
//   kestrel-cfg check FILE           validate; report unusual values as warnings
//   kestrel-cfg compare A B          the blocks' own settings, matched by
//                                    address (exit 0 same, 1 differ, 2 trouble)
//   kestrel-cfg port COMn PATH       map COMn to a device (Linux), e.g. a USB
//                                    adapter; PATH "default" drops the mapping
//   kestrel-cfg ports                the mapped ports and the serial devices seen
//   kestrel-cfg --help | -h          the usage, on standard output
// Exit status: 0 success, 1 bad or unreadable file (or one that cannot be
// written), 2 bad usage.
#include <iosfwd>
#include <string>
#include <vector>

#include "state/ConfigFile.h"
#include "state/SettingsStore.h"

namespace kestrel::cfgtool {

constexpr int kExitOk = 0;
constexpr int kExitBadFile = 1;
constexpr int kExitUsage = 2;

// args without the program name. store: the settings store the port
// commands use; null means the current user's.
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
        ISettingsStore* store = nullptr);

// The program's arguments without its name, as Run takes them: UTF-8 (on
// Linux argv's bytes as they are). On Windows the narrow argv is in the ANSI
// code page, which lacks most characters a file name may hold, so they come
// from the wide command line; false when one has no UTF-8 (an unpaired
// surrogate).
bool ProgramArgs(int argc, char** argv, std::vector<std::string>& args);

// "COMn" (any case), n 1..255 -> n; else 0.
int ParsePortName(const std::string& name);

// The records `new` writes: cbs 0 is the default one-CB file; 1..255 are that
// many CBs, each with the defaults of a new one, at addresses 1..cbs and named
// "ЦБ 1".."ЦБ cbs".
std::vector<TCbSettings> NewConfiguration(int cbs);

// The listing of `show` for parsed records.
void Show(const std::vector<TCbSettings>& cbs, std::ostream& out);

// A Windows-1251 text as a quoted UTF-8 literal: control bytes, 0x98, '"'
// and '\' escaped, so every line stays one line and tells the bytes apart.
std::string Quote(const Text& text);

}  // namespace kestrel::cfgtool
