#pragma once
// The settings-store contract, the same on every platform. A test file
// includes this and defines MakeStoreUnderTest() and TestKeyBase(): a key
// below which the test may create and remove keys freely.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "state/Cp1251.h"
#include "state/SettingsStore.h"

namespace kestrel::contract {

std::unique_ptr<ISettingsStore> MakeStoreUnderTest();
std::string TestKeyBase();

inline void MissingKeyFailsAndKeepsOutput(ISettingsStore& store)
{
    std::string out = "unchanged";
    EXPECT_EQ(store.ReadRegString(TestKeyBase() + "\\NoSuchKey", out), -1);
    EXPECT_EQ(out, "unchanged");
    // Reading does not create the key.
    EXPECT_EQ(store.ReadRegString(TestKeyBase() + "\\NoSuchKey", out), -1);
}

inline void WriteCreatesKeyAndReadsBack(ISettingsStore& store)
{
    const std::string key = TestKeyBase() + "\\Deep\\Er\\Cfg";
    ASSERT_EQ(store.WriteRegString(key, W1251(".\\Объект №2.cfg")), 0);
    std::string out;
    ASSERT_EQ(store.ReadRegString(key, out), 0);
    EXPECT_EQ(U8(out), ".\\Объект №2.cfg");
    // A parent created on the way is a key too, with no value of its own.
    out = "x";
    EXPECT_EQ(store.ReadRegString(TestKeyBase() + "\\Deep\\Er", out), 0);
    EXPECT_EQ(out, "");
}

inline void OverwriteAndEmptyValue(ISettingsStore& store)
{
    const std::string key = TestKeyBase() + "\\Password";
    ASSERT_EQ(store.WriteRegString(key, "a much longer first value"), 0);
    ASSERT_EQ(store.WriteRegString(key, "b"), 0);
    std::string out;
    ASSERT_EQ(store.ReadRegString(key, out), 0);
    EXPECT_EQ(out, "b");
    ASSERT_EQ(store.WriteRegString(key, ""), 0);
    out = "x";
    ASSERT_EQ(store.ReadRegString(key, out), 0);
    EXPECT_EQ(out, "");
}

// Every Windows-1251 byte but NUL (a REG_SZ text ends at its first NUL).
inline void AllTextBytesRoundTrip(ISettingsStore& store)
{
    std::string all;
    for (int b = 1; b < 256; ++b)
        all += static_cast<char>(b);
    const std::string key = TestKeyBase() + "\\Bytes";
    ASSERT_EQ(store.WriteRegString(key, all), 0);
    std::string out;
    ASSERT_EQ(store.ReadRegString(key, out), 0);
    EXPECT_EQ(out, all);
}

inline void KeysAreIndependent(ISettingsStore& store)
{
    const std::string a = TestKeyBase() + "\\A", b = TestKeyBase() + "\\B";
    ASSERT_EQ(store.WriteRegString(a, "1"), 0);
    ASSERT_EQ(store.WriteRegString(b, "2"), 0);
    std::string ra, rb;
    ASSERT_EQ(store.ReadRegString(a, ra), 0);
    ASSERT_EQ(store.ReadRegString(b, rb), 0);
    EXPECT_EQ(ra, "1");
    EXPECT_EQ(rb, "2");
}

// The configuration path reads back exactly as written, every character; one
// stored as Windows-1251 text by an earlier version reads as the same path;
// text that is not UTF-8 is no path and leaves the value alone.
inline void PathsRoundTripWhole(ISettingsStore& store)
{
    const std::string key = TestKeyBase() + "\\Cfg";
    for (const std::string path : {"C:\\Δοκιμή\\1.cfg", "C:\\Проверка\\№2.cfg", "/srv/試験/ü 😀.cfg", ""}) {
        ASSERT_EQ(store.WriteRegPath(key, path), 0) << path;
        std::string out = "x";
        ASSERT_EQ(store.ReadRegPath(key, out), 0);
        EXPECT_EQ(out, path);
    }
    ASSERT_EQ(store.WriteRegString(key, W1251("C:\\Проверка\\1.cfg")), 0);
    std::string out;
    ASSERT_EQ(store.ReadRegPath(key, out), 0);
    EXPECT_EQ(out, "C:\\Проверка\\1.cfg");
    EXPECT_EQ(store.WriteRegPath(key, W1251("C:\\Щит.cfg")), -1);
    ASSERT_EQ(store.ReadRegPath(key, out), 0);
    EXPECT_EQ(out, "C:\\Проверка\\1.cfg");
}

}  // namespace kestrel::contract

#define KESTREL_SETTINGS_STORE_CONTRACT_TESTS(Suite)                                                        \
    TEST(Suite, MissingKeyFailsAndKeepsOutput)                                                             \
    {                                                                                                      \
        auto s = ::kestrel::contract::MakeStoreUnderTest();                                                \
        ::kestrel::contract::MissingKeyFailsAndKeepsOutput(*s);                                            \
    }                                                                                                      \
    TEST(Suite, WriteCreatesKeyAndReadsBack)                                                               \
    {                                                                                                      \
        auto s = ::kestrel::contract::MakeStoreUnderTest();                                                \
        ::kestrel::contract::WriteCreatesKeyAndReadsBack(*s);                                              \
    }                                                                                                      \
    TEST(Suite, OverwriteAndEmptyValue)                                                                    \
    {                                                                                                      \
        auto s = ::kestrel::contract::MakeStoreUnderTest();                                                \
        ::kestrel::contract::OverwriteAndEmptyValue(*s);                                                   \
    }                                                                                                      \
    TEST(Suite, AllTextBytesRoundTrip)                                                                     \
    {                                                                                                      \
        auto s = ::kestrel::contract::MakeStoreUnderTest();                                                \
        ::kestrel::contract::AllTextBytesRoundTrip(*s);                                                    \
    }                                                                                                      \
    TEST(Suite, KeysAreIndependent)                                                                        \
    {                                                                                                      \
        auto s = ::kestrel::contract::MakeStoreUnderTest();                                                \
        ::kestrel::contract::KeysAreIndependent(*s);                                                       \
    }                                                                                                      \
    TEST(Suite, PathsRoundTripWhole)                                                                       \
    {                                                                                                      \
        auto s = ::kestrel::contract::MakeStoreUnderTest();                                                \
        ::kestrel::contract::PathsRoundTripWhole(*s);                                                      \
    }
