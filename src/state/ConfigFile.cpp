#include "state/ConfigFile.h"

#include <exception>
#include <mutex>
#include <stdexcept>


namespace kestrel {

std::string ConfigError::Describe() const
{
    return field + " at byte offset " + std::to_string(offset) + ": " + reason;
}

// --- reading --------------------------------------------------------------

std::string ConfigReader::FieldName(const char* field) const
{
    return prefix.empty() ? std::string(field) : prefix + "." + field;
}

bool ConfigReader::Take(const char* field, std::size_t n, const char* what)
{
    if (n <= Remaining())
        return true;
    error.field = FieldName(field);
    error.offset = pos_;
    error.reason = "the file ends after " + std::to_string(size_) + " bytes, " + std::to_string(Remaining()) +
                   " left where " + what + " of " + std::to_string(n) + " bytes is expected";
    return false;
}

void ConfigReader::Note(const char* field, std::size_t offset, std::string text)
{
    if (notes)
        notes->push_back({FieldName(field), offset, std::move(text)});
}

bool ConfigReader::Bytes(const char* field, uint8_t* out, std::size_t n)
{
    if (!Take(field, n, "a field"))
        return false;
    for (std::size_t i = 0; i < n; ++i)
        out[i] = data_[pos_ + i];
    pos_ += n;
    return true;
}

bool ConfigReader::U8(const char* field, uint8_t& out)
{
    return Bytes(field, &out, 1);
}

bool ConfigReader::U16(const char* field, uint16_t& out)
{
    uint8_t b[2];
    if (!Bytes(field, b, 2))
        return false;
    out = static_cast<uint16_t>(b[0] | (b[1] << 8));
    return true;
}

bool ConfigReader::U32(const char* field, uint32_t& out)
{
    uint8_t b[4];
    if (!Bytes(field, b, 4))
        return false;
    out = static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) | (static_cast<uint32_t>(b[2]) << 16) |
          (static_cast<uint32_t>(b[3]) << 24);
    return true;
}

bool ConfigReader::I32(const char* field, int32_t& out)
{
    uint32_t v;
    if (!U32(field, v))
        return false;
    out = static_cast<int32_t>(v);
    return true;
}

bool ConfigReader::String(const char* field, Text& out)
{
    const std::size_t start = pos_;
    uint32_t n;
    if (!U32(field, n))
        return false;
    if (n > kMaxTextBytes) {
        error.field = FieldName(field);
        error.offset = start;
        error.reason = "text length " + std::to_string(n) + " exceeds the limit of " +
                       std::to_string(kMaxTextBytes) + " bytes";
        pos_ = start;
        return false;
    }
    // A count beyond the end of the file is a bad file: never allocate or
    // read past what the file holds.
    if (n > Remaining()) {
        error.field = FieldName(field);
        error.offset = start;
        error.reason = "text length " + std::to_string(n) + " exceeds the " + std::to_string(Remaining()) +
                       " bytes left in the file";
        pos_ = start;
        return false;
    }
    out.assign(reinterpret_cast<const char*>(data_ + pos_), n);
    pos_ += n;
    return true;
}

bool ConfigReader::CbFlag(const char* field, uint8_t& out)
{
    const std::size_t at = pos_;
    uint8_t b;
    if (!U8(field, b))
        return false;
    if (b > 1)
        Note(field, at, "flag byte " + std::to_string(b) + " (reads as 1)");
    out = b != 0 ? 1 : 0;
    return true;
}

bool ConfigReader::UirFlag(const char* field, uint8_t& out)
{
    const std::size_t at = pos_;
    uint8_t b;
    if (!U8(field, b))
        return false;
    if (b > 1)
        Note(field, at, "flag byte " + std::to_string(b) + " (reads as 0)");
    out = b == 1 ? 1 : 0;
    return true;
}

