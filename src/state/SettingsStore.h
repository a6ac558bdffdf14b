#pragma once
// The per-user settings store: text values addressed by a key path and a
// value name. The program uses two keys, and in each one value whose name is
// the key path itself: "Software\KestrelUtilite\Cfg" (configuration file
// path) and "Software\KestrelUtilite\Password" (access code).
//
// Texts are Windows-1251 bytes, as the model keeps them.
//
// Windows: HKEY_CURRENT_USER, REG_SZ values (SettingsStoreWin.cpp).
// Elsewhere: a folder tree (SettingsStoreFile.h), one file per value.
#include <memory>
#include <string>

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
};

// The current user's store of this platform.
std::unique_ptr<ISettingsStore> MakeUserSettingsStore();

// The two key paths (also the value names).
inline const std::string kRegKeyCfg = "Software\\KestrelUtilite\\Cfg";
inline const std::string kRegKeyPassword = "Software\\KestrelUtilite\\Password";

}  // namespace kestrel
