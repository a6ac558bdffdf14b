#pragma once
// The configuration file: a flat little-endian binary snapshot of the
// installation (CB count, then per CB its block and its 43 UIR records).
//
//   ReadConfigFile(state)   0 ok; -1 cannot open (missing, no access, a
//                           folder); -2 empty file, a file that ends inside
//                           any field (the count included), a text longer
//                           than the rest of the file or than kMaxTextBytes,
//                           a CB count above kMaxCbCount, a file larger than
//                           kMaxConfigFileBytes, something that is not a
//                           plain file (a FIFO, a device: never read, so
//                           never waited on), or a read error after the
//                           count; -3 a read error before the count was
//                           complete; -4 unexpected error (exception).
//   WriteConfigFile(state)  0 ok; -1 cannot create; -2 a write failed, or a
//                           text longer than kMaxTextBytes (nothing is
//                           written: the reader would refuse the file);
//                           -3 unexpected error (exception).
//
// Both take the path from state.CfgFilePath (UTF-8 text, every character
// kept: only the texts inside the file are Windows-1251; on Linux a
// backslash in it is a path separator, so ".\1.cfg" is "./1.cfg").
//
// Reading parses the whole file into a staging copy first and changes the
// records and CbCount only when every field was read, under
// state.RecordLock, so a bad file leaves the model exactly as it was and the
// acquisition thread never sees a half-read record. A CB count above the
// allocated table grows the table (up to kMaxCbCount); a larger count is a
// bad file (-2).
//
// Writing builds the whole image in memory, writes it to a temporary file in
// the same folder, flushes it to disk and renames it over the old file: a
// failed write leaves the previous file intact.
//
// Call both on the user-interface thread.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "state/FileIo.h"
#include "state/Model.h"

