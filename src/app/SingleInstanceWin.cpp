#include "app/SingleInstance.h"

#include <string>

#include <windows.h>

namespace kestrel {

TSingleInstance::~TSingleInstance()
{
    // The mutex lives until the process ends; the system releases it then.
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
    handle_ = reinterpret_cast<intptr_t>(h);
    return err == ERROR_ALREADY_EXISTS ? Result::AlreadyRunning : Result::Acquired;
}

}  // namespace kestrel
