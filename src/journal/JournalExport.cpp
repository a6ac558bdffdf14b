#include "journal/JournalExport.h"

#include <filesystem>
#include <fstream>
#include <system_error>

#include "state/Cp1251.h"

namespace kestrel {

namespace fs = std::filesystem;

namespace {

fs::path PathFromUtf8(const std::string& utf8)
{
    // u8string keeps Cyrillic names intact on Windows as well.
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

}  // namespace

std::string JournalLine(const TJournalRow& row)
{
    std::string line;
    for (int c = 0; c < kJournalColumns; ++c) {
        if (c > 0)
            line += kJournalSeparator;
        line += row[static_cast<std::size_t>(c)];
    }
    return line;
}

std::string JournalExportBytes(const std::vector<TJournalRow>& rows)
{
    std::string out;
    for (const auto& row : rows) {
        out += Utf8ToCp1251(JournalLine(row));
        out += "\r\n";
    }
    return out;
}

struct TDiskExportFiles::Impl {
    std::ofstream out;
};

TDiskExportFiles::TDiskExportFiles() : impl_(new Impl) {}
TDiskExportFiles::~TDiskExportFiles() { delete impl_; }

bool TDiskExportFiles::Create(const std::string& path)
{
    impl_->out.close();
    impl_->out.clear();
    impl_->out.open(PathFromUtf8(path), std::ios::binary | std::ios::out | std::ios::trunc);
    return impl_->out.is_open() && impl_->out.good();
}

bool TDiskExportFiles::Write(const char* data, std::size_t size)
{
    impl_->out.write(data, static_cast<std::streamsize>(size));
    return impl_->out.good();
}

bool TDiskExportFiles::Close()
{
    if (!impl_->out.is_open())
        return false;
    impl_->out.flush();
    const bool flushed = impl_->out.good();
    impl_->out.close();
    return flushed && !impl_->out.fail();
}

bool TDiskExportFiles::Replace(const std::string& from, const std::string& to)
{
    std::error_code ec;
    fs::rename(PathFromUtf8(from), PathFromUtf8(to), ec);
    return !ec;
}

void TDiskExportFiles::Remove(const std::string& path)
{
    std::error_code ec;
    fs::remove(PathFromUtf8(path), ec);
}

std::string JournalTempPath(const std::string& path)
{
    return path + ".tmp~";
}

int SaveJournalFile(const std::string& path, const std::vector<TJournalRow>& rows,
                    IExportFiles& files)
{
    // An empty name would put the temporary file in the working folder.
    if (path.empty())
        return kExportCannotCreate;
    const std::string temp = JournalTempPath(path);
    try {
        if (!files.Create(temp)) {
            files.Remove(temp);
            return kExportCannotCreate;
        }
        for (const auto& row : rows) {
            const std::string line = Utf8ToCp1251(JournalLine(row)) + "\r\n";
            if (!files.Write(line.data(), line.size())) {
                files.Close();
                files.Remove(temp);
                return kExportWriteFailed;
            }
        }
        if (!files.Close()) {
            files.Remove(temp);
            return kExportWriteFailed;
        }
        if (!files.Replace(temp, path)) {
            files.Remove(temp);
            return kExportReplaceFailed;
        }
        return kExportOk;
    } catch (...) {
        try {
            files.Close();
            files.Remove(temp);
        } catch (...) {
        }
        return kExportException;
    }
}

int SaveJournalFile(const std::string& path, const std::vector<TJournalRow>& rows)
{
    TDiskExportFiles files;
    return SaveJournalFile(path, rows, files);
}

}  // namespace kestrel
