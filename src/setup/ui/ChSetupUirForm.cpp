#include "setup/ui/ChSetupUirForm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace kestrel {

TChSetupUirForm::TChSetupUirForm(QWidget* owner) : QWidget(owner, Qt::Dialog)
{
    setObjectName("ChSetupUirForm");
    setWindowTitle(QString::fromUtf8(setup_uir_text::kChCaption));
    auto* inputs = new QHBoxLayout;
    for (int i = 0; i < 3; ++i) {
        auto* g = new QGroupBox(QString::fromUtf8("Вход %1").arg(i + 1), this);
        auto* gl = new QVBoxLayout(g);
        InputControl[static_cast<size_t>(i)] = new QCheckBox(QString::fromUtf8("Контроль входа"), g);
        InputControl[static_cast<size_t>(i)]->setObjectName(QString("cbControl%1").arg(i + 1));
        auto* fl = new QLabel(QString::fromUtf8("Номер функции"), g);
        QComboBox* f = new QComboBox(g);
        f->setObjectName(QString("cbFunction%1").arg(i + 1));
        f->addItems({"F0", "F1", "F2", "F3"});
        InputFunction[static_cast<size_t>(i)] = f;
        gl->addWidget(InputControl[static_cast<size_t>(i)]);
        gl->addWidget(fl);
        gl->addWidget(f);
        inputs->addWidget(g);
        connect(InputControl[static_cast<size_t>(i)], &QCheckBox::clicked, this, &TChSetupUirForm::ControlClick);
    }
    cbOutput = new QCheckBox(QString::fromUtf8("Разрешить выход"), this);
    cbOutput->setObjectName("cbOutput");
    cbStopPoll = new QCheckBox(QString::fromUtf8("Запретить опрос УИР"), this);
    cbStopPoll->setObjectName("cbStopPoll");
    cbStopPoll->setChecked(true);
    cbStopPoll->setVisible(false);
    bbCancel = new QPushButton(QString::fromUtf8("Отменить"), this);
    bbCancel->setObjectName("bbCancel");
    bbOk = new QPushButton(QString::fromUtf8("Подтвердить"), this);
    bbOk->setObjectName("bbOk");
    for (QPushButton* b : {bbCancel, bbOk})
        b->setAutoDefault(false);
    connect(bbOk, &QPushButton::clicked, this, [this] {
        Accepted = true;
        close();
    });
    connect(bbCancel, &QPushButton::clicked, this, &QWidget::close);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(bbCancel);
    buttons->addWidget(bbOk);
    auto* root = new QVBoxLayout(this);
    root->addLayout(inputs);
    root->addWidget(cbOutput);
    root->addWidget(cbStopPoll);
    root->addLayout(buttons);
}

void TChSetupUirForm::Preset(const TUirEdit& e)
{
    for (size_t i = 0; i < 3; ++i) {
        InputControl[i]->setChecked(e.Control[i]);
        InputFunction[i]->setCurrentIndex(e.Function[i]);
    }
    cbOutput->setChecked(e.Output);
    cbStopPoll->setChecked(e.StopPoll);
    cbStopPoll->setVisible(e.StopPollVisible);
    ControlClick();
}

TUirEdit TChSetupUirForm::Result() const
{
    TUirEdit e;
    for (size_t i = 0; i < 3; ++i) {
        e.Control[i] = InputControl[i]->isChecked();
        e.Function[i] = std::max(0, InputFunction[i]->currentIndex());
    }
    e.Output = cbOutput->isChecked();
    e.StopPoll = cbStopPoll->isChecked();
    e.StopPollVisible = cbStopPoll->isVisibleTo(const_cast<TChSetupUirForm*>(this));
    return e;
}

void TChSetupUirForm::ControlClick()
{
    for (size_t i = 0; i < 3; ++i) {
        const bool on = InputControl[i]->isChecked();
        if (!on)
            InputFunction[i]->setCurrentIndex(0);
        InputFunction[i]->setEnabled(on);
    }
}

void TChSetupUirForm::showEvent(QShowEvent* e)
{
    ControlClick();
    QWidget::showEvent(e);
}

void TChSetupUirForm::hideEvent(QHideEvent* e)
{
    QWidget::hideEvent(e);
    emit Closed();
}

}  // namespace kestrel
