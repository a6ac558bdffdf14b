#include "monitor/ui/Tiles.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

namespace kestrel {

const QColor TTileBase::Silver(192, 192, 192);
const QColor TTileBase::White(255, 255, 255);
const QColor TTileBase::Red(255, 0, 0);
const QColor TTileBase::Lime(0, 255, 0);
const QColor TTileBase::Magenta(255, 0, 255);
const QColor TCB::TileColor(211, 239, 226);

namespace {
constexpr int kTileWidth = 115;
constexpr int kTileHeight = 72;
}

TTileGeometry TTileGeometry::For(int w, int h)
{
    TTileGeometry g;
    const int w15 = w / 15;
    g.TextSize = std::clamp(w15, 8, 12);
    g.D = h / 5;
    g.Y0 = w15 <= 8 ? 21 : (w15 <= 12 ? 24 : 28);
    g.Y2 = h - 5 - g.D;
    g.Y1 = g.Y0 + (g.Y2 - g.Y0) / 2;
    g.BoxHeight = std::clamp(h / 5, 15, 25);
    g.BoxWidth = w / 5;
    g.BoxLeft = w - g.BoxWidth - 5;
    g.BoxTop = 2;
    return g;
}

TTileBase::TTileBase(QWidget* parent, int number) : QFrame(parent), number_(number)
{
    setFrameShape(QFrame::NoFrame);
    resize(kTileWidth, kTileHeight);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TTileBase::StoreNumber(int value)
{
    number_ = value;
    if (numberBox_)
        numberBox_->setText(QString::number(number_));
    update();
}

void TTileBase::LayoutBoxes()
{
    if (!numberBox_)
        return;
    const TTileGeometry g = TTileGeometry::For(width(), height());
    numberBox_->setGeometry(g.BoxLeft, g.BoxTop, g.BoxWidth, g.BoxHeight);
    QFont f = numberBox_->font();
    f.setPointSize(g.TextSize);
    numberBox_->setFont(f);
}

void TTileBase::resizeEvent(QResizeEvent* e)
{
    QFrame::resizeEvent(e);
    LayoutBoxes();
}

void TTileBase::mousePressEvent(QMouseEvent* e)
{
    pressed_ = e->button() == Qt::LeftButton;
    emit mouseDown(this, e->button(), e->modifiers(), e->position().toPoint());
}

void TTileBase::mouseReleaseEvent(QMouseEvent* e)
{
    if (pressed_ && e->button() == Qt::LeftButton && rect().contains(e->position().toPoint()))
        emit clicked();
    pressed_ = false;
}

TTileGeometry TTileBase::PaintCommon(QPainter& p, const QColor& tileColor, const QString& title)
{
    const int w = width(), h = height();
    const TTileGeometry g = TTileGeometry::For(w, h);
    p.fillRect(rect(), tileColor);
    // A 2-pixel dark edge all round, inside the tile.
    p.setPen(QPen(palette().color(QPalette::Shadow), 2, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(1, 1, w - 2, h - 2));

    QFont f = font();
    f.setPointSize(g.TextSize);
    f.setBold(true);
    f.setUnderline(true);
    p.setFont(f);
    PaintText(p, 5, 3, title);
    f.setBold(false);
    f.setUnderline(false);
    p.setFont(f);
    return g;
}

void TTileBase::PaintCircle(QPainter& p, int x, int row, int d, const QColor& c)
{
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(c);
    // The outline covers d pixels, x .. x + d - 1, as a bounding square of side d.
    p.drawEllipse(QRect(x, row, d - 1, d - 1));
}

void TTileBase::PaintText(QPainter& p, int x, int y, const QString& text)
{
    // (x, y) is the top left corner of the text, as the captions are placed.
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(QPoint(x, y + p.fontMetrics().ascent()), text);
}

// ---------------------------------------------------------------- TCB

TCB::TCB(QWidget* parent)
    : TTileBase(parent, 1),
      powerName_(QStringLiteral("Питание")),
      arcName_(QStringLiteral("Дуга")),
      emerName_(QStringLiteral("Отказ блока"))
{
    // The title box sits under the number box, as it always has.
    titleBox_ = new QLabel(QStringLiteral("ЦБ - Ж7"), this);
    titleBox_->setAlignment(Qt::AlignCenter);
    numberBox_ = new QLabel(QStringLiteral("1"), this);
    numberBox_->setAutoFillBackground(true);
    QPalette pal = numberBox_->palette();
    pal.setColor(QPalette::Window, Qt::white);
    pal.setColor(QPalette::WindowText, Qt::black);
    numberBox_->setPalette(pal);
    numberBox_->setAlignment(Qt::AlignCenter);
    numberBox_->setFrameShape(QFrame::Box);
    numberBox_->setLineWidth(1);
    LayoutBoxes();
}

void TCB::LayoutBoxes()
{
    TTileBase::LayoutBoxes();
    if (!titleBox_)
        return;
    const TTileGeometry g = TTileGeometry::For(width(), height());
    titleBox_->setGeometry(width() - g.BoxWidth - 5, g.BoxTop, g.BoxWidth, g.BoxHeight);
    QFont f = titleBox_->font();
    f.setPointSize(g.TextSize);
    titleBox_->setFont(f);
}

QColor TCB::PowerColor(int status)
{
    switch (status) {
    case 1: return Lime;
    case 2: return Red;
    default: return Silver;
    }
}

QColor TCB::AlarmColor(int status)
{
    switch (status) {
    case 1: return White;
    case 2: return Red;
    default: return Silver;
    }
}

static int InRange(int v, int lo, int hi) { return (v < lo || v > hi) ? 0 : v; }

void TCB::SetPowerStatus(int v) { powerStatus_ = InRange(v, 0, 2); update(); }
void TCB::SetArcStatus(int v) { arcStatus_ = InRange(v, 0, 2); update(); }
void TCB::SetEmerStatus(int v) { emerStatus_ = InRange(v, 0, 2); update(); }
void TCB::SetPowerName(const QString& s) { powerName_ = s; update(); }
void TCB::SetArcName(const QString& s) { arcName_ = s; update(); }
void TCB::SetEmerName(const QString& s) { emerName_ = s; update(); }
void TCB::SetNumber(int v) { StoreNumber(std::clamp(v, 1, 32)); }

void TCB::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const TTileGeometry g = PaintCommon(p, TileColor, QStringLiteral("ЦБ - Ж7"));
    const int tx = 4 + g.D + g.D / 3;
    PaintCircle(p, 4, g.Y0, g.D, PowerColor(powerStatus_));
    PaintText(p, tx, g.Y0 + 1, powerName_);
    PaintCircle(p, 4, g.Y2, g.D, AlarmColor(emerStatus_));
    PaintText(p, tx, g.Y2 + 1, emerName_);
    PaintCircle(p, 4, g.Y1, g.D, AlarmColor(arcStatus_));
    PaintText(p, tx, g.Y1 + 1, arcName_);
}

// ---------------------------------------------------------------- TUir

TUir::TUir(QWidget* parent)
    : TTileBase(parent, 1),
      chName_{QStringLiteral("Вх 1"), QStringLiteral("Вх 2"), QStringLiteral("Вх 3")},
      powerName_(QStringLiteral("Питание")),
      blinkColor_{Red, Red, Red}
{
    numberBox_ = new QLabel(QStringLiteral("1"), this);
    numberBox_->setAutoFillBackground(true);
    QPalette pal = numberBox_->palette();
    pal.setColor(QPalette::Window, Qt::white);
    pal.setColor(QPalette::WindowText, Qt::black);
    numberBox_->setPalette(pal);
    numberBox_->setAlignment(Qt::AlignCenter);
    numberBox_->setFrameShape(QFrame::Box);
    numberBox_->setLineWidth(1);
    LayoutBoxes();
}

int TUir::ChStatus(int n) const { return ch_[Index(n)]; }
QString TUir::ChName(int n) const { return chName_[Index(n)]; }
bool TUir::BlinkPhase(int n) const { return blinkPhase_[Index(n)]; }
QColor TUir::BlinkColor(int n) const { return blinkColor_[Index(n)]; }

void TUir::SetChStatus(int n, int v) { ch_[Index(n)] = InRange(v, 0, 3); update(); }
void TUir::SetPowerStatus(int v) { powerStatus_ = InRange(v, 0, 4); update(); }
void TUir::SetCentrBlockStatus(int v) { centrBlockStatus_ = InRange(v, 0, 3); update(); }
void TUir::SetChName(int n, const QString& s) { chName_[Index(n)] = s; update(); }
void TUir::SetPowerName(const QString& s) { powerName_ = s; update(); }
void TUir::SetNumber(int v) { StoreNumber(std::clamp(v, 1, 43)); }

void TUir::ChBlinking(int n)
{
    const int i = Index(n);
    if (ch_[i] != 3)
        return;
    if (blinkPhase_[i]) {
        blinkColor_[i] = Red;
        blinkPhase_[i] = false;
    } else {
        blinkColor_[i] = Silver;
        blinkPhase_[i] = true;
    }
    repaint();
}

QColor TUir::InputColor(int n) const
{
    switch (ChStatus(n)) {
    case 1: return White;
    case 2: return Red;
    case 3: return BlinkColor(n);
    default: return Silver;
    }
}

QColor TUir::LinkColor(int status)
{
    switch (status) {
    case 1: return White;
    case 2: return Magenta;
    default: return Silver;  // 0 and 3
    }
}

QColor TUir::PowerColor(int status)
{
    switch (status) {
    case 1: return White;
    case 2: return Lime;
    case 3: return Red;
    default: return Silver;
    }
}

void TUir::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const TTileGeometry g = PaintCommon(p, palette().color(QPalette::Button), QStringLiteral("УИР-Ж7"));
    const int d = g.D;
    const int tx = 4 + d + d / 3;
    // Inputs bottom-up: input 1 at the bottom row, input 3 at the top.
    PaintCircle(p, 4, g.Y0, d, InputColor(3));
    PaintText(p, tx, g.Y0 + 2, chName_[2]);
    PaintCircle(p, 4, g.Y2, d, InputColor(1));
    PaintText(p, tx, g.Y2 + 2, chName_[0]);
    PaintCircle(p, 4, g.Y1, d, InputColor(2));
    PaintText(p, tx, g.Y1 + 2, chName_[1]);

    const int xm = width() / 2;
    PaintCircle(p, xm, g.Y0, d, LinkColor(centrBlockStatus_));
    PaintText(p, xm + d + d / 3, g.Y0 + 2, QStringLiteral("Связь"));
    PaintText(p, xm + d + d / 2, 2 * g.Y0 - 3, QStringLiteral("ЦБ"));

    if (powerStatus_ != 4)
        PaintCircle(p, xm - 7, g.Y2, d, PowerColor(powerStatus_));
    PaintText(p, xm + d + d / 3 - 10, g.Y2 + 2, powerName_);
}

}  // namespace kestrel
