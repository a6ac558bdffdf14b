#pragma once
// The self-drawing status tiles of the main window: TUir for one UIR and TCB
// for the central block. A tile knows nothing of the model; the main window
// pushes statuses and captions through the setters and the tile paints them.
#include <QColor>
#include <QFrame>
#include <QString>

class QLabel;

namespace kestrel {

// Geometry shared by both tiles, for a tile of width w and height h.
struct TTileGeometry {
    int D = 0;          // circle diameter
    int Y0 = 0, Y1 = 0, Y2 = 0;  // indicator rows, top to bottom
    int TextSize = 8;   // points
    int BoxWidth = 0, BoxHeight = 0, BoxLeft = 0, BoxTop = 2;

    static TTileGeometry For(int w, int h);
};

// Common part: the white number box in the top right corner and the painting
// of frame, title and circles.
class TTileBase : public QFrame {
    Q_OBJECT
public:
    int Number() const { return number_; }
    QLabel* NumberBox() const { return numberBox_; }

    static const QColor Silver, White, Red, Lime, Magenta;

signals:
    void clicked();
    // Mouse-button-down on the tile, position in tile coordinates.
    void mouseDown(QWidget* tile, Qt::MouseButton button, Qt::KeyboardModifiers mods, QPoint pos);

protected:
    TTileBase(QWidget* parent, int number);
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

    // Frame, title and number box; returns the geometry for the indicators.
    TTileGeometry PaintCommon(QPainter& p, const QColor& tileColor, const QString& title);
    void PaintCircle(QPainter& p, int x, int row, int d, const QColor& c);
    void PaintText(QPainter& p, int x, int y, const QString& text);
    void StoreNumber(int value);
    virtual void LayoutBoxes();

    QLabel* numberBox_ = nullptr;
    int number_ = 1;
    bool pressed_ = false;
};

class TCB : public TTileBase {
    Q_OBJECT
public:
    explicit TCB(QWidget* parent = nullptr);

    int PowerStatus() const { return powerStatus_; }
    int ArcStatus() const { return arcStatus_; }
    int EmerStatus() const { return emerStatus_; }
    QString PowerName() const { return powerName_; }
    QString ArcName() const { return arcName_; }
    QString EmerName() const { return emerName_; }
    QLabel* TitleBox() const { return titleBox_; }

    void SetPowerStatus(int v);
    void SetArcStatus(int v);
    void SetEmerStatus(int v);
    void SetPowerName(const QString& s);
    void SetArcName(const QString& s);
    void SetEmerName(const QString& s);
    void SetNumber(int v);

    static QColor PowerColor(int status);
    static QColor AlarmColor(int status);  // arc and fault indicators
    static const QColor TileColor;

protected:
    void paintEvent(QPaintEvent* e) override;
    void LayoutBoxes() override;

private:
    QLabel* titleBox_ = nullptr;
    int powerStatus_ = 0, arcStatus_ = 0, emerStatus_ = 0;
    QString powerName_, arcName_, emerName_;
};

class TUir : public TTileBase {
    Q_OBJECT
public:
    explicit TUir(QWidget* parent = nullptr);

    // Input n = 1..3.
    int ChStatus(int n) const;
    int ChStatus1() const { return ch_[0]; }
    int ChStatus2() const { return ch_[1]; }
    int ChStatus3() const { return ch_[2]; }
    int PowerStatus() const { return powerStatus_; }
    int CentrBlockStatus() const { return centrBlockStatus_; }
    QString ChName(int n) const;
    QString PowerName() const { return powerName_; }
    bool BlinkPhase(int n) const;
    QColor BlinkColor(int n) const;

    void SetChStatus_1(int v) { SetChStatus(1, v); }
    void SetChStatus_2(int v) { SetChStatus(2, v); }
    void SetChStatus_3(int v) { SetChStatus(3, v); }
    void SetChStatus(int n, int v);
    void SetPowerStatus(int v);
    void SetCentrBlockStatus(int v);
    void SetChName_1(const QString& s) { SetChName(1, s); }
    void SetChName_2(const QString& s) { SetChName(2, s); }
    void SetChName_3(const QString& s) { SetChName(3, s); }
    void SetChName(int n, const QString& s);
    void SetPowerName(const QString& s);
    void SetNumber(int v);

    // One blink step of an input in status 3.
    void Ch1Blinking() { ChBlinking(1); }
    void Ch2Blinking() { ChBlinking(2); }
    void Ch3Blinking() { ChBlinking(3); }
    void ChBlinking(int n);

    QColor InputColor(int n) const;
    static QColor LinkColor(int status);
    static QColor PowerColor(int status);

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    static int Index(int n) { return (n >= 1 && n <= 3) ? n - 1 : 0; }
    int ch_[3] = {0, 0, 0};
    int powerStatus_ = 0;
    int centrBlockStatus_ = 0;
    QString chName_[3];
    QString powerName_;
    bool blinkPhase_[3] = {false, false, false};
    QColor blinkColor_[3];
};

}  // namespace kestrel
