#pragma once
// Whole-file reads, atomic replacement and keeping a copy of a file, per OS
// (FileIoPosix.cpp, FileIoWin.cpp).
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "state/Cp1251.h"

namespace kestrel {

// A path held in the model (UTF-8 text; on Linux simply the path's bytes) as
// the OS takes it: on Windows the UTF-16 of the wide-character calls (a path
// that is not UTF-8 becomes the empty path, which opens nothing), on Linux
// the same bytes. On Linux a backslash is a separator, as on Windows, so
// ".\1.cfg" is "./1.cfg".
std::filesystem::path NativePath(const std::string& pathUtf8);

// A path chosen by the operator (UTF-8) that the model, the settings store
// and NativePath carry to that very file: not empty, well-formed UTF-8 and
// without U+FFFD, which is what a file dialog makes of a name it could not
// decode. Outside Windows a backslash is refused too: NativePath would read
// it as a separator and lead to another file.
inline bool PathKeptWhole(std::string_view utf8)
{
    if (utf8.empty() || !IsUtf8(utf8) || utf8.find("\xEF\xBF\xBD") != std::string_view::npos)
        return false;
#ifndef _WIN32
    if (utf8.find('\\') != std::string_view::npos)
        return false;
#endif
    return true;
}

// CannotOpen: missing, not accessible, or a folder. NotRegular: a FIFO, a
// device, a socket or anything else that is not a plain file on disk; it is
// refused before a single byte is read, so a read never waits for a writer.
// TooLarge: more than maxBytes (checked before reading, and again while
// reading in case the file grows).
enum class ReadFileResult { Ok, CannotOpen, ReadError, NotRegular, TooLarge };

// The whole file into bytes. On ReadError, bytes holds what was read before
// the error; on any other failure it is empty.
ReadFileResult ReadWholeFile(const std::filesystem::path& path, std::string& bytes,
                             std::uintmax_t maxBytes = UINTMAX_MAX);

enum class ReplaceFileResult { Ok, CannotCreate, WriteFailed };

// Write bytes to a temporary file beside `path`, flush it to disk and rename
// it over `path`. On failure the old file is untouched and the temporary
// file removed.
ReplaceFileResult ReplaceFileAtomically(const std::filesystem::path& path, const std::string& bytes);

// NoFile: nothing at `path` that has bytes of its own (missing, a folder, a
// FIFO or a device). Kept: the copy is made. Failed: a file is there but no
// complete copy could be made (nothing is left of the attempt).
enum class KeepCopyResult { NoFile, Kept, Failed };

// Copies the bytes of the plain file at `path` into a new file beside it,
// named path + suffix + N with the first N from 1 whose name is free. Each
// name is created exclusively, so an earlier copy (or anything else) is never
// overwritten. The copy has the file's permissions and is flushed to disk
// before Kept is returned; `copy` then names it. On Failed, `reason` says why
// (English, for standard error).
KeepCopyResult KeepCopyOf(const std::filesystem::path& path, const std::string& suffix,
                          std::filesystem::path& copy, std::string& reason);

}  // namespace kestrel
