#pragma once
// The journal table as plain rows and its export to a text file.
// Rows hold UTF-8 texts; the file holds Windows-1251 bytes, one line per
// event row, columns joined by ";   ", each line ended by CR LF, with no
// header line and no byte-order mark.
#include <array>
#include <cstddef>
#include <string>
#include <vector>

namespace kestrel {

constexpr int kJournalColumns = 4;
using TJournalRow = std::array<std::string, kJournalColumns>;

// The column separator of an exported line: a semicolon and three blanks.
inline constexpr const char* kJournalSeparator = ";   ";

// One exported line (UTF-8), without its line end.
std::string JournalLine(const TJournalRow& row);
// The whole file content: every row converted to Windows-1251, CR LF after each.
std::string JournalExportBytes(const std::vector<TJournalRow>& rows);

// Results of SaveJournalFile.
enum : int {
    kExportOk = 0,
    kExportCannotCreate = -1,   // the temporary file could not be created
    kExportWriteFailed = -2,    // a line (or the final flush) could not be written
    kExportReplaceFailed = -3,  // the finished file could not take the chosen name
    kExportException = -4,
};

// The file operations the export needs; paths are UTF-8.
class IExportFiles {
public:
    virtual ~IExportFiles() = default;
    // Create (or truncate) a file for writing.
    virtual bool Create(const std::string& path) = 0;
    virtual bool Write(const char* data, std::size_t size) = 0;
    // Flush and close; false when buffered data could not be written.
    virtual bool Close() = 0;
    // Give `from` the name `to`, replacing a file of that name.
    virtual bool Replace(const std::string& from, const std::string& to) = 0;
    virtual void Remove(const std::string& path) = 0;
};

// The real files (std::filesystem and std::ofstream).
class TDiskExportFiles final : public IExportFiles {
public:
    TDiskExportFiles();
    ~TDiskExportFiles() override;
    bool Create(const std::string& path) override;
    bool Write(const char* data, std::size_t size) override;
    bool Close() override;
    bool Replace(const std::string& from, const std::string& to) override;
    void Remove(const std::string& path) override;

private:
    struct Impl;
    Impl* impl_;
};

// The name of the file the export writes before it takes the chosen name.
std::string JournalTempPath(const std::string& path);

// Export rows to `path`. The lines go to a temporary file beside it, which
// takes the chosen name only when every byte was written; on any failure the
// temporary file is removed and a file already at `path` is left as it was.
// An empty path (a name the save dialog could not hand over whole) is
// kExportCannotCreate, with nothing created.
int SaveJournalFile(const std::string& path, const std::vector<TJournalRow>& rows,
                    IExportFiles& files);
int SaveJournalFile(const std::string& path, const std::vector<TJournalRow>& rows);

}  // namespace kestrel
