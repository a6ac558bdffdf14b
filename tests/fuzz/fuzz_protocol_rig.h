#pragma once
// The protocol fuzzer's model, device and hooks, kept from one input to the
// next. A new block record converts the texts of its 43 UIRs, which cost more
// than the exchanges an input makes; so the model is built once and put back
// before every input to what a new one holds, and every input still runs as
// on a new model (a crash found replays on its own). The port and the
// protocol object hold nothing heavy and are made new for every input.
//
// Input: byte 0 picks the command, byte 1 the console (bit 0), Fcb (bit 1)
// and UirSegment (bits 2..7, 0..63, past the last segment too), byte 2 the
// block's address; the rest is what the device answers, chunk by chunk.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "link/ComPort.h"
#include "protocol/Protocol.h"

// The reset's own branches depend on what the input before left behind: kept
// out of the coverage, they would show the fuzzer features no input has.
#if defined(__clang__)
#define KESTREL_FUZZ_NO_COVERAGE __attribute__((no_sanitize("coverage")))
#else
#define KESTREL_FUZZ_NO_COVERAGE
#endif

namespace kestrel::fuzz {

class NoSleep final : public ISleeper {
public:
    void SleepMs(uint32_t) override {}
};

// The traffic log: counted always, kept only when asked (the fuzzer does not).
class LogHooks final : public IUiHooks {
public:
    bool Keep = false;
    size_t Bytes = 0;
    std::string Text;  // every line, each ended by '\n', while Keep is set
    void Reset()
    {
        Bytes = 0;
        Text.clear();
    }
    void LogLine(const std::string& s) override
    {
        Bytes += s.size();
        if (Keep) {
            Text += s;
            Text += '\n';
        }
    }
};

// Each write takes the next chunk of the input as the answer: a length byte,
// then that many bytes; a length byte above 0xF0 is a read error instead.
class FuzzDevice final : public ISerialDevice {
public:
    bool Keep = false;
    std::vector<uint8_t> Written;  // every request frame, one after the other, while Keep is set

    void Load(const uint8_t* d, size_t n)
    {
        data_ = d;
        size_ = n;
        at_ = 0;
        rx_.clear();
        pos_ = 0;
        open_ = false;
        readError_ = false;
        Written.clear();
    }
    uint32_t Open(int32_t) override
    {
        open_ = true;
        return 0;
    }
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
    bool Write(const uint8_t* buf, size_t n, uint32_t& err) override
    {
        err = 0;
        if (Keep)
            Written.insert(Written.end(), buf, buf + n);
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
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
    size_t at_ = 0;
    std::vector<uint8_t> rx_;
    size_t pos_ = 0;
    bool open_ = false;
    bool readError_ = false;
};

class ProtocolRig {
public:
    static constexpr int32_t kCodes[] = {1,  2,  3,  4,  5,  6,  7,  8,   9,   10,  11,  12,  13,  14,  15,
                                         16, 17, 18, 19, 20, 21, 22, 23,  101, 102, 103, 104, 105, 106, 107};

    ProtocolRig() = default;
    ProtocolRig(const ProtocolRig&) = delete;
    ProtocolRig& operator=(const ProtocolRig&) = delete;

    // The dispatched command's result; 0 for an input under 3 bytes, which runs nothing.
    int Run(const uint8_t* data, size_t size)
    {
        if (size < 3)
            return 0;
        Reset();
        const int32_t code = kCodes[data[0] % (sizeof kCodes / sizeof kCodes[0])];
        state_.ConsoleOpen = data[1] & 1;
        state_.Fcb = (data[1] >> 1) & 1;
        state_.UirSegment = static_cast<uint8_t>(data[1] >> 2);
        state_.Cb(0)->Address = data[2];
        dev_.Load(data + 3, size - 3);
        TComPort port(dev_);
        TCbProtocol proto(state_, port, sleeper_, hooks_);
        proto.OpenPortForCb(0);
        const int r = proto.Dispatch(0, code);
        proto.ClosePortForCb(0);
        return r;
    }

    TGlobalState& State() { return state_; }
    FuzzDevice& Device() { return dev_; }
    LogHooks& Hooks() { return hooks_; }

private:
    // Most fields are as new already, and a load costs less than a store.
    template <class T>
    KESTREL_FUZZ_NO_COVERAGE static void Put(Atom<T>& to, const Atom<T>& from)
    {
        const T v = from.load();
        if (to.load() != v)
            to = v;
    }

