#pragma once
// The channel dialog of the UIR setup window ("Изменение настроек модуля
// УИР"): three inputs with "Контроль входа" and "Номер функции", "Разрешить
// выход" and "Запретить опрос УИР". Not modal; the window's timer takes up
// the accepted result.
#include <QWidget>
#include <array>

#include "setup/SetupUirActions.h"

class QCheckBox;
class QComboBox;
class QPushButton;

namespace kestrel {

class TChSetupUirForm : public QWidget {
    Q_OBJECT
public:
    explicit TChSetupUirForm(QWidget* owner);

    // Boxes and selectors from the window's texts.
    void Preset(const TUirEdit& e);
    TUirEdit Result() const;

    // Set by "Подтвердить"; the window's timer clears it.
    bool Accepted = false;

    std::array<QCheckBox*, 3> InputControl{};
    std::array<QComboBox*, 3> InputFunction{};
    QCheckBox* cbOutput = nullptr;
    QCheckBox* cbStopPoll = nullptr;
    QPushButton* bbCancel = nullptr;
    QPushButton* bbOk = nullptr;

signals:
    void Closed();

public slots:
    // A checked box enables its selector; an unchecked one sets it to "F0"
    // and disables it.
    void ControlClick();

protected:
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;
};

}  // namespace kestrel
