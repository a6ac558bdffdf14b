#pragma once
// Start-up loading of the settings and everything about the access code, as
// logic without windows. Questions and messages go through IPrompt (the Qt
// windows implement it; tests script it). All texts here are UTF-8.
//
// How the windows use this:
//   start-up (main window construction, after the model exists):
//       if (RunStartupLoad(state, store, prompt) == StartupResult::Exit)
//           -> close the main window, exit code 0, no acquisition thread.
//   access prompt ("Подтвердить"):
//       if (AccessCodeAccepted(state, typed)) accept();
//       else { show kMsgWrongCode / kCapAttention (warning); clear the field; }
//   change dialog ("Подтвердить"):
//       auto msgs = ValidateCodeChange(state, oldCode, newCode, confirm);
//       show each of msgs in order; accept() only when msgs is empty.
//   menu "Изменить пароль":
//       ChangeAccessCode(state, store, prompt);   // shows the dialog itself
//
// Codes typed in the windows are passed as Windows-1251 bytes (W1251(text)).
#include <string>
#include <vector>

#include "state/Model.h"
#include "state/Prompt.h"
#include "state/SettingsStore.h"

namespace kestrel {

// The fixed texts of the access prompt and the change dialog.
inline constexpr const char* kAccessPromptCaption = "Защита от несанкционированного доступа";
inline constexpr const char* kAccessPromptLabel = "Защита от несанкционированного доступа. Наберите пароль";
inline constexpr const char* kChangeDialogCaption = "Окно изменения пароля";
inline constexpr const char* kChangeDialogOldLabel = "Старый пароль";
inline constexpr const char* kChangeDialogNewLabel = "Новый пароль";
inline constexpr const char* kChangeDialogConfirmLabel = "Подтвердите новый пароль";
inline constexpr const char* kButtonConfirm = "Подтвердить";
inline constexpr const char* kButtonCancel = "Отменить";
inline constexpr const char* kMenuChangeCode = "Изменить пароль";

// The wrong-code message of the access prompt (warning icon, OK).
inline constexpr const char* kMsgWrongCode = "Неверно набран код доступа";
inline constexpr const char* kCapAttention = "Внимание!";

// The code put in force when the stored one cannot be read and the operator
// agrees to make a new one.
inline constexpr const char* kRecoveryCode = "379";
// The path of a configuration file created at start-up.
inline constexpr const char* kNewCfgPath = ".\\1.cfg";

// A configuration file chosen by the operator whose path cannot be kept
// whole (see PathKeptWhole): refused with this (caption kCapAttention,
// warning icon), so nothing is ever read from or written to a near miss.
inline constexpr const char* kMsgPathNotKept =
    "Имя файла или папки содержит символы, которые программа не может сохранить. Выберите другой файл.";

struct TPromptMessage {
    std::string text;
    std::string caption;
    PromptIcon icon = PromptIcon::Error;
    friend bool operator==(const TPromptMessage&, const TPromptMessage&) = default;
};

// CfgFilePath is UTF-8 (on Linux: the path's bytes); the settings store
// keeps it whole (ReadRegPath / WriteRegPath).
//
// Reads the configuration path (RegKeyCfg into CfgFilePath), the
// configuration file and the access code (RegKeyPassword into AccessCode).
// 0; -1 the configuration key cannot be opened; -3 the access-code key cannot
// be opened; -4 the file cannot be read and no new one was made. When the
// file cannot be read it asks whether to create ".\1.cfg" from the records in
// memory (and says so when that fails). A file already at ".\1.cfg" keeps its
// bytes in "1.cfg.damaged-N" (or "1.cfg.old-N" when it reads as a
// configuration) before the new one replaces it, and standard error names
// the copy; when no copy can be made, nothing is written and the result is
// -4 as for a failed write.
int LoadSettings(TGlobalState& state, ISettingsStore& store, IPrompt& prompt);

// The access prompt's rule: the typed code equals AccessCode or MasterCode
// (exact bytes, case-sensitive, no trimming).
bool AccessCodeAccepted(const TGlobalState& state, const std::string& typed);

// The change dialog's "Подтвердить": the messages to show, in order; empty
// means the dialog closes with OK and newCode is the new code.
std::vector<TPromptMessage> ValidateCodeChange(const TGlobalState& state, const std::string& oldCode,
                                               const std::string& newCode, const std::string& confirm);

// The menu action: shows the change dialog; on OK puts the new code in force
// and stores it (saying so when storing fails). True when the code changed.
bool ChangeAccessCode(TGlobalState& state, ISettingsStore& store, IPrompt& prompt);

enum class StartupResult { Continue, Exit };

// The access-code recovery run when LoadSettings returned -3.
StartupResult RecoverAccessCode(TGlobalState& state, ISettingsStore& store, IPrompt& prompt);

// The configuration-path dialogue run when LoadSettings returned -1. A file
// whose path cannot be kept whole is refused with kMsgPathNotKept and the
// dialog shown again. When the
// LoadSettings after it returns -3 (a clean machine: the file is in place,
// no access code is stored yet) it goes on with RecoverAccessCode.
StartupResult FindConfigPath(TGlobalState& state, ISettingsStore& store, IPrompt& prompt);

// The whole configuration step of the start-up: sets RegKeyCfg,
// RegKeyPassword and AccessCode (master value), runs LoadSettings and acts on
// its result with every question and message. Exit means: close the main
// window and end with exit code 0 without starting the acquisition thread.
StartupResult RunStartupLoad(TGlobalState& state, ISettingsStore& store, IPrompt& prompt);

}  // namespace kestrel
