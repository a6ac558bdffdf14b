#pragma once
// Windows only: texts to and from the UTF-16 that the wide Win32 calls take.
// The model's texts are Windows-1251; paths are UTF-8 and convert whole.
#include <windows.h>

#include <string>
#include <string_view>

#include "state/Cp1251.h"

namespace kestrel {

// Strict conversions: false (and `out` empty) when the input is not
// well-formed (malformed UTF-8, an unpaired surrogate), so nothing is ever
// replaced by a look-alike character.
inline bool WideFromUtf8(std::string_view utf8, std::wstring& out)
{
    out.clear();
    if (utf8.empty())
        return true;
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                                      nullptr, 0);
    if (n <= 0)
        return false;
    out.assign(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return true;
}

inline bool Utf8FromWide(const std::wstring& w, std::string& out)
{
    out.clear();
    if (w.empty())
        return true;
    const int n = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                      nullptr, nullptr);
    if (n <= 0)
        return false;
    out.assign(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, w.data(), static_cast<int>(w.size()), out.data(), n, nullptr,
                        nullptr);
    return true;
}

// Windows-1251 text: every byte has a character, so this never fails.
inline std::wstring Wide(const std::string& text1251)
{
    std::wstring w;
    (void)WideFromUtf8(Cp1251ToUtf8(text1251), w);
    return w;
}

// To Windows-1251: a character the code page lacks becomes '?'.
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
