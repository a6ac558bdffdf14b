#pragma once
// "Настройка центрального блока (ЦБ)": the settings of the block on screen
// (its four function tables, the MTZ wait flag, the UROV time, whether it is
// served, its address and its clock) with the actions that change them.
// The work is TSetupCbActions; this class is its controls, timer, dialogs
// and the hidden service keys.
#include <QWidget>
#include <array>
#include <functional>
#include <memory>

#include "setup/SetupCbActions.h"
#include "setup/ui/SetupCbDialogs.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QTimer;

namespace kestrel {

class TMainForm;
class THistoryForm;

class TSetupCbForm : public QWidget, public ISetupCbView {
    Q_OBJECT
public:
    TSetupCbForm(TGlobalState& state, TMainForm& main, QWidget* parent = nullptr);
    ~TSetupCbForm() override;

    TSetupCbActions& Actions() { return *actions_; }
    // The block the window shows and its actions post to.
    int Cb() const { return cb_; }
    // Show CB `cb`: the tables, the MTZ text, the UROV time and, with
    // `fillEnableAndAddress`, the tick and the address list.
    void Display(int cb, bool fillEnableAndAddress);
    void ShowTables();
    void ShowPanel(int k);
    // The system configuration window clears it while it is open.
    void SetNeedAccess(bool on) { actions_->NeedAccess = on; }
    bool NeedAccess() const { return actions_->NeedAccess; }
    // The system configuration window's "Настройки ЦБ": shown over the tile
    // area, no code asked while that window stays open, the tables read
    // (while the block is served) and shown.
    void OpenFromCfg();
    // The journal window whose clear button the service key toggles.
    void SetHistoryForm(THistoryForm* form) { history_ = form; }
    // "Сверка настроек": open(cb) with the block on screen; the button is
    // shown once the settings-check window is there to open.
    void SetSettingsCheckOpener(std::function<void(int cb)> open);
    // The service keys; true when the key was one of them.
    bool ServiceKey(QKeyEvent* e);
    bool StopClockVisible() const;

    // ISetupCbView. Virtual so tests can answer.
    bool AccessPrompt() override;
    MtzAnswer AskMtz() override;
    bool AskYesNo(const std::string& text, const std::string& caption, PromptIcon icon) override;
    void Message(const std::string& text, const std::string& caption, PromptIcon icon) override;

    // Controls, named as the window always named them.
    std::array<QComboBox*, 4> ModeList{};  // ComboBox2 .. ComboBox5
    std::array<std::array<QLabel*, 6>, 4> Cell{};
    QLabel* MtzText = nullptr;
    QLabel* UrovText = nullptr;
    QCheckBox* CheckBox1 = nullptr;
    QComboBox* ComboBox1 = nullptr;
    QLabel* StaticText1 = nullptr;
    QPushButton* bbSetMtz = nullptr;
    QPushButton* bbChFuncCb = nullptr;
    QPushButton* bbSetUrov = nullptr;
    QPushButton* bbSetDateTime = nullptr;
    QPushButton* bbGetDateTime = nullptr;
    QPushButton* bbGetDataFrUir = nullptr;
    QPushButton* bbSendDataToUir = nullptr;
    QPushButton* bbSaveUirCfg = nullptr;
    QPushButton* bbResetCb = nullptr;
    QPushButton* bbSetAddrBaud = nullptr;
    QPushButton* bbSetInitCfg = nullptr;
    QPushButton* bbStopClock = nullptr;
    QPushButton* bbSetupUir = nullptr;
    QPushButton* bbSettingsCheck = nullptr;
    QPushButton* bbClose = nullptr;
    QTimer* Timer1 = nullptr;

    TCbSetFuncForm* CbSetFuncForm = nullptr;
    TCbSetUrovForm* CbSetUrovForm = nullptr;
    TSetDateTimeForm* SetDateTimeForm = nullptr;
    TGetDateTimeForm* GetDateTimeForm = nullptr;
    TSetAddrAndBaudForm* SetAddrAndBaudForm = nullptr;

public slots:
    void Timer1Timer();
    void bbSetMtzClick();
    void CheckBox1Click();
    void ComboBox1Change();
    void bbChFuncCbClick();
    void bbSetUrovClick();
    void bbSetDateTimeClick();
    void bbGetDateTimeClick();
    void bbGetDataFrUirClick();
    void bbSendDataToUirClick();
    void bbSaveUirCfgClick();
    void bbResetCbClick();
    void bbSetAddrBaudClick();
    void bbSetInitCfgClick();
    void bbStopClockClick();
    void bbSetupUirClick();

protected:
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void ShowMtzUrov();
    void ShowTickAndAddress();

    TGlobalState& state_;
    TMainForm& main_;
    std::unique_ptr<TSetupCbActions> actions_;
    THistoryForm* history_ = nullptr;
    std::function<void(int)> openSettingsCheck_;
    int cb_ = 0;
};

// Creates the window and its dialogs hidden and registers it with the main
// window (the CB tile's click and its "Свойства").
TSetupCbForm* AttachSetupCbWindows(TMainForm& main, TGlobalState& state);

}  // namespace kestrel
