#pragma once
// kestrel-console walktest: the commissioning test without a window. The
// block's settings are read first, then event cycles run as the acquisition
// thread runs them and every result is printed as it comes; `stop` ends the
// test (Ctrl-C) with its summary. Exit 0 only when every monitored input
// passed; 1 otherwise (or when the block could not be read).
#include <atomic>
#include <functional>
#include <string>

#include "protocol/Protocol.h"

namespace kestrel::console {

using TLinePrint = std::function<void(const std::string&)>;

int RunWalkTest(TCbProtocol& p, const std::string& outFile, const std::function<bool()>& stop,
                const std::function<int64_t()>& nowMs, const TLinePrint& out, const TLinePrint& err);

}  // namespace kestrel::console
