#include "link/ComPort.h"

namespace kestrel {

TComPort::TComPort(ISerialDevice& device) : device_(device) {}

TComPort::~TComPort()
{
    Close();
}

void TComPort::Open()
{
    if (open_)
        return;
    lastError_ = device_.Open(portNumber_);
    if (lastError_ != 0)
        return;
    open_ = true;
    ApplyLineSettings();
    ApplyTimeouts();
}

void TComPort::Close()
{
    device_.Close();
    open_ = false;
}

void TComPort::SetPortNumber(int32_t n)
{
    if (n == portNumber_)
        Open();
    const bool wasOpen = open_;
    if (open_)
        Close();
    portNumber_ = n;
    if (wasOpen)
        Open();
}

void TComPort::ApplyLineSettings()
{
    if (!open_)
        return;
    lastError_ = device_.ApplyLineSettings(settings_);
}

void TComPort::ApplyTimeouts()
{
    if (!open_)
        return;
    device_.ApplyTimeouts(timeouts_);
}

void TComPort::SetSpeed(int32_t v)
{
    if (v == settings_.Baud)
        return;
    settings_.Baud = v;
    ApplyLineSettings();
}

void TComPort::SetDataBits(int32_t v)
{
    if (v == settings_.DataBits)
        return;
    settings_.DataBits = v;
    ApplyLineSettings();
}

void TComPort::SetParity(int32_t v)
{
    if (v == settings_.Parity)
        return;
    settings_.Parity = v;
    ApplyLineSettings();
}

void TComPort::SetStopBits(int32_t v)
{
    if (v == settings_.StopBits)
        return;
    settings_.StopBits = v;
    ApplyLineSettings();
}

size_t TComPort::Read(uint8_t* buf, size_t n)
{
    size_t got = 0;
    uint32_t err = 0;
    const bool ok = device_.Read(buf, n, got, err);
    lastError_ = ok ? 0 : err;
    if (got > n)
        got = n;
    return got;
}

bool TComPort::Write(const uint8_t* buf, size_t n)
{
    uint32_t err = 0;
    const bool ok = device_.Write(buf, n, err);
    lastError_ = ok ? 0 : err;
    return ok;
}

}  // namespace kestrel
