#pragma once
// The service console ("Отладка протокола по RS485"): one protocol command
// at a time to a chosen block, with the traffic log. Commands run on a worker
// thread so the window keeps painting during a long journal read; the
// acquisition thread is paused while the console is shown.
#include <QWidget>
#include <functional>
#include <memory>
#include <thread>

#include "setup/Rs485Setup.h"

class QCheckBox;
class QComboBox;
class QPlainTextEdit;
class QPushButton;

namespace kestrel {

class TGetDataThread;
class TMainForm;
class ISettingsStore;

class TRs485SetupForm : public QWidget {
    Q_OBJECT
public:
    // `thread` gives the acquisition thread (nullptr when none).
    TRs485SetupForm(TGlobalState& state, TCbProtocol& proto, std::function<TGetDataThread*()> thread,
                    QWidget* parent = nullptr);
    ~TRs485SetupForm() override;

    // Refills the block list from the model (first selected).
    void Fill();
    // One log line, on the user-interface thread.
    void AppendLog(const QString& line);
    // Runs the selected command (bbSendCommand).
    void SendCommand();
    // Writes the log to `path`; a failure is shown as a warning.
    bool SaveLog(const QString& path);
    bool Running() const { return worker_ != nullptr; }

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

    // The warning shown for a missing selection; tests replace it.
    std::function<void(const QString& text, const QString& caption)> ShowWarning;

signals:
    void CommandFinished(int result);

protected:
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

private:
    void SetBusy(bool busy);
    void OnWorkerDone(int result);

    TGlobalState& state_;
    TCbProtocol& proto_;
    std::function<TGetDataThread*()> thread_;
    std::unique_ptr<std::thread> worker_;
    bool closePending_ = false;
    bool paused_ = false;
    int64_t lastLineMs_ = -1;
};

// Creates the console (hidden) with its own port and protocol and registers
// it with the main window.
void AttachRs485SetupForm(TMainForm& mainForm, TGlobalState& state, ISettingsStore& store);

}  // namespace kestrel
