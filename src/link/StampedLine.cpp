#include "link/StampedLine.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace kestrel {

namespace {

constexpr int64_t kMsPerDay = 86400000;

bool IsUpperHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

}  // namespace

std::string Rs485StampedLine(const std::string& line, int64_t msOfDay, int64_t sincePrevMs)
{
    char buf[48];
    const int64_t ms = ((msOfDay % kMsPerDay) + kMsPerDay) % kMsPerDay;
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d ", static_cast<int>(ms / 3600000),
                  static_cast<int>(ms / 60000 % 60), static_cast<int>(ms / 1000 % 60),
                  static_cast<int>(ms % 1000));
    std::string out = buf;
    if (sincePrevMs >= 0) {
        out += '+';
        out += std::to_string(sincePrevMs);
        out += " мс ";
    }
    out += line;
    return out;
}

int64_t LocalMsOfDay()
{
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t t = system_clock::to_time_t(now);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &t);
#else
    localtime_r(&t, &local);
#endif
    const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    return (int64_t{local.tm_hour} * 3600 + local.tm_min * 60 + local.tm_sec) * 1000 + (ms < 0 ? ms + 1000 : ms);
}

bool IsFrameBytesLine(const std::string& line)
{
    if (line.empty() || line.size() % 4 != 0)
        return false;
    for (size_t i = 0; i < line.size(); i += 4)
        if (!IsUpperHex(line[i]) || !IsUpperHex(line[i + 1]) || line[i + 2] != ';' || line[i + 3] != ' ')
            return false;
    return true;
}

std::string TLineStamper::Stamp(const std::string& line)
{
    const int64_t ms = msOfDay_();
    int64_t since = -1;
    if (IsFrameBytesLine(line)) {
        // Across midnight the time of day starts again; the gap does not.
        if (lastFrameMs_ >= 0)
            since = ((ms - lastFrameMs_) % kMsPerDay + kMsPerDay) % kMsPerDay;
        lastFrameMs_ = ms;
    }
    return Rs485StampedLine(line, ms, since);
}

}  // namespace kestrel
