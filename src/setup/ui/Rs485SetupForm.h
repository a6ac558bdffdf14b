#pragma once
// The service console ("Отладка протокола по RS485"): one protocol command
// at a time to a chosen block, with the traffic log. Commands run on a worker
// thread so the window keeps painting during a long journal read; the
// acquisition thread is paused while the console is shown.
#include <QWidget>
#include <functional>
#include <memory>
#include <thread>

#include "link/PcapCapture.h"
#include "setup/Rs485Setup.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace kestrel {

class TGetDataThread;
class TGetDateTimeForm;
class TMainForm;
class TQtUiHooks;
class TSetDateTimeForm;
class TSetupUirForm;
class ISettingsStore;

class TRs485SetupForm : public QWidget {
    Q_OBJECT
public:
    // `thread` gives the acquisition thread (nullptr when none).
    TRs485SetupForm(TGlobalState& state, TCbProtocol& proto, std::function<TGetDataThread*()> thread,
                    QWidget* parent = nullptr);
    ~TRs485SetupForm() override;

    // The windows items 8 and 9 and the clock read use (created by the
    // block and UIR setup windows; any may be null, its item then sends
    // nothing).
    void SetDialogs(TSetDateTimeForm* setDateTime, TGetDateTimeForm* clock, TSetupUirForm* uir);

    // Refills the block list from the model (first selected).
    void Fill();
    // One log line, on the user-interface thread; msOfDay is the PC time
    // (ms since midnight) when the exchange wrote it, -1 for now.
    // Lines are gathered and reach Memo1 a slice per event-loop turn, so a
    // 255-event read never holds the window for the whole batch.
    void AppendLog(const QString& line, int64_t msOfDay = -1);
    // Puts every gathered line into Memo1 now.
    void FlushLog();
    // The clock read's display ("Время и дата ЦБ") filled and shown centred
    // over the console; an empty month keeps the month text.
    void ShowClock(int year, const QString& month, int day, int hour, int minute, int second);
    // Runs the selected command (bbSendCommand). Items 8 and 9 first show
    // their window and return; the command runs when it is hidden.
    void SendCommand();
    // A window of item 8 or 9 is shown and its command not yet started.
    bool AwaitingDialog() const { return awaiting_ != Awaiting::None; }
    // Writes the log to `path`; a failure is shown as a warning.
    bool SaveLog(const QString& path);
    bool Running() const { return worker_ != nullptr; }
    // Shown, but the acquisition thread has not yet finished the visit it
    // was in: "Выполнить" stays off until it has given up the port.
    bool WaitingForThread() const { return waitingForThread_; }
    // The link counters of the block chosen in ComboBox2 into lbCounters.
    void RefreshCounters();
    // "Записывать в файл pcap" ticked (asks for the file) or unticked.
    void SetCaptureOn(bool on);
    const TPcapCapture& Capture() const { return capture_; }

    QComboBox* ComboBox1 = nullptr;  // commands
    QComboBox* ComboBox2 = nullptr;  // blocks
    QComboBox* ComboBox3 = nullptr;  // UIR segment
    QComboBox* ComboBox4 = nullptr;  // function-table mode
    QComboBox* ComboBox5 = nullptr;  // UROV time
    QComboBox* ComboBox6 = nullptr;  // MTZ wait
    QCheckBox* CheckBox1 = nullptr;  // "Флаг FCB"
    QCheckBox* cbTimestamps = nullptr;  // "Время": PC time on every log line
    QPushButton* bbSendCommand = nullptr;
    QPushButton* bbOk = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QPushButton* bbClear = nullptr;
    QPushButton* bbSaveLog = nullptr;  // "Сохранить журнал обмена"
    QLabel* lbCounters = nullptr;      // link counters of the chosen block
    // What the console waits for: the thread's visit under way, or the end
    // of the command before it closes; empty otherwise.
    QLabel* lbConsoleState = nullptr;
    QCheckBox* cbCapture = nullptr;    // "Записывать в файл pcap"

    // The warning shown for a missing selection; tests replace it.
    std::function<void(const QString& text, const QString& caption)> ShowWarning;
    // Asks for the capture file (empty: cancelled); tests replace it.
    std::function<QString()> CapturePathChooser;

signals:
    void CommandFinished(int result);

protected:
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

private:
    enum class Awaiting { None, DateTime, Uir };

    void SetBusy(bool busy);
    // "Выполнить" and the selections: off while a command or a dialog is
    // under way, or the thread still holds the port.
    void UpdateControls();
    void WatchThreadPause();
    void FlushLogSlice(qsizetype maxLines);
    void StartWorker(int32_t cb, const TRs485Command& command);
    void OnWorkerDone(int result);
    void AwaitDateTime(const TRs485Selection& s);
    void AwaitUir(const TRs485Selection& s);
    void OnAwaitedHidden();
    // Closes a waiting window without sending anything.
    void CancelAwaited();
    void StopCapture();

    TGlobalState& state_;
    TCbProtocol& proto_;
    std::function<TGetDataThread*()> thread_;
    std::unique_ptr<std::thread> worker_;
    TSetDateTimeForm* setDateTime_ = nullptr;
    TGetDateTimeForm* clockForm_ = nullptr;
    TSetupUirForm* uirForm_ = nullptr;
    Awaiting awaiting_ = Awaiting::None;
    TRs485Selection awaited_;
    QMetaObject::Connection awaitedHidden_;
    bool closePending_ = false;
    bool busy_ = false;
    bool waitingForThread_ = false;
    QTimer* pauseWatch_ = nullptr;
    bool paused_ = false;
    int64_t lastLineMs_ = -1;
    QStringList pendingLog_;
    bool followLog_ = true;
    // Lives as long as the window: the link holds its address only while
    // the box is ticked, and no command runs while the box changes.
    TPcapCapture capture_;
    QTimer* logFlush_ = nullptr;
};

// Routes the core's console reactions (log lines, the clock read) to `form`.
void ConnectConsoleHooks(TQtUiHooks& hooks, TRs485SetupForm* form);

// Creates the console (hidden) with its own port and protocol and registers
// it with the main window; the date/time entry, the clock display and the
// UIR setup window are those already attached to it.
void AttachRs485SetupForm(TMainForm& mainForm, TGlobalState& state, ISettingsStore& store);

}  // namespace kestrel
