#pragma once
// The narrow OS device interface under TComPort: one implementation per OS
// (termios on Linux, Win32 on Windows) and the in-process simulated bus in
// tests. Every call reports the OS error code it produced (0 = success).
#include <cstddef>
#include <cstdint>

namespace kestrel {

struct LineSettings {
    int32_t Baud = 9600;
    int32_t DataBits = 8;
    int32_t Parity = 2;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
    int32_t StopBits = 0;  // 0 one, 1 one and a half, 2 two
};

struct PortTimeouts {
    uint32_t ReadInterval = 0xFFFFFFFFu;
    uint32_t ReadTotalMultiplier = 0;
    uint32_t ReadTotalConstant = 0;
    uint32_t WriteTotalMultiplier = 0;
    uint32_t WriteTotalConstant = 0;
};

class ISerialDevice {
public:
    virtual ~ISerialDevice() = default;
    // Exclusive open of the device of port number n (COMn). Returns the OS error.
    virtual uint32_t Open(int32_t portNumber) = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    // Only called on an open device. Returns the OS error.
    virtual uint32_t ApplyLineSettings(const LineSettings& s) = 0;
    virtual void ApplyTimeouts(const PortTimeouts& t) = 0;
    // Never waits: copies what is buffered, at most n bytes, into buf.
    // Returns false on an OS error (code in err); got holds the count.
    virtual bool Read(uint8_t* buf, size_t n, size_t& got, uint32_t& err) = 0;
    // One write of n bytes. Returns false on an OS error (code in err).
    virtual bool Write(const uint8_t* buf, size_t n, uint32_t& err) = 0;
};

}  // namespace kestrel
