// Start-up loading and the access code: every question and message, in
// order, with its exact text, caption and icon.
#include <gtest/gtest.h>

#include "state/Access.h"
#include "state/ConfigFile.h"
#include "state/Cp1251.h"
#include "state_test_util.h"

using namespace kestrel;
using namespace kestrel::testutil;

namespace {

using Log = std::vector<std::string>;

const std::string kCfg = "Software\\KestrelUtilite\\Cfg";
const std::string kPwd = "Software\\KestrelUtilite\\Password";

// The dialogue lines as the scripted prompt logs them.
const std::string kAskNewFileYes =
    "ask [warning] Ошибка чтения конфигурации. | Ошибка чтения данных из файла конфигурации! Создать новый файл? -> yes";
const std::string kAskNewFileNo =
    "ask [warning] Ошибка чтения конфигурации. | Ошибка чтения данных из файла конфигурации! Создать новый файл? -> no";
const std::string kMsgNewFileFailed =
    "msg [warning] Ошибка чтения конфигурации | Ошибка создания нового файла конфигурации";
const std::string kAskFindYes = "ask [error] Ошибка открытия файла конфигурации. | Ошибка открытия файла "
                                "конфигурации. Попробуете найти его самостоятельно? -> yes";
const std::string kAskFindNo = "ask [error] Ошибка открытия файла конфигурации. | Ошибка открытия файла "
                               "конфигурации. Попробуете найти его самостоятельно? -> no";
const std::string kAskCreateYes =
    "ask [warning] Ошибка открытия файла конфигурации | Файл конфигурации не найден. Создать новый? -> yes";
const std::string kAskCreateNo =
    "ask [warning] Ошибка открытия файла конфигурации | Файл конфигурации не найден. Создать новый? -> no";
const std::string kMsgRegExit =
    "msg [error] Ошибка работы с реестром | Ошибка записи данных в реестр. Приложение будет закрыто.";
const std::string kMsgOpenFailed =
    "msg [error] Ошибка открытия файла конфигурации. | Ошибка открытия файла конфигурации.";
const std::string kMsgUnreadable =
    "msg [error] Ошибка получения конфигурации | Ошибка чтения из файла конфигурации";
const std::string kAskNewCodeYes =
    "ask [error] Ошибка чтения пароля. | Ошибка чтения пароля. Создать новый пароль? -> yes";
const std::string kAskNewCodeNo =
    "ask [error] Ошибка чтения пароля. | Ошибка чтения пароля. Создать новый пароль? -> no";
const std::string kMsgCodeExit = "msg [error] Ошибка чтения пароля | Ошибка чтения пароля. Приложение будет закрыто.";
const std::string kMsgCodeExitReload =
    "msg [error] Ошибка чтения пароля. | Ошибка чтения пароля. Приложение будет закрыто";
const std::string kMsgNotSaved =
    "msg [error] Ошибка работы с реестром | Ошибка записи данных в реестр. Пароль не был сохранен.";

// Runs the test body inside a scratch folder (relative names such as
// "1.cfg" land there) and restores the working folder afterwards.
class InScratch {
public:
    InScratch() : old_(std::filesystem::current_path()) { std::filesystem::current_path(dir_.Path()); }
    ~InScratch() { std::filesystem::current_path(old_); }
    const ScratchDir& Dir() const { return dir_; }

private:
    ScratchDir dir_;
    std::filesystem::path old_;
};

struct Fixture {
    InScratch scratch;
    TGlobalState st;
    MemoryStore store;
    ScriptedPrompt prompt;

    Fixture()
    {
        st.RegKeyCfg = kCfg;
        st.RegKeyPassword = kPwd;
        st.MarkAllUirsPresent();
    }
    std::string Path(const std::string& name) const { return U8Str(scratch.Dir() / name); }
    // A good configuration file with a recognisable first CB name.
    std::string GoodFile(const std::string& name, const std::string& cbName = "Подстанция 7")
    {
        TCbSettings s = DefaultCbSettings();
        s.Name = W1251(cbName);
        WriteBytes(scratch.Dir() / name, SerializeConfig({s, s}));
        return Path(name);
    }
    void SetKey(const std::string& key, const std::string& value)
    {
        store.keys.insert(key);
        store.values[key] = value;
    }
};

}  // namespace

