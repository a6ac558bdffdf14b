#include "state/Access.h"

#include <iostream>

#include "state/ConfigFile.h"
#include "state/Cp1251.h"
#include "state/FileIo.h"

namespace kestrel {

namespace {

// The operator's texts, exactly as the program shows them.
constexpr const char* kAskNewCfg = "Ошибка чтения данных из файла конфигурации! Создать новый файл?";
constexpr const char* kCapCfgRead = "Ошибка чтения конфигурации.";
constexpr const char* kMsgNewCfgFailed = "Ошибка создания нового файла конфигурации";
constexpr const char* kCapNewCfgFailed = "Ошибка чтения конфигурации";

constexpr const char* kMsgWrongOld = "Неверный старый пароль";
constexpr const char* kMsgMismatch = "Не совпадает новый пароль с подтверждением нового пароля";
constexpr const char* kCapNewCode = "Ошибка создания нового пароля";

constexpr const char* kMsgCodeNotSaved = "Ошибка записи данных в реестр. Пароль не был сохранен.";
constexpr const char* kMsgRegWriteExit = "Ошибка записи данных в реестр. Приложение будет закрыто.";
constexpr const char* kCapRegistry = "Ошибка работы с реестром";

constexpr const char* kAskNewCode = "Ошибка чтения пароля. Создать новый пароль?";
constexpr const char* kCapCodeRead = "Ошибка чтения пароля.";
constexpr const char* kMsgCodeExit = "Ошибка чтения пароля. Приложение будет закрыто.";
constexpr const char* kCapCodeExit = "Ошибка чтения пароля";
constexpr const char* kMsgCodeExitAfterReload = "Ошибка чтения пароля. Приложение будет закрыто";

constexpr const char* kMsgCfgUnreadable = "Ошибка чтения из файла конфигурации";
constexpr const char* kCapCfgUnreadable = "Ошибка получения конфигурации";

constexpr const char* kAskFindCfg = "Ошибка открытия файла конфигурации. Попробуете найти его самостоятельно?";
constexpr const char* kCapFindCfg = "Ошибка открытия файла конфигурации.";
constexpr const char* kAskCreateCfg = "Файл конфигурации не найден. Создать новый?";
constexpr const char* kCapCreateCfg = "Ошибка открытия файла конфигурации";
constexpr const char* kMsgCfgOpen = "Ошибка открытия файла конфигурации.";

// The relative name stored when the operator does not look for the file.
constexpr const char* kFallbackCfgPath = "1.cfg";

std::string ShowPath(const std::filesystem::path& p)
{
    const std::u8string s = p.u8string();
    return std::string(s.begin(), s.end());
}

// A file already in the new file's place is never lost: its bytes are kept
// beside it first, and standard error says where. False when no copy could
// be made; the file must then stay as it is.
bool KeepWhatIsThere(const std::string& pathUtf8)
{
    const std::filesystem::path native = NativePath(pathUtf8);
    const TKeptCopy kept = KeepCopyBeforeReplacing(native);
    switch (kept.result) {
    case KeepCopyResult::NoFile:
        return true;
    case KeepCopyResult::Kept:
        std::cerr << "kestrel-utilite: " << ShowPath(native)
                  << (kept.damaged ? " cannot be read as a configuration" : " holds a configuration")
                  << " and is replaced by a new one; its bytes are kept in " << ShowPath(kept.copy) << std::endl;
        return true;
    case KeepCopyResult::Failed:
        break;
    }
    std::cerr << "kestrel-utilite: no new configuration is written over " << ShowPath(native)
              << ", since no copy of it could be kept: " << kept.reason << std::endl;
    return false;
}

}  // namespace

int LoadSettings(TGlobalState& state, ISettingsStore& store, IPrompt& prompt)
{
    if (store.ReadRegPath(state.RegKeyCfg, state.CfgFilePath) != 0)
        return -1;
    if (ReadConfigFile(state) != 0) {
        if (!prompt.AskYesNo(kAskNewCfg, kCapCfgRead, PromptIcon::Warning))
            return -4;
        state.CfgFilePath = kNewCfgPath;
        (void)store.WriteRegPath(state.RegKeyCfg, state.CfgFilePath);
        if (!KeepWhatIsThere(state.CfgFilePath) || WriteConfigFile(state) != 0) {
            prompt.Message(kMsgNewCfgFailed, kCapNewCfgFailed, PromptIcon::Warning);
            return -4;
        }
    }
    if (store.ReadRegString(state.RegKeyPassword, state.AccessCode) != 0)
        return -3;
    return 0;
}

bool AccessCodeAccepted(const TGlobalState& state, const std::string& typed)
{
    return typed == state.AccessCode || typed == state.MasterCode;
}

std::vector<TPromptMessage> ValidateCodeChange(const TGlobalState& state, const std::string& oldCode,
                                               const std::string& newCode, const std::string& confirm)
{
    std::vector<TPromptMessage> msgs;
    if (!AccessCodeAccepted(state, oldCode))
        msgs.push_back({kMsgWrongOld, kCapNewCode, PromptIcon::Error});
    if (newCode != confirm)
        msgs.push_back({kMsgMismatch, kCapNewCode, PromptIcon::Error});
    return msgs;
}

bool ChangeAccessCode(TGlobalState& state, ISettingsStore& store, IPrompt& prompt)
{
    std::string code;
    if (!prompt.ChangeCodeDialog(code))
        return false;
    // In force at once, whatever happens to the stored copy.
    state.AccessCode = code;
    if (store.WriteRegString(state.RegKeyPassword, state.AccessCode) != 0)
        prompt.Message(kMsgCodeNotSaved, kCapRegistry, PromptIcon::Error);
    return true;
}

StartupResult RecoverAccessCode(TGlobalState& state, ISettingsStore& store, IPrompt& prompt)
{
    if (!prompt.AskYesNo(kAskNewCode, kCapCodeRead, PromptIcon::Error)) {
        prompt.Message(kMsgCodeExit, kCapCodeExit, PromptIcon::Error);
        return StartupResult::Exit;
    }
    state.AccessCode = W1251(kRecoveryCode);
    std::string code;
    if (!prompt.ChangeCodeDialog(code)) {
        prompt.Message(kMsgCodeExit, kCapCodeExit, PromptIcon::Error);
        return StartupResult::Exit;
    }
    state.AccessCode = code;
    if (store.WriteRegString(state.RegKeyPassword, state.AccessCode) != 0) {
        prompt.Message(kMsgRegWriteExit, kCapRegistry, PromptIcon::Error);
        return StartupResult::Exit;
    }
    if (LoadSettings(state, store, prompt) < 0) {
        prompt.Message(kMsgCodeExitAfterReload, kCapCodeRead, PromptIcon::Error);
        return StartupResult::Exit;
    }
    return StartupResult::Continue;
}

StartupResult FindConfigPath(TGlobalState& state, ISettingsStore& store, IPrompt& prompt)
{
    std::string path;
    if (prompt.AskYesNo(kAskFindCfg, kCapFindCfg, PromptIcon::Error)) {
        std::string chosen = state.CfgFilePath;
        bool picked = false;
        while (prompt.ChooseConfigFile(chosen)) {
            if (PathKeptWhole(chosen)) {
                picked = true;
                break;
            }
            prompt.Message(kMsgPathNotKept, kCapAttention, PromptIcon::Warning);
            chosen = state.CfgFilePath;
        }
        if (picked) {
            path = chosen;
        } else if (prompt.AskYesNo(kAskCreateCfg, kCapCreateCfg, PromptIcon::Warning)) {
            path = kFallbackCfgPath;
        } else {
            return StartupResult::Exit;
        }
    } else {
        path = kFallbackCfgPath;
    }
    state.CfgFilePath = path;
    if (store.WriteRegPath(state.RegKeyCfg, state.CfgFilePath) != 0) {
        prompt.Message(kMsgRegWriteExit, kCapRegistry, PromptIcon::Error);
        return StartupResult::Exit;
    }
    const int rc = LoadSettings(state, store, prompt);
    // On a clean machine the file is in place now and only the access code
    // is missing: the recovery the first LoadSettings would have run.
    if (rc == -3)
        return RecoverAccessCode(state, store, prompt);
    if (rc < 0) {
        prompt.Message(kMsgCfgOpen, kMsgCfgOpen, PromptIcon::Error);
        return StartupResult::Exit;
    }
    return StartupResult::Continue;
}

StartupResult RunStartupLoad(TGlobalState& state, ISettingsStore& store, IPrompt& prompt)
{
    state.RegKeyCfg = kRegKeyCfg;
    state.RegKeyPassword = kRegKeyPassword;
    state.AccessCode = state.MasterCode;
    switch (LoadSettings(state, store, prompt)) {
    case 0:
        return StartupResult::Continue;
    case -1:
        return FindConfigPath(state, store, prompt);
    case -3:
        return RecoverAccessCode(state, store, prompt);
    case -4:
        prompt.Message(kMsgCfgUnreadable, kCapCfgUnreadable, PromptIcon::Error);
        return StartupResult::Exit;
    default:
        return StartupResult::Continue;
    }
}

}  // namespace kestrel
