#pragma once
// "Конфигурация": the PC side of the installation for the block on screen
// (which UIRs belong to it, its port and speed, the configuration file),
// and the way into the block and UIR setup windows without further access
// prompts while it is open. The work is TCfgActions; this class is its
// controls.
#include <QWidget>
#include <array>
#include <functional>
#include <memory>

#include "setup/CfgActions.h"
#include "state/Prompt.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace kestrel {

class TFileCfgForm;
class TMainForm;
class TSetupUirForm;

class TCfgForm : public QWidget {
    Q_OBJECT
public:
    // uirForm: the UIR setup window; setNeedAccess: sets the setup windows'
    // access flags (cleared while this window is shown).
    TCfgForm(TGlobalState& state, TMainForm& main, TSetupUirForm* uirForm, QWidget* parent = nullptr);
    ~TCfgForm() override;

    TCfgActions& Actions() { return *actions_; }
    TFileCfgForm* FileCfgForm() const { return fileForm_; }

    // The main window's opening, after the access prompt.
    void Prepare();
    // The main window's status tick.
    void StatusTick();
    // A failed configuration-file write; virtual so tests can see it.
    virtual void Message(const std::string& text, const std::string& caption, PromptIcon icon);

    std::array<QCheckBox*, kUirCount> CheckBox{};
    QComboBox* ComboBox1 = nullptr;
    QComboBox* ComboBox2 = nullptr;
    QLabel* PortPath = nullptr;  // the device path of the chosen COM item
    QPushButton* bbSetupUir = nullptr;
    QPushButton* bbSetupCb = nullptr;
    QPushButton* bbCfgFile = nullptr;
    QPushButton* bbApply = nullptr;
    QPushButton* bbOk = nullptr;
    QPushButton* bbCancel = nullptr;

public slots:
    void bbApplyClick();
    void bbOkClick();
    void bbCancelClick();
    void bbCfgFileClick();
    void bbSetupUirClick();
    void bbSetupCbClick();

protected:
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

private:
    void Render();
    void ShowPortPath();
    void SetSetupAccess(bool need);

    TGlobalState& state_;
    int shownPortItem_ = -1;
    TMainForm& main_;
    TSetupUirForm* uirForm_ = nullptr;
    TFileCfgForm* fileForm_ = nullptr;
    std::unique_ptr<TCfgActions> actions_;
};

// Creates the window and the file window hidden, and registers them with the
// main window ("Конфигурация" and the status tick).
TCfgForm* AttachCfgForm(TMainForm& main, TGlobalState& state, TSetupUirForm* uirForm);

}  // namespace kestrel