// --- access rules -------------------------------------------------------------

TEST(Access, PromptAcceptsStoredOrMasterCodeExactly)
{
    TGlobalState st;
    st.AccessCode = W1251("Пароль1");
    struct Case {
        std::string typed;
        bool accepted;
    };
    const Case table[] = {
        {W1251("Пароль1"), true}, {"7ujm", true},      {W1251("пароль1"), false}, {W1251("Пароль1 "), false},
        {"7UJM", false},          {" 7ujm", false},    {"", false},               {"7uj", false},
        {"379", false},
    };
    for (const Case& c : table)
        EXPECT_EQ(AccessCodeAccepted(st, c.typed), c.accepted) << U8(c.typed);
    st.AccessCode.clear();  // value missing in the store: an empty entry is accepted
    EXPECT_TRUE(AccessCodeAccepted(st, ""));
    EXPECT_TRUE(AccessCodeAccepted(st, "7ujm"));
}

TEST(Access, ChangeDialogMessagesInOrder)
{
    TGlobalState st;
    st.AccessCode = "old";
    const TPromptMessage wrongOld{"Неверный старый пароль", "Ошибка создания нового пароля", PromptIcon::Error};
    const TPromptMessage mismatch{"Не совпадает новый пароль с подтверждением нового пароля",
                                  "Ошибка создания нового пароля", PromptIcon::Error};
    struct Case {
        const char* oldCode;
        const char* newCode;
        const char* confirm;
        std::vector<TPromptMessage> expect;
    };
    const Case table[] = {
        {"old", "new", "new", {}},
        {"7ujm", "new", "new", {}},  // master code as the old code
        {"old", "", "", {}},         // an empty new code is allowed
        {"old", "new", "neW", {mismatch}},
        {"bad", "new", "new", {wrongOld}},
        {"bad", "new", "other", {wrongOld, mismatch}},
        {"", "a", "a", {wrongOld}},
        {"OLD", "", "x", {wrongOld, mismatch}},
    };
    for (const Case& c : table)
        EXPECT_EQ(ValidateCodeChange(st, c.oldCode, c.newCode, c.confirm), c.expect)
            << c.oldCode << "/" << c.newCode << "/" << c.confirm;
}

TEST(Access, ChangeActionSetsStoresAndReportsStoreFailure)
{
    struct Case {
        bool ok;
        bool failWrite;
        std::string newCode;
        std::string expectCode;
        Log expectLog;
        std::vector<std::pair<std::string, std::string>> expectWrites;
    };
    const Case table[] = {
        {false, false, "", "old", {"change dialog -> cancel"}, {}},
        {true, false, W1251("новый"), W1251("новый"), {"change dialog -> ok"}, {{kPwd, W1251("новый")}}},
        {true, false, "", "", {"change dialog -> ok"}, {{kPwd, ""}}},
        {true, true, "n2", "n2", {"change dialog -> ok", kMsgNotSaved}, {}},
    };
    for (const Case& c : table) {
        TGlobalState st;
        st.RegKeyPassword = kPwd;
        st.AccessCode = "old";
        MemoryStore store;
        store.failWrites = c.failWrite;
        ScriptedPrompt prompt;
        if (c.ok)
            prompt.Ok(c.newCode);
        else
            prompt.Cancel();
        EXPECT_EQ(ChangeAccessCode(st, store, prompt), c.ok);
        EXPECT_EQ(st.AccessCode, c.expectCode);  // in force even when not stored
        EXPECT_EQ(prompt.log, c.expectLog);
        EXPECT_EQ(store.writes, c.expectWrites);
        EXPECT_TRUE(AccessCodeAccepted(st, "7ujm"));  // the master code still works
    }
}

// --- LoadSettings ---------------------------------------------------------------

TEST(LoadSettings, AllGood)
{
    Fixture f;
    f.SetKey(kCfg, W1251(f.GoodFile("my.cfg")));
    f.SetKey(kPwd, W1251("секрет"));
    EXPECT_EQ(LoadSettings(f.st, f.store, f.prompt), 0);
    EXPECT_EQ(f.st.CbCount, 2);
    EXPECT_EQ(U8(f.st.Cb(1)->Name), "Подстанция 7");
    EXPECT_EQ(U8(f.st.AccessCode), "секрет");
    EXPECT_TRUE(f.prompt.log.empty());
}

