#pragma once
// Time stamps for the traffic log: the PC time to the millisecond on a line,
// and the gap since the previous one. Shared by the service console window
// and kestrel-console.
#include <cstdint>
#include <functional>
#include <string>

namespace kestrel {

// A log line with the PC time to the millisecond ("14:03:07.042") and the
// milliseconds since the previous line ("+15 мс"; none for the first line,
// sincePrevMs < 0).
std::string Rs485StampedLine(const std::string& line, int64_t msOfDay, int64_t sincePrevMs);

// The PC's local time of day in milliseconds (0 .. 86 399 999).
int64_t LocalMsOfDay();

// A line of frame bytes as the traffic log writes them: "68; 03; 03; 68; ".
bool IsFrameBytesLine(const std::string& line);

// Stamps the lines of kestrel-console: every line gets the time; a line of
// frame bytes also gets the gap since the previous frame line, so the pace of
// the link shows and the text lines between frames do not reset it.
class TLineStamper {
public:
    explicit TLineStamper(std::function<int64_t()> msOfDay = LocalMsOfDay) : msOfDay_(std::move(msOfDay)) {}
    std::string Stamp(const std::string& line);

private:
    std::function<int64_t()> msOfDay_;
    int64_t lastFrameMs_ = -1;
};

}  // namespace kestrel
