#pragma once
// A capture of the link's traffic in the classic pcap format, one record per
// frame as it crossed the wire, for reading in a protocol analyser. Records
// use link type 250 (serial traffic with a 12-byte header that says which
// way the bytes went), so an analyser can decode them as FT1.2.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <span>
#include <string>

namespace kestrel {

constexpr uint32_t kPcapLinkTypeRtacSerial = 250;
constexpr uint32_t kPcapSnapLen = 65535;
constexpr size_t kPcapGlobalHeaderSize = 24;
constexpr size_t kPcapRecordHeaderSize = 16;
constexpr size_t kRtacSerialHeaderSize = 12;
constexpr uint8_t kRtacSerialSent = 0x01;
constexpr uint8_t kRtacSerialReceived = 0x02;

class TPcapCapture {
public:
    TPcapCapture() = default;
    ~TPcapCapture();  // closes
    TPcapCapture(const TPcapCapture&) = delete;
    TPcapCapture& operator=(const TPcapCapture&) = delete;

    // Creates/truncates the file and writes the global header (magic a1b2c3d4 little-endian
    // 0xd4c3b2a1 on disk, v2.4, snaplen 65535, link type 250 = LINKTYPE_RTAC_SERIAL).
    // false and a message for the operator (Russian, naming the file) on failure.
    bool Open(const std::filesystem::path& path, std::string& error);
    void Close();
    bool IsOpen() const;
    // One record: the 12-byte RTAC serial header (timestamp seconds u32 BE, microseconds u32 BE,
    // event type u8: 0x01 sent / 0x02 received, control-line state u8 = 0, footer u16 = 0) then the bytes.
    // Thread-safe (a mutex); flushed after every record so the file grows while the console runs.
    void Record(bool sent, std::span<const uint8_t> bytes, std::chrono::system_clock::time_point at);
    uint64_t Records() const;

private:
    mutable std::mutex mutex_;
    std::ofstream out_;
    uint64_t records_ = 0;
};

}  // namespace kestrel
