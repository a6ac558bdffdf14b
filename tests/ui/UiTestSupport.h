#pragma once
// Shared pieces of the window tests: a prompt with scripted answers, a
// scripted acquisition link and a settings store in a temporary folder.
#include <QTemporaryDir>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "monitor/AcqLink.h"
#include "monitor/GetDataThread.h"
#include "monitor/ui/MainForm.h"
#include "state/Clock.h"
#include "state/ConfigFile.h"
#include "state/Prompt.h"
#include "state/SettingsStoreFile.h"

namespace kestrel::test {

// Every question, message and dialog is logged; answers come from queues
// (an unscripted question fails the test through `unexpected`).
class ScriptedPrompt final : public IPrompt {
public:
    struct Shown {
        std::string kind, text, caption;
        PromptIcon icon = PromptIcon::Error;
    };
    std::vector<Shown> log;
    std::deque<bool> yesNo;
    std::deque<std::pair<bool, std::string>> changeDialog;
    std::deque<bool> accessPrompt;
    std::deque<std::pair<bool, std::string>> chooseFile;
    int unexpected = 0;

    bool AskYesNo(const std::string& text, const std::string& caption, PromptIcon icon) override
    {
        log.push_back({"ask", text, caption, icon});
        return Pop(yesNo, false);
    }
    void Message(const std::string& text, const std::string& caption, PromptIcon icon) override
    {
        log.push_back({"message", text, caption, icon});
    }
    bool ChangeCodeDialog(std::string& newCode) override
    {
        log.push_back({"change", "", "", PromptIcon::Error});
        auto a = Pop(changeDialog, {false, ""});
        if (a.first)
            newCode = a.second;
        return a.first;
    }
    bool AccessPrompt() override
    {
        log.push_back({"access", "", "", PromptIcon::Error});
        return Pop(accessPrompt, false);
    }
    bool ChooseConfigFile(std::string& path) override
    {
        log.push_back({"file", path, "", PromptIcon::Error});
        auto a = Pop(chooseFile, {false, ""});
        if (a.first)
            path = a.second;
        return a.first;
    }
    // "kind:text" of every entry, for compact comparisons.
    std::vector<std::string> Lines() const
    {
        std::vector<std::string> out;
        for (const auto& s : log)
            out.push_back(s.kind + ":" + s.text);
        return out;
    }

private:
    template <class T>
    T Pop(std::deque<T>& q, T fallback)
    {
        if (q.empty()) {
            ++unexpected;
            return fallback;
        }
        T v = q.front();
        q.pop_front();
        return v;
    }
};

// A link that records the codes it is asked to run. The journal fetch of the
// first automatic poll and the event cycle do nothing; `onDispatch` may set
// flags or events like a real block would.
class ScriptedLink final : public IAcqLink {
public:
    void OpenPortForCb(int32_t) override {}
    void ClosePortForCb(int32_t) override {}
    bool IsKnownCode(int32_t code) const override { return IsRequestCode(code); }
    void Dispatch(int32_t cb, int32_t code) override
    {
        {
            std::lock_guard lock(m);
            codes.push_back(code);
        }
        if (onDispatch)
            onDispatch(cb, code);
    }
    std::vector<int32_t> Codes() const
    {
        std::lock_guard lock(m);
        return codes;
    }
    bool Saw(int32_t code) const
    {
        for (int32_t c : Codes())
            if (c == code)
                return true;
        return false;
    }
    std::function<void(int32_t, int32_t)> onDispatch;

private:
    mutable std::mutex m;
    std::vector<int32_t> codes;
};

// An acquisition factory over a ScriptedLink; counts how often it was used.
struct ScriptedAcquisition {
    std::shared_ptr<ScriptedLink> link = std::make_shared<ScriptedLink>();
    int made = 0;
    AcquisitionFactory Factory()
    {
        return [this](TGlobalState& s, IUiHooks& h) {
            ++made;
            auto acq = std::make_unique<TAcquisition>();
            acq->Parts.push_back(link);
            acq->Thread = std::make_unique<TGetDataThread>(s, *link, SystemClock::Instance(), h);
            return acq;
        };
    }
};

// The file settings store in a temporary folder, with helpers to seed it.
struct TempStore {
    QTemporaryDir dir;
    std::unique_ptr<TFileSettingsStore> store;
    TempStore() : store(std::make_unique<TFileSettingsStore>(dir.filePath("registry").toStdString())) {}
    std::string Path(const char* name) const { return dir.filePath(QString::fromUtf8(name)).toStdString(); }
    // A readable configuration file (from the model as it is) and both keys.
    bool Seed(TGlobalState& state, const std::string& code = "code")
    {
        state.CfgFilePath = Path("a.cfg");
        return WriteConfigFile(state) == 0 && store->WriteRegString(kRegKeyCfg, state.CfgFilePath) == 0 &&
               store->WriteRegString(kRegKeyPassword, code) == 0;
    }
};

}  // namespace kestrel::test
