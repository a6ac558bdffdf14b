#include "setup/ui/Rs485SetupForm.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>

#include "link/Link.h"
#include "link/SerialDeviceOs.h"
#include "monitor/GetDataThread.h"
#include "monitor/ui/MainForm.h"
#include "monitor/ui/QtUiHooks.h"
#include "setup/ui/ChSetupUirForm.h"
#include "setup/ui/SetupCbDialogs.h"
#include "setup/ui/SetupUirForm.h"
#include "state/Clock.h"
#include "state/Cp1251.h"
#include "state/SettingsStore.h"

namespace kestrel {

namespace {

// Lines put into the log per turn of the event loop: a few milliseconds.
constexpr qsizetype kLogSliceLines = 200;

QComboBox* ListOf(const std::vector<std::string>& items, int selected, QWidget* parent)
{
    auto* c = new QComboBox(parent);
    for (const std::string& s : items)
        c->addItem(QString::fromStdString(s));
    c->setCurrentIndex(selected);
    return c;
}

}  // namespace

TRs485SetupForm::TRs485SetupForm(TGlobalState& state, TCbProtocol& proto,
                                 std::function<TGetDataThread*()> thread, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      state_(state),
      proto_(proto),
      thread_(std::move(thread))
{
    setWindowTitle(QStringLiteral("Отладка протокола по RS485"));
    ShowWarning = [this](const QString& text, const QString& caption) {
        QMessageBox::warning(this, caption, text);
    };

    auto* left = new QVBoxLayout;
    left->addWidget(new QLabel(QStringLiteral("Список центральных блоков"), this));
    ComboBox2 = new QComboBox(this);
    left->addWidget(ComboBox2);
    left->addWidget(new QLabel(QStringLiteral("Номер сегнмента конфигурации УИР"), this));
    std::vector<std::string> segments;
    for (int i = 0; i < kRs485SegmentCount; ++i)
        segments.push_back(std::to_string(i));
    ComboBox3 = ListOf(segments, 0, this);
    left->addWidget(ComboBox3);
    left->addWidget(new QLabel(QStringLiteral("Список комманд"), this));
    ComboBox1 = ListOf(Rs485CommandTexts(), 0, this);
    left->addWidget(ComboBox1);
    left->addWidget(new QLabel(QStringLiteral("Настройки ЦБ"), this));
    ComboBox4 = ListOf(Rs485ModeTexts(), 0, this);
    left->addWidget(ComboBox4);
    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("Время УРОВ"), this), 0, 0);
    ComboBox5 = ListOf(Rs485UrovTexts(), static_cast<int>(Rs485UrovTexts().size()) - 1, this);
    grid->addWidget(ComboBox5, 1, 0);
    grid->addWidget(new QLabel(QStringLiteral("МТЗ"), this), 0, 1);
    ComboBox6 = ListOf(Rs485MtzTexts(), 0, this);
    grid->addWidget(ComboBox6, 1, 1);
    left->addLayout(grid);
    CheckBox1 = new QCheckBox(QStringLiteral("Флаг FCB"), this);
    left->addWidget(CheckBox1);
    left->addStretch(1);
    bbSendCommand = new QPushButton(QStringLiteral("Выполнить"), this);
    bbOk = new QPushButton(QStringLiteral("Закрыть"), this);
    left->addWidget(bbSendCommand);
    left->addWidget(bbOk);

    auto* right = new QVBoxLayout;
    right->addWidget(new QLabel(QStringLiteral("Обмен данными"), this));
    Memo1 = new QPlainTextEdit(this);
    Memo1->setReadOnly(true);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    right->addWidget(Memo1, 1);
    lbCounters = new QLabel(this);
    lbCounters->setWordWrap(true);
    right->addWidget(lbCounters);
    lbConsoleState = new QLabel(this);
    lbConsoleState->setObjectName(QStringLiteral("lbConsoleState"));
    lbConsoleState->setWordWrap(true);
    QFont stateFont = lbConsoleState->font();
    stateFont.setBold(true);
    lbConsoleState->setFont(stateFont);
    right->addWidget(lbConsoleState);
    bbClear = new QPushButton(QStringLiteral("Очистить"), this);
    cbTimestamps = new QCheckBox(QStringLiteral("Время"), this);
    cbCapture = new QCheckBox(QStringLiteral("Записывать в файл pcap"), this);
    auto* under = new QHBoxLayout;
    under->addWidget(cbTimestamps);
    under->addWidget(cbCapture);
    under->addStretch(1);
    bbSaveLog = new QPushButton(QStringLiteral("Сохранить журнал обмена"), this);
    under->addWidget(bbSaveLog);
    under->addWidget(bbClear);
    right->addLayout(under);

