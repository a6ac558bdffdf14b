#pragma once
// The soak benchmark's judgement, apart from the run so that it can be tested
// on made-up tables: what was sampled at each point of simulated time, and
// whether memory, handles and events held over the whole run.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace kestrel::bench {

struct TSoakSample {
    double Hour = 0;           // simulated time
    long RssKb = 0;            // resident memory; < 0: could not be read
    long Fds = 0;              // open handles; < 0: could not be read
    long ListSize = 0;         // the block's event list (journal fetch included)
    long ListKb = 0;           // the records of that list, in kB (kept by design)
    uint64_t Injected = 0;     // events the simulated block queued since the start
    uint64_t Received = 0;     // events the thread put into the list since the start
    uint64_t Pending = 0;      // still in the block's queue
    uint32_t Timeouts = 0;     // the block's link counters
    uint32_t ChecksumErrors = 0;
    bool LinkLost = false;
};

struct TSoakLimits {
    // Against the baseline sample, less what the event list's records grew:
    // the list keeps every event by design (up to its limit), so its records
    // are not a leak, and beyond a day they alone pass 2 %.
    double RssGrowthPercent = 2.0;
    double BaselineHour = 1.0;      // the first sample at or after this is the baseline
};

struct TSoakVerdict {
    bool Ok = false;
    long BaselineRssKb = 0;
    long MaxRssKb = 0;
    double RssGrowthPercent = 0;     // the judged figure: less the list's records
    double RawGrowthPercent = 0;     // as measured
    long FdGrowth = 0;
    std::vector<std::string> Failures;  // one line per broken rule
};

// `events` holds the last sample's exact accounting: true when the list, in
// order, is the journal fetched at the start followed by every injected event
// (checked by the caller, which has both sequences).
inline TSoakVerdict JudgeSoak(const std::vector<TSoakSample>& s, const TSoakLimits& limits, bool eventsInOrder)
{
    TSoakVerdict v;
    auto fail = [&v](const std::string& why) { v.Failures.push_back(why); };
    if (s.size() < 2) {
        fail("fewer than two samples");
        return v;
    }
    // Baseline: the first sample at or after the warm-up; the run must go on
    // past it, or nothing can be said about growth.
    size_t base = s.size();
    for (size_t i = 0; i < s.size(); ++i)
        if (s[i].Hour >= limits.BaselineHour) {
            base = i;
            break;
        }
    if (base + 1 >= s.size()) {
        fail("the run ends before any sample after the warm-up");
        return v;
    }
    char buf[160];
    v.BaselineRssKb = s[base].RssKb;
    v.MaxRssKb = s[base].RssKb;
    long maxNetKb = 0;
    bool rssRead = true;
    for (size_t i = base; i < s.size(); ++i) {
        v.MaxRssKb = std::max(v.MaxRssKb, s[i].RssKb);
        // Only what the list grew is excused; a list that shrank excuses nothing.
        const long listGrowth = std::max(0L, s[i].ListKb - s[base].ListKb);
        maxNetKb = std::max(maxNetKb, s[i].RssKb - s[base].RssKb - listGrowth);
        rssRead = rssRead && s[i].RssKb > 0;
    }
    if (!rssRead)
        fail("resident memory could not be read");
    else {
        const double base100 = 100.0 / static_cast<double>(v.BaselineRssKb);
        v.RawGrowthPercent = static_cast<double>(v.MaxRssKb - v.BaselineRssKb) * base100;
        v.RssGrowthPercent = static_cast<double>(maxNetKb) * base100;
        if (v.RssGrowthPercent > limits.RssGrowthPercent) {
            std::snprintf(buf, sizeof buf,
                          "resident memory grew %.2f %% after %.2f h beyond the event list's records (limit %.1f %%)",
                          v.RssGrowthPercent, s[base].Hour, limits.RssGrowthPercent);
            fail(buf);
        }
    }
    // Handles: none may stay open that were not open at the start.
    long maxFds = s.front().Fds;
    for (const TSoakSample& x : s) {
        if (x.Fds < 0) {
            fail("open handles could not be counted");
            break;
        }
        maxFds = std::max(maxFds, x.Fds);
    }
    v.FdGrowth = maxFds - s.front().Fds;
    if (v.FdGrowth > 0) {
        std::snprintf(buf, sizeof buf, "open handles grew by %ld", v.FdGrowth);
        fail(buf);
    }
    // Events: every sample's books balance (an event answered but not yet in
    // the list is the only slack, at most the one poll under way), and at the
    // end nothing is left and nothing was lost or added.
    for (const TSoakSample& x : s)
        if (x.Received > x.Injected || x.Injected - x.Received > x.Pending + 1) {
            std::snprintf(buf, sizeof buf,
                          "at %.2f h: %llu injected, %llu received, %llu pending do not add up", x.Hour,
                          static_cast<unsigned long long>(x.Injected), static_cast<unsigned long long>(x.Received),
                          static_cast<unsigned long long>(x.Pending));
            fail(buf);
            break;
        }
    const TSoakSample& last = s.back();
    if (last.Injected == 0)
        fail("no event was injected");
    if (last.Received != last.Injected || last.Pending != 0) {
        std::snprintf(buf, sizeof buf, "at the end %llu injected, %llu received, %llu still pending",
                      static_cast<unsigned long long>(last.Injected), static_cast<unsigned long long>(last.Received),
                      static_cast<unsigned long long>(last.Pending));
        fail(buf);
    }
    if (!eventsInOrder)
        fail("the event list is not the injected events in order");
    for (const TSoakSample& x : s)
        if (x.LinkLost) {
            std::snprintf(buf, sizeof buf, "the link was lost at %.2f h", x.Hour);
            fail(buf);
            break;
        }
    v.Ok = v.Failures.empty();
    return v;
}

}  // namespace kestrel::bench
