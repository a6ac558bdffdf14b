#pragma once
// Windows-1251 <-> UTF-8. Every one of the 256 bytes has a character:
// 0x98, unassigned in the code page, maps to U+0098 (as Windows itself does),
// so any byte string survives a trip to UTF-8 and back unchanged.
// A character the code page cannot hold, or a malformed UTF-8 sequence,
// becomes '?' (0x3F), the code page's default character.
#include <string>
#include <string_view>

namespace kestrel {

std::string Cp1251ToUtf8(std::string_view cp1251);
std::string Utf8ToCp1251(std::string_view utf8);

// True when every byte belongs to a well-formed UTF-8 sequence (no overlong
// forms, no surrogates). Windows-1251 text with letters in it almost never is.
bool IsUtf8(std::string_view text);

// Short form for literals in the code: W1251("СБ №1").
inline std::string W1251(std::string_view utf8) { return Utf8ToCp1251(utf8); }
inline std::string U8(std::string_view cp1251) { return Cp1251ToUtf8(cp1251); }

}  // namespace kestrel