    auto* top = new QHBoxLayout(this);
    top->addLayout(left);
    top->addLayout(right, 1);
    resize(860, 480);

    connect(bbSendCommand, &QPushButton::clicked, this, [this] { SendCommand(); });
    connect(bbOk, &QPushButton::clicked, this, [this] { close(); });
    // A log that shows its newest line keeps following the new ones (also
    // when a long line brings the horizontal bar and the range grows by
    // itself); one the operator scrolled back stays where it is.
    QScrollBar* bar = Memo1->verticalScrollBar();
    connect(bar, &QScrollBar::valueChanged, this, [this, bar](int v) { followLog_ = v == bar->maximum(); });
    connect(bar, &QScrollBar::rangeChanged, this, [this, bar](int, int max) {
        if (followLog_)
            bar->setValue(max);
    });
    // Log lines reach Memo1 a slice per turn of the event loop.
    logFlush_ = new QTimer(this);
    logFlush_->setSingleShot(true);
    logFlush_->setInterval(0);
    connect(logFlush_, &QTimer::timeout, this, [this] { FlushLogSlice(kLogSliceLines); });
    connect(bbClear, &QPushButton::clicked, this, [this] {
        logFlush_->stop();
        pendingLog_.clear();
        Memo1->clear();
    });
    CapturePathChooser = [this] {
        return QFileDialog::getSaveFileName(this, QStringLiteral("Записывать в файл pcap"), QStringLiteral("Обмен.pcap"),
                                            QStringLiteral("Файлы pcap (*.pcap)"));
    };
    connect(cbCapture, &QCheckBox::toggled, this, [this](bool on) { SetCaptureOn(on); });
    connect(ComboBox2, &QComboBox::currentIndexChanged, this, [this] { RefreshCounters(); });
    // The thread gives up the port only when its visit under way ends (a
    // journal read of 255 records takes about a minute at 9600 bit/s).
    pauseWatch_ = new QTimer(this);
    pauseWatch_->setInterval(20);
    connect(pauseWatch_, &QTimer::timeout, this, [this] { WatchThreadPause(); });
    connect(bbSaveLog, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Сохранить журнал обмена"),
                                                          QStringLiteral("Обмен.txt"),
                                                          QStringLiteral("Текстовые файлы (*.txt)"));
        if (!path.isEmpty())
            SaveLog(path);
    });
}

TRs485SetupForm::~TRs485SetupForm()
{
    // The program is ending: a command still running stops between two
    // exchanges, and is joined while the records and hooks it writes exist.
    if (worker_ && worker_->joinable()) {
        proto_.Link().SetStopped(true);
        worker_->join();
        proto_.Link().SetStopped(false);
    }
    StopCapture();
    if (paused_) {
        if (TGetDataThread* t = thread_ ? thread_() : nullptr)
            t->Paused = 0;
        state_.ConsoleOpen = 0;
    }
}

void TRs485SetupForm::SetDialogs(TSetDateTimeForm* setDateTime, TGetDateTimeForm* clock, TSetupUirForm* uir)
{
    setDateTime_ = setDateTime;
    clockForm_ = clock;
    uirForm_ = uir;
}

void TRs485SetupForm::Fill()
{
    ComboBox2->clear();
    for (int32_t i = 0; i < state_.CbCount.load(); ++i)
        if (const TCbData* cb = state_.Cb(i))
            ComboBox2->addItem(QString::fromStdString(U8(cb->Name)));  // names are kept in Windows-1251
    ComboBox2->setCurrentIndex(ComboBox2->count() > 0 ? 0 : -1);
}

void TRs485SetupForm::AppendLog(const QString& line, int64_t msOfDay)
{
    if (!cbTimestamps->isChecked()) {
        pendingLog_.append(line);
    } else {
        // The stamp is the time the exchange wrote the line (taken on its
        // thread), so the gap is that of the bytes, not of the queue.
        const int64_t ms = msOfDay >= 0 ? msOfDay : QTime::currentTime().msecsSinceStartOfDay();
        const int64_t since = lastLineMs_ < 0 ? -1 : ((ms - lastLineMs_) + 86400000) % 86400000;
        lastLineMs_ = ms;
        pendingLog_.append(QString::fromStdString(Rs485StampedLine(line.toStdString(), ms, since)));
    }
    if (!logFlush_->isActive())
        logFlush_->start();
}

