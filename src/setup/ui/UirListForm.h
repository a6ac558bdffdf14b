#pragma once
// The list dialog of the UIR setup window ("Список УИР"): one box per UIR
// number; "Подтвердить" asks before it accepts. Not modal; the window's
// timer takes up the accepted ticks.
#include <QWidget>
#include <array>

#include "setup/SetupUirActions.h"

class QCheckBox;
class QPushButton;

namespace kestrel {

class TUirListForm : public QWidget {
    Q_OBJECT
public:
    explicit TUirListForm(QWidget* owner);

    // The ticks to start with and which boxes can be ticked (present UIRs);
    // a box that cannot be ticked is shown unticked.
    void Preset(const std::array<bool, kUirCount>& checked, const std::array<bool, kUirCount>& enabled);
    std::array<bool, kUirCount> Checked() const;

    // Set by "Подтвердить" after Yes; cleared whenever the dialog is shown
    // and by "Отменить"; the window's timer clears it when taking it up.
    bool Accepted = false;

    // The question; virtual so tests can answer it.
    virtual bool AskYesNo(const std::string& text, const std::string& caption);

    std::array<QCheckBox*, kUirCount> CheckBox{};
    QPushButton* bbOk = nullptr;
    QPushButton* bbCancel = nullptr;

public slots:
    void bbOkClick();
    void bbCancelClick();

protected:
    void showEvent(QShowEvent* e) override;

private:
    std::array<bool, kUirCount> enabled_{};
};

}  // namespace kestrel
