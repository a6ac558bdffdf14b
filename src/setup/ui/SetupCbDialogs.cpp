#include "setup/ui/SetupCbDialogs.h"

#include <QComboBox>
#include <QEventLoop>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "monitor/ui/Placement.h"
#include "monitor/ui/QtText.h"

namespace kestrel {

const std::array<const char*, 12> kMonthNames = {"Январь", "Февраль", "Март",     "Апрель",  "Май",    "Июнь",
                                                 "Июль",   "Август",  "Сентябрь", "Октябрь", "Ноябрь", "Декабрь"};

namespace {

// The dialog's buttons in one row, at its right unless `right` is false.
QHBoxLayout* ButtonRow(std::initializer_list<QPushButton*> buttons, bool right = true)
{
    auto* row = new QHBoxLayout;
    if (right)
        row->addStretch(1);
    for (QPushButton* b : buttons)
        row->addWidget(b);
    return row;
}

QComboBox* Numbers(QWidget* parent, int from, int to)
{
    auto* c = new QComboBox(parent);
    for (int i = from; i <= to; ++i)
        c->addItem(QString::number(i));
    return c;
}

const char* const kModeItems[4] = {"МТЗ: H, МТЗ: v", "МТЗ: 1", "МТЗ: 2", "МТЗ: 3"};

}  // namespace

TSetupCbDialog::TSetupCbDialog(QWidget* parent) : QWidget(parent, Qt::Dialog) {}

void TSetupCbDialog::hideEvent(QHideEvent* e)
{
    QWidget::hideEvent(e);
    emit Hidden();
}

void CentreOver(QWidget* w, QWidget* over) { CentreWindowOver(w, over); }

void ShowAndWaitHidden(TSetupCbDialog* w, QWidget* over)
{
    CentreOver(w, over);
    QEventLoop loop;
    QObject::connect(w, &TSetupCbDialog::Hidden, &loop, &QEventLoop::quit);
    w->show();
    w->raise();
    w->activateWindow();
    if (w->isVisible())
        loop.exec();
}

// ------------------------------------------------------------------ functions

TCbSetFuncForm::TCbSetFuncForm(QWidget* parent) : TSetupCbDialog(parent)
{
    setObjectName("CbSetFuncForm");
    setWindowTitle(Q("Функция центрального блока"));
    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(Q("Номер МТЗ"), this), 0, 1);
    grid->addWidget(new QLabel(Q("Состояния вых. сигналов"), this), 0, 2, 1, 6, Qt::AlignHCenter);
    for (int k = 0; k < 4; ++k) {
        grid->addWidget(new QLabel(QStringLiteral("F: %1").arg(k), this), k + 1, 0);
        auto* mode = new QComboBox(this);
        mode->setObjectName(QStringLiteral("Mode%1").arg(k));
        for (const char* m : kModeItems)
            mode->addItem(Q(m));
        Mode[static_cast<size_t>(k)] = mode;
        grid->addWidget(mode, k + 1, 1);
        connect(mode, &QComboBox::activated, this, [this, k] { ShowRow(k); });
        for (int p = 1; p <= 6; ++p) {
            auto* c = new QComboBox(this);
            c->setObjectName(QStringLiteral("Port%1_%2").arg(k).arg(p));
            c->addItems({"0", "1"});
            Port[static_cast<size_t>(k)][static_cast<size_t>(p - 1)] = c;
            grid->addWidget(c, k + 1, p + 1);
            connect(c, &QComboBox::activated, this, [this, k, p](int i) { PortChanged(k, p, i == 1); });
        }
    }
    for (int p = 1; p <= 6; ++p)
        grid->addWidget(new QLabel(QString::number(p), this), 5, p + 1, Qt::AlignHCenter);
    grid->addWidget(new QLabel(Q("Номера выходных портов"), this), 6, 2, 1, 6, Qt::AlignHCenter);

    bbOk = Button(this, "Потдвердить", "bbOk");
    bbCancel = Button(this, "Отменить", "bbCancel");
    auto* buttons = ButtonRow({bbOk, bbCancel});
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);

    connect(bbOk, &QPushButton::clicked, this, [this] {
        if (cb_)
            StoreFuncTable(*cb_, Work);
        Confirmed = true;
        hide();
    });
    connect(bbCancel, &QPushButton::clicked, this, [this] {
        Confirmed = false;
        hide();
    });
}

void TCbSetFuncForm::Load(TCbData& cb)
{
    cb_ = &cb;
    Work = CopyFuncTable(cb);
    for (int k = 0; k < 4; ++k)
        ShowRow(k);
}