TEST(LoadSettings, MissingConfigKeyReadsNothingElse)
{
    Fixture f;
    f.SetKey(kPwd, "pw");
    f.st.CfgFilePath = "before";
    EXPECT_EQ(LoadSettings(f.st, f.store, f.prompt), -1);
    EXPECT_EQ(f.st.CfgFilePath, "before");
    EXPECT_EQ(f.st.AccessCode, "7ujm");
    EXPECT_EQ(f.store.reads, 1);
    EXPECT_TRUE(f.prompt.log.empty());
}

TEST(LoadSettings, MissingCodeKeyIsMinusThreeAfterReadingTheFile)
{
    Fixture f;
    f.SetKey(kCfg, W1251(f.GoodFile("my.cfg")));
    f.st.AccessCode = "kept";
    EXPECT_EQ(LoadSettings(f.st, f.store, f.prompt), -3);
    EXPECT_EQ(f.st.AccessCode, "kept");
    EXPECT_EQ(f.st.CbCount, 2);
}

TEST(LoadSettings, CodeKeyWithoutValueGivesEmptyCode)
{
    Fixture f;
    f.SetKey(kCfg, W1251(f.GoodFile("my.cfg")));
    f.store.keys.insert(kPwd);
    EXPECT_EQ(LoadSettings(f.st, f.store, f.prompt), 0);
    EXPECT_EQ(f.st.AccessCode, "");
    EXPECT_TRUE(AccessCodeAccepted(f.st, ""));
}

TEST(LoadSettings, UnreadableFileDeclined)
{
    Fixture f;
    WriteBytes(f.scratch.Dir() / "bad.cfg", "\x01\x00\x00");
    f.SetKey(kCfg, W1251(f.Path("bad.cfg")));
    f.SetKey(kPwd, "pw");
    const auto before = GetSettings(*f.st.Cb(0));
    f.prompt.No();
    EXPECT_EQ(LoadSettings(f.st, f.store, f.prompt), -4);
    EXPECT_EQ(f.prompt.log, Log{kAskNewFileNo});
    EXPECT_TRUE(f.store.writes.empty());
    EXPECT_TRUE(GetSettings(*f.st.Cb(0)) == before);
    EXPECT_EQ(f.st.AccessCode, "7ujm");
}

// A failed read leaves the records as they were, so the new file is written
// from the untouched model.
TEST(LoadSettings, UnreadableFileReplacedByNewOne)
{
    Fixture f;
    std::string good = SerializeConfig({DefaultCbSettings(), DefaultCbSettings()});
    good.resize(good.size() - 1);  // truncated second CB
    WriteBytes(f.scratch.Dir() / "cut.cfg", good);
    f.SetKey(kCfg, W1251(f.Path("cut.cfg")));
    f.SetKey(kPwd, "pw");
    f.prompt.Yes();
    EXPECT_EQ(LoadSettings(f.st, f.store, f.prompt), 0);
    EXPECT_EQ(f.prompt.log, Log{kAskNewFileYes});
    EXPECT_EQ(f.st.CfgFilePath, ".\\1.cfg");
    EXPECT_EQ(f.store.writes, (std::vector<std::pair<std::string, std::string>>{{kCfg, ".\\1.cfg"}}));
    EXPECT_EQ(f.st.CbCount, 1);
    EXPECT_EQ(ReadBytes(f.scratch.Dir() / "1.cfg"), SerializeConfig({DefaultCbSettings()}));
    EXPECT_EQ(ReadBytes(f.scratch.Dir() / "cut.cfg"), good);  // the bad file is left alone
    EXPECT_EQ(f.st.AccessCode, "pw");
}

TEST(LoadSettings, NewFileCannotBeWritten)
{
    Fixture f;
    f.SetKey(kCfg, W1251(f.Path("missing.cfg")));
    f.SetKey(kPwd, "pw");
    std::filesystem::create_directory(f.scratch.Dir() / "1.cfg");  // blocks ".\1.cfg"
    f.prompt.Yes();
    EXPECT_EQ(LoadSettings(f.st, f.store, f.prompt), -4);
    EXPECT_EQ(f.prompt.log, (Log{kAskNewFileYes, kMsgNewFileFailed}));
    EXPECT_EQ(f.store.values[kCfg], ".\\1.cfg");  // stored before the write failed
}

