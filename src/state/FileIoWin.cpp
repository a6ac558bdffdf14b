// Files on Windows: wide-character paths (from the model's Windows-1251
// text), a temporary file beside the target, FlushFileBuffers and
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

}  // namespace

std::filesystem::path NativePath(const std::string& path1251)
{
    return std::filesystem::path(Wide(path1251));
}

ReadFileResult ReadWholeFile(const std::filesystem::path& native, std::string& bytes)
{
    bytes.clear();
    const std::wstring path = native.wstring();
    if (path.empty())
        return ReadFileResult::CannotOpen;
    Handle h(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.Valid())
        return ReadFileResult::CannotOpen;
    char buf[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(h.Get(), buf, sizeof buf, &got, nullptr))
            return ReadFileResult::ReadError;
        if (got == 0)
            return ReadFileResult::Ok;
        bytes.append(buf, got);
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
    bool ok = true;
    std::size_t done = 0;
    while (ok && done < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
        DWORD put = 0;
        if (!WriteFile(h.Get(), bytes.data() + done, chunk, &put, nullptr) || put == 0)
            ok = false;
        else
            done += put;
    }
    ok = ok && FlushFileBuffers(h.Get()) != 0;
    ok = h.Close() && ok;
    ok = ok && MoveFileExW(tmp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    if (!ok) {
        DeleteFileW(tmp.c_str());
        return ReplaceFileResult::WriteFailed;
    }
    return ReplaceFileResult::Ok;
}

}  // namespace kestrel
