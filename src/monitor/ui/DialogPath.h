#pragma once
// A path chosen in a Qt file dialog as the core takes it: UTF-8.
#include <QString>
#include <string>

namespace kestrel {

// The chosen name as UTF-8, or the empty text when no UTF-8 leads the OS
// back to that name: an unpaired surrogate (Qt would write '?' for it) or
// U+FFFD, which Qt puts for the bytes of a name it could not decode. The
// empty text names no file, so the caller refuses it instead of using a
// near miss.
inline std::string PathFromDialog(const QString& chosen)
{
    if (!chosen.isValidUtf16() || chosen.contains(QChar::ReplacementCharacter))
        return {};
    return chosen.toStdString();
}

}  // namespace kestrel
