#pragma once
// "Проверка датчиков": the walk-test of the block on screen. The block's
// settings are first checked against the file (the verdicts mean something
// only against the settings they are predicted from); then every event the
// acquisition thread puts into the block's list is read, never asked for,
// so the main window keeps monitoring as usual. The results go to a file
// beside the configuration file after each one, for a resume after a crash.
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "check/SettingsCheckActions.h"
#include "walktest/WalkTest.h"

class QLabel;
class QListWidget;
class QPushButton;
class QTableWidget;
class QTimer;

namespace kestrel {

class TMainForm;

class TWalkTestForm : public QWidget, public ISettingsCheckView {
    Q_OBJECT
public:
    TWalkTestForm(TGlobalState& state, TMainForm& main, QWidget* parent = nullptr);
    ~TWalkTestForm() override;

    // After the access code: shown for block cb (a test that runs keeps its block).
    void Open(int cb);
    int Cb() const { return cb_; }
    const TWalkTest& Test() const { return test_; }
    bool Running() const { return started_ && !test_.Finished(); }
    bool Paused() const { return paused_; }
    // "<cfg stem>.ЦБ<N>.walktest" beside the configuration file (UTF-8).
    std::string TestFilePath() const;
    // The default name of the certificate: "ЦБ 1 — протокол проверки датчиков.pdf".
    QString CertificateFileName() const;

    // The feed timer's work: the new events into the test, the waits timed.
    void Feed();
    void ShowResults();

    // PC time in ms since the epoch; replaceable so that a test needs no real waits.
    std::function<int64_t()> Now;
    // The certificate's save dialog, as the settings sheet's.
    std::function<bool(const QString& defaultName, std::string& path)> ChooseCertificateFile;

    // ISettingsCheckView.
    bool AccessPrompt() override;
    bool AskYesNo(const std::string& text, const std::string& caption, PromptIcon icon) override;
    void Message(const std::string& text, const std::string& caption, PromptIcon icon) override;

    QLabel* BlockLabel = nullptr;
    QLabel* CountersLine = nullptr;
    QLabel* DetailLine = nullptr;
    QTableWidget* Matrix = nullptr;  // row per present UIR, column per input
    QListWidget* LastResults = nullptr;
    QPushButton* bbStart = nullptr;
    QPushButton* bbPause = nullptr;
    QPushButton* bbResume = nullptr;
    QPushButton* bbFinish = nullptr;
    QPushButton* bbSaveCertificate = nullptr;
    QPushButton* bbClose = nullptr;
    QTimer* FeedTimer = nullptr;

public slots:
    void bbStartClick();
    void bbPauseClick();
    void bbResumeClick();
    void bbFinishClick();
    void bbSaveCertificateClick();

private:
    void Note(const std::string& text, TInputVerdict v);
    void Notes(const std::vector<TWalkNote>& notes);
    void Save();
    void BuildMatrix();
    void ShowDetail();
    bool RunSaveDialog(const QString& defaultName, std::string& path);

    TGlobalState& state_;
    TMainForm& main_;
    std::unique_ptr<TSettingsCheckActions> check_;
    std::unique_ptr<TEventTap> tap_;
    TWalkTest test_;
    int cb_ = 0;
    bool started_ = false, paused_ = false, busy_ = false, feeding_ = false;
    bool saveFailShown_ = false;
};

// Creates the window hidden, owned by the main window, and gives the main
// window's menu item its opener.
TWalkTestForm* AttachWalkTestForm(TMainForm& main, TGlobalState& state);

}  // namespace kestrel
