#pragma once
// The UIR setup window ("  Настройки модулей УИР"): the present UIRs of the
// block on screen, the selected UIR's settings as read-only texts, and the
// buttons that edit, copy, reset, read, write and save them. The work itself
// is TSetupUirActions; this class is its controls, its two dialogs and its
// 500 ms timer.
#include <QWidget>
#include <array>
#include <functional>
#include <memory>

#include "setup/SetupUirActions.h"

class QLabel;
class QListWidget;
class QPushButton;
class QTimer;

namespace kestrel {

class ISettingsStore;
class TChSetupUirForm;
class TMainForm;
class TUirListForm;

class TSetupUirForm : public QWidget, public ISetupUirView {
    Q_OBJECT
public:
    // post: the request hand-over with the wait window; accessPrompt: the
    // access prompt with the main window off its stay-on-top style.
    TSetupUirForm(TGlobalState& state, TSetupPostFn post, std::function<bool()> accessPrompt,
                  QWidget* parent = nullptr);
    ~TSetupUirForm() override;

    TSetupUirActions& Actions() { return *actions_; }
    // While set, the guarded buttons ask for the access code first.
    void SetNeedAccess(bool on) { actions_->NeedAccess = on; }
    bool NeedAccess() const { return actions_->NeedAccess; }

    // A caller's opening: block `cb`, UIR index `uirIndex` selected when it
    // is in the list (else the selection stays, or the first entry).
    void Display(int32_t cb, int uirIndex);
    // The service console's segment write: the four transfer buttons
    // ("Получить", "Записать", "Сохранить ... в файл", "Применить к
    // выбранным УИР") off while it waits, and a list entry chosen by its
    // position (-1 or past the end: none).
    void SetTransferButtonsEnabled(bool on);
    void SelectEntry(int row);
    // While held, the list, the edit and the copy stay on the block last
    // displayed instead of following the block on screen (the console
    // writes its own block's segment).
    void HoldBlock(bool on) { actions_->HoldBlock = on; }

    // ISetupUirView. Virtual so tests can answer the questions.
    void ShowList(const std::vector<std::string>& entries, int selected) override;
    void ShowValues(const TUirValueTexts& texts) override;
    bool AccessGate() override;
    bool AskYesNo(const std::string& text, const std::string& caption, PromptIcon icon) override;
    void Message(const std::string& text, const std::string& caption, PromptIcon icon) override;

    TChSetupUirForm* ChSetupUirForm() const { return ch_; }
    TUirListForm* UirListForm() const { return list_; }

    QListWidget* ListBox1 = nullptr;
    std::array<QLabel*, 3> ControlText{};
    std::array<QLabel*, 3> FunctionText{};
    QLabel* OutputText = nullptr;
    QLabel* PollText = nullptr;
    QPushButton* BitBtn2 = nullptr;
    QPushButton* bbGetDataFrUir = nullptr;
    QPushButton* bbSendDataToUir = nullptr;
    QPushButton* bbSaveUirCfg = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* bbSetInitCfg = nullptr;
    QPushButton* bbClose = nullptr;
    QTimer* Timer1 = nullptr;

signals:
    // Hidden by the program or the operator (not by minimising).
    void Hidden();

public slots:
    void Timer1Timer();
    void ListBox1Click();
    void BitBtn2Click();
    void bbGetDataFrUirClick();
    void bbSendDataToUirClick();
    void bbSaveUirCfgClick();
    void BitBtn1Click();
    void bbSetInitCfgClick();

protected:
    // Hiding the window closes its dialogs unconfirmed.
    void hideEvent(QHideEvent* e) override;

private:
    void PlaceDialog(QWidget* d, bool centredVertically);

    TGlobalState& state_;
    std::function<bool()> accessPrompt_;
    std::unique_ptr<TSetupUirActions> actions_;
    TChSetupUirForm* ch_ = nullptr;
    TUirListForm* list_ = nullptr;
    bool filling_ = false;
};

// Creates the UIR setup window (hidden) and registers it with the main
// window: a UIR tile's click and its "Свойства" open it.
TSetupUirForm* AttachSetupUirForm(TMainForm& main, TGlobalState& state);

// The program entry's one call for this family of windows.
void AttachUirAndCfgWindows(TMainForm& main, TGlobalState& state, ISettingsStore& store);

}  // namespace kestrel
