// The settings store in the Windows registry: HKEY_CURRENT_USER, REG_SZ
// values. Texts travel as Windows-1251 bytes in the program and as UTF-16 in
// the registry; the configuration path as UTF-8 in the program, so it keeps
// every character. Earlier versions wrote the path from Windows-1251 text,
// which is UTF-16 all the same: such values read as they are.
#include <windows.h>

#include <string>

#include "state/WinText.h"
#include "state/SettingsStore.h"

namespace kestrel {

namespace {

class Key {
public:
    Key() = default;
    ~Key()
    {
        if (h_)
            RegCloseKey(h_);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY* Out() { return &h_; }
    HKEY Get() const { return h_; }

private:
    HKEY h_ = nullptr;
};

class TRegistrySettingsStore final : public ISettingsStore {
public:
    int ReadRegString(const std::string& key, std::string& out) override
    {
        std::wstring text;
        if (ReadText(key, text) != 0)
            return -1;
        out = Narrow1251(text);
        return 0;
    }

    int ReadRegPath(const std::string& key, std::string& outUtf8) override
    {
        std::wstring text;
        std::string utf8;
        // An unpaired surrogate has no UTF-8: a value no file dialog makes.
        if (ReadText(key, text) != 0 || !Utf8FromWide(text, utf8))
            return -1;
        outUtf8 = std::move(utf8);
        return 0;
    }

    int WriteRegString(const std::string& key, const std::string& value) override
    {
        return WriteText(key, Wide(value));
    }

    int WriteRegPath(const std::string& key, const std::string& pathUtf8) override
    {
        std::wstring text;
        if (!WideFromUtf8(pathUtf8, text))
            return -1;
        return WriteText(key, text);
    }

private:
    // 0 and the value's UTF-16 text; a missing value is the empty text.
    static int ReadText(const std::string& key, std::wstring& out)
    {
        const std::wstring path = Wide(key);
        Key k;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, k.Out()) != ERROR_SUCCESS)
            return -1;
        // The value is named by the key path itself.
        DWORD type = 0;
        DWORD size = 0;
        LONG rc = RegQueryValueExW(k.Get(), path.c_str(), nullptr, &type, nullptr, &size);
        if (rc == ERROR_FILE_NOT_FOUND) {
            out.clear();
            return 0;
        }
        if (rc != ERROR_SUCCESS)
            return -1;
        // Only text is a value of ours; anything else is a key we cannot use.
        if (type != REG_SZ && type != REG_EXPAND_SZ)
            return -1;
        std::wstring buf(size / sizeof(wchar_t) + 1, L'\0');
        DWORD got = static_cast<DWORD>(buf.size() * sizeof(wchar_t));
        rc = RegQueryValueExW(k.Get(), path.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buf.data()), &got);
        if (rc != ERROR_SUCCESS)
            return -1;
        buf.resize(got / sizeof(wchar_t));
        // REG_SZ data normally carries its terminator; the text ends before it.
        while (!buf.empty() && buf.back() == L'\0')
            buf.pop_back();
        out = std::move(buf);
        return 0;
    }

    static int WriteText(const std::string& key, const std::wstring& text)
    {
        const std::wstring path = Wide(key);
        for (int attempt = 0; attempt < 2; ++attempt) {
            Key k;
            if (RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                KEY_ALL_ACCESS, nullptr, k.Out(), nullptr) != ERROR_SUCCESS)
                continue;
            const DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
            if (RegSetValueExW(k.Get(), path.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                               bytes) == ERROR_SUCCESS)
                return 0;
            return -1;
        }
        return -1;
    }
};

}  // namespace

std::unique_ptr<ISettingsStore> MakeUserSettingsStore()
{
    return std::make_unique<TRegistrySettingsStore>();
}

}  // namespace kestrel
