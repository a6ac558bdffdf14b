// Win32 device "\\.\COMn": exclusive, no overlapped I/O, DCB and COMMTIMEOUTS.
#include <windows.h>

#include <cstdio>

#include "link/SerialDeviceOs.h"

namespace kestrel {

namespace {

class SerialDeviceWin final : public ISerialDevice {
public:
    ~SerialDeviceWin() override { Close(); }

    uint32_t Open(int32_t portNumber) override
    {
        if (handle_ != INVALID_HANDLE_VALUE)
            Close();
        const std::string name = DefaultPortPath(portNumber);
        HANDLE h = ::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            const DWORD e = ::GetLastError();
            return e ? e : ERROR_OPEN_FAILED;
        }
        handle_ = h;
        return 0;
    }

    void Close() override
    {
        if (handle_ == INVALID_HANDLE_VALUE)
            return;
        ::CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

    bool IsOpen() const override { return handle_ != INVALID_HANDLE_VALUE; }

    uint32_t ApplyLineSettings(const LineSettings& s) override
    {
        DCB dcb;
        ::ZeroMemory(&dcb, sizeof dcb);
        dcb.DCBlength = sizeof dcb;
        dcb.BaudRate = static_cast<DWORD>(s.Baud);
        dcb.fBinary = TRUE;
        dcb.ByteSize = static_cast<BYTE>(s.DataBits);
        dcb.Parity = static_cast<BYTE>(s.Parity);
        dcb.StopBits = static_cast<BYTE>(s.StopBits);
        // Everything else zero: no parity check, no flow control, DTR and RTS disabled.
        if (::SetCommState(handle_, &dcb))
            return 0;
        const DWORD e = ::GetLastError();
        return e ? e : ERROR_INVALID_PARAMETER;
    }

    void ApplyTimeouts(const PortTimeouts& t) override
    {
        COMMTIMEOUTS ct;
        ct.ReadIntervalTimeout = t.ReadInterval;
        ct.ReadTotalTimeoutMultiplier = t.ReadTotalMultiplier;
        ct.ReadTotalTimeoutConstant = t.ReadTotalConstant;
        ct.WriteTotalTimeoutMultiplier = t.WriteTotalMultiplier;
        ct.WriteTotalTimeoutConstant = t.WriteTotalConstant;
        ::SetCommTimeouts(handle_, &ct);
    }

    bool Read(uint8_t* buf, size_t n, size_t& got, uint32_t& err) override
    {
        DWORD count = 0;
        const BOOL ok = ::ReadFile(handle_, buf, static_cast<DWORD>(n), &count, nullptr);
        got = count;
        err = ok ? 0 : ::GetLastError();
        if (!ok && err == 0)
            err = ERROR_READ_FAULT;
        return ok != FALSE;
    }

    bool Write(const uint8_t* buf, size_t n, uint32_t& err) override
    {
        DWORD count = 0;
        const BOOL ok = ::WriteFile(handle_, buf, static_cast<DWORD>(n), &count, nullptr);
        err = ok ? 0 : ::GetLastError();
        if (!ok && err == 0)
            err = ERROR_WRITE_FAULT;
        return ok != FALSE;
    }

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace

std::string DefaultPortPath(int32_t portNumber)
{
    char b[32];
    std::snprintf(b, sizeof b, "\\\\.\\COM%i", static_cast<int>(portNumber));
    return b;
}

std::unique_ptr<ISerialDevice> MakeOsSerialDevice(PortPathResolver)
{
    return std::make_unique<SerialDeviceWin>();
}

std::string PortOpenErrorText(uint32_t osError)
{
    switch (osError) {
    case 0:
        return "no error";
    case ERROR_ACCESS_DENIED:
        return "access denied: the port is in use by another program";
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return "no such port (adapter unplugged?)";
    default: {
        char b[48];
        std::snprintf(b, sizeof b, "system error %lu", static_cast<unsigned long>(osError));
        return b;
    }
    }
}

uint32_t CheckPortAccess(const std::string&)
{
    return 0;
}

}  // namespace kestrel