void TRs485SetupForm::FlushLog()
{
    logFlush_->stop();
    FlushLogSlice(pendingLog_.size());
}

void TRs485SetupForm::FlushLogSlice(qsizetype maxLines)
{
    if (pendingLog_.isEmpty())
        return;
    const qsizetype n = std::min(maxLines, pendingLog_.size());
    // One insertion per slice: a line at a time costs a layout each.
    Memo1->appendPlainText(QStringList(pendingLog_.mid(0, n)).join(QLatin1Char('\n')));
    pendingLog_.remove(0, n);
    RefreshCounters();
    if (!pendingLog_.isEmpty())
        logFlush_->start();
}

void TRs485SetupForm::RefreshCounters()
{
    const TCbData* cb = state_.Cb(ComboBox2->currentIndex());
    lbCounters->setText(cb ? QString::fromStdString(LinkCountersText(*cb)) : QString());
}

void TRs485SetupForm::SetCaptureOn(bool on)
{
    if (!on) {
        StopCapture();
        return;
    }
    if (capture_.IsOpen())
        return;
    const QString path = CapturePathChooser ? CapturePathChooser() : QString();
    std::string error;
    if (path.isEmpty() || !capture_.Open(std::filesystem::path(path.toStdU16String()), error)) {
        const QSignalBlocker block(cbCapture);
        cbCapture->setChecked(false);
        if (!error.empty())
            ShowWarning(QString::fromStdString(error), QString::fromUtf8(kRs485WarningCaption));
        return;
    }
    proto_.Link().SetCapture(&capture_);
}

void TRs485SetupForm::StopCapture()
{
    // The link lets go first: no exchange writes into a closing file.
    proto_.Link().SetCapture(nullptr);
    capture_.Close();
}

void TRs485SetupForm::ShowClock(int year, const QString& month, int day, int hour, int minute, int second)
{
    if (!clockForm_)
        return;
    clockForm_->Value[0]->setText(QString::number(year));
    if (!month.isEmpty())
        clockForm_->Value[1]->setText(month);
    clockForm_->Value[2]->setText(QString::number(day));
    clockForm_->Value[3]->setText(QString::number(hour));
    clockForm_->Value[4]->setText(QString::number(minute));
    clockForm_->Value[5]->setText(QString::number(second));
    CentreOver(clockForm_, this);
    clockForm_->show();
    clockForm_->raise();
}

bool TRs485SetupForm::SaveLog(const QString& path)
{
    FlushLog();
    const std::string error = Rs485SaveLog(std::filesystem::path(path.toStdU16String()),
                                           Memo1->toPlainText().toStdString());
    if (error.empty())
        return true;
    ShowWarning(QString::fromStdString(error), QString::fromUtf8(kRs485WarningCaption));
    return false;
}

void TRs485SetupForm::showEvent(QShowEvent* e)
{
    QWidget::showEvent(e);
    RefreshCounters();
    if (paused_)
        return;
    paused_ = true;
    state_.ConsoleOpen = 1;
    TGetDataThread* t = thread_ ? thread_() : nullptr;
    if (t == nullptr)
        return;
    t->Paused = 1;
    // The thread finishes its visit and closes the port before the first
    // command may open it, however long that visit takes; the window is up
    // and says what it waits for meanwhile.
    if (!t->PauseTaken() && t->Running.load() != 0) {
        waitingForThread_ = true;
        lbConsoleState->setText(QStringLiteral("Ждите: завершается текущий обмен с ЦБ…"));
        UpdateControls();
        pauseWatch_->start();
    }
}

void TRs485SetupForm::WatchThreadPause()
{
    TGetDataThread* t = thread_ ? thread_() : nullptr;
    if (t != nullptr && !t->PauseTaken() && t->Running.load() != 0)
        return;
    pauseWatch_->stop();
    waitingForThread_ = false;
    lbConsoleState->clear();
    UpdateControls();
}

