#pragma once
// The commissioning walk-test of one block: every monitored input of the
// present, polled UIRs is flashed; each arc the block reports is checked
// against the outputs its function tables give for that input's function
// in the MTZ mode in force. Plain values only: the events come from
// whoever listens to the block (TEventTap over the list the acquisition
// thread fills, or the console's own event cycles), so the test adds no
// traffic. Times are the caller's (PC milliseconds since the epoch).
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "state/Events.h"
#include "state/Model.h"

namespace kestrel {

enum class TInputVerdict { Untested, Passed, Failed };

struct TInputResult {
    int Uir = 0;            // 1..43
    int Input = 0;          // 1..3
    bool Monitored = false; // one of the inputs the test expects
    TInputVerdict Verdict = TInputVerdict::Untested;
    std::string Reason;     // UTF-8, empty for a pass
    int Flashes = 0;
    int64_t PcMs = 0;       // when the arc was seen
    std::string BlockTime;  // the block's time of the arc, "11.12.2026 15:52:10.120"
    int IntervalMs = 0;
    int Mode = 0;           // 0 no MTZ / MTZ-v, 1..3
    int Function = 0;
    uint8_t Predicted = 0;  // outputs 1..6 the tables give (with those already on)
    uint8_t Reported = 0;
    bool HaveReported = false;
    bool Fault = false;     // the block reported the sensor or the UIR lost during the test
};

struct TWalkSummary {
    int Monitored = 0, Passed = 0, Failed = 0, Untested = 0, Faults = 0;
};

// What one event decided, for the list of last results.
struct TWalkNote {
    int Uir = 0, Input = 0;  // 0: the block (a reset, an MTZ mode)
    TInputVerdict Verdict = TInputVerdict::Untested;
    std::string Text;        // UTF-8
};

class TWalkTest {
public:
    // The time the block is given to report its outputs after an arc.
    static constexpr int64_t kOutputsLimitMs = 3000;

    TWalkTest() = default;
    // From the block's settings (the file's, checked against the block).
    TWalkTest(const TCbSettings& settings, int blockNumber, const std::string& fingerprint, int64_t startMs);

    // Every event of the block in the order it came, with the PC time it was seen.
    std::vector<TWalkNote> OnEvent(const TEventData& e, int64_t pcMs);
    // Arcs whose outputs did not come within the limit.
    std::vector<TWalkNote> OnTime(int64_t pcMs);

    const TInputResult& Result(int uir, int input) const;
    TWalkSummary Summary() const;
    // Every monitored input passed and none reported a fault.
    bool AllPassed() const;
    int Mode() const { return mode_; }
    bool Pending() const { return pendingUir_ != 0; }

    // Ends the test (an arc still waiting fails for lack of outputs).
    std::vector<TWalkNote> Finish(int64_t pcMs);
    bool Finished() const { return endMs_ != 0; }

    // The test's file: UTF-8 text, every result as it stands; replaced
    // atomically after each result, so a crash loses at most the event in
    // flight. 0 written; negative when it could not be.
    std::string Serialize() const;
    static bool Parse(const std::string& text, TWalkTest& out, std::string& why);
    int SaveTo(const std::string& pathUtf8) const;
    static bool LoadFrom(const std::string& pathUtf8, TWalkTest& out, std::string& why);

    const TCbSettings& Settings() const { return settings_; }
    int BlockNumber() const { return block_; }
    const std::string& Fingerprint() const { return fingerprint_; }
    int64_t StartMs() const { return startMs_; }
    int64_t EndMs() const { return endMs_; }

    // "11.12.2026 15:52:10" in the PC's local time; ".mmm" added when asked.
    static std::string PcTimeText(int64_t ms, bool millis = false);
    static std::string BlockTimeText(const TEventData& e);

private:
    TInputResult& At(int uir, int input);
    TWalkNote Decide(const TEventData* outputs);

    TCbSettings settings_;
    int block_ = 1;
    std::string fingerprint_;
    int64_t startMs_ = 0, endMs_ = 0;
    std::array<TInputResult, kUirCount * 3> results_{};
    int mode_ = 0;
    uint8_t latched_ = 0;  // outputs on since the last reset
    // The arc waiting for its outputs event.
    int pendingUir_ = 0, pendingInput_ = 0;
    int64_t pendingMs_ = 0;
    TInputResult pending_;
};

// Takes the events the acquisition thread puts at the front of a block's
// list, oldest first, from the moment the tap is made.
class TEventTap {
public:
    explicit TEventTap(const TKestrelEvents& list);
    std::vector<TEventData> Take();

private:
    const TKestrelEvents& list_;
    uint64_t seen_ = 0;
};

}  // namespace kestrel