int ReadUirRecord(ConfigReader& in, TUirSettings& out, const std::string& prefix)
{
    try {
        in.prefix = prefix;
        TUirSettings u;
        const std::size_t numberAt = in.Offset() + 1;
        const bool ok = in.UirFlag("Present", u.Present) && in.U8("Number", u.Number) &&
                        in.String("Name", u.Name) && in.String("ChName1", u.ChName1) &&
                        in.String("ChName2", u.ChName2) && in.String("ChName3", u.ChName3) &&
                        in.UirFlag("OutputEnabled", u.OutputEnabled) && in.UirFlag("PollEnabled", u.PollEnabled) &&
                        in.UirFlag("InputControl1", u.InputControl1) &&
                        in.UirFlag("InputControl2", u.InputControl2) &&
                        in.UirFlag("InputControl3", u.InputControl3);
        if (!ok)
            return -2;
        const std::size_t funcAt = in.Offset();
        if (!(in.U8("InputFunction1", u.InputFunction1) && in.U8("InputFunction2", u.InputFunction2) &&
              in.U8("InputFunction3", u.InputFunction3)))
            return -2;
        if (in.notes) {
            if (u.Number < 1 || u.Number > kUirCount)
                in.Note("Number", numberAt,
                        "UIR number " + std::to_string(u.Number) + " outside 1.." + std::to_string(kUirCount));
            static const char* const names[3] = {"InputFunction1", "InputFunction2", "InputFunction3"};
            const uint8_t fn[3] = {u.InputFunction1, u.InputFunction2, u.InputFunction3};
            for (int i = 0; i < 3; ++i)
                if (fn[i] > 3)
                    in.Note(names[i], funcAt + i, "function number " + std::to_string(fn[i]) + " outside 0..3");
        }
        out = std::move(u);
        return 0;
    } catch (const std::exception& e) {
        in.error = {prefix, in.Offset(), std::string("unexpected error: ") + e.what()};
        return -3;
    }
}

namespace {

bool ReadCbBlock(ConfigReader& in, TCbSettings& cb, const std::string& p)
{
    in.prefix = p;
    if (!(in.String("Name", cb.Name) && in.String("PowerName", cb.PowerName) && in.String("ArcName", cb.ArcName) &&
          in.String("EmerName", cb.EmerName) && in.CbFlag("MtzWait", cb.MtzWait) &&
          in.U16("UrovTimeMs", cb.UrovTimeMs)))
        return false;
    // Stored mode by mode, each mode as F0..F3; the record is [function][mode].
    static const char* const names[4][4] = {
        {"FuncTable[0][0]", "FuncTable[0][1]", "FuncTable[0][2]", "FuncTable[0][3]"},
        {"FuncTable[1][0]", "FuncTable[1][1]", "FuncTable[1][2]", "FuncTable[1][3]"},
        {"FuncTable[2][0]", "FuncTable[2][1]", "FuncTable[2][2]", "FuncTable[2][3]"},
        {"FuncTable[3][0]", "FuncTable[3][1]", "FuncTable[3][2]", "FuncTable[3][3]"},
    };
    for (int m = 0; m < 4; ++m)
        for (int k = 0; k < 4; ++k)
            if (!in.U8(names[k][m], cb.FuncTable[k][m]))
                return false;
    return in.CbFlag("Enabled", cb.Enabled) && in.U32("Baud", cb.Baud) && in.U8("Address", cb.Address) &&
           in.U8("PortNumber", cb.PortNumber) && in.I32("DataBits", cb.DataBits) && in.I32("Parity", cb.Parity) &&
           in.I32("StopBits", cb.StopBits);
}

}  // namespace

