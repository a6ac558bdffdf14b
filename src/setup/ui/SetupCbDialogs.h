#pragma once
// The five small windows of the central-block setup window: the
// function-table editor, the UROV chooser, the date and time entry, the
// clock display and the address and speed window. None is modal: the setup
// window either waits for one to be hidden (keeping the user interface
// running) or takes its confirmed result with its timer.
#include <QWidget>
#include <array>
#include <functional>

#include "setup/SetupCbActions.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace kestrel {

// Emits Hidden whenever it is hidden, so a waiter can end its loop.
class TSetupCbDialog : public QWidget {
    Q_OBJECT
public:
    explicit TSetupCbDialog(QWidget* parent);
signals:
    void Hidden();

protected:
    void hideEvent(QHideEvent* e) override;
};

// Show `w` centred over `over` and run the user interface until it is hidden.
void ShowAndWaitHidden(TSetupCbDialog* w, QWidget* over);
void CentreOver(QWidget* w, QWidget* over);

// "Функция центрального блока".
class TCbSetFuncForm : public TSetupCbDialog {
    Q_OBJECT
public:
    explicit TCbSetFuncForm(QWidget* parent);
    // Copy the block's tables into the working copy and show every row.
    void Load(TCbData& cb);
    void ShowRow(int k);
    // A port list of row k now shows `on`.
    void PortChanged(int k, int port, bool on);

    TFuncBytes Work{};
    bool Confirmed = false;
    std::array<QComboBox*, 4> Mode{};
    std::array<std::array<QComboBox*, 6>, 4> Port{};
    QPushButton* bbOk = nullptr;
    QPushButton* bbCancel = nullptr;

private:
    TCbData* cb_ = nullptr;
};

// "УРОВ Время (мс)".
class TCbSetUrovForm : public TSetupCbDialog {
    Q_OBJECT
public:
    explicit TCbSetUrovForm(QWidget* parent);
    void Load(TCbData& cb);

    bool Confirmed = false;
    QComboBox* ComboBox1 = nullptr;
    QPushButton* bbOk = nullptr;
    QPushButton* bbCancel = nullptr;

private:
    TCbData* cb_ = nullptr;
};

// "Установка даты и времени на ЦБ".
class TSetDateTimeForm : public TSetupCbDialog {
    Q_OBJECT
public:
    explicit TSetDateTimeForm(QWidget* parent);
    void Preset(const TClockChoice& c);
    TClockChoice Choice() const;
    void RebuildDays();

    bool Confirmed = false;
    QComboBox* Year = nullptr;
    QComboBox* Month = nullptr;
    QComboBox* Day = nullptr;
    QComboBox* Hour = nullptr;
    QComboBox* Minute = nullptr;
    QComboBox* Second = nullptr;
    QPushButton* bbOk = nullptr;
    QPushButton* bbCancel = nullptr;

protected:
    void showEvent(QShowEvent* e) override;
};

// "Время и дата ЦБ".
class TGetDateTimeForm : public TSetupCbDialog {
    Q_OBJECT
public:
    explicit TGetDateTimeForm(QWidget* parent);
    void Fill(const TCbData& cb);

    std::array<QLabel*, 6> Value{};  // year, month, day, hour, minute, second
    QPushButton* bbClose = nullptr;
};

// "Установка адреса и скорости обмена ЦБ".
class TSetAddrAndBaudForm : public TSetupCbDialog {
    Q_OBJECT
public:
    // cb: the block the setup window shows, asked at each click.
    TSetAddrAndBaudForm(QWidget* parent, TSetupCbActions& actions, std::function<int()> cb);

    QComboBox* ComboBox1 = nullptr;  // address 1..32
    QComboBox* ComboBox2 = nullptr;  // 9600, 19200
    QPushButton* bbSetAddr = nullptr;
    QPushButton* bbSetBaud = nullptr;
    QPushButton* bbClose = nullptr;
};

// Month names, January first.
extern const std::array<const char*, 12> kMonthNames;

}  // namespace kestrel
