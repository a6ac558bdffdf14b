#include "app/SingleInstance.h"

#include <string>

#include <windows.h>

namespace kestrel {

TSingleInstance::~TSingleInstance()
{
    // The name is free again once no handle is left (the system closes it at
    // the latest when the process ends).
    if (handle_ != -1)
        CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

TSingleInstance::Result TSingleInstance::Acquire(const std::string& name, const std::string&)
{
    const int n = MultiByteToWideChar(CP_UTF8, 0, name.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(n > 0 ? n : 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, name.c_str(), -1, wide.data(), n);
    HANDLE h = CreateMutexW(nullptr, TRUE, wide.c_str());
    const DWORD err = GetLastError();
    if (!h)
        return Result::Unavailable;
    if (err == ERROR_ALREADY_EXISTS) {
        // Another instance's mutex: holding a handle to it would keep the
        // name taken after that instance has ended.
        CloseHandle(h);
        return Result::AlreadyRunning;
    }
    handle_ = reinterpret_cast<intptr_t>(h);
    return Result::Acquired;
}

}  // namespace kestrel