// A file in the new file's place keeps its bytes beside it, under a name
// that no later copy reuses; the questions stay as they are.
TEST(LoadSettings, FileInTheNewFilesPlaceIsKeptFirst)
{
    Fixture f;
    const auto dir = f.scratch.Dir().Path();
    f.SetKey(kPwd, "pw");
    const std::string damaged("\x02\x00\x00\x00garbage", 11);
    const std::string good = SerializeConfig({DefaultCbSettings(), DefaultCbSettings()});
    struct Case {
        const char* name;
        const char* cfgKey;  // where the registry says the file is
        bool present;        // a file is at 1.cfg first
        std::string onDisk;  // its bytes
        const char* keptAs;  // the copy's name ("" = none)
        const char* says;    // what standard error says about it
    };
    const Case table[] = {
        {"damaged", "1.cfg", true, damaged, "1.cfg.damaged-1", "cannot be read as a configuration"},
        {"damaged again", ".\\1.cfg", true, "\x09", "1.cfg.damaged-2", "cannot be read as a configuration"},
        {"empty", "1.cfg", true, "", "1.cfg.damaged-3", "cannot be read as a configuration"},
        {"good one in the way", "other.cfg", true, good, "1.cfg.old-1", "holds a configuration"},
        {"nothing there", "other.cfg", false, "", "", ""},
    };
    for (const Case& c : table) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(dir / "1.cfg");
        if (c.present)
            WriteBytes(dir / "1.cfg", c.onDisk);
        const auto before = f.scratch.Dir().Entries();
        f.SetKey(kCfg, c.cfgKey);
        f.prompt.log.clear();
        f.prompt.Yes();
        StderrCapture err;
        EXPECT_EQ(LoadSettings(f.st, f.store, f.prompt), 0);
        EXPECT_EQ(f.prompt.log, Log{kAskNewFileYes});
        EXPECT_EQ(ReadBytes(dir / "1.cfg"), SerializeConfig({DefaultCbSettings()}));
        auto added = f.scratch.Dir().Entries();
        for (const auto& e : before)
            added.erase(e);
        added.erase("1.cfg");  // the new file itself
        if (*c.keptAs) {
            EXPECT_EQ(added, std::set<std::string>{c.keptAs});
            EXPECT_EQ(ReadBytes(dir / c.keptAs), c.onDisk);
            EXPECT_NE(err.Text().find(c.keptAs), std::string::npos) << err.Text();
            EXPECT_NE(err.Text().find(c.says), std::string::npos) << err.Text();
        } else {
            EXPECT_TRUE(added.empty());
            EXPECT_EQ(err.Text(), "");
        }
    }
    // Every earlier copy is still as it was.
    EXPECT_EQ(ReadBytes(dir / "1.cfg.damaged-1"), damaged);
    EXPECT_EQ(ReadBytes(dir / "1.cfg.damaged-2"), "\x09");
    EXPECT_EQ(ReadBytes(dir / "1.cfg.damaged-3"), "");
    EXPECT_EQ(ReadBytes(dir / "1.cfg.old-1"), good);
}

// --- the start-up ----------------------------------------------------------------

TEST(Startup, SetsKeysAndMasterCodeThenContinues)
{
    Fixture f;
    f.st.RegKeyCfg.clear();
    f.st.RegKeyPassword.clear();
    f.st.AccessCode = "x";
    f.SetKey(kCfg, W1251(f.GoodFile("a.cfg")));
    f.store.keys.insert(kPwd);
    f.store.values[kPwd] = "stored";
    EXPECT_EQ(RunStartupLoad(f.st, f.store, f.prompt), StartupResult::Continue);
    EXPECT_EQ(f.st.RegKeyCfg, kCfg);
    EXPECT_EQ(f.st.RegKeyPassword, kPwd);
    EXPECT_EQ(f.st.AccessCode, "stored");
    EXPECT_TRUE(f.prompt.log.empty());
}

TEST(Startup, UnreadableFileDeclinedEndsTheProgram)
{
    Fixture f;
    f.SetKey(kCfg, W1251(f.Path("none.cfg")));
    f.SetKey(kPwd, "pw");
    f.prompt.No();
    EXPECT_EQ(RunStartupLoad(f.st, f.store, f.prompt), StartupResult::Exit);
    EXPECT_EQ(f.prompt.log, (Log{kAskNewFileNo, kMsgUnreadable}));
}