void TCbSetFuncForm::ShowRow(int k)
{
    const auto kk = static_cast<size_t>(k);
    const int m = std::max(0, Mode[kk]->currentIndex());
    for (int p = 1; p <= 6; ++p)
        Port[kk][static_cast<size_t>(p - 1)]->setCurrentIndex(PortBit(Work[kk][static_cast<size_t>(m)], p) ? 1 : 0);
}

void TCbSetFuncForm::PortChanged(int k, int port, bool on)
{
    const auto kk = static_cast<size_t>(k);
    const auto m = static_cast<size_t>(std::max(0, Mode[kk]->currentIndex()));
    Work[kk][m] = WithPortBit(Work[kk][m], port, on);
}

// ----------------------------------------------------------------------- UROV

TCbSetUrovForm::TCbSetUrovForm(QWidget* parent) : TSetupCbDialog(parent)
{
    setObjectName("CbSetUrovForm");
    setWindowTitle(Q("УРОВ Время (мс)"));
    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName("ComboBox1");
    for (int i = 0; i < 10; ++i)
        ComboBox1->addItem(QString::number(UrovMsForItem(i)));
    ComboBox1->setCurrentIndex(9);
    bbOk = Button(this, "Подтвердить", "bbOk");
    bbCancel = Button(this, "Отменить", "bbCancel");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(Q("Время (мс)"), this));
    layout->addWidget(ComboBox1);
    auto* buttons = ButtonRow({bbOk, bbCancel}, false);
    layout->addLayout(buttons);
    setMinimumWidth(260);

    connect(bbOk, &QPushButton::clicked, this, [this] {
        if (cb_ && ComboBox1->currentIndex() >= 0)
            cb_->UrovTimeMs = UrovMsForItem(ComboBox1->currentIndex());
        Confirmed = true;
        hide();
    });
    connect(bbCancel, &QPushButton::clicked, this, [this] { hide(); });
}

void TCbSetUrovForm::Load(TCbData& cb)
{
    cb_ = &cb;
    const int item = UrovItem(cb.UrovTimeMs);
    if (item >= 0)
        ComboBox1->setCurrentIndex(item);
}

// -------------------------------------------------------------- date and time

TSetDateTimeForm::TSetDateTimeForm(QWidget* parent) : TSetupCbDialog(parent)
{
    setObjectName("SetDateTimeForm");
    setWindowTitle(Q("Установка даты и времени на ЦБ"));
    Year = Numbers(this, kFirstYear, kFirstYear + kYearItems - 1);
    Month = new QComboBox(this);
    for (const char* m : kMonthNames)
        Month->addItem(Q(m));
    Day = Numbers(this, 1, 31);
    Hour = Numbers(this, 0, 23);
    Minute = Numbers(this, 0, 59);
    Second = Numbers(this, 0, 59);
    Year->setObjectName("Year");
    Month->setObjectName("Month");
    Day->setObjectName("Day");
    Hour->setObjectName("Hour");
    Minute->setObjectName("Minute");
    Second->setObjectName("Second");
    auto* grid = new QGridLayout;
    const char* labels[6] = {"Год", "Месяц", "День", "Час", "Минута", "Секунда"};
    QComboBox* boxes[6] = {Year, Month, Day, Hour, Minute, Second};
    for (int i = 0; i < 6; ++i) {
        grid->addWidget(new QLabel(Q(labels[i]), this), 0, i);
        grid->addWidget(boxes[i], 1, i);
    }
    bbOk = Button(this, "Подтвердить", "bbOk");
    bbCancel = Button(this, "Отменить", "bbCancel");
    auto* buttons = ButtonRow({bbOk, bbCancel});
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);

    connect(Month, &QComboBox::currentIndexChanged, this, [this] { RebuildDays(); });
    connect(Year, &QComboBox::currentIndexChanged, this, [this] {
        if (Month->currentIndex() == 1)
            RebuildDays();
    });
    connect(bbOk, &QPushButton::clicked, this, [this] {
        // A PC clock outside the list leaves no year; nothing undefined is sent.
        if (Year->currentIndex() < 0) {
            QMessageBox box(QMessageBox::Warning, Q("Внимание!"), Q("Выберите год!"), QMessageBox::Ok, this);
            box.exec();
            return;
        }
        Confirmed = true;
        hide();
    });
    connect(bbCancel, &QPushButton::clicked, this, [this] {
        Confirmed = false;
        hide();
    });
}

void TSetDateTimeForm::showEvent(QShowEvent* e)
{
    Confirmed = false;
    RebuildDays();
    TSetupCbDialog::showEvent(e);
}

