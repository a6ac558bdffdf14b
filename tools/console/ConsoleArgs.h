#pragma once
// Command line of kestrel-console, parsed apart from the program so that it
// can be tested without a device.
#include <cstdint>
#include <string>
#include <vector>

namespace kestrel::console {

enum class Action { Code, Journal, Watch, Compare, Snapshot, Restore, WalkTest };

struct Options {
    // Port: a number (COMn), or a device path used in place of COM1.
    int32_t PortNumber = 1;
    std::string PortPath;
    int32_t Baud = 9600;
    int32_t DataBits = 8;
    int32_t Parity = 2;
    int32_t StopBits = 0;
    int32_t Address = 1;
    bool Fcb = false;
    int32_t Segment = 0;
    std::vector<uint8_t> Data;  // staged CmdData bytes (at most 9)
    bool HaveData = false;
    Action What = Action::Code;
    int32_t Code = 0;
    bool Help = false;  // --help or -h anywhere: print Usage() and nothing else
    // Every frame of the run into this pcap file (empty: none).
    std::string CapturePath;
    // Every printed line prefixed with the PC time, frame lines also with
    // the gap since the previous frame.
    bool Timestamps = false;
    // compare / restore: the configuration file; snapshot: the file written.
    std::string File;
    // compare / restore: block N of the file (1-based); 0: the first whose
    // address is the console's.
    int32_t CbNumber = 0;
    // walktest: the test's file, rewritten after every result (empty: none).
    std::string OutPath;
};

// false with a message in `error` for bad usage. --help or -h anywhere wins
// over everything else: true with Help set.
bool ParseArgs(const std::vector<std::string>& args, Options& out, std::string& error);

// Request name or code -> code; 0 when it names nothing.
int32_t CodeOf(const std::string& nameOrNumber);

// The usage text: on standard output for --help (exit 0), after the error on
// standard error for bad usage (exit 2).
const char* Usage();

}  // namespace kestrel::console