int ParseConfig(const uint8_t* data, std::size_t size, std::vector<TCbSettings>& cbs, ConfigError& error,
                std::vector<ConfigNote>* notes)
{
    ConfigReader in(data, size);
    in.notes = notes;
    try {
        if (size == 0) {
            error = {"CbCount", 0, "the file is empty"};
            return -2;
        }
        uint32_t count;
        if (!in.U32("CbCount", count)) {
            error = in.error;
            return -2;
        }
        if (count > static_cast<uint32_t>(kMaxCbCount)) {
            error = {"CbCount", 0,
                     "CB count " + std::to_string(count) + " exceeds the limit of " + std::to_string(kMaxCbCount)};
            return -2;
        }
        // Records are added as they are read, so memory follows what the
        // file holds rather than what its count claims.
        std::vector<TCbSettings> staged;
        for (uint32_t c = 0; c < count; ++c) {
            TCbSettings& cb = staged.emplace_back();
            const std::string p = "Cb[" + std::to_string(c) + "]";
            if (!ReadCbBlock(in, cb, p)) {
                error = in.error;
                return -2;
            }
            for (int i = 0; i < kUirCount; ++i)
                if (ReadUirRecord(in, cb.Uir[i], p + ".Uir[" + std::to_string(i) + "]") != 0) {
                    error = in.error;
                    return -2;
                }
        }
        in.prefix.clear();
        if (in.Remaining() > 0)
            in.Note("(end)", in.Offset(), std::to_string(in.Remaining()) + " bytes after the last record (not read)");
        cbs = std::move(staged);
        return 0;
    } catch (const std::exception& e) {
        error = {"(file)", in.Offset(), std::string("unexpected error: ") + e.what()};
        return -4;
    }
}

// --- writing --------------------------------------------------------------

void ConfigWriter::U16(uint16_t v)
{
    U8(static_cast<uint8_t>(v));
    U8(static_cast<uint8_t>(v >> 8));
}

void ConfigWriter::U32(uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        U8(static_cast<uint8_t>(v >> (8 * i)));
}

void ConfigWriter::String(const Text& s)
{
    U32(static_cast<uint32_t>(s.size()));
    bytes_.append(s);
}

int WriteUirRecord(ConfigWriter& out, const TUirSettings& u)
{
    try {
        out.Flag(u.Present);
        out.U8(u.Number);
        out.String(u.Name);
        out.String(u.ChName1);
        out.String(u.ChName2);
        out.String(u.ChName3);
        out.Flag(u.OutputEnabled);
        out.Flag(u.PollEnabled);
        out.Flag(u.InputControl1);
        out.Flag(u.InputControl2);
        out.Flag(u.InputControl3);
        out.U8(u.InputFunction1);
        out.U8(u.InputFunction2);
        out.U8(u.InputFunction3);
        return 0;
    } catch (const std::exception&) {
        return -3;
    }
}

std::string SerializeConfig(const std::vector<TCbSettings>& cbs)
{
    ConfigWriter out;
    out.U32(static_cast<uint32_t>(cbs.size()));
    for (const TCbSettings& cb : cbs) {
        out.String(cb.Name);
        out.String(cb.PowerName);
        out.String(cb.ArcName);
        out.String(cb.EmerName);
        out.Flag(cb.MtzWait);
        out.U16(cb.UrovTimeMs);
        for (int m = 0; m < 4; ++m)
            for (int k = 0; k < 4; ++k)
                out.U8(cb.FuncTable[k][m]);
        out.Flag(cb.Enabled);
        out.U32(cb.Baud);
        out.U8(cb.Address);
        out.U8(cb.PortNumber);
        out.I32(cb.DataBits);
        out.I32(cb.Parity);
        out.I32(cb.StopBits);
        for (const TUirSettings& u : cb.Uir)
            if (WriteUirRecord(out, u) != 0)
                throw std::runtime_error("UIR record");
    }
    return out.Bytes();
}

bool SnapshotSettings(const TGlobalState& state, std::vector<TCbSettings>& cbs)
{
    std::lock_guard lock(state.RecordLock);
    const int32_t count = state.CbCount;
    if (count < 0 || count > state.Allocated())
        return false;
    std::vector<TCbSettings> snap;
    snap.reserve(static_cast<std::size_t>(count));
    for (int32_t c = 0; c < count; ++c) {
        const TCbData* cb = state.Cb(c);
        if (!cb)
            return false;
        snap.push_back(GetSettings(*cb));
    }
    cbs = std::move(snap);
    return true;
}

TCbSettings DefaultCbSettings()
{
    TCbSettings s = TCbSettings::Defaults();
    for (int i = 0; i < kUirCount; ++i) {
        s.Uir[i].Present = 1;
        s.Uir[i].Number = static_cast<uint8_t>(i + 1);
    }
    return s;
}

