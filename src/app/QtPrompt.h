#pragma once
// IPrompt with Qt: modal message boxes, the access dialogs and the file-open
// dialog, all owned by the main window so they stay above it.
#include <QPointer>
#include <QWidget>

#include "app/AccessForms.h"
#include "state/Prompt.h"

class QCoreApplication;

namespace kestrel {

// Qt's own Russian texts (standard buttons, file dialogs, text-field menus)
// from Qt's translations folder, and the Russian locale for dates and
// numbers in its dialogs. false when the catalogue is not installed (the
// texts then stay Qt's English ones).
bool InstallRussianTranslations(QCoreApplication& app);

class TQtPrompt final : public IPrompt {
public:
    explicit TQtPrompt(const TGlobalState& state) : state_(state) {}
    ~TQtPrompt() override;
    // The window the boxes and dialogs belong to (the main window).
    void SetOwner(QWidget* owner) { owner_ = owner; }

    bool AskYesNo(const std::string& text, const std::string& caption, PromptIcon icon) override;
    void Message(const std::string& text, const std::string& caption, PromptIcon icon) override;
    bool ChangeCodeDialog(std::string& newCode) override;
    bool AccessPrompt() override;
    bool ChooseConfigFile(std::string& path) override;

    TProtectAccessForm* ProtectAccessForm();
    TCreateNewPasswordForm* CreateNewPasswordForm();

private:
    const TGlobalState& state_;
    QPointer<QWidget> owner_;
    QPointer<TProtectAccessForm> access_;
    QPointer<TCreateNewPasswordForm> change_;
};

}  // namespace kestrel