namespace kestrel {

// The longest text a configuration holds, in bytes (Windows-1251: one byte a
// character). Texts are captions on tiles and lists, far shorter than this;
// a window that edits one caps it here, and a longer counted text is a bad
// file.
constexpr std::size_t kMaxTextBytes = 1024;

// The largest valid file, so that no read takes in more than a configuration
// can be. The count, then kMaxCbCount CB blocks each with its 43 UIR records,
// every text at kMaxTextBytes:
//   counted text           4 + 1 024              =      1 028
//   CB block               4 texts + 38 fixed     =      4 150
//   UIR record             4 texts + 10 fixed     =      4 122
//   CB with its UIRs       4 150 + 43 x 4 122     =    181 396
//   file                   4 + 255 x 181 396      = 46 255 984 bytes
constexpr std::size_t kMaxCountedTextBytes = 4 + kMaxTextBytes;
constexpr std::size_t kMaxCbBlockBytes = 4 * kMaxCountedTextBytes + 38;
constexpr std::size_t kMaxUirRecordBytes = 4 * kMaxCountedTextBytes + 10;
constexpr std::size_t kMaxConfigFileBytes =
    4 + static_cast<std::size_t>(kMaxCbCount) * (kMaxCbBlockBytes + kUirCount * kMaxUirRecordBytes);
static_assert(kMaxConfigFileBytes == 46255984);

// Where and why parsing stopped. Field names read like "Cb[0].Uir[12].ChName2"
// or "CbCount"; offset is the byte offset of the field (or of the string
// bytes for a counted string whose text is cut short).
struct ConfigError {
    std::string field;
    std::size_t offset = 0;
    std::string reason;  // English, for the engineers' tool and test output
    std::string Describe() const;  // "Cb[0].Name at byte offset 4: ..."
};

// A value that reads fine but is unusual (a flag byte other than 0 or 1, a
// function number above 3, bytes after the last record, ...). Only collected
// when asked for; the reader itself accepts such files.
struct ConfigNote {
    std::string field;
    std::size_t offset = 0;
    std::string text;
};

// A cursor over the bytes of the file; every read checks what is left.
class ConfigReader {
public:
    ConfigReader(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::size_t Offset() const { return pos_; }
    std::size_t Remaining() const { return size_ - pos_; }
    std::size_t Size() const { return size_; }
    // Each returns false (and sets error, leaving the output alone) when the
    // file does not hold the whole field. `field` is the name within the
    // current record; errors and notes name it as prefix + "." + field.
    bool U8(const char* field, uint8_t& out);
    bool U16(const char* field, uint16_t& out);
    bool U32(const char* field, uint32_t& out);
    bool I32(const char* field, int32_t& out);
    bool Bytes(const char* field, uint8_t* out, std::size_t n);
    bool String(const char* field, Text& out);
    // Flag bytes: in a CB block any non-zero byte is true, in a UIR record
    // only 1 is. The result is always 0 or 1.
    bool CbFlag(const char* field, uint8_t& out);
    bool UirFlag(const char* field, uint8_t& out);
    // The full name of a field of the current record.
    std::string FieldName(const char* field) const;
    void Note(const char* field, std::size_t offset, std::string text);

    std::string prefix;  // the record being read, "Cb[0]" or "Cb[0].Uir[5]"
    ConfigError error;
    std::vector<ConfigNote>* notes = nullptr;  // optional

private:
    bool Take(const char* field, std::size_t n, const char* what);
    const uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// Appends little-endian fields to an image of the file.
class ConfigWriter {
public:
    void U8(uint8_t v) { bytes_.push_back(v); }
    void U16(uint16_t v);
    void U32(uint32_t v);
    void I32(int32_t v) { U32(static_cast<uint32_t>(v)); }
    void Flag(uint8_t v) { U8(v != 0 ? 1 : 0); }
    void String(const Text& s);
    const std::string& Bytes() const { return bytes_; }

private:
    std::string bytes_;
};

// One UIR record. 0 ok; -2 a read failed (reader.error says where);
// -3 unexpected error. `prefix` names the record in errors ("Cb[0].Uir[5]").
int ReadUirRecord(ConfigReader& in, TUirSettings& out, const std::string& prefix);
// 0 ok; -3 unexpected error (an in-memory image cannot fail otherwise).
int WriteUirRecord(ConfigWriter& out, const TUirSettings& uir);

// The whole file from bytes, with ReadConfigFile's result codes (0, -2, -3).
// On success cbs holds exactly the file's count of records. The reader, the
// engineers' tool and the fuzzer share this.
int ParseConfig(const uint8_t* data, std::size_t size, std::vector<TCbSettings>& cbs, ConfigError& error,
                std::vector<ConfigNote>* notes = nullptr);
// The image of a file holding these records.
std::string SerializeConfig(const std::vector<TCbSettings>& cbs);

// The whole file at `path` parsed, with ReadConfigFile's result codes; the
// model is not touched. Used to tell a damaged file from a good one.
int LoadConfigFile(const std::filesystem::path& path, std::vector<TCbSettings>& cbs);

// True when every text of the records fits kMaxTextBytes.
bool TextsFit(const std::vector<TCbSettings>& cbs);

// The records of `state` that the file holds: CbCount of them.
// Returns false when CbCount does not fit the allocated table.
bool SnapshotSettings(const TGlobalState& state, std::vector<TCbSettings>& cbs);

int ReadConfigFile(TGlobalState& state);
int WriteConfigFile(TGlobalState& state);

// Before a new configuration replaces the file at `path`: a plain file that is
// there keeps its bytes in a new file beside it, "<path>.damaged-N" when it
// does not read as a configuration, "<path>.old-N" when it does (N = 1, 2,
// ...: the first free name; no earlier copy is ever overwritten). On
// KeepCopyResult::Failed the file must not be replaced.
struct TKeptCopy {
    KeepCopyResult result = KeepCopyResult::NoFile;
    bool damaged = false;  // the file did not read as a configuration
    std::filesystem::path copy;
    std::string reason;  // why no copy could be made (English)
};
TKeptCopy KeepCopyBeforeReplacing(const std::filesystem::path& path);
inline constexpr const char* kDamagedCopySuffix = ".damaged-";
inline constexpr const char* kOldCopySuffix = ".old-";

// The settings of a new installation as the start-up leaves them: one CB with
// every record at its defaults and all 43 UIRs present, numbered 1..43.
TCbSettings DefaultCbSettings();

}  // namespace kestrel
