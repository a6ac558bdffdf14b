#pragma once
// The simulated central blocks attached in process: the serial device the
// PC's port object talks to. Each port number carries one line with one or
// more blocks; a block is reachable only through the port it is attached to.
// Time comes from the IClock handed in (a VirtualClock in tests), so the
// whole client stack runs against it deterministically.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "SimCb.h"
#include "SimScenario.h"
#include "SimWire.h"
#include "link/SerialDevice.h"
#include "state/Clock.h"

namespace kestrel::sim {

// OS error codes the device reports, numbered as the Windows driver does.
constexpr uint32_t kErrFileNotFound = 2;
constexpr uint32_t kErrAccessDenied = 5;
constexpr uint32_t kErrInvalidHandle = 6;
constexpr uint32_t kErrGenFailure = 31;
constexpr uint32_t kErrInvalidParameter = 87;

class SimBus final : public ISerialDevice, public ISimHost {
public:
    explicit SimBus(IClock& clock);
    ~SimBus() override;
    SimBus(const SimBus&) = delete;
    SimBus& operator=(const SimBus&) = delete;

    // Attaches a new block to the line of COM`portNumber`.
    TSimCb& Attach(int32_t portNumber, const TSimCbOptions& opt = {});
    // The block at its current address (on any port when portNumber is 0).
    TSimCb* Find(uint8_t address, int32_t portNumber = 0);
    // Blocks in the order of attachment.
    TSimCb& Cb(size_t i = 0);

    void SetTurnaroundMs(uint32_t ms) override;
    uint32_t TurnaroundMs() const override;
    std::vector<TSimCb*> SimBlocks() override;

    // Scenario lines (see SimScenario.h); times count from now.
    bool LoadScenario(const std::string& text, std::string& error);
    bool Command(const std::string& line, std::string& reply);
    // Runs scenario lines that are due. Every device call does it as well.
    void Pump();

    // Faults of the PC's own device: the next `count` writes (reads) fail
    // with `err`.
    void FailWrites(uint32_t err, int count = 1);
    void FailReads(uint32_t err, int count = 1);
    // Another program holds the port: Open fails with access denied.
    void SetPortBusy(int32_t portNumber, bool busy);

    // Observation.
    int32_t OpenPortNumber() const;  // 0 when closed
    LineSettings PcLine() const;
    PortTimeouts PcTimeouts() const;
    uint32_t OpenCount() const;
    size_t PendingBytes() const;     // on the wire or unread, current port
    std::vector<TTraceRecord> Trace() const;
    void ClearTrace();

    // ISerialDevice
    uint32_t Open(int32_t portNumber) override;
    void Close() override;
    bool IsOpen() const override;
    uint32_t ApplyLineSettings(const LineSettings& s) override;
    void ApplyTimeouts(const PortTimeouts& t) override;
    bool Read(uint8_t* buf, size_t n, size_t& got, uint32_t& err) override;
    bool Write(const uint8_t* buf, size_t n, uint32_t& err) override;

private:
    struct TPort {
        TSimWire Wire;
        bool Busy = false;
    };
    uint64_t NowUs() const { return clock_.NowMs() * 1000; }
    void PumpLocked();

    IClock& clock_;
    mutable std::recursive_mutex mu_;
    std::vector<std::unique_ptr<TSimCb>> blocks_;
    std::vector<int32_t> blockPorts_;
    std::map<int32_t, TPort> ports_;
    TSimScenario scenario_;
    int32_t open_ = 0;
    LineSettings pcLine_{9600, 8, 2, 0};
    PortTimeouts timeouts_{};
    uint32_t openCount_ = 0;
    uint32_t turnaroundMs_ = 5;
    uint32_t writeErr_ = 0, readErr_ = 0;
    int writeErrCount_ = 0, readErrCount_ = 0;
    std::vector<TTraceRecord> trace_;
};

}  // namespace kestrel::sim
