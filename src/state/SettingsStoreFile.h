#pragma once
// The settings store as files (Linux and other systems without a registry).
// Layout, relied on by scripts and tests:
//   root      $XDG_CONFIG_HOME/KestrelUtilite/registry, or
//             $HOME/.config/KestrelUtilite/registry when XDG_CONFIG_HOME is unset
//   key       "A\B\C" is the folder root/A/B/C (a key with an empty, "." or
//             ".." segment cannot be opened or created)
//   value     a file in its key's folder named by the value name, with "%"
//             written as "%25", "/" as "%2F" and "\" as "%5C"; it holds the
//             text's bytes exactly, no newline; written by atomic replace.
//   Names are Windows-1251 text and become UTF-8 folder and file names.
// So the configuration path lives in
//   root/Software/KestrelUtilite/Cfg/Software%5CKestrelUtilite%5CCfg
#include <filesystem>
#include <memory>
#include <string>

#include "state/SettingsStore.h"

namespace kestrel {

class TFileSettingsStore final : public ISettingsStore {
public:
    explicit TFileSettingsStore(std::filesystem::path root) : root_(std::move(root)) {}
    int ReadRegString(const std::string& key, std::string& out) override;
    int WriteRegString(const std::string& key, const std::string& value) override;

    const std::filesystem::path& Root() const { return root_; }
    // The folder of a key and the file of a value, as laid out above.
    std::filesystem::path KeyFolder(const std::string& key) const;
    std::filesystem::path ValueFile(const std::string& key, const std::string& valueName) const;
    // The name as UTF-8 with "%" -> "%25", "/" -> "%2F", "\" -> "%5C".
    static std::string EncodeValueName(const std::string& name);
    // The default root from the environment (see above); empty when neither
    // XDG_CONFIG_HOME nor HOME is set.
    static std::filesystem::path DefaultRoot();

private:
    std::filesystem::path root_;
};

}  // namespace kestrel
