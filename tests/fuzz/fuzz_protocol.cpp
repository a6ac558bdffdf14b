// Response validation and event decoding under arbitrary answers: the input
// picks a command and then supplies, chunk by chunk, what the device answers
// to each request. Nothing may crash, read or write outside a buffer.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "link/ComPort.h"
#include "protocol/Protocol.h"

namespace {

using namespace kestrel;

class NoSleep final : public ISleeper {
public:
    void SleepMs(uint32_t) override {}
};

class Hooks final : public IUiHooks {
public:
    size_t Bytes = 0;
    void LogLine(const std::string& s) override { Bytes += s.size(); }
};

// Each write takes the next chunk of the input as the answer: a length byte,
// then that many bytes; a length byte above 0xF0 is a read error instead.
class FuzzDevice final : public ISerialDevice {
public:
    FuzzDevice(const uint8_t* d, size_t n) : data_(d), size_(n) {}
    uint32_t Open(int32_t) override { open_ = true; return 0; }
    void Close() override { open_ = false; }
    bool IsOpen() const override { return open_; }
    uint32_t ApplyLineSettings(const LineSettings&) override { return 0; }
    void ApplyTimeouts(const PortTimeouts&) override {}
    bool Read(uint8_t* buf, size_t n, size_t& got, uint32_t& err) override
    {
        got = 0;
        err = 0;
        while (got < n && pos_ < rx_.size())
            buf[got++] = rx_[pos_++];
        if (readError_) {
            readError_ = false;
            err = 1117;
            return false;
        }
        return true;
    }
    bool Write(const uint8_t*, size_t, uint32_t& err) override
    {
        err = 0;
        if (at_ >= size_)
            return true;  // silence from here on
        const uint8_t len = data_[at_++];
        if (len > 0xF0) {
            readError_ = true;
            return true;
        }
        for (size_t i = 0; i < len && at_ < size_; ++i)
            rx_.push_back(data_[at_++]);
        return true;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
    std::vector<uint8_t> rx_;
    size_t pos_ = 0;
    bool open_ = false;
    bool readError_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3)
        return 0;
    TEventData e;
    if (DecodeEventMessage(data, size, e)) {
        (void)EventListText(e);
        (void)EventListDate(e);
        (void)EventLogLines(e);
        (void)EventConsoleText(e);
    }

    static const int32_t kCodes[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23,
                                     101, 102, 103, 104, 105, 106, 107};
    const int32_t code = kCodes[data[0] % (sizeof kCodes / sizeof kCodes[0])];
    TGlobalState state;
    state.ConsoleOpen = data[1] & 1;
    state.Fcb = (data[1] >> 1) & 1;
    state.UirSegment = static_cast<uint8_t>(data[1] >> 2);  // 0..63, past the last segment too
    state.Cb(0)->Address = data[2];
    FuzzDevice dev(data + 3, size - 3);
    TComPort port(dev);
    NoSleep sleeper;
    Hooks hooks;
    TCbProtocol proto(state, port, sleeper, hooks);
    proto.OpenPortForCb(0);
    proto.Dispatch(0, code);
    proto.ClosePortForCb(0);
    return 0;
}
