#pragma once
// The simulated blocks served on a pseudo-terminal, in real time, for the
// utility and the console run as separate programs (POSIX only).
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "SimCb.h"
#include "SimScenario.h"
#include "SimWire.h"
#include "state/Clock.h"

namespace kestrel::sim {

struct TPtyServerOptions {
    std::vector<uint8_t> Addresses{1};
    int32_t Baud = 9600;
    uint32_t TurnaroundMs = 5;
    bool Trace = false;
    // Take the PC's speed from the terminal (as the PC set it) instead of
    // assuming it matches: a block at another speed then hears nothing, as
    // on a real line. (A pseudo-terminal does not keep parity or data bits.)
    // Without it each block hears the PC at its own speed, even after a
    // set-speed command the PC's configuration has not followed.
    bool CheckLine = false;
};

class TPtyServer final : public ISimHost {
public:
    TPtyServer(IClock& clock, const TPtyServerOptions& opt, FILE* out);
    ~TPtyServer() override;

    // Creates the pseudo-terminal in raw mode; `path` is its slave device.
    bool OpenPty(std::string& path, std::string& error);
    bool LoadScenario(const std::string& text, std::string& error);
    // Serves until `stop` is set or "quit" is typed. Lines typed on `inFd`
    // (-1: none) are scenario commands; their replies go to `out`.
    void Serve(const std::atomic<bool>& stop, int inFd);

    std::vector<TSimCb*> SimBlocks() override;
    void SetTurnaroundMs(uint32_t ms) override;
    uint32_t TurnaroundMs() const override;

private:
    uint64_t NowUs() const;
    void Print(const std::string& line);
    void OnTrace(const TTraceRecord& r);
    void HandleInput(const std::string& line);
    LineSettings PcLine() const;

    IClock& clock_;
    TPtyServerOptions opt_;
    FILE* out_;
    std::recursive_mutex mu_;
    std::vector<std::unique_ptr<TSimCb>> blocks_;
    TSimWire wire_;
    TSimScenario scenario_;
    int master_ = -1;
    uint64_t startUs_ = 0;
    std::string inBuf_;
};

// Where the settings store keeps "COMn" of "Software\KestrelUtilite\Ports":
// <root>/Software/KestrelUtilite/Ports/COMn, root from XDG_CONFIG_HOME or
// HOME. Empty when neither is set.
std::string PortMappingFile(const std::string& comName);
// "COM3" or "3" into "COM3"; empty when not a port name (1..255).
std::string NormalizeComName(const std::string& s);

}  // namespace kestrel::sim