TEST(Startup, PathDialogueChosenFile)
{
    Fixture f;
    f.SetKey(kPwd, "pw");
    const std::string chosen = f.GoodFile("Выбранный.cfg");
    f.prompt.Yes();
    f.prompt.Ok(chosen);  // the chooser gives UTF-8
    EXPECT_EQ(RunStartupLoad(f.st, f.store, f.prompt), StartupResult::Continue);
    EXPECT_EQ(f.prompt.log, (Log{kAskFindYes, "file chooser () -> " + chosen}));
    EXPECT_EQ(f.st.CfgFilePath, chosen);
    EXPECT_EQ(f.store.values[kCfg], chosen);
    EXPECT_EQ(f.st.CbCount, 2);
}

// --- the configuration path, whole ----------------------------------------------

// The stored path opens exactly its file in a folder named outside
// Windows-1251; one an earlier version stored as Windows-1251 still does.
TEST(LoadSettings, StoredPathOpensItsFileWhole)
{
    const std::pair<std::string, bool> table[] = {{"Δοκιμή", false}, {"Проверка", false}, {"Проверка", true}};
    for (const auto& [folder, legacy] : table) {
        SCOPED_TRACE(folder + (legacy ? " (Windows-1251)" : ""));
        Fixture f;
        std::filesystem::create_directory(f.scratch.Dir() / folder);
        const std::string path = f.GoodFile(folder + "/1.cfg");
        f.SetKey(kCfg, legacy ? W1251(path) : path);
        f.SetKey(kPwd, "pw");
        ASSERT_EQ(LoadSettings(f.st, f.store, f.prompt), 0);
        EXPECT_EQ(f.st.CfgFilePath, path);
        EXPECT_EQ(f.st.CbCount, 2);
        EXPECT_TRUE(f.store.writes.empty());
    }
}

// A chosen name that cannot be kept whole is refused and the dialog shown
// again; only a name that can be kept is stored.
TEST(Startup, ChosenPathThatCannotBeKeptIsRefused)
{
    std::vector<std::string> table = {"", "a\xEF\xBF\xBD.cfg", W1251("Проверка.cfg")};
#ifndef _WIN32
    table.push_back("a\\b.cfg");  // a separator here
#endif
    const std::string refused = std::string("msg [warning] Внимание! | ") + kMsgPathNotKept;
    for (const std::string& bad : table) {
        Fixture f;
        f.SetKey(kPwd, "pw");
        const std::string good = f.GoodFile("good.cfg");
        f.prompt.Yes();
        f.prompt.Ok(bad);
        f.prompt.Ok(good);
        ASSERT_EQ(RunStartupLoad(f.st, f.store, f.prompt), StartupResult::Continue);
        EXPECT_EQ(f.prompt.log, (Log{kAskFindYes, "file chooser () -> " + bad, refused, "file chooser () -> " + good}));
        EXPECT_EQ(f.store.writes, (std::vector<std::pair<std::string, std::string>>{{kCfg, good}}));
    }
}

TEST(Startup, PathDialogueProposesCurrentPath)
{
    Fixture f;
    f.SetKey(kPwd, "pw");
    f.st.CfgFilePath = "C:\\Объект\\1.cfg";
    f.prompt.Yes();
    f.prompt.Ok(f.GoodFile("b.cfg"));
    EXPECT_EQ(RunStartupLoad(f.st, f.store, f.prompt), StartupResult::Continue);
    ASSERT_EQ(f.prompt.log.size(), 2u);
    EXPECT_EQ(f.prompt.log[1].rfind("file chooser (C:\\Объект\\1.cfg) -> ", 0), 0u) << f.prompt.log[1];
}

TEST(Startup, PathDialogueCancelledThenNoNewFileEndsSilently)
{
    Fixture f;
    f.prompt.Yes();
    f.prompt.Cancel();
    f.prompt.No();
    EXPECT_EQ(RunStartupLoad(f.st, f.store, f.prompt), StartupResult::Exit);
    EXPECT_EQ(f.prompt.log, (Log{kAskFindYes, "file chooser () -> cancel", kAskCreateNo}));
    EXPECT_TRUE(f.store.writes.empty());
}