// --- the two operations ---------------------------------------------------

int LoadConfigFile(const std::filesystem::path& path, std::vector<TCbSettings>& cbs)
{
    try {
        std::string bytes;
        switch (ReadWholeFile(path, bytes, kMaxConfigFileBytes)) {
        case ReadFileResult::Ok:
            break;
        case ReadFileResult::CannotOpen:
            return -1;
        case ReadFileResult::ReadError:
            return bytes.size() < 4 ? -3 : -2;
        case ReadFileResult::NotRegular:
        case ReadFileResult::TooLarge:
            return -2;
        }
        ConfigError error;
        return ParseConfig(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), cbs, error, nullptr);
    } catch (const std::exception&) {
        return -4;
    }
}

bool TextsFit(const std::vector<TCbSettings>& cbs)
{
    const auto fits = [](const Text& t) { return t.size() <= kMaxTextBytes; };
    for (const TCbSettings& cb : cbs) {
        if (!(fits(cb.Name) && fits(cb.PowerName) && fits(cb.ArcName) && fits(cb.EmerName)))
            return false;
        for (const TUirSettings& u : cb.Uir)
            if (!(fits(u.Name) && fits(u.ChName1) && fits(u.ChName2) && fits(u.ChName3)))
                return false;
    }
    return true;
}

TKeptCopy KeepCopyBeforeReplacing(const std::filesystem::path& path)
{
    TKeptCopy kept;
    std::vector<TCbSettings> cbs;
    kept.damaged = LoadConfigFile(path, cbs) != 0;
    kept.result = KeepCopyOf(path, kept.damaged ? kDamagedCopySuffix : kOldCopySuffix, kept.copy, kept.reason);
    return kept;
}

int ReadConfigFile(TGlobalState& state)
{
    try {
        std::vector<TCbSettings> cbs;
        const int rc = LoadConfigFile(NativePath(state.CfgFilePath), cbs);
        if (rc != 0)
            return rc;
        // Commit the whole file at once, so the acquisition thread never
        // takes link settings from a half-read record.
        std::lock_guard lock(state.RecordLock);
        const auto count = static_cast<int32_t>(cbs.size());
        if (!state.EnsureAllocated(count))
            return -2;
        // Every record exists now; nobody who honours the lock sees the new
        // count before the records are filled.
        state.CbCount = count;
        state.ClampShownCb();
        for (int32_t c = 0; c < count; ++c) {
            TCbData& cb = *state.Cb(c);
            ApplySettings(cb, cbs[static_cast<std::size_t>(c)]);
            cb.SetFileSettings(DeviceSettingsOf(cbs[static_cast<std::size_t>(c)]));
        }
        return 0;
    } catch (const std::exception&) {
        return -4;
    }
}

int WriteConfigFile(TGlobalState& state)
{
    try {
        std::vector<TCbSettings> cbs;
        if (!SnapshotSettings(state, cbs) || !TextsFit(cbs))
            return -2;
        // A block found changed on its own menu keeps, in the file, what the
        // file held of its settings until the operator has decided: nothing
        // the block was changed to goes into the file without a word.
        for (std::size_t c = 0; c < cbs.size(); ++c) {
            const TCbData* cb = state.Cb(static_cast<int32_t>(c));
            TDeviceSettings file;
            if (cb && cb->SettingsChangedOnSite.load() != 0 && cb->FileSettings(file))
                ApplyDeviceSettings(cbs[c], file);
        }
        const std::string image = SerializeConfig(cbs);
        switch (ReplaceFileAtomically(NativePath(state.CfgFilePath), image)) {
        case ReplaceFileResult::Ok:
            for (std::size_t c = 0; c < cbs.size(); ++c) {
                if (TCbData* cb = state.Cb(static_cast<int32_t>(c)))
                    cb->SetFileSettings(DeviceSettingsOf(cbs[c]));
            }
            return 0;
        case ReplaceFileResult::CannotCreate:
            return -1;
        case ReplaceFileResult::WriteFailed:
            return -2;
        }
        return -2;
    } catch (const std::exception&) {
        return -3;
    }
}

}  // namespace kestrel
