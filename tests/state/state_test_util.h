#pragma once
// Helpers for the state-layer tests: a scratch folder, file bytes, a store
// in memory and a scripted prompt.
#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <functional>
#include <random>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <set>
#include <string>
#include <vector>

#include "state/Prompt.h"
#include "state/SettingsStore.h"

namespace kestrel::testutil {

namespace fs = std::filesystem;

// Paths from and to UTF-8 text, the same on every platform (a narrow
// std::string path means the ANSI code page on Windows).
inline fs::path U8Path(const std::string& utf8)
{
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}
inline std::string U8Str(const fs::path& p)
{
    const std::u8string s = p.u8string();
    return std::string(s.begin(), s.end());
}

// A fresh folder, removed again with everything in it.
class ScratchDir {
public:
    ScratchDir()
    {
        static std::atomic<int> serial{0};
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = "kestrel-test-";
        if (info)
            name += std::string(info->test_suite_name()) + "-" + info->name();
        for (char& ch : name)
            if (!std::isalnum(static_cast<unsigned char>(ch)) && ch != '-')
                ch = '_';
        path_ = fs::temp_directory_path() /
                (name + "-" + std::to_string(std::random_device{}()) + "-" + std::to_string(serial++));
        fs::create_directories(path_);
    }
    ~ScratchDir()
    {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const fs::path& Path() const { return path_; }
    fs::path operator/(const std::string& name) const { return path_ / U8Path(name); }
    // Every entry of the folder, by name.
    std::set<std::string> Entries() const
    {
        std::set<std::string> out;
        for (const auto& e : fs::directory_iterator(path_))
            out.insert(e.path().filename().string());
        return out;
    }

private:
    fs::path path_;
};

inline std::string ReadBytes(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const fs::path& p, const std::string& bytes)
{
    // A new file rather than a truncated one: ext4 flushes a file to disk
    // when it is closed after a truncation, which made loops of rewrites slow.
    std::error_code ec;
    fs::remove(p, ec);
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// What the code under test writes on standard error while this lives.
class StderrCapture {
public:
    StderrCapture() : old_(std::cerr.rdbuf(text_.rdbuf())) {}
    ~StderrCapture() { std::cerr.rdbuf(old_); }
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;
    std::string Text() const { return text_.str(); }

private:
    std::ostringstream text_;
    std::streambuf* old_;
};

// The settings store in memory. Keys exist or not; writes can be made to fail.
class MemoryStore final : public ISettingsStore {
public:
    int ReadRegString(const std::string& key, std::string& out) override
    {
        ++reads;
        if (!keys.count(key) || unreadable.count(key))
            return -1;
        auto it = values.find(key);
        out = it == values.end() ? std::string() : it->second;
        return 0;
    }
    int WriteRegString(const std::string& key, const std::string& value) override
    {
        ++writeCalls;
        if (failWrites)
            return -1;
        keys.insert(key);
        values[key] = value;
        writes.push_back({key, value});
        return 0;
    }
    std::set<std::string> keys;
    std::set<std::string> unreadable;  // keys that exist but cannot be opened for reading
    std::map<std::string, std::string> values;  // value named by its key path
    std::vector<std::pair<std::string, std::string>> writes;
    bool failWrites = false;
    int reads = 0;
    int writeCalls = 0;
};

// A prompt that plays a script: each expected call in order with its answer.
// Every call is also logged as one line, so tests compare whole dialogues.
class ScriptedPrompt final : public IPrompt {
public:
    struct Step {
        bool yes = false;          // AskYesNo, and OK for the dialogs
        std::string text;          // the code or path a dialog returns
    };
    std::deque<Step> script;
    std::vector<std::string> log;
    // What the state held when a dialog was shown (set by the test's hook).
    std::function<void()> onChangeDialog;

    void Yes() { script.push_back({true, {}}); }
    void No() { script.push_back({false, {}}); }
    void Ok(std::string text) { script.push_back({true, std::move(text)}); }
    void Cancel() { script.push_back({false, {}}); }

    static std::string IconName(PromptIcon i)
    {
        switch (i) {
        case PromptIcon::Warning: return "warning";
        case PromptIcon::Error: return "error";
        case PromptIcon::Information: return "information";
        case PromptIcon::Question: return "question";
        }
        return "?";
    }

    bool AskYesNo(const std::string& text, const std::string& caption, PromptIcon icon) override
    {
        const Step s = Next("ask");
        log.push_back("ask [" + IconName(icon) + "] " + caption + " | " + text + (s.yes ? " -> yes" : " -> no"));
        return s.yes;
    }
    void Message(const std::string& text, const std::string& caption, PromptIcon icon) override
    {
        log.push_back("msg [" + IconName(icon) + "] " + caption + " | " + text);
    }
    bool ChangeCodeDialog(std::string& newCode) override
    {
        if (onChangeDialog)
            onChangeDialog();
        const Step s = Next("change dialog");
        log.push_back(std::string("change dialog -> ") + (s.yes ? "ok" : "cancel"));
        if (s.yes)
            newCode = s.text;
        return s.yes;
    }
    bool AccessPrompt() override
    {
        const Step s = Next("access prompt");
        log.push_back(std::string("access prompt -> ") + (s.yes ? "ok" : "cancel"));
        return s.yes;
    }
    bool ChooseConfigFile(std::string& path) override
    {
        const Step s = Next("file chooser");
        log.push_back("file chooser (" + path + ") -> " + (s.yes ? s.text : std::string("cancel")));
        if (s.yes)
            path = s.text;
        return s.yes;
    }

private:
    Step Next(const char* what)
    {
        if (script.empty()) {
            ADD_FAILURE() << "unexpected " << what << " (script exhausted)";
            return {};
        }
        Step s = script.front();
        script.pop_front();
        return s;
    }
};

}  // namespace kestrel::testutil
