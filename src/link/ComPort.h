#pragma once
// The one serial-port object of the program. It keeps the line settings of
// the central block last selected and applies them to the OS device only
// while the device is open; every read returns at once with what the driver
// holds, so the link is paced by the waits of the exchange alone.
#include <cstddef>
#include <cstdint>

#include "link/SerialDevice.h"

namespace kestrel {

class TComPort {
public:
    explicit TComPort(ISerialDevice& device);
    ~TComPort();
    TComPort(const TComPort&) = delete;
    TComPort& operator=(const TComPort&) = delete;

    // No-op when open. Otherwise opens COMn; on success applies the line
    // settings, then the time-outs. The open's OS code becomes the last error.
    void Open();
    // Releases the device; the last error is kept.
    void Close();
    // Same number: re-open (open, close, open). Other number: store it and
    // re-open on the new device only when the port was open.
    void SetPortNumber(int32_t n);
    // Each setter stores a changed value and applies the line settings (only
    // to an open device); an equal value changes nothing.
    void SetSpeed(int32_t v);
    void SetDataBits(int32_t v);
    void SetParity(int32_t v);
    void SetStopBits(int32_t v);

    int32_t GetPortNumber() const { return portNumber_; }
    int32_t GetSpeed() const { return settings_.Baud; }
    int32_t GetDataBits() const { return settings_.DataBits; }
    int32_t GetParity() const { return settings_.Parity; }
    int32_t GetStopBits() const { return settings_.StopBits; }
    uint32_t GetLastError() const { return lastError_; }
    // Forget the last error. The port is shared by every block, so each
    // block's open starts from a clean slate: an error another block's port
    // left behind says nothing about this one.
    void ClearLastError() { lastError_ = 0; }
    bool IsOpen() const { return open_; }
    const PortTimeouts& Timeouts() const { return timeouts_; }

    // One OS read of at most n bytes; never waits. Returns the count read
    // (0 when nothing was buffered); the last error is 0 or the OS code.
    size_t Read(uint8_t* buf, size_t n);
    // One OS write of n bytes; the last error is 0 or the OS code.
    bool Write(const uint8_t* buf, size_t n);

private:
    void ApplyLineSettings();
    void ApplyTimeouts();

    ISerialDevice& device_;
    int32_t portNumber_ = 1;
    LineSettings settings_{9600, 8, 2, 0};
    PortTimeouts timeouts_{};
    bool open_ = false;
    uint32_t lastError_ = 0;
};

}  // namespace kestrel
