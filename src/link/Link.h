#pragma once
// One exchange with a central block: build the request frame, write it, wait
// the time the line speed needs, read and judge the answer by its response
// profile, keep the CB's link bookkeeping and, while the service console is
// open, write the traffic log. Also the CB-level open and close of the port.
#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "link/ComPort.h"
#include "state/Clock.h"
#include "state/Model.h"
#include "state/UiHooks.h"

namespace kestrel {

class TPcapCapture;

// The request and the answer share one buffer of this size; no answer is
// ever read past it.
constexpr size_t kFrameBufferSize = 68;
constexpr uint8_t kMaxReceivedL = 66;

// Exchange's result while the link is stopped: nothing was sent.
constexpr int kExchangeStopped = -9;

enum class TProfile {
    Acknowledge,      // first byte 0xE5
    WriteAcknowledge, // as Acknowledge, bad first byte: "Ошибка контрольной суммы."
    Data,             // long-frame answer with data
    DataOrNothing,    // 0xE5 (nothing to send) or a long frame (journal reads, event poll)
    LinkStatus,       // short frame 0x10 C A CS 0x16
    NoReplyRead,      // one read, not examined
    NoReply,          // no read at all
};

// Which DataOrNothing flavour: the two differ in texts and in how a first byte
// other than 0xE5 and 0x68 counts.
enum class TDataOrNothingKind { Journal, Poll };

struct TExchangePlan {
    std::vector<uint8_t> Frame;          // the whole request frame, check sum included
    uint32_t WaitBasis = 25;             // n of the post-write wait
    bool PollWait = false;               // m = 8 from 19200 bit/s
    uint32_t ExtraWaitMs = 0;            // sleeps after the wait (stop-clock: 20)
    TProfile Profile = TProfile::Acknowledge;
    size_t ReadLength = 5;               // first read of Acknowledge-type profiles
    // Fixed texts (UTF-8), not strings: a plan is made for every exchange
    // and is logged only when something goes wrong.
    const char* BadText = "";            // bad-acknowledge or check-sum text
    const char* ExceptionText = "Ошибка выполнения команды.";
    TDataOrNothingKind Kind = TDataOrNothingKind::Journal;
    // Data bytes (after C, A, CI) the command reads; a shorter answer is
    // rejected with -5 and nothing is stored.
    size_t MinData = 0;
    // The command's own failure flag on the CB record, or nullptr.
    Flag TCbData::*FailFlag = nullptr;
};

// What a valid long-frame answer brought.
struct TAnswer {
    uint8_t C = 0;                       // received control field
    std::span<const uint8_t> Data;       // bytes after C, A and CI, up to the check sum
};

class TLink {
public:
    TLink(TGlobalState& state, TComPort& port, ISleeper& sleeper, IUiHooks& hooks);

    // Open the port with the CB's line settings: 0, or -1 .. -8 (see the .cpp).
    int OpenPortForCb(int32_t cb);
    // 0; -2 for a bad CB index; -1 on an exception.
    int ClosePortForCb(int32_t cb);

    // Runs one exchange. On a valid answer the CB's success is counted, its
    // failure flag cleared and `onValid` (when given) decides the result; it
    // gets the answer (empty for the profiles without data). Without it the
    // result is the profile's (0, or 1 for a received long frame).
    using ValidHandler = std::function<int(const TAnswer&)>;
    int Exchange(int32_t cb, const TExchangePlan& plan, const ValidHandler& onValid = {});

    // While stopped, Exchange sends nothing and returns kExchangeStopped
    // (nothing counted), so a long command ends between two exchanges. Set
    // from any thread: the console's second close, the program's exit.
    void SetStopped(bool on) { stopped_.store(on); }
    bool Stopped() const { return stopped_.load(); }

    // Capture every frame into a pcap file (nullptr = off). The capture must
    // outlive its use here; it may be switched from another thread.
    void SetCapture(TPcapCapture* capture);

    // The traffic log: one line to the console, only while it is open.
    void Log(const std::string& utf8);
    // A fixed text becomes a string only when it is logged.
    void Log(const char* utf8);
    bool Logging() const;

    TGlobalState& State() { return state_; }
    TComPort& Port() { return port_; }
    ISleeper& Sleeper() { return sleeper_; }
    IUiHooks& Hooks() { return hooks_; }

    // Frame helpers.
    static uint8_t CheckSum(std::span<const uint8_t> bytes);
    static std::vector<uint8_t> ShortFrame(uint8_t c, uint8_t a);
    static std::vector<uint8_t> LongFrame(uint8_t c, uint8_t a, uint8_t ci, std::span<const uint8_t> data = {});
    // The post-write wait in ms for a speed and a wait basis; 0 for a speed
    // outside the table.
    static uint32_t PostWriteWaitMs(int32_t speed, uint32_t basis, bool pollWait = false);
    // "68; 03; ..." : every byte as two upper-case hex digits and "; ".
    static std::string HexBytes(std::span<const uint8_t> bytes);

private:
    int Judge(TCbData& rec, const TExchangePlan& plan, const ValidHandler& onValid);
    int JudgeAcknowledge(TCbData& rec, const TExchangePlan& plan, const ValidHandler& onValid);
    int JudgeData(TCbData& rec, const TExchangePlan& plan, const ValidHandler& onValid);
    int JudgeLinkStatus(TCbData& rec, const TExchangePlan& plan, const ValidHandler& onValid);
    // Reads the long-frame body after a header that passed; -1 .. -6 or the result.
    int ReadBody(TCbData& rec, const TExchangePlan& plan, const ValidHandler& onValid, uint8_t l);
    int Accept(TCbData& rec, const TExchangePlan& plan, const ValidHandler& onValid, const TAnswer& a, int dflt);
    size_t ReadInto(TCbData& rec, uint8_t* at, size_t n, bool& failed);
    int ReadFirst(TCbData& rec, size_t n, size_t& got);
    void CountOutcome(TCbData& rec, const TExchangePlan& plan, int result);
    void CaptureAnswer();

    TGlobalState& state_;
    TComPort& port_;
    ISleeper& sleeper_;
    IUiHooks& hooks_;
    std::array<uint8_t, kFrameBufferSize> buf_{};
    std::atomic<TPcapCapture*> capture_{nullptr};
    std::atomic<bool> stopped_{false};
    // This exchange: a read returned fewer bytes than the frame needs.
    bool short_ = false;
    // This exchange's received bytes for the capture, and when the first came.
    std::vector<uint8_t> rx_;
    std::chrono::system_clock::time_point rxAt_{};
};

// "Кадров: 12, ответов: 11, ошибок КС: 0, тайм-аутов: 1, сбоев подряд: 1, связь: есть" ("связь: потеряна" when LinkLost)
std::string LinkCountersText(const TCbData& cb);

}  // namespace kestrel
