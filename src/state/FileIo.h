#pragma once
// Whole-file reads and atomic replacement, per OS (FileIoPosix.cpp,
// FileIoWin.cpp).
#include <filesystem>
#include <string>

namespace kestrel {

// A path held in the model (Windows-1251 text) as the OS takes it. On Linux
// a backslash is a separator, as on Windows, so ".\1.cfg" is "./1.cfg".
std::filesystem::path NativePath(const std::string& path1251);

enum class ReadFileResult { Ok, CannotOpen, ReadError };

// The whole file into bytes. On ReadError, bytes holds what was read before
// the error.
ReadFileResult ReadWholeFile(const std::filesystem::path& path, std::string& bytes);

enum class ReplaceFileResult { Ok, CannotCreate, WriteFailed };

// Write bytes to a temporary file beside `path`, flush it to disk and rename
// it over `path`. On failure the old file is untouched and the temporary
// file removed.
ReplaceFileResult ReplaceFileAtomically(const std::filesystem::path& path, const std::string& bytes);

}  // namespace kestrel
