#include "setup/ui/UirListForm.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace kestrel {

TUirListForm::TUirListForm(QWidget* owner) : QWidget(owner, Qt::Dialog)
{
    setObjectName("UirListForm");
    setWindowTitle(QString::fromUtf8(setup_uir_text::kListCaption));
    auto* grid = new QGridLayout;
    for (int i = 0; i < kUirCount; ++i) {
        auto* b = new QCheckBox(QString::number(i + 1), this);
        b->setObjectName(QString("CheckBox%1").arg(i + 1));
        b->setChecked(true);
        CheckBox[static_cast<size_t>(i)] = b;
        grid->addWidget(b, i / 9, i % 9);
    }
    enabled_.fill(true);
    bbOk = new QPushButton(QString::fromUtf8("Подтвердить"), this);
    bbOk->setObjectName("bbOk");
    bbCancel = new QPushButton(QString::fromUtf8("Отменить"), this);
    bbCancel->setObjectName("bbCancel");
    for (QPushButton* b : {bbOk, bbCancel})
        b->setAutoDefault(false);
    connect(bbOk, &QPushButton::clicked, this, &TUirListForm::bbOkClick);
    connect(bbCancel, &QPushButton::clicked, this, &TUirListForm::bbCancelClick);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(bbOk);
    buttons->addWidget(bbCancel);
    auto* root = new QVBoxLayout(this);
    root->addLayout(grid);
    root->addLayout(buttons);
}

void TUirListForm::Preset(const std::array<bool, kUirCount>& checked, const std::array<bool, kUirCount>& enabled)
{
    enabled_ = enabled;
    for (size_t i = 0; i < CheckBox.size(); ++i)
        CheckBox[i]->setChecked(checked[i] && enabled[i]);
}

std::array<bool, kUirCount> TUirListForm::Checked() const
{
    std::array<bool, kUirCount> out{};
    for (size_t i = 0; i < CheckBox.size(); ++i)
        out[i] = CheckBox[i]->isChecked() && CheckBox[i]->isEnabled();
    return out;
}

bool TUirListForm::AskYesNo(const std::string& text, const std::string& caption)
{
    return QMessageBox::warning(this, QString::fromUtf8(caption.c_str()), QString::fromUtf8(text.c_str()),
                                QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

void TUirListForm::bbOkClick()
{
    if (!AskYesNo(setup_uir_text::kCopyQuestion, setup_uir_text::kAttentionNoMark))
        return;
    Accepted = true;
    close();
}

void TUirListForm::bbCancelClick()
{
    Accepted = false;
    close();
}

void TUirListForm::showEvent(QShowEvent* e)
{
    // A UIR that is not present cannot be a target.
    for (size_t i = 0; i < CheckBox.size(); ++i) {
        if (!enabled_[i])
            CheckBox[i]->setChecked(false);
        CheckBox[i]->setEnabled(enabled_[i]);
    }
    Accepted = false;
    QWidget::showEvent(e);
}

}  // namespace kestrel
