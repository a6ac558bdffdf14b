#include "SimScenario.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <limits>
#include <sstream>

namespace kestrel::sim {

namespace {

std::vector<std::string> Words(const std::string& line)
{
    std::string s = line;
    if (const auto hash = s.find('#'); hash != std::string::npos)
        s.resize(hash);
    std::istringstream in(s);
    std::vector<std::string> w;
    for (std::string t; in >> t;)
        w.push_back(t);
    return w;
}

bool ParseInt(const std::string& s, long long& v)
{
    if (s.empty())
        return false;
    const char* b = s.data();
    const char* e = s.data() + s.size();
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        b += 2;
        base = 16;
    }
    const auto r = std::from_chars(b, e, v, base);
    return r.ec == std::errc() && r.ptr == e;
}

bool IntIn(const std::string& s, long long lo, long long hi, int& out)
{
    long long v;
    if (!ParseInt(s, v) || v < lo || v > hi)
        return false;
    out = static_cast<int>(v);
    return true;
}

bool OnOff(const std::string& s, bool& v)
{
    if (s == "on" || s == "1" || s == "yes") { v = true; return true; }
    if (s == "off" || s == "0" || s == "no") { v = false; return true; }
    return false;
}

bool Fail(std::string& reply, const std::string& msg)
{
    reply = "error: " + msg;
    return false;
}

// "5", "1-8", "1,3,5-7" into UIR numbers 1..43.
bool ParseUirList(const std::string& s, std::vector<int>& out)
{
    std::istringstream in(s);
    for (std::string part; std::getline(in, part, ',');) {
        int a, b;
        const auto dash = part.find('-');
        if (dash == std::string::npos) {
            if (!IntIn(part, 1, TSimCb::kUirCount, a))
                return false;
            b = a;
        } else if (!IntIn(part.substr(0, dash), 1, TSimCb::kUirCount, a) ||
                   !IntIn(part.substr(dash + 1), 1, TSimCb::kUirCount, b) || b < a) {
            return false;
        }
        for (int u = a; u <= b; ++u)
            out.push_back(u);
    }
    return !out.empty();
}

}  // namespace

bool ParseDurationMs(const std::string& s, uint64_t& ms)
{
    // Ten years is plenty for a run; beyond it the number is a typo.
    constexpr double kMaxSeconds = 10.0 * 366 * 86400;
    if (s.empty())
        return false;
    if (s.find(':') != std::string::npos) {
        std::istringstream in(s);
        std::vector<std::string> parts;
        for (std::string p; std::getline(in, p, ':');)
            parts.push_back(p);
        if (parts.size() < 2 || parts.size() > 3)
            return false;
        double total = 0;
        for (size_t i = 0; i < parts.size(); ++i) {
            char* end = nullptr;
            const double v = std::strtod(parts[i].c_str(), &end);
            if (parts[i].empty() || *end != '\0' || !(v >= 0 && v <= kMaxSeconds) ||
                (i + 1 < parts.size() && v != static_cast<long long>(v)))
                return false;
            total = total * 60 + v;
        }
        if (total > kMaxSeconds)
            return false;
        ms = static_cast<uint64_t>(total * 1000 + 0.5);
        return true;
    }
    size_t unitAt = s.size();
    while (unitAt > 0 && std::isalpha(static_cast<unsigned char>(s[unitAt - 1])))
        --unitAt;
    const std::string num = s.substr(0, unitAt), unit = s.substr(unitAt);
    double scale;
    if (unit.empty() || unit == "s") scale = 1000;
    else if (unit == "ms") scale = 1;
    else if (unit == "m" || unit == "min") scale = 60000;
    else if (unit == "h") scale = 3600000;
    else return false;
    char* end = nullptr;
    const double v = std::strtod(num.c_str(), &end);
    if (num.empty() || *end != '\0' || !(v >= 0 && v * scale <= kMaxSeconds * 1000))
        return false;
    ms = static_cast<uint64_t>(v * scale + 0.5);
    return true;
}

TSimScenario::TSimScenario(ISimHost& host, IClock& clock) : host_(host), clock_(clock) {}

