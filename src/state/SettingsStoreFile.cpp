// The settings store as a folder tree (see SettingsStoreFile.h for the layout).
#include "state/SettingsStoreFile.h"

#include <cstdlib>
#include <fstream>
#include <system_error>
#include <vector>

#include "state/Cp1251.h"
#include "state/FileIo.h"

namespace kestrel {

namespace fs = std::filesystem;

namespace {

// The key's segments; empty when the key cannot name a folder under the root
// (empty, "." or ".." segments would leave or alias it).
std::vector<std::string> KeySegments(const std::string& key)
{
    std::vector<std::string> parts;
    std::string cur;
    for (char ch : key) {
        if (ch == '\\') {
            parts.push_back(cur);
            cur.clear();
        } else {
            cur += ch;
        }
    }
    parts.push_back(cur);
    for (const std::string& p : parts)
        if (p.empty() || p == "." || p == "..")
            return {};
    return parts;
}

}  // namespace

std::string TFileSettingsStore::EncodeValueName(const std::string& name)
{
    std::string out;
    out.reserve(name.size());
    // Names are Windows-1251 text; folder and file names are UTF-8.
    for (char ch : Cp1251ToUtf8(name)) {
        switch (ch) {
        case '%': out += "%25"; break;
        case '/': out += "%2F"; break;
        case '\\': out += "%5C"; break;
        default: out += ch;
        }
    }
    return out;
}

fs::path TFileSettingsStore::DefaultRoot()
{
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
        return fs::path(xdg) / "KestrelUtilite" / "registry";
    if (const char* home = std::getenv("HOME"); home && *home)
        return fs::path(home) / ".config" / "KestrelUtilite" / "registry";
    return {};
}

fs::path TFileSettingsStore::KeyFolder(const std::string& key) const
{
    const std::vector<std::string> parts = KeySegments(key);
    if (parts.empty() || root_.empty())
        return {};
    fs::path p = root_;
    for (const std::string& s : parts)
        p /= EncodeValueName(s);  // a "/" inside a key name must not open a folder
    return p;
}

fs::path TFileSettingsStore::ValueFile(const std::string& key, const std::string& valueName) const
{
    fs::path folder = KeyFolder(key);
    if (folder.empty())
        return {};
    return folder / EncodeValueName(valueName);
}

int TFileSettingsStore::ReadRegString(const std::string& key, std::string& out)
{
    try {
        const fs::path folder = KeyFolder(key);
        std::error_code ec;
        if (folder.empty() || !fs::is_directory(folder, ec))
            return -1;
        const fs::path file = ValueFile(key, key);
        if (!fs::exists(file, ec)) {
            out.clear();
            return 0;
        }
        std::string bytes;
        if (ReadWholeFile(file, bytes) != ReadFileResult::Ok)
            return -1;
        out = std::move(bytes);
        return 0;
    } catch (const std::exception&) {
        return -1;
    }
}

int TFileSettingsStore::WriteRegString(const std::string& key, const std::string& value)
{
    // Open or create the key; once more if the first attempt fails.
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            const fs::path folder = KeyFolder(key);
            if (folder.empty())
                return -1;
            std::error_code ec;
            fs::create_directories(folder, ec);
            if (!fs::is_directory(folder, ec))
                continue;
            if (ReplaceFileAtomically(ValueFile(key, key), value) == ReplaceFileResult::Ok)
                return 0;
        } catch (const std::exception&) {
        }
    }
    return -1;
}

#ifndef _WIN32
// On Windows the user's store is the registry (SettingsStoreWin.cpp); the
// file store serves the window tests there.
std::unique_ptr<ISettingsStore> MakeUserSettingsStore()
{
    return std::make_unique<TFileSettingsStore>(TFileSettingsStore::DefaultRoot());
}
#endif

}  // namespace kestrel
