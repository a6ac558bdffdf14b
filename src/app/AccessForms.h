#pragma once
// The access prompt (TProtectAccessForm) and the access-code change dialog
// (TCreateNewPasswordForm). Both check the typed codes against the model's
// AccessCode and MasterCode; codes leave them as Windows-1251 bytes.
#include <QDialog>
#include <functional>
#include <string>

#include "state/Access.h"
#include "state/Model.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace kestrel {

// How a dialog shows one of its messages (a modal box by default).
using ShowMessageFn = std::function<void(QWidget* owner, const TPromptMessage&)>;
void ShowMessageBox(QWidget* owner, const TPromptMessage& m);

class TProtectAccessForm : public QDialog {
    Q_OBJECT
public:
    explicit TProtectAccessForm(const TGlobalState& state, QWidget* parent = nullptr,
                                ShowMessageFn show = ShowMessageBox);
    QLineEdit* Edit1() const { return edit_; }
    QPushButton* ConfirmButton() const { return confirm_; }
    QPushButton* CancelButton() const { return cancel_; }

public slots:
    void ConfirmClick();

protected:
    void showEvent(QShowEvent* e) override;

private:
    const TGlobalState& state_;
    ShowMessageFn show_;
    QLineEdit* edit_;
    QPushButton* confirm_;
    QPushButton* cancel_;
};

class TCreateNewPasswordForm : public QDialog {
    Q_OBJECT
public:
    explicit TCreateNewPasswordForm(const TGlobalState& state, QWidget* parent = nullptr,
                                    ShowMessageFn show = ShowMessageBox);
    QLineEdit* OldEdit() const { return old_; }
    QLineEdit* NewEdit() const { return new_; }
    QLineEdit* ConfirmEdit() const { return confirmEdit_; }
    QPushButton* ConfirmButton() const { return confirm_; }
    QPushButton* CancelButton() const { return cancel_; }
    // The confirmed new code (Windows-1251 bytes), after OK.
    std::string NewCode() const { return newCode_; }

public slots:
    void ConfirmClick();

protected:
    void showEvent(QShowEvent* e) override;

private:
    const TGlobalState& state_;
    ShowMessageFn show_;
    QLineEdit* old_;
    QLineEdit* new_;
    QLineEdit* confirmEdit_;
    QPushButton* confirm_;
    QPushButton* cancel_;
    std::string newCode_;
};

// Typed text as the model keeps codes.
std::string CodeBytes(const QString& typed);

}  // namespace kestrel