bool TSimScenario::ParseLine(const std::string& line, uint64_t baseMs, bool& timed, TItem& item, std::string& error) const
{
    std::vector<std::string> w = Words(line);
    timed = false;
    item = TItem{};
    if (w.empty()) {
        item.Words = std::move(w);
        return true;
    }
    size_t i = 0;
    auto needTime = [&](uint64_t& out) {
        if (i >= w.size() || !ParseDurationMs(w[i], out)) {
            error = "bad time" + (i < w.size() ? " \"" + w[i] + "\"" : std::string());
            return false;
        }
        ++i;
        return true;
    };
    if (w[0] == "at" || w[0] == "in") {
        uint64_t t;
        i = 1;
        if (!needTime(t))
            return false;
        timed = true;
        item.DueMs = baseMs + t;
    } else if (w[0] == "every") {
        uint64_t period, from = 0;
        i = 1;
        if (!needTime(period))
            return false;
        if (period == 0) {
            error = "a period of 0";
            return false;
        }
        from = period;
        if (i < w.size() && w[i] == "from") {
            ++i;
            if (!needTime(from))
                return false;
        }
        if (i < w.size() && w[i] == "until") {
            ++i;
            uint64_t until;
            if (!needTime(until))
                return false;
            item.UntilMs = baseMs + until;
        }
        timed = true;
        item.DueMs = baseMs + from;
        item.PeriodMs = period;
    }
    item.Words.assign(w.begin() + static_cast<std::ptrdiff_t>(i), w.end());
    if (timed && item.Words.empty()) {
        error = "a time without a command";
        return false;
    }
    return true;
}

bool TSimScenario::Load(const std::string& text, uint64_t originMs, std::string& error)
{
    std::vector<TItem> now, later;
    std::istringstream in(text);
    int lineNo = 0;
    for (std::string line; std::getline(in, line);) {
        ++lineNo;
        bool timed;
        TItem item;
        std::string why;
        if (!ParseLine(line, originMs, timed, item, why)) {
            error = "line " + std::to_string(lineNo) + ": " + why;
            return false;
        }
        if (item.Words.empty())
            continue;
        if (item.Words[0] == "quit") {
            error = "line " + std::to_string(lineNo) + ": quit is for typed commands only";
            return false;
        }
        std::string reply;
        if (!Execute(item.Words, true, reply)) {
            error = "line " + std::to_string(lineNo) + ": " + reply;
            return false;
        }
        item.LineNo = lineNo;
        (timed ? later : now).push_back(std::move(item));
    }
    for (auto& item : now) {
        std::string reply;
        if (!Execute(item.Words, false, reply) && out_)
            out_("line " + std::to_string(item.LineNo) + ": " + reply);
    }
    for (auto& item : later) {
        item.Order = order_++;
        items_.push_back(std::move(item));
    }
    return true;
}

bool TSimScenario::Command(const std::string& line, std::string& reply)
{
    bool timed;
    TItem item;
    std::string why;
    if (!ParseLine(line, clock_.NowMs(), timed, item, why))
        return Fail(reply, why);
    if (item.Words.empty()) {
        reply.clear();
        return true;
    }
    if (!timed)
        return Execute(item.Words, false, reply);
    if (!Execute(item.Words, true, reply))
        return false;
    item.Order = order_++;
    items_.push_back(std::move(item));
    reply = "scheduled";
    return true;
}

uint64_t TSimScenario::NextDueMs() const
{
    uint64_t next = std::numeric_limits<uint64_t>::max();
    for (const auto& i : items_)
        next = std::min(next, i.DueMs);
    return next;
}

void TSimScenario::Advance()
{
    const uint64_t now = clock_.NowMs();
    for (;;) {
        auto due = items_.end();
        for (auto it = items_.begin(); it != items_.end(); ++it)
            if (it->DueMs <= now && (due == items_.end() || it->DueMs < due->DueMs ||
                                     (it->DueMs == due->DueMs && it->Order < due->Order)))
                due = it;
        if (due == items_.end())
            return;
        const std::vector<std::string> words = due->Words;
        const int lineNo = due->LineNo;
        if (due->PeriodMs > 0 && due->DueMs + due->PeriodMs <= due->UntilMs) {
            due->DueMs += due->PeriodMs;
            due->Order = order_++;
        } else {
            items_.erase(due);
        }
        std::string reply;
        const bool ok = Execute(words, false, reply);
        if (out_ && (!ok || reply.rfind("ignored", 0) == 0))
            out_((lineNo > 0 ? "line " + std::to_string(lineNo) + ": " : std::string()) + reply);
    }
}