TEST(Startup, PathDialogueCancelledThenNewFile)
{
    Fixture f;
    f.SetKey(kPwd, "pw");
    f.prompt.Yes();
    f.prompt.Cancel();
    f.prompt.Yes();  // create a new one: "1.cfg"
    f.prompt.Yes();  // LoadSettings: "1.cfg" cannot be read, create ".\1.cfg"
    EXPECT_EQ(RunStartupLoad(f.st, f.store, f.prompt), StartupResult::Continue);
    EXPECT_EQ(f.prompt.log, (Log{kAskFindYes, "file chooser () -> cancel", kAskCreateYes, kAskNewFileYes}));
    EXPECT_EQ(f.store.writes,
              (std::vector<std::pair<std::string, std::string>>{{kCfg, "1.cfg"}, {kCfg, ".\\1.cfg"}}));
    EXPECT_EQ(ReadBytes(f.scratch.Dir() / "1.cfg").size(), 2364u);
    EXPECT_EQ(f.st.AccessCode, "pw");
}

TEST(Startup, PathCannotBeStored)
{
    Fixture f;
    f.store.failWrites = true;
    f.prompt.No();
    EXPECT_EQ(RunStartupLoad(f.st, f.store, f.prompt), StartupResult::Exit);
    EXPECT_EQ(f.prompt.log, (Log{kAskFindNo, kMsgRegExit}));
    EXPECT_EQ(f.st.CfgFilePath, "1.cfg");
}

// A first start on a clean machine: neither key exists. The file is created,
// the code key is still missing, and the same start goes on with the
// access-code recovery instead of ending.
TEST(Startup, FreshMachineStartsAtOnce)
{
    Fixture f;
    f.prompt.No();   // do not look for the file: "1.cfg"
    f.prompt.Yes();  // create ".\1.cfg"
    f.prompt.Yes();  // make a new code
    f.prompt.Ok("first");
    std::string codeWhenShown;
    f.prompt.onChangeDialog = [&] { codeWhenShown = f.st.AccessCode; };
    EXPECT_EQ(RunStartupLoad(f.st, f.store, f.prompt), StartupResult::Continue);
    EXPECT_EQ(f.prompt.log, (Log{kAskFindNo, kAskNewFileYes, kAskNewCodeYes, "change dialog -> ok"}));
    EXPECT_EQ(codeWhenShown, "379");
    EXPECT_EQ(f.st.AccessCode, "first");
    EXPECT_EQ(f.store.values[kCfg], ".\\1.cfg");
    EXPECT_EQ(f.store.values[kPwd], "first");
    EXPECT_EQ(ReadBytes(f.scratch.Dir() / "1.cfg"), SerializeConfig({DefaultCbSettings()}));
    EXPECT_TRUE(f.prompt.script.empty());

    // The next start: nothing to ask.
    TGlobalState st2;
    ScriptedPrompt p2;
    EXPECT_EQ(RunStartupLoad(st2, f.store, p2), StartupResult::Continue);
    EXPECT_TRUE(p2.log.empty());
    EXPECT_EQ(st2.AccessCode, "first");
}

