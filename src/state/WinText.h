#pragma once
// Windows only: the model's Windows-1251 texts to and from the UTF-16 that
// the wide Win32 calls take.
#include <windows.h>

#include <string>

#include "state/Cp1251.h"

namespace kestrel {

inline std::wstring Wide(const std::string& text1251)
{
    const std::string utf8 = Cp1251ToUtf8(text1251);
    if (utf8.empty())
        return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), w.data(), n);
    return w;
}

inline std::string Narrow1251(const std::wstring& w)
{
    if (w.empty())
        return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), utf8.data(), n, nullptr, nullptr);
    return Utf8ToCp1251(utf8);
}

}  // namespace kestrel