void TRs485SetupForm::closeEvent(QCloseEvent* e)
{
    // The thread takes the port back: a window still waiting for its entry
    // goes without sending.
    CancelAwaited();
    if (worker_) {
        // The command finishes first; the window closes after it. A second
        // close does not wait for the rest of a long command: it stops
        // between two exchanges.
        if (closePending_) {
            proto_.Link().SetStopped(true);
            lbConsoleState->setText(QStringLiteral("Команда прерывается…"));
        } else {
            closePending_ = true;
            lbConsoleState->setText(QStringLiteral("Закрытие после завершения команды…"));
        }
        e->ignore();
        return;
    }
    QWidget::closeEvent(e);
    pauseWatch_->stop();
    waitingForThread_ = false;
    lbConsoleState->clear();
    if (cbCapture->isChecked())
        cbCapture->setChecked(false);  // closes the file
    if (paused_) {
        if (TGetDataThread* t = thread_ ? thread_() : nullptr)
            t->Paused = 0;
        state_.ConsoleOpen = 0;
        paused_ = false;
    }
}

void TRs485SetupForm::SetBusy(bool busy)
{
    busy_ = busy;
    UpdateControls();
}

void TRs485SetupForm::UpdateControls()
{
    bbSendCommand->setEnabled(!busy_ && !waitingForThread_);
    for (QComboBox* c : {ComboBox1, ComboBox2, ComboBox3, ComboBox4, ComboBox5, ComboBox6})
        c->setEnabled(!busy_);
    CheckBox1->setEnabled(!busy_);
    cbCapture->setEnabled(!busy_);
}

void TRs485SetupForm::SendCommand()
{
    if (worker_ || awaiting_ != Awaiting::None || waitingForThread_)
        return;
    TRs485Selection s;
    s.Command = ComboBox1->currentIndex();
    s.Cb = ComboBox2->currentIndex();
    s.Segment = ComboBox3->currentIndex();
    s.Mode = ComboBox4->currentIndex();
    s.Urov = ComboBox5->currentIndex();
    s.Mtz = ComboBox6->currentIndex();
    s.Fcb = CheckBox1->isChecked();
    const std::string error = Rs485SelectionError(s, state_.CbCount.load());
    if (!error.empty()) {
        ShowWarning(QString::fromStdString(error), QString::fromUtf8(kRs485WarningCaption));
        return;
    }
    if (s.Command == kRs485ItemWriteClock) {
        AwaitDateTime(s);
        return;
    }
    if (s.Command == kRs485ItemWriteUir) {
        AwaitUir(s);
        return;
    }
    StartWorker(s.Cb, Rs485StageCommand(state_, s));
}

void TRs485SetupForm::StartWorker(int32_t cb, const TRs485Command& command)
{
    SetBusy(true);
    worker_ = std::make_unique<std::thread>([this, cb, command] {
        const int result = Rs485Run(proto_, state_, cb, command);
        QMetaObject::invokeMethod(this, [this, result] { OnWorkerDone(result); }, Qt::QueuedConnection);
    });
}

void TRs485SetupForm::AwaitDateTime(const TRs485Selection& s)
{
    // Shown by the block setup window's own "Изменить" already: that one
    // waits for it, and a second waiter would send its entry twice.
    if (!setDateTime_ || setDateTime_->isVisible()) {
        if (setDateTime_)
            setDateTime_->raise();
        return;
    }
    awaited_ = s;
    awaiting_ = Awaiting::DateTime;
    SetBusy(true);
    awaitedHidden_ = connect(setDateTime_, &TSetupCbDialog::Hidden, this, &TRs485SetupForm::OnAwaitedHidden);
    // Not modal: this window keeps painting and its log keeps its lines
    // while the operator picks the date.
    CentreOver(setDateTime_, this);
    setDateTime_->show();
    setDateTime_->raise();
    setDateTime_->activateWindow();
}

void TRs485SetupForm::AwaitUir(const TRs485Selection& s)
{
    if (!uirForm_ || uirForm_->isVisible()) {
        if (uirForm_)
            uirForm_->raise();
        return;
    }
    awaited_ = s;
    awaiting_ = Awaiting::Uir;
    SetBusy(true);
    uirForm_->HoldBlock(true);
    uirForm_->Display(s.Cb, -1);
    uirForm_->SelectEntry(Rs485FirstUirEntry(s.Segment));
    uirForm_->SetTransferButtonsEnabled(false);
    awaitedHidden_ = connect(uirForm_, &TSetupUirForm::Hidden, this, &TRs485SetupForm::OnAwaitedHidden);
    CentreOver(uirForm_, this);
    uirForm_->show();
    uirForm_->raise();
    uirForm_->activateWindow();
}

