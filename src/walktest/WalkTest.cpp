#include "walktest/WalkTest.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "check/SettingsCheck.h"
#include "state/ConfigFile.h"
#include "state/FileIo.h"

namespace kestrel {

namespace {

// The event codes the test listens to.
constexpr uint8_t kArc1 = 0xA1, kArc3 = 0xA3;
constexpr uint8_t kMtz1 = 0xB1, kMtz3 = 0xB3;
constexpr uint8_t kOutputs = 0xC0;
constexpr uint8_t kReset = 0xD2;
constexpr uint8_t kUirLost = 0xE0, kSensor1 = 0xE1, kSensor3 = 0xE3;

std::string Where(int uir, int input) { return "УИР " + std::to_string(uir) + ", вход " + std::to_string(input); }

const char* const kModes[4] = {"без МТЗ / МТЗ-v", "МТЗ-1", "МТЗ-2", "МТЗ-3"};

}  // namespace

TWalkTest::TWalkTest(const TCbSettings& settings, int blockNumber, const std::string& fingerprint, int64_t startMs)
    : settings_(settings), block_(blockNumber), fingerprint_(fingerprint), startMs_(startMs)
{
    for (int u = 1; u <= kUirCount; ++u) {
        const TUirSettings& s = settings_.Uir[u - 1];
        const uint8_t control[3] = {s.InputControl1, s.InputControl2, s.InputControl3};
        const uint8_t function[3] = {s.InputFunction1, s.InputFunction2, s.InputFunction3};
        for (int i = 1; i <= 3; ++i) {
            TInputResult& r = At(u, i);
            r.Uir = u;
            r.Input = i;
            r.Function = function[i - 1] & 3;
            r.Monitored = s.Present != 0 && s.PollEnabled != 0 && control[i - 1] != 0;
        }
    }
}

TInputResult& TWalkTest::At(int uir, int input)
{
    return results_[static_cast<size_t>((uir - 1) * 3 + (input - 1))];
}

const TInputResult& TWalkTest::Result(int uir, int input) const
{
    static const TInputResult kNone;
    if (uir < 1 || uir > kUirCount || input < 1 || input > 3)
        return kNone;
    return results_[static_cast<size_t>((uir - 1) * 3 + (input - 1))];
}

// The waiting arc gets its verdict: from its outputs event, or (nullptr)
// for lack of one.
TWalkNote TWalkTest::Decide(const TEventData* outputs)
{
    TInputResult r = pending_;
    TInputResult& slot = At(pendingUir_, pendingInput_);
    const TInputResult before = slot;
    r.Mode = mode_;
    r.Predicted = static_cast<uint8_t>(latched_ | (settings_.FuncTable[r.Function][mode_] & 0x3F));
    std::string why;
    if (!r.Monitored) {
        const TUirSettings& s = settings_.Uir[r.Uir - 1];
        why = (s.Present == 0 || s.PollEnabled == 0) ? "УИР не опрашивается" : "вход не контролируется";
    }
    if (outputs) {
        r.Reported = outputs->Outputs & 0x3F;
        r.HaveReported = true;
        if (why.empty() && r.Reported != r.Predicted)
            why = "выходы " + OutputsText(r.Reported) + " вместо " + OutputsText(r.Predicted);
        latched_ = r.Reported;
    } else if (why.empty()) {
        why = "нет события выходов за " + std::to_string(kOutputsLimitMs / 1000) + " с";
    }
    r.Verdict = why.empty() ? TInputVerdict::Passed : TInputVerdict::Failed;
    r.Reason = why;
    r.Flashes = before.Flashes + 1;
    r.Fault = before.Fault;
    slot = r;

    TWalkNote n{r.Uir, r.Input, r.Verdict, Where(r.Uir, r.Input) + ": "};
    n.Text += r.Verdict == TInputVerdict::Passed ? "норма" : "ошибка, " + why;
    n.Text += " (" + std::string(kModes[r.Mode]) + ", F" + std::to_string(r.Function) + ", выходы " +
              OutputsText(r.Predicted) + ")";
    if (before.Flashes > 0)
        n.Text += "; повторная проверка заменяет результат от " + PcTimeText(before.PcMs);
    pendingUir_ = pendingInput_ = 0;
    return n;
}

std::vector<TWalkNote> TWalkTest::OnEvent(const TEventData& e, int64_t pcMs)
{
    std::vector<TWalkNote> notes;
    if (Finished())
        return notes;
    const bool arc = e.Code >= kArc1 && e.Code <= kArc3;
    // An arc that comes before the outputs of the last one: that one had none.
    if (arc && Pending())
        notes.push_back(Decide(nullptr));
    if (arc) {
        const int uir = e.UirAddress, input = e.Code - 0xA0;
        if (uir < 1 || uir > kUirCount)
            return notes;
        pending_ = At(uir, input);
        pending_.PcMs = pcMs;
        pending_.BlockTime = BlockTimeText(e);
        pending_.IntervalMs = e.Interval;
        pending_.Reported = 0;
        pending_.HaveReported = false;
        pendingUir_ = uir;
        pendingInput_ = input;
        pendingMs_ = pcMs;
        return notes;
    }
    if (e.Code >= kMtz1 && e.Code <= kMtz3) {
        mode_ = e.Code - kMtz1 + 1;
        notes.push_back({0, 0, TInputVerdict::Untested, "режим " + std::string(kModes[mode_])});
    } else if (e.Code == kOutputs) {
        if (Pending())
            notes.push_back(Decide(&e));
        else
            latched_ = e.Outputs & 0x3F;
    } else if (e.Code == kReset) {
        // Expected between flashes: the outputs and the MTZ mode start over.
        if (Pending())
            notes.push_back(Decide(nullptr));
        mode_ = 0;
        latched_ = 0;
        notes.push_back({0, 0, TInputVerdict::Untested, "сброс ЦБ"});
    } else if (e.Code == kUirLost || (e.Code >= kSensor1 && e.Code <= kSensor3)) {
        const int uir = e.UirAddress;
        if (uir < 1 || uir > kUirCount)
            return notes;
        const int first = e.Code == kUirLost ? 1 : e.Code - kUirLost;
        const int last = e.Code == kUirLost ? 3 : first;
        for (int i = first; i <= last; ++i) {
            At(uir, i).Fault = true;
            if (pendingUir_ == uir && pendingInput_ == i)
                pending_.Fault = true;
        }
        notes.push_back({uir, e.Code == kUirLost ? 0 : first, TInputVerdict::Failed,
                         e.Code == kUirLost ? "УИР " + std::to_string(uir) + ": нет связи с УИР"
                                            : Where(uir, first) + ": неисправность датчика"});
    }
    return notes;
}

std::vector<TWalkNote> TWalkTest::OnTime(int64_t pcMs)
{
    std::vector<TWalkNote> notes;
    if (Pending() && pcMs - pendingMs_ > kOutputsLimitMs)
        notes.push_back(Decide(nullptr));
    return notes;
}

std::vector<TWalkNote> TWalkTest::Finish(int64_t pcMs)
{
    std::vector<TWalkNote> notes;
    if (Pending())
        notes.push_back(Decide(nullptr));
    if (!Finished())
        endMs_ = pcMs != 0 ? pcMs : 1;
    return notes;
}

TWalkSummary TWalkTest::Summary() const
{
    TWalkSummary s;
    for (const TInputResult& r : results_) {
        if (r.Fault)
            ++s.Faults;
        if (!r.Monitored) {
            if (r.Verdict == TInputVerdict::Failed)
                ++s.Failed;  // an arc where none was expected
            continue;
        }
        ++s.Monitored;
        if (r.Verdict == TInputVerdict::Passed)
            ++s.Passed;
        else if (r.Verdict == TInputVerdict::Failed)
            ++s.Failed;
        else
            ++s.Untested;
    }
    return s;
}

bool TWalkTest::AllPassed() const
{
    const TWalkSummary s = Summary();
    return s.Monitored > 0 && s.Passed == s.Monitored && s.Failed == 0 && s.Faults == 0;
}

std::string TWalkTest::PcTimeText(int64_t ms, bool millis)
{
    const std::time_t t = static_cast<std::time_t>(ms / 1000);
    std::tm tm{};
#ifdef _WIN32
    localtime_s(&tm, &t);
#else
    localtime_r(&t, &tm);
#endif
    char buf[40];
    std::snprintf(buf, sizeof buf, "%02d.%02d.%04d %02d:%02d:%02d", tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900,
                  tm.tm_hour, tm.tm_min, tm.tm_sec);
    std::string s = buf;
    if (millis) {
        std::snprintf(buf, sizeof buf, ".%03d", static_cast<int>(ms % 1000));
        s += buf;
    }
    return s;
}

std::string TWalkTest::BlockTimeText(const TEventData& e)
{
    char buf[40];
    std::snprintf(buf, sizeof buf, "%02d.%02d.%04d %02d:%02d:%02d.%03d", e.Day, e.Month, 2000 + e.Year, e.Hours,
                  e.Minutes, e.Seconds, e.Milliseconds % 1000);
    return buf;
}

// ------------------------------------------------------------ the file

namespace {

constexpr const char* kMagic = "kestrel-walktest 1";

std::string Hex(const std::string& bytes)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string s;
    for (unsigned char c : bytes) {
        s += kDigits[c >> 4];
        s += kDigits[c & 15];
    }
    return s;
}

bool Unhex(const std::string& hex, std::string& out)
{
    if (hex.size() % 2)
        return false;
    out.clear();
    for (size_t i = 0; i < hex.size(); i += 2) {
        const auto v = [](char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1; };
        const int hi = v(hex[i]), lo = v(hex[i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        out += static_cast<char>(hi * 16 + lo);
    }
    return true;
}

// Texts go as hex: a reason or a time never breaks a line.
std::string Field(const std::string& s) { return s.empty() ? "-" : Hex(s); }
bool UnField(const std::string& f, std::string& out)
{
    std::string text;
    if (f != "-" && !Unhex(f, text))
        return false;
    out = std::move(text);
    return true;
}

}  // namespace

std::string TWalkTest::Serialize() const
{
    std::ostringstream o;
    o << kMagic << "\n";
    o << "block " << block_ << " " << Field(fingerprint_) << " " << startMs_ << " " << endMs_ << " " << mode_ << " "
      << int(latched_) << "\n";
    // The settings the test was made with, as the configuration file holds them.
    o << "settings " << Hex(SerializeConfig({settings_})) << "\n";
    for (const TInputResult& r : results_) {
        if (r.Verdict == TInputVerdict::Untested && !r.Fault)
            continue;
        o << "result " << r.Uir << " " << r.Input << " " << static_cast<int>(r.Verdict) << " " << r.Flashes << " "
          << r.PcMs << " " << r.IntervalMs << " " << r.Mode << " " << r.Function << " " << int(r.Predicted) << " "
          << int(r.Reported) << " " << (r.HaveReported ? 1 : 0) << " " << (r.Fault ? 1 : 0) << " "
          << Field(r.BlockTime) << " " << Field(r.Reason) << "\n";
    }
    o << "end\n";
    return o.str();
}

bool TWalkTest::Parse(const std::string& text, TWalkTest& out, std::string& why)
{
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || line != kMagic) {
        why = "not a walk-test file";
        return false;
    }
    int block = 0, mode = 0, latched = 0;
    int64_t start = 0, end = 0;
    std::string fp, word;
    if (!std::getline(in, line)) {
        why = "no block line";
        return false;
    }
    {
        std::istringstream l(line);
        if (!(l >> word >> block >> fp >> start >> end >> mode >> latched) || word != "block" || mode < 0 ||
            mode > 3 || !UnField(fp, fp)) {
            why = "bad block line";
            return false;
        }
    }
    std::string hex, image;
    if (!std::getline(in, line) || line.rfind("settings ", 0) != 0 || !Unhex(line.substr(9), image)) {
        why = "bad settings line";
        return false;
    }
    std::vector<TCbSettings> cbs;
    ConfigError error;
    if (ParseConfig(reinterpret_cast<const uint8_t*>(image.data()), image.size(), cbs, error) != 0 || cbs.size() != 1) {
        why = "bad settings: " + error.Describe();
        return false;
    }
    TWalkTest t(cbs[0], block, fp, start);
    t.endMs_ = end;
    t.mode_ = mode;
    t.latched_ = static_cast<uint8_t>(latched & 0x3F);
    bool ended = false;
    while (std::getline(in, line)) {
        if (line == "end") {
            ended = true;
            break;
        }
        std::istringstream l(line);
        int uir, input, verdict, flashes, interval, m, f, pred, rep, have, fault;
        int64_t pc;
        std::string bt, reason;
        if (!(l >> word >> uir >> input >> verdict >> flashes >> pc >> interval >> m >> f >> pred >> rep >> have >>
              fault >> bt >> reason) ||
            word != "result" || uir < 1 || uir > kUirCount || input < 1 || input > 3 || verdict < 0 || verdict > 2 ||
            m < 0 || m > 3 || f < 0 || f > 3 || !UnField(bt, bt) || !UnField(reason, reason)) {
            why = "bad result line: " + line.substr(0, 60);
            return false;
        }
        TInputResult& r = t.At(uir, input);
        r.Verdict = static_cast<TInputVerdict>(verdict);
        r.Flashes = flashes;
        r.PcMs = pc;
        r.IntervalMs = interval;
        r.Mode = m;
        r.Function = f;
        r.Predicted = static_cast<uint8_t>(pred & 0x3F);
        r.Reported = static_cast<uint8_t>(rep & 0x3F);
        r.HaveReported = have != 0;
        r.Fault = fault != 0;
        r.BlockTime = bt;
        r.Reason = reason;
    }
    // A file cut short is no test: results past the cut would be lost unseen.
    if (!ended) {
        why = "the file ends before its last line";
        return false;
    }
    out = t;
    return true;
}

int TWalkTest::SaveTo(const std::string& pathUtf8) const
{
    return ReplaceFileAtomically(NativePath(pathUtf8), Serialize()) == ReplaceFileResult::Ok ? 0 : -1;
}

bool TWalkTest::LoadFrom(const std::string& pathUtf8, TWalkTest& out, std::string& why)
{
    std::error_code ec;
    const std::filesystem::path path = NativePath(pathUtf8);
    if (!std::filesystem::is_regular_file(path, ec) || std::filesystem::file_size(path, ec) > (1u << 20)) {
        why = "no such walk-test file";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return Parse(text, out, why);
}

// ------------------------------------------------------------ the tap

TEventTap::TEventTap(const TKestrelEvents& list) : list_(list)
{
    list_.NewerThan(UINT64_MAX, seen_);
}

std::vector<TEventData> TEventTap::Take() { return list_.NewerThan(seen_, seen_); }

}  // namespace kestrel
