#pragma once
// The wait window shared by every long request: a modeless, stay-on-top box
// with a small animation and one text line. It has no actions of its own.
#include <QDialog>

class QLabel;
class QTimer;

namespace kestrel {

// The animation of a sheet flying from one folder to another.
class TCopyAnimation : public QWidget {
    Q_OBJECT
public:
    static constexpr int kFrames = 31;
    explicit TCopyAnimation(QWidget* parent = nullptr);
    void Play();
    void Stop();
    bool Playing() const;
    int Frame() const { return frame_; }

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    QTimer* timer_;
    int frame_ = 0;
};

class TMessageForm : public QDialog {
    Q_OBJECT
public:
    explicit TMessageForm(QWidget* owner = nullptr);

    // StaticText1: callers set it before they show the window.
    QLabel* StaticText1() const { return staticText1_; }
    void SetText(const QString& text);
    QString Text() const;
    TCopyAnimation* Animation() const { return animation_; }
    // Shows the window centred on its owner (or on the screen without one).
    void ShowCentred();

protected:
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;  // Escape must not close it
    void closeEvent(QCloseEvent* e) override;

private:
    TCopyAnimation* animation_;
    QLabel* staticText1_;
};

}  // namespace kestrel
