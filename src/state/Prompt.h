#pragma once
// The questions, messages and dialogs that the start-up and the access-code
// logic need from the windows. Texts and captions are UTF-8. The Qt side
// shows modal boxes; tests script the answers.
#include <string>

namespace kestrel {

enum class PromptIcon { Warning, Error, Information, Question };

class IPrompt {
public:
    virtual ~IPrompt() = default;
    // A modal question with Yes and No; true only on Yes.
    virtual bool AskYesNo(const std::string& text, const std::string& caption, PromptIcon icon) = 0;
    // A modal message with OK.
    virtual void Message(const std::string& text, const std::string& caption, PromptIcon icon) = 0;
    // The access-code change dialog, shown modally; true on OK with the
    // confirmed new code (Windows-1251 bytes) in newCode.
    virtual bool ChangeCodeDialog(std::string& newCode) = 0;
    // The access prompt, shown modally; true when an accepted code was typed.
    virtual bool AccessPrompt() = 0;
    // A file-open dialog (default extension "*.cfg", filter "*.cfg|*.cfg"),
    // proposing `path`; true with the chosen path (UTF-8) in path, empty
    // when the name chosen cannot be told back to the OS.
    virtual bool ChooseConfigFile(std::string& path) = 0;
};

}  // namespace kestrel
