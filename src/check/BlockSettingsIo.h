#pragma once
// Reading a block's settings for a comparison, and putting the file's back,
// over the protocol. Both run where the port is open for the block: on the
// acquisition thread (as a kReqRunTask job) or in the command-line console.
// Neither touches the model: the block is read into scratch records.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "check/SettingsCheck.h"
#include "monitor/ProtocolAcqLink.h"
#include "protocol/Protocol.h"
#include "state/Atom.h"

namespace kestrel {

// Result of a read: 0; -1 an exception; -2..-5 the table of mode 0..3 did
// not answer (10 tries); -6..-16 UIR segment 0..10 did not.
constexpr int kBlockNotRead = -100;  // the job never ran (not served, thread stopping)
int ReadBlockSettings(TCbProtocol& p, int32_t cb, TCbData& scratch);
// The operator's text for a failed read or restore result.
std::string BlockReadFailureText(int result);

struct TRestoreReport {
    // 0 every value took (confirmed by the read-back); 1 some did not;
    // negative: the read before or after the writes failed (as
    // ReadBlockSettings; -100 the job never ran): nothing can be confirmed.
    int Result = kBlockNotRead;
    int ReadBackResult = kBlockNotRead;
    int TablesWritten = 0;    // writes acknowledged
    int SegmentsWritten = 0;
    std::vector<std::string> Unacknowledged;  // "таблица МТЗ-2", "УИР 8–11"
    TDeviceSettings Before, After;
    // What the block was to take and does not hold (target → read back).
    std::vector<TSettingsDifference> NotTaken;
};

// Reads the block, writes each table and UIR segment whose values differ
// from `target` (bits 6 and 7 of the function bytes as the block holds
// them), reads everything back and lists each value that did not take.
// `target` must pass RestoreProblems first.
TRestoreReport RestoreBlockSettings(TCbProtocol& p, int32_t cb, const TDeviceSettings& target);

// The jobs a window posts (kReqRunTask). Their results are read after the
// request slot has been cleared.
class TReadSettingsTask final : public TProtocolTask {
public:
    void Run(TCbProtocol& protocol, int32_t cb) override;
    int Result = kBlockNotRead;
    TDeviceSettings Settings;
};

class TRestoreSettingsTask final : public TProtocolTask {
public:
    explicit TRestoreSettingsTask(const TDeviceSettings& target) : Target(target) {}
    void Run(TCbProtocol& protocol, int32_t cb) override;
    const TDeviceSettings Target;
    TRestoreReport Report;
};

// The segment a UIR slot travels in, and the UIRs of a segment as text ("1–3", "8–11").
inline int SegmentOfUir(int uir) { return uir / 4; }
std::string SegmentUirs(int segment);

}  // namespace kestrel