bool TSimScenario::Execute(const std::vector<std::string>& words, bool dry, std::string& reply)
{
    reply = "ok";
    std::vector<TSimCb*> blocks = host_.SimBlocks();
    std::vector<std::string> w = words;
    TSimCb* target = blocks.empty() ? nullptr : blocks.front();
    if (!w.empty() && w[0] == "cb") {
        int addr;
        if (w.size() < 3 || !IntIn(w[1], 0, 255, addr))
            return Fail(reply, "cb ADDRESS COMMAND ...");
        target = nullptr;
        for (TSimCb* cb : blocks)
            if (cb->Address() == addr)
                target = cb;
        if (!target)
            return Fail(reply, "no block at address " + w[1]);
        w.erase(w.begin(), w.begin() + 2);
    }
    const std::string& c = w[0];
    if (c == "help") {
        reply = HelpText();
        return true;
    }
    if (c == "quit" || c == "exit") {
        if (!dry)
            quit_ = true;
        return true;
    }
    if (c == "turnaround") {
        int ms;
        if (w.size() != 2 || !IntIn(w[1], 0, 10000, ms))
            return Fail(reply, "turnaround MS");
        if (!dry)
            host_.SetTurnaroundMs(static_cast<uint32_t>(ms));
        return true;
    }
    if (c == "status" && words[0] != "cb") {
        if (!dry) {
            char buf[64];
            std::snprintf(buf, sizeof buf, "turnaround %u ms, %zu scheduled\n", host_.TurnaroundMs(), items_.size());
            reply = buf;
            for (TSimCb* cb : blocks)
                reply += cb->Status();
            if (!reply.empty() && reply.back() == '\n')
                reply.pop_back();
        }
        return true;
    }
    if (!target)
        return Fail(reply, "no block");
    return ExecuteOn(*target, w, dry, reply);
}

