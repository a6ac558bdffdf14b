#include "app/AccessForms.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "monitor/ui/QtText.h"
#include "state/Cp1251.h"

namespace kestrel {

namespace {

QLineEdit* MakeCodeEdit(QWidget* parent)
{
    auto* e = new QLineEdit(parent);
    e->setEchoMode(QLineEdit::Password);
    // One "*" for each character typed.
    e->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
    e->setMinimumWidth(220);
    return e;
}

// "Подтвердить" (the default button) and "Отменить", right-aligned.
QHBoxLayout* MakeButtonRow(QWidget* parent, QPushButton*& confirm, QPushButton*& cancel)
{
    confirm = new QPushButton(Q(kButtonConfirm), parent);
    confirm->setObjectName(QStringLiteral("bbConfirm"));
    confirm->setDefault(true);
    cancel = new QPushButton(Q(kButtonCancel), parent);
    cancel->setObjectName(QStringLiteral("bbCancel"));
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(confirm);
    row->addWidget(cancel);
    return row;
}

}  // namespace

std::string CodeBytes(const QString& typed) { return Utf8ToCp1251(typed.toUtf8().toStdString()); }

void ShowMessageBox(QWidget* owner, const TPromptMessage& m)
{
    QMessageBox box(BoxIcon(m.icon), QString::fromStdString(m.caption), QString::fromStdString(m.text),
                    QMessageBox::Ok, owner);
    box.exec();
}

// ------------------------------------------------------------ access prompt

TProtectAccessForm::TProtectAccessForm(const TGlobalState& state, QWidget* parent, ShowMessageFn show)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint),
      state_(state), show_(std::move(show))
{
    setObjectName(QStringLiteral("ProtectAccessForm"));
    setWindowTitle(Q(kAccessPromptCaption));
    setModal(true);

    auto* label = new QLabel(Q(kAccessPromptLabel), this);
    label->setObjectName(QStringLiteral("Label1"));
    edit_ = MakeCodeEdit(this);
    edit_->setObjectName(QStringLiteral("Edit1"));

    auto* buttons = MakeButtonRow(this, confirm_, cancel_);

    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(16, 16, 16, 12);
    v->setSpacing(10);
    v->addWidget(label);
    v->addWidget(edit_);
    v->addSpacing(4);
    v->addLayout(buttons);
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    connect(confirm_, &QPushButton::clicked, this, &TProtectAccessForm::ConfirmClick);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
}

void TProtectAccessForm::showEvent(QShowEvent* e)
{
    edit_->clear();
    edit_->setFocus();
    QDialog::showEvent(e);
}

void TProtectAccessForm::ConfirmClick()
{
    if (AccessCodeAccepted(state_, CodeBytes(edit_->text()))) {
        accept();
        return;
    }
    show_(this, {kMsgWrongCode, kCapAttention, PromptIcon::Warning});
    edit_->clear();
    edit_->setFocus();
}

// ------------------------------------------------------------ change dialog

TCreateNewPasswordForm::TCreateNewPasswordForm(const TGlobalState& state, QWidget* parent, ShowMessageFn show)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint),
      state_(state), show_(std::move(show))
{
    setObjectName(QStringLiteral("CreateNewPasswordForm"));
    setWindowTitle(Q(kChangeDialogCaption));
    setModal(true);

    old_ = MakeCodeEdit(this);
    old_->setObjectName(QStringLiteral("Edit1"));
    new_ = MakeCodeEdit(this);
    new_->setObjectName(QStringLiteral("Edit2"));
    confirmEdit_ = MakeCodeEdit(this);
    confirmEdit_->setObjectName(QStringLiteral("Edit3"));

    auto* form = new QFormLayout;
    form->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    form->setHorizontalSpacing(10);
    form->setVerticalSpacing(8);
    form->addRow(Q(kChangeDialogOldLabel), old_);
    form->addRow(Q(kChangeDialogNewLabel), new_);
    form->addRow(Q(kChangeDialogConfirmLabel), confirmEdit_);

    auto* buttons = MakeButtonRow(this, confirm_, cancel_);

    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(16, 16, 16, 12);
    v->setSpacing(12);
    v->addLayout(form);
    v->addLayout(buttons);
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    connect(confirm_, &QPushButton::clicked, this, &TCreateNewPasswordForm::ConfirmClick);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
}

void TCreateNewPasswordForm::showEvent(QShowEvent* e)
{
    old_->clear();
    new_->clear();
    confirmEdit_->clear();
    newCode_.clear();
    old_->setFocus();
    QDialog::showEvent(e);
}

void TCreateNewPasswordForm::ConfirmClick()
{
    const std::string newCode = CodeBytes(new_->text());
    const auto msgs = ValidateCodeChange(state_, CodeBytes(old_->text()), newCode, CodeBytes(confirmEdit_->text()));
    if (msgs.empty()) {
        newCode_ = newCode;
        accept();
        return;
    }
    // The fields stay as typed.
    for (const TPromptMessage& m : msgs)
        show_(this, m);
}

}  // namespace kestrel
