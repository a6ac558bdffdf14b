#pragma once
// The per-user settings store: text values addressed by a key path and a
// value name. The program uses two keys, and in each one value whose name is
// the key path itself: "Software\KestrelUtilite\Cfg" (configuration file
// path) and "Software\KestrelUtilite\Password" (access code).
//
// Texts are Windows-1251 bytes, as the model keeps them, but for the
// configuration path, which goes through ReadRegPath / WriteRegPath whole,
// as UTF-8 (any character a file name may hold).
//
// Windows: HKEY_CURRENT_USER, REG_SZ values (SettingsStoreWin.cpp).
// Elsewhere: a folder tree (SettingsStoreFile.h), one file per value.
#include <memory>
#include <string>

#include "state/Cp1251.h"

namespace kestrel {

class ISettingsStore {
public:
    virtual ~ISettingsStore() = default;
    // 0 and `out` set to the value named `key` in key `key`; a missing value
    // reads as the empty text. -1 when the key cannot be opened for reading
    // (it is not created); `out` is then left as it was.
    virtual int ReadRegString(const std::string& key, std::string& out) = 0;
    // 0 written (the key and its parents are created when missing); -1 when
    // the key cannot be opened or created (tried twice).
    virtual int WriteRegString(const std::string& key, const std::string& value) = 0;

    // A path, UTF-8, with the results of the two above. These keep the
    // path's bytes as the value, as the file store does; the registry keeps
    // it as UTF-16. A value that is not UTF-8 was stored by an earlier
    // version as Windows-1251 and reads converted, so old installations
    // still find their file. A path that is not UTF-8 is refused (-1,
    // nothing written): it would read back as another one.
    virtual int ReadRegPath(const std::string& key, std::string& outUtf8)
    {
        std::string stored;
        if (ReadRegString(key, stored) != 0)
            return -1;
        outUtf8 = IsUtf8(stored) ? std::move(stored) : Cp1251ToUtf8(stored);
        return 0;
    }
    virtual int WriteRegPath(const std::string& key, const std::string& pathUtf8)
    {
        if (!IsUtf8(pathUtf8))
            return -1;
        return WriteRegString(key, pathUtf8);
    }
};

// The current user's store of this platform.
std::unique_ptr<ISettingsStore> MakeUserSettingsStore();

// The two key paths (also the value names).
inline const std::string kRegKeyCfg = "Software\\KestrelUtilite\\Cfg";
inline const std::string kRegKeyPassword = "Software\\KestrelUtilite\\Password";

}  // namespace kestrel
