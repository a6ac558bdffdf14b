// The registry settings store (run under Wine in the cross build): the
// common contract, and where exactly the values land in HKEY_CURRENT_USER.
#include <windows.h>

#include <gtest/gtest.h>

#include "settings_store_contract.h"
#include "state/SettingsStore.h"

using namespace kestrel;

namespace {

std::wstring BaseW()
{
    return L"Software\\KestrelUtiliteTest\\" + std::to_wstring(GetCurrentProcessId());
}

// Everything the tests create is removed at the end.
class CleanRegistry : public ::testing::Environment {
public:
    void SetUp() override { RegDeleteTreeW(HKEY_CURRENT_USER, BaseW().c_str()); }
    void TearDown() override
    {
        RegDeleteTreeW(HKEY_CURRENT_USER, BaseW().c_str());
        RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\KestrelUtiliteTest");
    }
};
const auto* const g_env = ::testing::AddGlobalTestEnvironment(new CleanRegistry);

std::string Base()
{
    return "Software\\KestrelUtiliteTest\\" + std::to_string(GetCurrentProcessId());
}

}  // namespace

namespace kestrel::contract {
std::unique_ptr<ISettingsStore> MakeStoreUnderTest()
{
    return MakeUserSettingsStore();
}
std::string TestKeyBase()
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return Base() + "\\" + info->name();
}
}  // namespace kestrel::contract

KESTREL_SETTINGS_STORE_CONTRACT_TESTS(RegistrySettingsStore)

// The value is a REG_SZ whose name is the key path itself, not the key's
// default value.
TEST(RegistrySettingsStoreLayout, ValueNamedByKeyPath)
{
    auto store = MakeUserSettingsStore();
    const std::string key = Base() + "\\Cfg";
    ASSERT_EQ(store->WriteRegString(key, W1251("C:\\Щит\\1.cfg")), 0);
    const std::wstring wkey = BaseW() + L"\\Cfg";
    HKEY h = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, wkey.c_str(), 0, KEY_READ, &h), ERROR_SUCCESS);
    DWORD type = 0;
    wchar_t buf[256] = {};
    DWORD size = sizeof buf;
    EXPECT_EQ(RegQueryValueExW(h, wkey.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buf), &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(std::wstring(buf), L"C:\\\x0429\x0438\x0442\\1.cfg");
    // No default value was written.
    size = sizeof buf;
    EXPECT_NE(RegQueryValueExW(h, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size), ERROR_SUCCESS);
    RegCloseKey(h);
}

TEST(RegistrySettingsStoreLayout, ValueWrittenByOthersIsRead)
{
    const std::wstring wkey = BaseW() + L"\\Password";
    HKEY h = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, wkey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
              ERROR_SUCCESS);
    const std::wstring code = L"\x043F\x0430\x0440\x043E\x043B\x044C";  // "пароль"
    RegSetValueExW(h, wkey.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(code.c_str()),
                   static_cast<DWORD>((code.size() + 1) * sizeof(wchar_t)));
    auto store = MakeUserSettingsStore();
    std::string out;
    ASSERT_EQ(store->ReadRegString(Base() + "\\Password", out), 0);
    EXPECT_EQ(U8(out), "пароль");
    // A value of another type under our name cannot be used: reported as -1.
    const DWORD number = 42;
    RegSetValueExW(h, wkey.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
    out = "kept";
    EXPECT_EQ(store->ReadRegString(Base() + "\\Password", out), -1);
    EXPECT_EQ(out, "kept");
    RegCloseKey(h);
}

// The configuration path is a REG_SZ of its own UTF-16, every character kept.
TEST(RegistrySettingsStoreLayout, PathIsItsOwnUtf16)
{
    const std::pair<std::string, std::wstring> table[] = {
        {"C:\\Δοκιμή\\1.cfg", L"C:\\\x0394\x03BF\x03BA\x03B9\x03BC\x03AE\\1.cfg"},
        {"C:\\試験\\é.cfg", L"C:\\\x8A66\x9A13\\\x00E9.cfg"},
    };
    auto store = MakeUserSettingsStore();
    const std::wstring wkey = BaseW() + L"\\Path";
    for (const auto& [utf8, wide] : table) {
        ASSERT_EQ(store->WriteRegPath(Base() + "\\Path", utf8), 0) << utf8;
        wchar_t buf[256] = {};
        DWORD size = sizeof buf;
        EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, wkey.c_str(), wkey.c_str(), RRF_RT_REG_SZ, nullptr, buf, &size),
                  ERROR_SUCCESS);
        EXPECT_EQ(std::wstring(buf), wide) << utf8;
    }
}