void TSetDateTimeForm::RebuildDays()
{
    const int remembered = Day->currentIndex();
    const int n = DaysInMonth(std::max(0, Month->currentIndex()), Year->currentIndex());
    const QSignalBlocker block(Day);
    Day->clear();
    for (int d = 1; d <= n; ++d)
        Day->addItem(QString::number(d));
    Day->setCurrentIndex(KeptDayItem(remembered, n));
}

void TSetDateTimeForm::Preset(const TClockChoice& c)
{
    Year->setCurrentIndex(c.YearItem);
    Month->setCurrentIndex(c.MonthItem);
    RebuildDays();
    Day->setCurrentIndex(std::min(c.DayItem, Day->count() - 1));
    Hour->setCurrentIndex(c.Hour);
    Minute->setCurrentIndex(c.Minute);
    Second->setCurrentIndex(c.Second);
}

TClockChoice TSetDateTimeForm::Choice() const
{
    TClockChoice c;
    c.YearItem = Year->currentIndex();
    c.MonthItem = Month->currentIndex();
    c.DayItem = Day->currentIndex();
    c.Hour = Hour->currentIndex();
    c.Minute = Minute->currentIndex();
    c.Second = Second->currentIndex();
    return c;
}

// -------------------------------------------------------------- clock display

TGetDateTimeForm::TGetDateTimeForm(QWidget* parent) : TSetupCbDialog(parent)
{
    setObjectName("GetDateTimeForm");
    setWindowTitle(Q("Время и дата ЦБ"));
    auto* grid = new QGridLayout;
    const char* labels[6] = {"Год", "Месяц", "День", "Час", "Минута", "Секунда"};
    for (int i = 0; i < 6; ++i) {
        grid->addWidget(new QLabel(Q(labels[i]), this), 0, i);
        auto* v = new QLabel(this);
        v->setObjectName(QStringLiteral("Value%1").arg(i));
        v->setFrameShape(QFrame::StyledPanel);
        v->setMinimumWidth(60);
        Value[static_cast<size_t>(i)] = v;
        grid->addWidget(v, 1, i);
    }
    bbClose = Button(this, "Закрыть", "bbClose");
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    auto* buttons = ButtonRow({bbClose});
    layout->addLayout(buttons);
    connect(bbClose, &QPushButton::clicked, this, [this] { hide(); });
}

void TGetDateTimeForm::Fill(const TCbData& cb)
{
    Value[0]->setText(QString::number(2000 + cb.ClockYear.load()));
    Value[1]->setText(QString::number(cb.ClockMonth.load()));
    Value[2]->setText(QString::number(cb.ClockDay.load()));
    Value[3]->setText(QString::number(cb.ClockHour.load()));
    Value[4]->setText(QString::number(cb.ClockMinute.load()));
    Value[5]->setText(QString::number(cb.ClockSecond.load()));
}

// ---------------------------------------------------------- address and speed

TSetAddrAndBaudForm::TSetAddrAndBaudForm(QWidget* parent, TSetupCbActions& actions, std::function<int()> cb)
    : TSetupCbDialog(parent)
{
    setObjectName("SetAddrAndBaudForm");
    setWindowTitle(Q("Установка адреса и скорости обмена ЦБ"));
    ComboBox1 = Numbers(this, 1, 32);
    ComboBox1->setObjectName("ComboBox1");
    ComboBox2 = new QComboBox(this);
    ComboBox2->setObjectName("ComboBox2");
    ComboBox2->addItems({"9600", "19200"});
    bbSetAddr = Button(this, "-->>", "bbSetAddr");
    bbSetBaud = Button(this, "-->>", "bbSetBaud");
    bbClose = Button(this, "Закрыть", "bbClose");
    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(Q("Сетевой адрес центрального блока"), this), 0, 0);
    grid->addWidget(ComboBox1, 0, 1);
    grid->addWidget(bbSetAddr, 0, 2);
    grid->addWidget(new QLabel(Q("Скорость обмена центрального блока"), this), 1, 0);
    grid->addWidget(ComboBox2, 1, 1);
    grid->addWidget(bbSetBaud, 1, 2);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    auto* buttons = ButtonRow({bbClose});
    layout->addLayout(buttons);

    connect(bbSetAddr, &QPushButton::clicked, this,
            [this, &actions, cb] { actions.SetDeviceAddress(cb(), ComboBox1->currentIndex()); });
    connect(bbSetBaud, &QPushButton::clicked, this,
            [this, &actions, cb] { actions.SetDeviceSpeed(cb(), ComboBox2->currentIndex()); });
    connect(bbClose, &QPushButton::clicked, this, [this] { hide(); });
}

}  // namespace kestrel
