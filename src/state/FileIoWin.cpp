// Files on Windows: wide-character paths (from the model's UTF-8 text), a
// temporary file beside the target, FlushFileBuffers and
// MoveFileExW to replace the old file in one step.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <string>

#include "state/WinText.h"
#include "state/FileIo.h"

namespace kestrel {

namespace {

class Handle {
public:
    explicit Handle(HANDLE h) : h_(h) {}
    ~Handle() { Close(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE Get() const { return h_; }
    bool Valid() const { return h_ != INVALID_HANDLE_VALUE; }
    bool Close()
    {
        if (!Valid())
            return true;
        const BOOL ok = CloseHandle(h_);
        h_ = INVALID_HANDLE_VALUE;
        return ok != 0;
    }

private:
    HANDLE h_;
};

// A file on a disk, not a folder or a device opened through a file name.
bool IsPlainFile(HANDLE h)
{
    if (GetFileType(h) != FILE_TYPE_DISK)
        return false;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(h, &info))
        return false;
    return (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

// For messages: never throws on a name the ANSI code page cannot hold.
std::string Utf8Of(const std::filesystem::path& p)
{
    const std::u8string s = p.u8string();
    return std::string(s.begin(), s.end());
}

std::string ErrorText(DWORD err)
{
    return "Windows error " + std::to_string(err);
}

bool WriteAll(HANDLE h, const char* data, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size - done, 1u << 20));
        DWORD put = 0;
        if (!WriteFile(h, data + done, chunk, &put, nullptr) || put == 0)
            return false;
        done += put;
    }
    return true;
}

// Enough for years of damaged files; past it something else is wrong.
constexpr unsigned kMaxCopies = 9999;

}  // namespace

std::filesystem::path NativePath(const std::string& pathUtf8)
{
    // Never a near miss: text that is not UTF-8 names no file at all.
    std::wstring wide;
    if (!WideFromUtf8(pathUtf8, wide))
        return {};
    return std::filesystem::path(wide);
}

ReadFileResult ReadWholeFile(const std::filesystem::path& native, std::string& bytes, std::uintmax_t maxBytes)
{
    bytes.clear();
    const std::wstring path = native.wstring();
    if (path.empty())
        return ReadFileResult::CannotOpen;
    // A folder does not open without FILE_FLAG_BACKUP_SEMANTICS: CannotOpen.
    Handle h(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.Valid())
        return ReadFileResult::CannotOpen;
    // Pipes, consoles, serial ports and the like are not read at all: a read
    // on them waits for a writer or a time-out.
    if (!IsPlainFile(h.Get()))
        return ReadFileResult::NotRegular;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(h.Get(), &size) || size.QuadPart < 0)
        return ReadFileResult::NotRegular;
    if (static_cast<std::uintmax_t>(size.QuadPart) > maxBytes)
        return ReadFileResult::TooLarge;
    char buf[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(h.Get(), buf, sizeof buf, &got, nullptr))
            return ReadFileResult::ReadError;
        if (got == 0)
            return ReadFileResult::Ok;
        bytes.append(buf, got);
        // The file grew after its size was taken.
        if (bytes.size() > maxBytes) {
            bytes.clear();
            return ReadFileResult::TooLarge;
        }
    }
}

ReplaceFileResult ReplaceFileAtomically(const std::filesystem::path& native, const std::string& bytes)
{
    static std::atomic<unsigned> serial{0};
    const std::wstring path = native.wstring();
    if (path.empty() || path.back() == L'\\' || path.back() == L'/')
        return ReplaceFileResult::CannotCreate;
    const std::wstring tmp =
        path + L".tmp" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(serial++);
    Handle h(CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.Valid())
        return ReplaceFileResult::CannotCreate;
    bool ok = WriteAll(h.Get(), bytes.data(), bytes.size());
    ok = ok && FlushFileBuffers(h.Get()) != 0;
    ok = h.Close() && ok;
    ok = ok && MoveFileExW(tmp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    if (!ok) {
        DeleteFileW(tmp.c_str());
        return ReplaceFileResult::WriteFailed;
    }
    return ReplaceFileResult::Ok;
}

KeepCopyResult KeepCopyOf(const std::filesystem::path& native, const std::string& suffix,
                          std::filesystem::path& copy, std::string& reason)
{
    const std::wstring path = native.wstring();
    if (path.empty())
        return KeepCopyResult::NoFile;
    const DWORD attrs = GetFileAttributesW(path.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES) {
        const DWORD err = GetLastError();
        if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND)
            return KeepCopyResult::NoFile;
        reason = "cannot look at " + Utf8Of(native) + ": " + ErrorText(err);
        return KeepCopyResult::Failed;
    }
    if (attrs & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE))
        return KeepCopyResult::NoFile;
    Handle in(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!in.Valid()) {
        reason = "cannot open " + Utf8Of(native) + ": " + ErrorText(GetLastError());
        return KeepCopyResult::Failed;
    }
    if (!IsPlainFile(in.Get()))
        return KeepCopyResult::NoFile;

    for (unsigned n = 1; n <= kMaxCopies; ++n) {
        const std::wstring name = path + std::filesystem::path(suffix).wstring() + std::to_wstring(n);
        // CREATE_NEW: an existing name is never reused.
        Handle out(CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!out.Valid()) {
            const DWORD err = GetLastError();
            if (err == ERROR_FILE_EXISTS || err == ERROR_ALREADY_EXISTS)
                continue;
            reason = "cannot create " + Utf8Of(std::filesystem::path(name)) + ": " + ErrorText(err);
            return KeepCopyResult::Failed;
        }
        bool ok = true;
        DWORD err = 0;
        char buf[65536];
        for (;;) {
            DWORD got = 0;
            if (!ReadFile(in.Get(), buf, sizeof buf, &got, nullptr)) {
                err = GetLastError();
                ok = false;
                break;
            }
            if (got == 0)
                break;
            if (!WriteAll(out.Get(), buf, got)) {
                err = GetLastError();
                ok = false;
                break;
            }
        }
        if (ok && !FlushFileBuffers(out.Get())) {
            err = GetLastError();
            ok = false;
        }
        if (!out.Close() && ok) {
            err = GetLastError();
            ok = false;
        }
        if (!ok) {
            DeleteFileW(name.c_str());
            reason = "cannot copy " + Utf8Of(native) + ": " + ErrorText(err);
            return KeepCopyResult::Failed;
        }
        copy = std::filesystem::path(name);
        return KeepCopyResult::Kept;
    }
    reason = "every name from " + Utf8Of(native) + suffix + "1 to " + suffix + std::to_string(kMaxCopies) +
             " is taken";
    return KeepCopyResult::Failed;
}

}  // namespace kestrel