void TRs485SetupForm::OnAwaitedHidden()
{
    const Awaiting was = awaiting_;
    awaiting_ = Awaiting::None;
    disconnect(awaitedHidden_);
    const TRs485Selection& s = awaited_;
    if (was == Awaiting::DateTime) {
        if (!setDateTime_->Confirmed) {
            SetBusy(false);  // cancelled: nothing is sent
            return;
        }
        setDateTime_->Confirmed = false;
        const TClockChoice c = setDateTime_->Choice();
        if (c.YearItem < 0 || c.MonthItem < 0 || c.DayItem < 0 || c.Hour < 0 || c.Minute < 0 || c.Second < 0) {
            SetBusy(false);  // an empty list: no date to send
            return;
        }
        TRs485DateTime t;
        t.Second = c.Second;
        t.Minute = c.Minute;
        t.Hour = c.Hour;
        t.DayIndex = c.DayItem;
        t.MonthIndex = c.MonthItem;
        t.YearIndex = c.YearItem;
        TRs485Command command = Rs485StageCommand(state_, s);
        Rs485StageClock(command, t);
        StartWorker(s.Cb, command);
        return;
    }
    if (was == Awaiting::Uir) {
        uirForm_->SetTransferButtonsEnabled(true);
        // An edit confirmed just before the window closed reaches the record
        // (of the console's block, still held) before the segment leaves,
        // not at the window's next tick.
        if (uirForm_->ChSetupUirForm() && uirForm_->ChSetupUirForm()->Accepted)
            uirForm_->Timer1Timer();
        uirForm_->HoldBlock(false);
        StartWorker(s.Cb, Rs485StageCommand(state_, s));  // Fcb and the console's segment
    }
}

void TRs485SetupForm::CancelAwaited()
{
    if (awaiting_ == Awaiting::None)
        return;
    const Awaiting was = awaiting_;
    awaiting_ = Awaiting::None;
    disconnect(awaitedHidden_);
    if (was == Awaiting::DateTime) {
        setDateTime_->Confirmed = false;
        setDateTime_->hide();
    } else {
        uirForm_->SetTransferButtonsEnabled(true);
        uirForm_->HoldBlock(false);
        uirForm_->hide();
    }
    SetBusy(false);
}

void TRs485SetupForm::OnWorkerDone(int result)
{
    if (worker_ && worker_->joinable())
        worker_->join();
    worker_.reset();
    proto_.Link().SetStopped(false);
    SetBusy(false);
    RefreshCounters();
    emit CommandFinished(result);
    if (closePending_) {
        closePending_ = false;
        lbConsoleState->clear();
        close();
    }
}

void ConnectConsoleHooks(TQtUiHooks& hooks, TRs485SetupForm* form)
{
    hooks.onLogLine_ = [form](const std::string& s, int64_t msOfDay) {
        form->AppendLog(QString::fromStdString(s), msOfDay);
    };
    hooks.onConsoleClock_ = [form](int year, const std::string& month, int day, int hour, int minute, int second) {
        form->ShowClock(year, QString::fromStdString(month), day, hour, minute, second);
    };
}

void AttachRs485SetupForm(TMainForm& mainForm, TGlobalState& state, ISettingsStore& store)
{
    // The console's own port and protocol: the acquisition thread has given
    // up the port while the console is shown.
    struct Parts {
        std::unique_ptr<ISerialDevice> device;
        std::unique_ptr<TComPort> port;
        std::unique_ptr<TCbProtocol> proto;
    };
    auto parts = std::make_shared<Parts>();
    parts->device = MakeOsSerialDevice(MakeSettingsPortResolver(store));
    parts->port = std::make_unique<TComPort>(*parts->device);
    parts->proto = std::make_unique<TCbProtocol>(state, *parts->port, SystemClock::Instance(), mainForm.Hooks());
    TMainForm* main = &mainForm;
    auto* form = new TRs485SetupForm(state, *parts->proto, [main] { return main->AcqThread(); });
    // The parts live as long as the window.
    QObject::connect(form, &QObject::destroyed, [parts] {});
    form->SetDialogs(mainForm.findChild<TSetDateTimeForm*>(), mainForm.findChild<TGetDateTimeForm*>(),
                     mainForm.findChild<TSetupUirForm*>());
    ConnectConsoleHooks(mainForm.QtHooks(), form);
    mainForm.SetConsoleForm(form, [form] { form->Fill(); });
}

}  // namespace kestrel
