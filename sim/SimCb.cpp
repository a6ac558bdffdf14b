#include "SimCb.h"

#include <algorithm>
#include <cstdio>

namespace kestrel::sim {

namespace {

constexpr uint8_t kUserData = 0x08;
constexpr uint8_t kUserDataMore = 0x28;
constexpr uint8_t kLinkStatusC = 0x0B;
constexpr uint8_t kJournalCi = 0xF0;
constexpr uint8_t kEventCi = 0x01;  // the poll's answer; the PC does not look at it
constexpr size_t kKeptRequests = 4096;

const char* const kCmdNames[kSimCmdCount] = {
    "reset-link", "reset-fcb", "poll", "link-status", "journal", "clear-journal", "read-table", "write-table",
    "read-clock", "write-clock", "stop-clock", "read-segment", "write-segment", "reset-cb", "set-address",
    "set-speed", "unknown",
};

struct TFaultName {
    FaultKind Kind;
    const char* Name;
};
const TFaultName kFaultNames[] = {
    {FaultKind::NoAnswer, "noanswer"}, {FaultKind::Ignore, "ignore"},   {FaultKind::BadSum, "badsum"},
    {FaultKind::BadStart, "badstart"}, {FaultKind::Late, "late"},       {FaultKind::Split, "split"},
    {FaultKind::EveryNth, "every"},    {FaultKind::Garbage, "garbage"}, {FaultKind::GarbageAfter, "garbage-after"},
    {FaultKind::Flood, "flood"},
};

bool IsDataRequestC(uint8_t c) { return c == 0x5B || c == 0x7B; }
bool IsSendConfirmC(uint8_t c) { return c == 0x53 || c == 0x73; }
bool IsTableCi(uint8_t ci) { return ci == 0x2C || ci == 0x30 || ci == 0x34 || ci == 0x38; }

}  // namespace

const char* SimCmdName(SimCmd c)
{
    const int i = static_cast<int>(c);
    return i >= 0 && i < kSimCmdCount ? kCmdNames[i] : "?";
}

std::optional<SimCmd> SimCmdFromName(std::string_view name)
{
    for (int i = 0; i < kSimCmdCount; ++i)
        if (name == kCmdNames[i])
            return static_cast<SimCmd>(i);
    return std::nullopt;
}

const char* FaultKindName(FaultKind k)
{
    for (const auto& f : kFaultNames)
        if (f.Kind == k)
            return f.Name;
    return "?";
}

std::optional<FaultKind> FaultKindFromName(std::string_view name)
{
    for (const auto& f : kFaultNames)
        if (name == f.Name)
            return f.Kind;
    return std::nullopt;
}

SimCmd ClassifyRequest(const TRequest& r)
{
    if (!r.IsLong) {
        switch (r.C) {
        case 0x40: return SimCmd::ResetLink;
        case 0x47: return SimCmd::ResetFcb;
        case 0x5B: case 0x7B: return SimCmd::Poll;
        case 0x49: case 0x69: return SimCmd::LinkStatus;
        default: return SimCmd::Unknown;
        }
    }
    if (IsDataRequestC(r.C)) {
        if (r.CI == kJournalCi) return SimCmd::ReadJournal;
        if (IsTableCi(r.CI)) return SimCmd::ReadTable;
        if (r.CI == 0x3C) return SimCmd::ReadClock;
        if (r.CI == 0x40) return SimCmd::ReadSegment;
        return SimCmd::Unknown;
    }
    if (IsSendConfirmC(r.C)) {
        if (IsTableCi(r.CI)) return SimCmd::WriteTable;
        if (r.CI == 0x3C) return SimCmd::WriteClock;
        if (r.CI == 0x40) return SimCmd::WriteSegment;
        if (r.CI == 0x48) return SimCmd::ResetCb;
        if (r.CI == 0x4C) return SimCmd::SetAddress;
        if (r.CI == 0x50) return SimCmd::SetSpeed;
        return SimCmd::Unknown;
    }
    if (r.C == 0x44) {
        if (r.CI == 0x44) return SimCmd::ClearJournal;
        if (r.CI == 0x54) return SimCmd::StopClock;
    }
    return SimCmd::Unknown;
}

bool TAnswerPlan::Empty() const
{
    for (const auto& c : Chunks)
        if (!c.Bytes.empty())
            return false;
    return true;
}

std::vector<uint8_t> TAnswerPlan::AllBytes() const
{
    std::vector<uint8_t> all;
    for (const auto& c : Chunks)
        all.insert(all.end(), c.Bytes.begin(), c.Bytes.end());
    return all;
}

TSimCb::TSimCb(IClock& clock, std::recursive_mutex& mu, const TSimCbOptions& opt)
    : clock_(clock), mu_(mu), opt_(opt)
{
    clockBaseMs_ = opt.ClockStartMs2000 != 0 ? opt.ClockStartMs2000 : ToMs2000(TSimTime{2026, 1, 15, 9, 0, 0, 0});
    clockRefMs_ = clock_.NowMs();
    // Factory tables: function Fk switches output k+1 in every mode.
    for (int m = 0; m < 4; ++m)
        for (int k = 0; k < 4; ++k)
            tables_[m][k] = static_cast<uint8_t>(~(1u << k) & 0xFF);
}

// ---------------------------------------------------------------- device side

TAnswerPlan TSimCb::Handle(const TRequest& req)
{
    std::lock_guard lk(mu_);
    TAnswerPlan plan;
    plan.Line = opt_.Line;
    if (silent_ || req.A != opt_.Address)
        return plan;
    plan.Addressed = true;
    const SimCmd cmd = ClassifyRequest(req);
    plan.Cmd = cmd;
    ++counts_[static_cast<int>(cmd)];
    requests_.push_back(req);
    if (requests_.size() > kKeptRequests)
        requests_.erase(requests_.begin(), requests_.begin() + static_cast<std::ptrdiff_t>(kKeptRequests / 2));
    if (!HeardAfterFaults(cmd))
        return plan;

    LineSettings lineAfter = opt_.Line;
    std::vector<uint8_t> bytes;
    const bool fcv = (req.C & kFcvBit) != 0;
    if (fcv && haveLast_ && req.Raw == lastRequest_) {
        // The PC asks again with the same frame-count bit: it lost our answer.
        bytes = lastAnswer_;
        plan.Repeated = true;
        ++repeated_;
    } else {
        bytes = Execute(cmd, req, lineAfter);
        if (fcv) {
            haveLast_ = true;
            lastRequest_ = req.Raw;
            lastAnswer_ = bytes;
        }
    }
    if (!bytes.empty())
        plan.Chunks.push_back(TAnswerChunk{0, std::move(bytes)});
    ShapeAnswer(cmd, plan);
    // A new speed holds from after the acknowledgement.
    opt_.Line = lineAfter;
    return plan;
}

std::vector<uint8_t> TSimCb::AnswerData(uint8_t ci, const std::vector<uint8_t>& data) const
{
    return BuildLongFrame(kUserData, opt_.Address, ci, data);
}

std::vector<uint8_t> TSimCb::Execute(SimCmd cmd, const TRequest& req, LineSettings& lineAfter)
{
    const std::vector<uint8_t> ack{kAck};
    const auto& d = req.Data;
    switch (cmd) {
    case SimCmd::ResetLink:
        haveLast_ = false;
        journalCursor_ = 0;
        return ack;
    case SimCmd::ResetFcb:
        haveLast_ = false;
        return ack;
    case SimCmd::LinkStatus:
        return BuildShortFrame(kLinkStatusC, opt_.Address);
    case SimCmd::Poll: {
        FloodIfEmpty();
        if (queue_.empty())
            return ack;
        const TSimEvent e = queue_.front();
        queue_.pop_front();
        const bool more = !queue_.empty() || std::any_of(faults_.begin(), faults_.end(), [this](const TFaultRule& r) {
            return r.Kind == FaultKind::Flood && Matches(r, SimCmd::Poll);
        });
        return BuildLongFrame(more ? kUserDataMore : kUserData, opt_.Address, kEventCi, EncodeEventData(e));
    }
    case SimCmd::ReadJournal: {
        if (journalCursor_ >= journal_.size())
            return ack;
        const size_t i = opt_.JournalNewestFirst ? journalCursor_ : journal_.size() - 1 - journalCursor_;
        ++journalCursor_;
        return AnswerData(kJournalCi, EncodeEventData(journal_[i]));
    }
    case SimCmd::ClearJournal:
        journal_.clear();
        journalCursor_ = 0;
        return {};
    case SimCmd::ReadTable: {
        const int m = (req.CI - 0x2C) / 4;
        std::vector<uint8_t> data(tables_[m].begin(), tables_[m].end());
        if (m == 3) {
            data.push_back(urovUnits_);
            data.push_back(outputs_);
            data.push_back(mtzWait_);
        }
        return AnswerData(req.CI, data);
    }
    case SimCmd::WriteTable: {
        const int m = (req.CI - 0x2C) / 4;
        if (d.size() != (m == 3 ? 6u : 4u))
            return {};  // malformed: a real block stays silent
        for (int k = 0; k < 4; ++k)
            tables_[m][k] = d[k];
        if (m == 3) {
            urovUnits_ = d[4];
            mtzWait_ = d[5];
        }
        return ack;
    }
    case SimCmd::ReadClock: {
        const TSimTime t = FromMs2000(NowMs2000());
        return AnswerData(req.CI, {Bcd(t.Second), Bcd(t.Minute), Bcd(t.Hour), Bcd(t.Day), Bcd(t.Month), Bcd(t.Year % 100)});
    }
    case SimCmd::WriteClock: {
        if (d.size() != 6)
            return {};
        int v[6];
        for (int i = 0; i < 6; ++i)
            if (!UnBcd(d[i], v[i]))
                return {};
        const TSimTime t{2000 + v[5], v[4], v[3], v[2], v[1], v[0], 0};
        if (t.Second > 59 || t.Minute > 59 || t.Hour > 23 || !ValidDate(t.Year, t.Month, t.Day))
            return {};  // the block keeps its clock and does not confirm
        clockBaseMs_ = ToMs2000(t);
        clockRefMs_ = clock_.NowMs();
        clockRunning_ = true;
        return ack;
    }
    case SimCmd::StopClock:
        SetClockRunning(false);
        return {};
    case SimCmd::ReadSegment: {
        if (d.empty())
            return {};
        const int slot = d[0] & 0xFC;
        std::vector<uint8_t> data{static_cast<uint8_t>(slot)};
        for (int j = 0; j < 4; ++j) {
            const TUirSlot s = slot + j < kSlots ? uirs_[slot + j] : TUirSlot{};
            data.push_back(s.A);
            data.push_back(s.B);
        }
        return AnswerData(req.CI, data);
    }
    case SimCmd::WriteSegment: {
        if (d.size() != 9 || d[0] % 4 != 0)
            return {};
        for (int j = 0; j < 4; ++j)
            if (d[0] + j < kSlots)
                uirs_[d[0] + j] = TUirSlot{d[1 + 2 * j], d[2 + 2 * j]};
        return ack;
    }
    case SimCmd::ResetCb:
        journalCursor_ = 0;
        RaiseReset();
        return ack;
    case SimCmd::SetAddress:
        if (d.size() != 1 || d[0] == 0 || d[0] == 0xFF)
            return {};
        opt_.Address = d[0];
        return ack;
    case SimCmd::SetSpeed:
        if (d.size() != 1 || d[0] > 1)
            return {};
        lineAfter.Baud = d[0] == 0 ? 9600 : 19200;
        return ack;
    case SimCmd::Unknown:
    case SimCmd::Count_:
        break;
    }
    if (req.IsLong && IsDataRequestC(req.C)) {
        TSimEvent absent{EvAbsent};
        absent.TimeMs = NowMs2000();
        return AnswerData(req.CI, EncodeEventData(absent));
    }
    return {};
}

void TSimCb::FloodIfEmpty()
{
    if (!queue_.empty())
        return;
    for (auto& r : faults_) {
        if (r.Kind != FaultKind::Flood || !Matches(r, SimCmd::Poll))
            continue;
        TSimEvent e{EvOutputs};
        e.Outputs = static_cast<uint8_t>(outputs_ ^ 0x01);  // output 1 chatters
        RecordEvent(e);
        if (r.Remaining > 0)
            --r.Remaining;
        return;
    }
}

bool TSimCb::Matches(const TFaultRule& r, SimCmd cmd) const
{
    return r.Remaining != 0 && (!r.Cmd || *r.Cmd == cmd);
}

bool TSimCb::HeardAfterFaults(SimCmd cmd)
{
    bool heard = true;
    for (auto& r : faults_) {
        if (!Matches(r, cmd))
            continue;
        if (r.Kind == FaultKind::Ignore) {
            heard = false;
            if (r.Remaining > 0)
                --r.Remaining;
        } else if (r.Kind == FaultKind::EveryNth && r.Param > 1) {
            ++r.Seen;
            if (r.Seen % r.Param != 0)
                heard = false;
            if (r.Remaining > 0)
                --r.Remaining;
        }
    }
    return heard;
}

void TSimCb::ShapeAnswer(SimCmd cmd, TAnswerPlan& plan)
{
    uint32_t lateUs = 0;
    std::vector<uint8_t> before, after;
    for (auto& r : faults_) {
        if (!Matches(r, cmd) || r.Kind == FaultKind::Ignore || r.Kind == FaultKind::EveryNth ||
            r.Kind == FaultKind::Flood)
            continue;
        if (plan.Chunks.empty())
            break;  // nothing to spoil
        std::vector<uint8_t>& b = plan.Chunks.front().Bytes;
        bool applied = true;
        switch (r.Kind) {
        case FaultKind::NoAnswer:
            plan.Chunks.clear();
            break;
        case FaultKind::BadSum:
            if (b[0] == kAck)
                b = {kShortStart, 0x00, opt_.Address, static_cast<uint8_t>(opt_.Address + 1), kStop};
            else if (b.size() >= 5)
                b[b.size() - 2] = static_cast<uint8_t>(b[b.size() - 2] + 1);
            break;
        case FaultKind::BadStart:
            b[0] ^= 0x01;
            break;
        case FaultKind::Late:
            lateUs += r.Param * 1000;
            break;
        case FaultKind::Split:
            if (plan.Chunks.size() == 1 && b.size() >= 2) {
                const size_t half = b.size() / 2;
                TAnswerChunk second{r.Param * 1000, std::vector<uint8_t>(b.begin() + static_cast<std::ptrdiff_t>(half), b.end())};
                b.resize(half);
                plan.Chunks.push_back(std::move(second));
            } else {
                applied = false;
            }
            break;
        case FaultKind::Garbage:
        case FaultKind::GarbageAfter: {
            auto& to = r.Kind == FaultKind::Garbage ? before : after;
            for (uint32_t i = 0; i < std::max<uint32_t>(1, r.Param); ++i) {
                uint8_t g;
                do {
                    garbageSeed_ = garbageSeed_ * 1103515245u + 12345u;
                    g = static_cast<uint8_t>(garbageSeed_ >> 16);
                } while (g == kAck || g == kLongStart || g == kShortStart || g == kStop);
                to.push_back(g);
            }
            break;
        }
        case FaultKind::Ignore:
        case FaultKind::EveryNth:
        case FaultKind::Flood:
            break;
        }
        if (applied && r.Remaining > 0)
            --r.Remaining;
    }
    if (plan.Chunks.empty())
        return;
    if (!before.empty())
        plan.Chunks.insert(plan.Chunks.begin(), TAnswerChunk{0, std::move(before)});
    if (!after.empty())
        plan.Chunks.push_back(TAnswerChunk{0, std::move(after)});
    plan.Chunks.front().GapUs += lateUs;
}

uint8_t TSimCb::Address() const
{
    std::lock_guard lk(mu_);
    return opt_.Address;
}

LineSettings TSimCb::Line() const
{
    std::lock_guard lk(mu_);
    return opt_.Line;
}

// ---------------------------------------------------------------- installation

int64_t TSimCb::NowMs2000() const
{
    if (!clockRunning_)
        return clockBaseMs_;
    return clockBaseMs_ + static_cast<int64_t>(clock_.NowMs() - clockRefMs_);
}

TSimEvent TSimCb::Stamp(TSimEvent e) const
{
    if (e.TimeMs == 0)
        e.TimeMs = NowMs2000();
    return e;
}

void TSimCb::RecordEvent(const TSimEvent& raw)
{
    const TSimEvent e = Stamp(raw);
    // The block's buffer of unreported events is finite: the oldest go.
    if (queue_.size() >= opt_.JournalCapacity)
        queue_.pop_front();
    queue_.push_back(e);
    journal_.push_front(e);
    if (opt_.JournalNewestFirst && journalCursor_ > 0)
        ++journalCursor_;  // keep the reader on the record it was going to get
    if (journal_.size() > opt_.JournalCapacity) {
        journal_.pop_back();
        if (!opt_.JournalNewestFirst && journalCursor_ > 0)
            --journalCursor_;
    }
    ApplyEffect(e);
    if (onEvent_)
        onEvent_(e);
}

void TSimCb::ApplyEffect(const TSimEvent& e)
{
    switch (e.Code) {
    case EvMtz1: case EvMtz2: case EvMtz3:
        mtzActive_[e.Code - EvMtz1] = true;
        break;
    case EvOutputs:
        outputs_ = e.Outputs & 0x3F;
        break;
    case EvReset:
        mtzActive_ = {};
        break;
    case EvMenuEnter:
        inMenu_ = true;
        break;
    case EvMenuLeave:
        inMenu_ = false;
        break;
    default:
        break;
    }
}

void TSimCb::RaiseEvent(TSimEvent e)
{
    std::lock_guard lk(mu_);
    RecordEvent(e);
}

bool TSimCb::UirPolled(int uir) const
{
    return uir >= 1 && uir <= kUirCount && (uirs_[uir].A & 0x40) != 0;
}

uint8_t TSimCb::OutputsFor(int uir, int input, int mode) const
{
    const int f = (uirs_[uir].A >> (2 * (input - 1))) & 3;
    return static_cast<uint8_t>(~tables_[mode][f] & 0x3F);
}

bool TSimCb::RaiseArc(int uir, int input, int intervalMs, int mtz, int outputsOverride)
{
    std::lock_guard lk(mu_);
    if (!UirPolled(uir) || input < 1 || input > 3 || mtz < 0 || mtz > 3)
        return false;
    TSimEvent arc{static_cast<uint8_t>(EvArc1 + input - 1)};
    arc.Uir = static_cast<uint8_t>(uir);
    arc.Interval = static_cast<uint8_t>(std::clamp(intervalMs, 0, 63));
    RecordEvent(arc);
    if (mtz > 0)
        RecordEvent(TSimEvent{static_cast<uint8_t>(EvMtz1 + mtz - 1)});
    // With "wait for MTZ" set the block trips only on an arc confirmed by MTZ.
    if (mtz == 0 && (mtzWait_ & 1))
        return true;
    TSimEvent out{EvOutputs};
    // An override stands for a relay wired to the wrong output: the block
    // reports what it switched, not what its tables say.
    const uint8_t switched = outputsOverride >= 0 ? static_cast<uint8_t>(outputsOverride & 0x3F) : OutputsFor(uir, input, mtz);
    out.Outputs = static_cast<uint8_t>(outputs_ | switched);
    RecordEvent(out);
    return true;
}

bool TSimCb::RaiseSensorFault(int uir, int input)
{
    std::lock_guard lk(mu_);
    if (!UirPolled(uir) || input < 1 || input > 3 || !((uirs_[uir].B >> (input - 1)) & 1))
        return false;
    TSimEvent e{static_cast<uint8_t>(EvSensor1 + input - 1)};
    e.Uir = static_cast<uint8_t>(uir);
    RecordEvent(e);
    return true;
}

bool TSimCb::RaiseUirLost(int uir)
{
    std::lock_guard lk(mu_);
    if (!UirPolled(uir))
        return false;
    TSimEvent e{EvUirLost};
    e.Uir = static_cast<uint8_t>(uir);
    RecordEvent(e);
    return true;
}

void TSimCb::RaiseMtz(int n)
{
    std::lock_guard lk(mu_);
    RecordEvent(TSimEvent{static_cast<uint8_t>(EvMtz1 + std::clamp(n, 1, 3) - 1)});
}

void TSimCb::RaiseOutputs(uint8_t outputs)
{
    std::lock_guard lk(mu_);
    TSimEvent e{EvOutputs};
    e.Outputs = outputs & 0x3F;
    RecordEvent(e);
}

void TSimCb::RaiseReset()
{
    std::lock_guard lk(mu_);
    const bool tripped = outputs_ != 0;
    RecordEvent(TSimEvent{EvReset});
    if (tripped)
        RecordEvent(TSimEvent{EvOutputs});
}

void TSimCb::PowerOff()
{
    std::lock_guard lk(mu_);
    RecordEvent(TSimEvent{EvPowerOff});
}

void TSimCb::PowerOn()
{
    std::lock_guard lk(mu_);
    RecordEvent(TSimEvent{EvPowerOn});
}

void TSimCb::EnterMenu()
{
    std::lock_guard lk(mu_);
    RecordEvent(TSimEvent{EvMenuEnter});
}

void TSimCb::LeaveMenu()
{
    std::lock_guard lk(mu_);
    RecordEvent(TSimEvent{EvMenuLeave});
}

bool TSimCb::InMenu() const
{
    std::lock_guard lk(mu_);
    return inMenu_;
}

// ---------------------------------------------------------------- journal

void TSimCb::AddJournalRecord(const TSimEvent& e)
{
    std::lock_guard lk(mu_);
    if (journal_.size() >= opt_.JournalCapacity)
        return;
    journal_.push_back(Stamp(e));
    if (!opt_.JournalNewestFirst && journalCursor_ > 0)
        ++journalCursor_;
}

void TSimCb::FillJournal(int n)
{
    std::lock_guard lk(mu_);
    // Newest first: the history ends with a reset, so a fresh start shows a
    // calm installation; the records name the UIRs the block polls.
    static const uint8_t kCycle[] = {EvReset, EvOutputs, EvMtz1, EvArc2, EvSensor1, EvPowerOn, EvPowerOff,
                                     EvOutputs, EvMtz2, EvArc1, EvMenuLeave, EvMenuEnter, EvUirLost, EvArc3};
    std::vector<int> polled;
    for (int u = 1; u <= kUirCount; ++u)
        if (UirPolled(u))
            polled.push_back(u);
    int64_t t = journal_.empty() ? NowMs2000() - 3600000 : journal_.back().TimeMs;
    const size_t start = journal_.size();
    for (int i = 0; i < n; ++i) {
        const size_t k = (start + static_cast<size_t>(i)) % std::size(kCycle);
        t -= 60000 + 137 * (i % 7);
        TSimEvent e{kCycle[k]};
        e.TimeMs = t;
        const int uir = polled.empty() ? 1 + i % kUirCount : polled[static_cast<size_t>(i) % polled.size()];
        if ((e.Code >= EvArc1 && e.Code <= EvArc3) || (e.Code >= EvUirLost && e.Code <= EvSensor3))
            e.Uir = static_cast<uint8_t>(uir);
        if (e.Code >= EvArc1 && e.Code <= EvArc3)
            e.Interval = static_cast<uint8_t>(1 + i % 20);
        if (e.Code == EvOutputs && kCycle[(k + 1) % std::size(kCycle)] != EvReset)
            e.Outputs = static_cast<uint8_t>(1u << (i % 6));
        AddJournalRecord(e);
    }
}

void TSimCb::ClearJournalRecords()
{
    std::lock_guard lk(mu_);
    journal_.clear();
    journalCursor_ = 0;
}

std::vector<TSimEvent> TSimCb::Journal() const
{
    std::lock_guard lk(mu_);
    std::vector<TSimEvent> v(journal_.begin(), journal_.end());
    if (!opt_.JournalNewestFirst)
        std::reverse(v.begin(), v.end());
    return v;
}

size_t TSimCb::PendingEvents() const
{
    std::lock_guard lk(mu_);
    return queue_.size();
}

void TSimCb::ClearPendingEvents()
{
    std::lock_guard lk(mu_);
    queue_.clear();
}

void TSimCb::SetJournalNewestFirst(bool v)
{
    std::lock_guard lk(mu_);
    opt_.JournalNewestFirst = v;
    journalCursor_ = 0;
}

// ---------------------------------------------------------------- settings

uint8_t TSimCb::TableWire(int mode, int func) const
{
    std::lock_guard lk(mu_);
    return tables_.at(static_cast<size_t>(mode)).at(static_cast<size_t>(func));
}

void TSimCb::SetTableWire(int mode, int func, uint8_t b)
{
    std::lock_guard lk(mu_);
    tables_.at(static_cast<size_t>(mode)).at(static_cast<size_t>(func)) = b;
}

uint8_t TSimCb::UrovUnits() const { std::lock_guard lk(mu_); return urovUnits_; }
void TSimCb::SetUrovUnits(uint8_t v) { std::lock_guard lk(mu_); urovUnits_ = v; }
uint8_t TSimCb::MtzWaitByte() const { std::lock_guard lk(mu_); return mtzWait_; }
void TSimCb::SetMtzWaitByte(uint8_t v) { std::lock_guard lk(mu_); mtzWait_ = v; }
uint8_t TSimCb::Outputs() const { std::lock_guard lk(mu_); return outputs_; }
void TSimCb::SetOutputs(uint8_t v) { std::lock_guard lk(mu_); outputs_ = v; }

TUirSlot TSimCb::UirSlot(int slot) const
{
    std::lock_guard lk(mu_);
    return uirs_.at(static_cast<size_t>(slot));
}

void TSimCb::SetUirSlot(int slot, TUirSlot s)
{
    std::lock_guard lk(mu_);
    uirs_.at(static_cast<size_t>(slot)) = s;
}

void TSimCb::ConfigureUir(int uir, bool poll, bool output, int f1, int f2, int f3, bool c1, bool c2, bool c3)
{
    TUirSlot s;
    s.A = static_cast<uint8_t>((f1 & 3) | (f2 & 3) << 2 | (f3 & 3) << 4 | (poll ? 0x40 : 0) | (output ? 0x80 : 0));
    s.B = static_cast<uint8_t>((c1 ? 1 : 0) | (c2 ? 2 : 0) | (c3 ? 4 : 0));
    SetUirSlot(uir, s);
}

// ---------------------------------------------------------------- clock

TSimTime TSimCb::ClockNow() const
{
    std::lock_guard lk(mu_);
    return FromMs2000(NowMs2000());
}

int64_t TSimCb::ClockNowMs2000() const
{
    std::lock_guard lk(mu_);
    return NowMs2000();
}

void TSimCb::SetClock(const TSimTime& t)
{
    std::lock_guard lk(mu_);
    clockBaseMs_ = ToMs2000(t);
    clockRefMs_ = clock_.NowMs();
}

bool TSimCb::ClockRunning() const
{
    std::lock_guard lk(mu_);
    return clockRunning_;
}

void TSimCb::SetClockRunning(bool run)
{
    std::lock_guard lk(mu_);
    if (run == clockRunning_)
        return;
    if (!run)
        clockBaseMs_ = NowMs2000();
    clockRefMs_ = clock_.NowMs();
    clockRunning_ = run;
}

// ---------------------------------------------------------------- link, faults

void TSimCb::SetAddress(uint8_t a) { std::lock_guard lk(mu_); opt_.Address = a; }
void TSimCb::SetLine(const LineSettings& s) { std::lock_guard lk(mu_); opt_.Line = s; }
void TSimCb::SetSilent(bool v) { std::lock_guard lk(mu_); silent_ = v; }
bool TSimCb::Silent() const { std::lock_guard lk(mu_); return silent_; }

void TSimCb::Inject(const TFaultRule& r)
{
    std::lock_guard lk(mu_);
    faults_.push_back(r);
}

void TSimCb::ClearFaults()
{
    std::lock_guard lk(mu_);
    faults_.clear();
}

void TSimCb::ClearFaults(SimCmd cmd)
{
    std::lock_guard lk(mu_);
    std::erase_if(faults_, [cmd](const TFaultRule& r) { return r.Cmd && *r.Cmd == cmd; });
}

std::vector<TFaultRule> TSimCb::Faults() const
{
    std::lock_guard lk(mu_);
    return faults_;
}

uint32_t TSimCb::RequestCount(SimCmd c) const
{
    std::lock_guard lk(mu_);
    return counts_.at(static_cast<size_t>(c));
}

uint32_t TSimCb::TotalRequests() const
{
    std::lock_guard lk(mu_);
    uint32_t n = 0;
    for (auto c : counts_)
        n += c;
    return n;
}

uint32_t TSimCb::RepeatedAnswers() const
{
    std::lock_guard lk(mu_);
    return repeated_;
}

void TSimCb::ResetCounts()
{
    std::lock_guard lk(mu_);
    counts_ = {};
    repeated_ = 0;
    requests_.clear();
}

std::vector<TRequest> TSimCb::Requests() const
{
    std::lock_guard lk(mu_);
    return requests_;
}

void TSimCb::SetOnEvent(std::function<void(const TSimEvent&)> f)
{
    std::lock_guard lk(mu_);
    onEvent_ = std::move(f);
}

std::string TSimCb::Status() const
{
    std::lock_guard lk(mu_);
    const TSimTime t = FromMs2000(NowMs2000());
    char buf[256];
    std::snprintf(buf, sizeof buf,
                  "CB %u: %d bit/s%s, clock %04d-%02d-%02d %02d:%02d:%02d%s, journal %zu, queued %zu, outputs 0x%02X, "
                  "MTZ %d%d%d, menu %s, requests %u\n",
                  opt_.Address, opt_.Line.Baud, silent_ ? " (silent)" : "", t.Year, t.Month, t.Day, t.Hour, t.Minute,
                  t.Second, clockRunning_ ? "" : " (stopped)", journal_.size(), queue_.size(), outputs_,
                  mtzActive_[0], mtzActive_[1], mtzActive_[2], inMenu_ ? "open" : "closed", [&] {
                      uint32_t n = 0;
                      for (auto c : counts_) n += c;
                      return n;
                  }());
    std::string s = buf;
    for (int u = 1; u <= kUirCount; ++u) {
        if (uirs_[u].A == 0 && uirs_[u].B == 0)
            continue;
        std::snprintf(buf, sizeof buf, "  UIR %2d: A=%02X B=%02X%s\n", u, uirs_[u].A, uirs_[u].B,
                      (uirs_[u].A & 0x40) ? " polled" : "");
        s += buf;
    }
    for (const auto& r : faults_) {
        std::snprintf(buf, sizeof buf, "  fault %s %u for %s%s\n", FaultKindName(r.Kind), r.Param,
                      r.Cmd ? SimCmdName(*r.Cmd) : "all", r.Remaining < 0 ? "" : " (limited)");
        s += buf;
    }
    return s;
}

}  // namespace kestrel::sim