bool TSimScenario::ExecuteOn(TSimCb& cb, const std::vector<std::string>& w, bool dry, std::string& reply)
{
    const std::string& c = w[0];
    const size_t n = w.size();
    int a = 0, b = 0;

    if (c == "arc") {
        int interval = 3, mtz = 1, outputs = -1;
        if (n < 3 || !IntIn(w[1], 1, TSimCb::kUirCount, a) || !IntIn(w[2], 1, 3, b))
            return Fail(reply, "arc UIR INPUT [interval MS] [mtz 0..3] [outputs 0..0x3F]");
        for (size_t i = 3; i < n; i += 2) {
            if (i + 1 >= n)
                return Fail(reply, "arc: " + w[i] + " needs a value");
            if (w[i] == "interval" && IntIn(w[i + 1], 0, 63, interval)) continue;
            if (w[i] == "mtz" && IntIn(w[i + 1], 0, 3, mtz)) continue;
            if (w[i] == "outputs" && IntIn(w[i + 1], 0, 0x3F, outputs)) continue;
            return Fail(reply, "arc: bad option " + w[i] + " " + w[i + 1]);
        }
        if (!dry && !cb.RaiseArc(a, b, interval, mtz, outputs))
            reply = "ignored: UIR " + w[1] + " is not polled by the block";
        return true;
    }
    if (c == "sensor") {
        if (n != 3 || !IntIn(w[1], 1, TSimCb::kUirCount, a) || !IntIn(w[2], 1, 3, b))
            return Fail(reply, "sensor UIR INPUT");
        if (!dry && !cb.RaiseSensorFault(a, b))
            reply = "ignored: UIR " + w[1] + " input " + w[2] + " is not monitored";
        return true;
    }
    if (c == "uir-lost") {
        if (n != 2 || !IntIn(w[1], 1, TSimCb::kUirCount, a))
            return Fail(reply, "uir-lost UIR");
        if (!dry && !cb.RaiseUirLost(a))
            reply = "ignored: UIR " + w[1] + " is not polled by the block";
        return true;
    }
    if (c == "mtz") {
        if (n != 2 || !IntIn(w[1], 1, 3, a))
            return Fail(reply, "mtz 1..3");
        if (!dry)
            cb.RaiseMtz(a);
        return true;
    }
    if (c == "reset") {
        if (n != 1)
            return Fail(reply, "reset takes nothing");
        if (!dry)
            cb.RaiseReset();
        return true;
    }
    if (c == "power") {
        if (n != 2 || (w[1] != "off" && w[1] != "on" && w[1] != "cycle"))
            return Fail(reply, "power off|on|cycle");
        if (!dry) {
            if (w[1] != "on")
                cb.PowerOff();
            if (w[1] != "off")
                cb.PowerOn();
        }
        return true;
    }
    if (c == "menu") {
        if (n > 2 || (n == 2 && w[1] != "enter" && w[1] != "leave"))
            return Fail(reply, "menu [enter|leave]");
        if (!dry) {
            if (n == 1 || w[1] == "enter")
                cb.EnterMenu();
            if (n == 1 || w[1] == "leave")
                cb.LeaveMenu();
        }
        return true;
    }
    if (c == "outputs") {
        if (n != 2 || !IntIn(w[1], 0, 0x3F, a))
            return Fail(reply, "outputs 0..0x3F");
        if (!dry)
            cb.RaiseOutputs(static_cast<uint8_t>(a));
        return true;
    }
    if (c == "event") {
        int x = 0;
        if (n < 2 || n > 4 || !IntIn(w[1], 0, 255, a) || (n >= 3 && !IntIn(w[2], 0, 255, b)) ||
            (n == 4 && !IntIn(w[3], 0, 255, x)))
            return Fail(reply, "event CODE [UIR [INTERVAL|OUTPUTS]]");
        if (!dry) {
            TSimEvent e{static_cast<uint8_t>(a)};
            e.Uir = static_cast<uint8_t>(b);
            if (e.Code == EvOutputs)
                e.Outputs = static_cast<uint8_t>(b & 0x3F);
            e.Interval = static_cast<uint8_t>(x & 0x3F);
            cb.RaiseEvent(e);
        }
        return true;
    }
    if (c == "table") {
        int v;
        if (n != 4 || !IntIn(w[1], 0, 3, a) || !IntIn(w[2], 0, 3, b) || !IntIn(w[3], 0, 255, v))
            return Fail(reply, "table MODE(0..3) FUNCTION(0..3) OUTPUTS (bit 0 = output 1)");
        if (!dry)
            cb.SetTableWire(a, b, static_cast<uint8_t>(~v & 0xFF));
        return true;
    }
    if (c == "urov") {
        if (n != 2 || !IntIn(w[1], 0, 255 * 50, a))
            return Fail(reply, "urov MS (0..12750)");
        if (!dry)
            cb.SetUrovUnits(static_cast<uint8_t>(a / 50));
        return true;
    }
    if (c == "mtz-wait") {
        bool v;
        if (n != 2 || !OnOff(w[1], v))
            return Fail(reply, "mtz-wait on|off");
        if (!dry)
            cb.SetMtzWaitByte(v ? 1 : 0);
        return true;
    }
    if (c == "uir") {
        std::vector<int> uirs;
        if (n < 2 || !ParseUirList(w[1], uirs))
            return Fail(reply, "uir LIST [poll=on|off] [output=on|off] [f=F1,F2,F3] [control=123|none]");
        struct {
            int poll = -1, output = -1, f[3] = {-1, -1, -1}, control = -1;
        } set;
        for (size_t i = 2; i < n; ++i) {
            const auto eq = w[i].find('=');
            if (eq == std::string::npos)
                return Fail(reply, "uir: expected key=value, got " + w[i]);
            const std::string key = w[i].substr(0, eq), val = w[i].substr(eq + 1);
            bool v;
            if ((key == "poll" || key == "output") && OnOff(val, v)) {
                (key == "poll" ? set.poll : set.output) = v ? 1 : 0;
            } else if (key == "f") {
                std::istringstream in(val);
                int k = 0;
                for (std::string p; std::getline(in, p, ',');) {
                    if (k >= 3 || !IntIn(p, 0, 3, set.f[k]))
                        return Fail(reply, "uir: f=F1,F2,F3 with functions 0..3");
                    ++k;
                }
                if (k != 3)
                    return Fail(reply, "uir: f=F1,F2,F3 with functions 0..3");
            } else if (key == "control") {
                set.control = 0;
                if (val != "none")
                    for (char ch : val) {
                        if (ch < '1' || ch > '3')
                            return Fail(reply, "uir: control=123, a subset, or none");
                        set.control |= 1 << (ch - '1');
                    }
            } else {
                return Fail(reply, "uir: unknown setting " + w[i]);
            }
        }
        if (!dry)
            for (int u : uirs) {
                TUirSlot s = cb.UirSlot(u);
                if (set.poll >= 0) s.A = static_cast<uint8_t>((s.A & ~0x40) | (set.poll ? 0x40 : 0));
                if (set.output >= 0) s.A = static_cast<uint8_t>((s.A & ~0x80) | (set.output ? 0x80 : 0));
                for (int k = 0; k < 3; ++k)
                    if (set.f[k] >= 0)
                        s.A = static_cast<uint8_t>((s.A & ~(3 << (2 * k))) | set.f[k] << (2 * k));
                if (set.control >= 0) s.B = static_cast<uint8_t>(set.control);
                cb.SetUirSlot(u, s);
            }
        return true;
    }
    if (c == "journal") {
        if (n == 2 && w[1] == "clear") {
            if (!dry)
                cb.ClearJournalRecords();
            return true;
        }
        if (n == 3 && w[1] == "order" && (w[2] == "newest" || w[2] == "oldest")) {
            if (!dry)
                cb.SetJournalNewestFirst(w[2] == "newest");
            return true;
        }
        if (n != 2 || !IntIn(w[1], 0, 100000, a))
            return Fail(reply, "journal N | journal clear | journal order newest|oldest");
        if (!dry)
            cb.FillJournal(a);
        return true;
    }
    if (c == "clock") {
        if (n == 2 && (w[1] == "stop" || w[1] == "run")) {
            if (!dry)
                cb.SetClockRunning(w[1] == "run");
            return true;
        }
        if (n == 2 && w[1] == "now") {
            if (!dry) {
                const std::time_t t = std::time(nullptr);
                const std::tm* lt = std::localtime(&t);
                if (lt && lt->tm_year >= 100 && lt->tm_year < 200)
                    cb.SetClock(TSimTime{1900 + lt->tm_year, lt->tm_mon + 1, lt->tm_mday, lt->tm_hour, lt->tm_min,
                                         std::min(lt->tm_sec, 59), 0});
            }
            return true;
        }
        TSimTime t;
        if (n != 3 || std::sscanf(w[1].c_str(), "%d-%d-%d", &t.Year, &t.Month, &t.Day) != 3 ||
            std::sscanf(w[2].c_str(), "%d:%d:%d", &t.Hour, &t.Minute, &t.Second) != 3 || t.Year < 2000 ||
            t.Year > 2099 || !ValidDate(t.Year, t.Month, t.Day) || t.Hour < 0 || t.Hour > 23 || t.Minute < 0 ||
            t.Minute > 59 || t.Second < 0 || t.Second > 59)
            return Fail(reply, "clock YYYY-MM-DD HH:MM:SS | clock now | clock stop | clock run");
        if (!dry)
            cb.SetClock(t);
        return true;
    }
    if (c == "address") {
        if (n != 2 || !IntIn(w[1], 1, 254, a))
            return Fail(reply, "address 1..254");
        if (!dry)
            cb.SetAddress(static_cast<uint8_t>(a));
        return true;
    }
    if (c == "speed") {
        if (n != 2 || !IntIn(w[1], 110, 921600, a))
            return Fail(reply, "speed BAUD");
        if (!dry) {
            LineSettings s = cb.Line();
            s.Baud = a;
            cb.SetLine(s);
        }
        return true;
    }
    if (c == "silent") {
        bool v;
        if (n != 2 || !OnOff(w[1], v))
            return Fail(reply, "silent on|off");
        if (!dry)
            cb.SetSilent(v);
        return true;
    }
    if (c == "inject") {
        const char* usage =
            "inject KIND [PARAM] [for COMMAND] [times N] | inject off [COMMAND]; KIND: noanswer ignore badsum "
            "badstart late MS split MS every N garbage N garbage-after N flood";
        if (n >= 2 && w[1] == "off") {
            std::optional<SimCmd> cmd;
            if (n == 3 && !(cmd = SimCmdFromName(w[2])))
                return Fail(reply, "unknown command " + w[2]);
            if (n > 3)
                return Fail(reply, usage);
            if (!dry) {
                if (cmd)
                    cb.ClearFaults(*cmd);
                else
                    cb.ClearFaults();
            }
            return true;
        }
        std::optional<FaultKind> kind;
        if (n < 2 || !(kind = FaultKindFromName(w[1])))
            return Fail(reply, usage);
        TFaultRule r;
        r.Kind = *kind;
        size_t i = 2;
        const bool needsParam = *kind == FaultKind::Late || *kind == FaultKind::Split ||
                                *kind == FaultKind::EveryNth || *kind == FaultKind::Garbage ||
                                *kind == FaultKind::GarbageAfter;
        if (needsParam) {
            int p;
            if (i >= n || !IntIn(w[i], 1, 60000, p))
                return Fail(reply, std::string(w[1]) + " needs a number");
            r.Param = static_cast<uint32_t>(p);
            ++i;
        }
        for (; i < n; i += 2) {
            if (i + 1 >= n)
                return Fail(reply, usage);
            if (w[i] == "for") {
                if (w[i + 1] == "all")
                    r.Cmd.reset();
                else if (!(r.Cmd = SimCmdFromName(w[i + 1])))
                    return Fail(reply, "unknown command " + w[i + 1]);
            } else if (w[i] == "times") {
                int t;
                if (!IntIn(w[i + 1], 1, 1000000, t))
                    return Fail(reply, "times N");
                r.Remaining = t;
            } else {
                return Fail(reply, usage);
            }
        }
        if (!dry)
            cb.Inject(r);
        return true;
    }
    if (c == "status") {
        if (!dry) {
            reply = cb.Status();
            if (!reply.empty() && reply.back() == '\n')
                reply.pop_back();
        }
        return true;
    }
    return Fail(reply, "unknown command \"" + c + "\" (help lists them)");
}

