#include "link/PcapCapture.h"

#include <array>
#include <cerrno>
#include <system_error>
#include <vector>

namespace kestrel {

namespace {

void PutLe32(std::vector<uint8_t>& b, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void PutLe16(std::vector<uint8_t>& b, uint16_t v)
{
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}

void PutBe32(std::vector<uint8_t>& b, uint32_t v)
{
    for (int i = 3; i >= 0; --i)
        b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

std::string Utf8(const std::filesystem::path& p)
{
    const std::u8string s = p.u8string();
    return std::string(s.begin(), s.end());
}

}  // namespace

TPcapCapture::~TPcapCapture()
{
    Close();
}

bool TPcapCapture::Open(const std::filesystem::path& path, std::string& error)
{
    std::lock_guard lock(mutex_);
    if (out_.is_open())
        out_.close();
    records_ = 0;
    errno = 0;
    out_.open(path, std::ios::binary | std::ios::out | std::ios::trunc);
    const int openErrno = errno;
    std::vector<uint8_t> h;
    h.reserve(kPcapGlobalHeaderSize);
    PutLe32(h, 0xA1B2C3D4u);  // microsecond timestamps, written in our (little-endian) order
    PutLe16(h, 2);
    PutLe16(h, 4);
    PutLe32(h, 0);  // this zone: UTC
    PutLe32(h, 0);  // sigfigs
    PutLe32(h, kPcapSnapLen);
    PutLe32(h, kPcapLinkTypeRtacSerial);
    if (out_.is_open()) {
        out_.write(reinterpret_cast<const char*>(h.data()), static_cast<std::streamsize>(h.size()));
        out_.flush();
    }
    if (!out_.is_open() || !out_) {
        std::string reason;
        if (openErrno != 0)
            reason = " (" + std::generic_category().message(openErrno) + ")";
        error = "Невозможно создать файл записи обмена \"" + Utf8(path) + "\"" + reason + ".";
        out_.close();
        return false;
    }
    return true;
}

void TPcapCapture::Close()
{
    std::lock_guard lock(mutex_);
    if (out_.is_open())
        out_.close();
}

bool TPcapCapture::IsOpen() const
{
    std::lock_guard lock(mutex_);
    return out_.is_open();
}

void TPcapCapture::Record(bool sent, std::span<const uint8_t> bytes, std::chrono::system_clock::time_point at)
{
    using namespace std::chrono;
    const auto us = duration_cast<microseconds>(at.time_since_epoch()).count();
    // Times before 1970 do not occur on a working PC; clamp rather than wrap.
    const int64_t total = us < 0 ? 0 : us;
    const auto sec = static_cast<uint32_t>(total / 1000000);
    const auto usec = static_cast<uint32_t>(total % 1000000);
    const size_t orig = kRtacSerialHeaderSize + bytes.size();
    const size_t incl = orig < kPcapSnapLen ? orig : kPcapSnapLen;

    std::vector<uint8_t> r;
    r.reserve(kPcapRecordHeaderSize + incl);
    PutLe32(r, sec);
    PutLe32(r, usec);
    PutLe32(r, static_cast<uint32_t>(incl));
    PutLe32(r, static_cast<uint32_t>(orig));
    PutBe32(r, sec);
    PutBe32(r, usec);
    r.push_back(sent ? kRtacSerialSent : kRtacSerialReceived);
    r.push_back(0);     // control lines: none driven (DTR and RTS are off)
    r.push_back(0);     // footer
    r.push_back(0);
    r.insert(r.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(incl - kRtacSerialHeaderSize));

    std::lock_guard lock(mutex_);
    if (!out_.is_open())
        return;
    out_.write(reinterpret_cast<const char*>(r.data()), static_cast<std::streamsize>(r.size()));
    out_.flush();  // the file is read while the console still runs
    if (out_)
        ++records_;
}

uint64_t TPcapCapture::Records() const
{
    std::lock_guard lock(mutex_);
    return records_;
}

}  // namespace kestrel