// What the LoadSettings after the path dialogue returns decides: -3 runs the
// recovery (and its own endings), -1 and -4 end with the open message.
TEST(Startup, SecondLoadAfterPathDialogue)
{
    struct Case {
        const char* name;
        bool codeKey;           // the access-code key exists
        bool cfgKeyUnreadable;  // the path is stored but cannot be read back
        std::vector<ScriptedPrompt::Step> after;  // answers after "do not look for it"
        StartupResult expect;
        Log expectAfter;
        std::string expectCode;
    };
    const ScriptedPrompt::Step yes{true, {}}, no{false, {}};
    const Case table[] = {
        {"code missing, recovered", false, false, {yes, yes, {true, "c"}}, StartupResult::Continue,
         {kAskNewFileYes, kAskNewCodeYes, "change dialog -> ok"}, "c"},
        {"code missing, recovery declined", false, false, {yes, no}, StartupResult::Exit,
         {kAskNewFileYes, kAskNewCodeNo, kMsgCodeExit}, "7ujm"},
        {"code missing, dialog cancelled", false, false, {yes, yes, no}, StartupResult::Exit,
         {kAskNewFileYes, kAskNewCodeYes, "change dialog -> cancel", kMsgCodeExit}, "379"},
        {"file not made", true, false, {no}, StartupResult::Exit, {kAskNewFileNo, kMsgOpenFailed}, "7ujm"},
        {"path unreadable", true, true, {}, StartupResult::Exit, {kMsgOpenFailed}, "7ujm"},
    };
    for (const Case& c : table) {
        SCOPED_TRACE(c.name);
        Fixture f;
        if (c.codeKey)
            f.SetKey(kPwd, "pw");
        if (c.cfgKeyUnreadable)
            f.store.unreadable.insert(kCfg);
        f.prompt.No();  // do not look for the file
        f.prompt.script.insert(f.prompt.script.end(), c.after.begin(), c.after.end());
        EXPECT_EQ(RunStartupLoad(f.st, f.store, f.prompt), c.expect);
        Log want{kAskFindNo};
        want.insert(want.end(), c.expectAfter.begin(), c.expectAfter.end());
        EXPECT_EQ(f.prompt.log, want);
        EXPECT_EQ(f.st.AccessCode, c.expectCode);
        EXPECT_TRUE(f.prompt.script.empty());
    }
}

TEST(Startup, SecondLoadFailureAfterPathDialogue)
{
    Fixture f;
    f.SetKey(kPwd, "pw");
    WriteBytes(f.scratch.Dir() / "bad.cfg", "\x05");
    f.prompt.Yes();
    f.prompt.Ok(f.Path("bad.cfg"));
    f.prompt.No();  // do not create a new file: -4
    EXPECT_EQ(RunStartupLoad(f.st, f.store, f.prompt), StartupResult::Exit);
    EXPECT_EQ(f.prompt.log, (Log{kAskFindYes, "file chooser () -> " + f.Path("bad.cfg"), kAskNewFileNo, kMsgOpenFailed}));
}

TEST(Startup, CodeRecoveryPaths)
{
    struct Case {
        const char* name;
        std::vector<ScriptedPrompt::Step> script;
        bool failWrites;
        bool breakFileAfterCodeStored;
        StartupResult expect;
        Log expectLog;
        std::string expectCode;
    };
    const ScriptedPrompt::Step yes{true, {}}, no{false, {}};
    const Case table[] = {
        {"declined", {no}, false, false, StartupResult::Exit, {kAskNewCodeNo, kMsgCodeExit}, "7ujm"},
        {"dialog cancelled", {yes, no}, false, false, StartupResult::Exit,
         {kAskNewCodeYes, "change dialog -> cancel", kMsgCodeExit}, "379"},
        {"new code", {yes, {true, "n"}}, false, false, StartupResult::Continue,
         {kAskNewCodeYes, "change dialog -> ok"}, "n"},
        {"empty new code", {yes, {true, ""}}, false, false, StartupResult::Continue,
         {kAskNewCodeYes, "change dialog -> ok"}, ""},
        {"code not stored", {yes, {true, "n"}}, true, false, StartupResult::Exit,
         {kAskNewCodeYes, "change dialog -> ok", kMsgRegExit}, "n"},
        {"reload fails", {yes, {true, "n"}, no}, false, true, StartupResult::Exit,
         {kAskNewCodeYes, "change dialog -> ok", kAskNewFileNo, kMsgCodeExitReload}, "n"},
    };
    for (const Case& c : table) {
        SCOPED_TRACE(c.name);
        Fixture f;
        const std::string file = f.GoodFile("a.cfg");
        f.SetKey(kCfg, W1251(file));
        f.store.failWrites = c.failWrites;
        f.prompt.script.assign(c.script.begin(), c.script.end());
        if (c.breakFileAfterCodeStored)
            f.prompt.onChangeDialog = [&] { WriteBytes(U8Path(file), "\x01"); };
        EXPECT_EQ(RunStartupLoad(f.st, f.store, f.prompt), c.expect);
        EXPECT_EQ(f.prompt.log, c.expectLog);
        EXPECT_EQ(f.st.AccessCode, c.expectCode);
        if (c.expect == StartupResult::Continue) {
            EXPECT_EQ(f.store.values[kPwd], c.expectCode);
        }
        EXPECT_TRUE(f.prompt.script.empty());
    }
}
