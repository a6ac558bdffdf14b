#pragma once
// kestrel-console's settings commands: compare a block with a file, save a
// block as a one-block configuration file, restore a file's settings into a
// block. The port is open for block 0 of `state`; results go to `out`.
#include <functional>
#include <string>

#include "protocol/Protocol.h"

namespace kestrel::console {

using TPrint = std::function<void(const std::string&)>;

// Exit statuses. compare: 0 equal, 1 they differ, 2 a failure (file, link).
// snapshot: 0 written, 1 a failure. restore: 0 every value took, 1 some did
// not or the block did not answer, 2 the file is damaged or unusable
// (nothing was sent).
int RunCompare(TCbProtocol& p, const std::string& file, int cbNumber, const TPrint& out, const TPrint& err);
int RunSnapshot(TCbProtocol& p, const std::string& outFile, const TPrint& out, const TPrint& err);
// Checks the file before the port is touched: `openPort` is called only
// when the file may be written, and returns false when the port failed.
int RunRestore(TCbProtocol& p, const std::string& file, int cbNumber, const std::function<bool()>& openPort,
               const TPrint& out, const TPrint& err);

// The file's block for a console talking at `address`: block cbNumber
// (1-based) when given, else the first whose address is the console's.
// -1 when there is none (the reason in `why`).
// A one-block configuration of what the block at `link` holds: the
// defaults (43 UIRs present), the link settings it answered at, its own
// settings.
TCbSettings BlockAsFileSettings(const TCbData& link, const TDeviceSettings& block);

int PickFileBlock(const std::vector<TCbSettings>& cbs, int cbNumber, uint8_t address, std::string& why);

}  // namespace kestrel::console
