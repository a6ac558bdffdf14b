#pragma once
// The event record and the per-CB event list. The list is filled on the
// acquisition thread and walked by the windows, so every operation takes the
// list's own lock and a walk sees the list as it was at one moment.
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

namespace kestrel {

struct TEventData {
    uint8_t Code = 0;
    uint8_t UirAddress = 0;    // 1..43 for 0xA1-0xA3 and 0xE0-0xE3
    uint8_t Outputs = 0;       // 6-bit outputs state for 0xC0
    uint8_t Interval = 0;      // 0..63 ms for 0xA1-0xA3
    uint16_t Milliseconds = 0;
    uint8_t Seconds = 0;
    uint8_t Minutes = 0;
    uint8_t Hours = 0;
    uint8_t Day = 0;
    uint8_t Month = 0;
    uint8_t Year = 0;          // within the century; shown as 2000 + Year

    friend bool operator==(const TEventData&, const TEventData&) = default;
};

class TKestrelEvents {
public:
    // The most events a list keeps in memory. Beyond it the oldest (those at
    // the back) are dropped; the newest, at the front, always stay, so a reset
    // at the head still clears the alarms. 86 400 is a whole day of a busy
    // installation at one event a second, about 1 MB per block; a block
    // that floods the link can no longer exhaust the memory.
    static constexpr int32_t kDefaultLimit = 86400;

    TKestrelEvents() = default;
    TKestrelEvents(const TKestrelEvents&) = delete;
    TKestrelEvents& operator=(const TKestrelEvents&) = delete;

    // false (list unchanged) when memory cannot be had. A full list drops
    // its oldest event, which for an appended (older) record is that record.
    bool Append(const TEventData& e);
    // A position at or beyond the count appends; a negative one counts as 0.
    // A full list drops its oldest event.
    bool InsertAt(const TEventData& e, int32_t position);
    // The most events kept (at least 1); a lower limit drops the oldest now.
    void SetLimit(int32_t limit);
    int32_t Limit() const;
    void Clear();
    bool SetCursor(int32_t index);
    // A copy of the element at the cursor; a zeroed record on an empty list.
    TEventData GetCurrent() const;
    int32_t Count() const;
    int32_t Cursor() const;

    // A copy of element i; false when i is not an index of the list.
    bool At(int32_t index, TEventData& out) const;
    // A consistent copy of the whole list, front (newest) first.
    std::vector<TEventData> Snapshot() const;
    // The same, with the number of events ever inserted at the front (taken
    // at the same moment). It only grows, also while a full list drops its
    // oldest events, so a watcher can tell how many new events came.
    std::vector<TEventData> Snapshot(uint64_t& frontInserts) const;
    // The events inserted at the front since the count was `since`, oldest
    // first (at most those still in the list), and the count now: a watcher
    // takes what came without copying the whole list.
    std::vector<TEventData> NewerThan(uint64_t since, uint64_t& frontInserts) const;
    // Walk from the front under the list's lock until the visitor returns false.
    // The visitor must not touch this list.
    void Walk(const std::function<bool(const TEventData&)>& visit) const;

private:
    // Drops from the back down to the limit; the lock is held.
    void TrimLocked();

    mutable std::mutex mutex_;
    std::deque<TEventData> items_;
    int32_t cursor_ = 0;
    int32_t limit_ = kDefaultLimit;
    uint64_t frontInserts_ = 0;
};

}  // namespace kestrel