    // Back to a new model wherever a command, the link or Run writes.
    KESTREL_FUZZ_NO_COVERAGE void Reset()
    {
        const TGlobalState& f = fresh_;
        Put(state_.ConsoleOpen, f.ConsoleOpen);
        Put(state_.Fcb, f.Fcb);
        Put(state_.UirSegment, f.UirSegment);
        for (int i = 0; i < kCmdDataSize; ++i)
            Put(state_.CmdData[i], f.CmdData[i]);
        ResetRecord(*state_.Cb(0), *f.Cb(0));
        hooks_.Reset();
    }

    KESTREL_FUZZ_NO_COVERAGE void ResetRecord(TCbData& to, const TCbData& from)
    {
        // The texts are left alone: only the windows and the configuration
        // reader write them, and copying them back took as long as a command.
        for (int i = 0; i < kUirCount; ++i) {
            TUirData& u = to.Uir[i];
            const TUirData& f = from.Uir[i];
            for (Flag TUirData::*flag :
                 {&TUirData::Present, &TUirData::OutputEnabled, &TUirData::PollEnabled, &TUirData::InputControl1,
                  &TUirData::InputControl2, &TUirData::InputControl3, &TUirData::ChArc1, &TUirData::ChArc2,
                  &TUirData::ChArc3, &TUirData::ChFault1, &TUirData::ChFault2, &TUirData::ChFault3})
                Put(u.*flag, f.*flag);
            Put(u.Number, f.Number);
            Put(u.InputFunction1, f.InputFunction1);
            Put(u.InputFunction2, f.InputFunction2);
            Put(u.InputFunction3, f.InputFunction3);
            Put(to.UirLinkLost[i], from.UirLinkLost[i]);
        }
        for (int k = 0; k < 4; ++k)
            for (int m = 0; m < 4; ++m)
                Put(to.FuncTable[k][m], from.FuncTable[k][m]);
        for (size_t i = 0; i < to.MtzActive.size(); ++i)
            Put(to.MtzActive[i], from.MtzActive[i]);
        for (Flag TCbData::*flag :
             {&TCbData::MtzWait, &TCbData::JournalError, &TCbData::FuncReadError, &TCbData::FuncWriteError,
              &TCbData::ResetError, &TCbData::UirReadError, &TCbData::UirWriteError, &TCbData::AddressError,
              &TCbData::SpeedError, &TCbData::ClearJournalError, &TCbData::ClockReadError, &TCbData::ClockWriteError,
              &TCbData::FuncTablesChanged, &TCbData::UirCfgChanged, &TCbData::FirstPollPending, &TCbData::Enabled,
              &TCbData::LinkLost})
            Put(to.*flag, from.*flag);
        for (Atom<uint8_t> TCbData::*field : {&TCbData::ClockDay, &TCbData::ClockMonth, &TCbData::ClockHour,
                                               &TCbData::ClockMinute, &TCbData::ClockSecond, &TCbData::OutputsState,
                                               &TCbData::Address, &TCbData::PortNumber})
            Put(to.*field, from.*field);
        for (Atom<uint32_t> TCbData::*field : {&TCbData::ClockYear, &TCbData::Baud, &TCbData::LastPortError,
                                                &TCbData::FramesSent, &TCbData::AnswersReceived,
                                                &TCbData::ChecksumErrors, &TCbData::Timeouts})
            Put(to.*field, from.*field);
        for (Atom<int32_t> TCbData::*field : {&TCbData::DataBits, &TCbData::Parity, &TCbData::StopBits,
                                               &TCbData::FailCount, &TCbData::FailLimit, &TCbData::NewEventCount})
            Put(to.*field, from.*field);
        Put(to.UrovTimeMs, from.UrovTimeMs);
        // The posted-request slot is left alone too: nothing below the
        // acquisition thread posts or takes a request.
        to.Events.Clear();
        to.Events.SetLimit(from.Events.Limit());
    }

    const TGlobalState fresh_;  // never run: what a new model holds
    TGlobalState state_;
    FuzzDevice dev_;
    NoSleep sleeper_;
    LogHooks hooks_;
};

}  // namespace kestrel::fuzz
