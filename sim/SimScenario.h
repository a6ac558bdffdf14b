#pragma once
// Scenario files and typed commands for the simulated blocks. One command
// per line; a line may be timed:
//
//   at TIME  COMMAND      once, TIME after the start (typed: after now)
//   in TIME  COMMAND      the same as at
//   every PERIOD [from TIME] [until TIME] COMMAND
//
// and may name its block with "cb ADDRESS" before the command (default: the
// first block). TIME is seconds ("90", "2.5"), with a unit ("500ms", "90s",
// "2m", "1h") or clock-like ("1:30", "1:02:03"). Untimed lines of a file run
// at the start. '#' starts a comment. The commands are listed by HelpText().
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "SimCb.h"

namespace kestrel::sim {

// What the scenario needs from whoever holds the blocks.
class ISimHost {
public:
    virtual ~ISimHost() = default;
    virtual std::vector<TSimCb*> SimBlocks() = 0;
    virtual void SetTurnaroundMs(uint32_t ms) = 0;
    virtual uint32_t TurnaroundMs() const = 0;
};

// Parses "90", "2.5", "500ms", "90s", "2m", "1h", "1:30", "1:02:03" into ms.
bool ParseDurationMs(const std::string& s, uint64_t& ms);

class TSimScenario {
public:
    TSimScenario(ISimHost& host, IClock& clock);

    // Checks every line first; on an error nothing is scheduled and `error`
    // reads "line N: ...". Times count from `originMs`.
    bool Load(const std::string& text, uint64_t originMs, std::string& error);
    // One typed line, times counted from now. `reply` is what to print.
    bool Command(const std::string& line, std::string& reply);
    // Runs every line that is due by now.
    void Advance();
    uint64_t NextDueMs() const;
    size_t Scheduled() const { return items_.size(); }
    bool QuitRequested() const { return quit_; }
    // Messages of scheduled lines that failed (a UIR not polled ...).
    void SetOutput(std::function<void(const std::string&)> f) { out_ = std::move(f); }

    static const char* HelpText();

private:
    struct TItem {
        uint64_t DueMs = 0;
        uint64_t PeriodMs = 0;  // 0: once
        uint64_t UntilMs = UINT64_MAX;
        std::vector<std::string> Words;
        int LineNo = 0;
        uint64_t Order = 0;
    };
    // Splits off the timing; false with `error` on a malformed timing.
    bool ParseLine(const std::string& line, uint64_t baseMs, bool& timed, TItem& item, std::string& error) const;
    bool Execute(const std::vector<std::string>& words, bool dry, std::string& reply);
    bool ExecuteOn(TSimCb& cb, const std::vector<std::string>& w, bool dry, std::string& reply);

    ISimHost& host_;
    IClock& clock_;
    std::vector<TItem> items_;
    uint64_t order_ = 0;
    bool quit_ = false;
    std::function<void(const std::string&)> out_;
};

}  // namespace kestrel::sim