const char* TSimScenario::HelpText()
{
    return "Timing (optional): at TIME | in TIME | every PERIOD [from TIME] [until TIME]; block: cb ADDRESS\n"
           "  arc UIR INPUT [interval MS] [mtz 0..3] [outputs HEX]  arc, MTZ and outputs events\n"
           "  sensor UIR INPUT                         sensor stopped answering (0xE1..0xE3)\n"
           "  uir-lost UIR                             UIR stopped answering (0xE0)\n"
           "  mtz 1..3 | reset | power off|on|cycle | menu [enter|leave] | outputs HEX\n"
           "  event CODE [UIR [INTERVAL|OUTPUTS]]      any event message\n"
           "  table MODE FUNC OUTPUTS | urov MS | mtz-wait on|off\n"
           "  uir LIST [poll=on|off] [output=on|off] [f=F1,F2,F3] [control=123|none]\n"
           "  journal N | journal clear | journal order newest|oldest\n"
           "  clock YYYY-MM-DD HH:MM:SS | clock now | clock stop | clock run\n"
           "  address N | speed BAUD | silent on|off | turnaround MS\n"
           "  inject KIND [PARAM] [for COMMAND|all] [times N] | inject off [COMMAND]\n"
           "    KIND: noanswer ignore badsum badstart late MS split MS every N garbage N garbage-after N\n"
           "          flood (every poll finds another event; times N: N events)\n"
           "    COMMAND: reset-link reset-fcb poll link-status journal clear-journal read-table write-table\n"
           "             read-clock write-clock stop-clock read-segment write-segment reset-cb set-address\n"
           "             set-speed unknown\n"
           "  status | help | quit";
}

}  // namespace kestrel::sim
