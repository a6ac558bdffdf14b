#include "monitor/ui/MessageForm.h"

#include <QCloseEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>
#include <cmath>
#include <numbers>

#include "monitor/ui/Placement.h"

namespace kestrel {

TCopyAnimation::TCopyAnimation(QWidget* parent) : QWidget(parent), timer_(new QTimer(this))
{
    timer_->setInterval(60);
    connect(timer_, &QTimer::timeout, this, [this] {
        frame_ = (frame_ + 1) % kFrames;
        update();
    });
}

void TCopyAnimation::Play() { timer_->start(); }
void TCopyAnimation::Stop() { timer_->stop(); }
bool TCopyAnimation::Playing() const { return timer_->isActive(); }

static void PaintFolder(QPainter& p, const QRect& r, bool open)
{
    const QColor body(240, 200, 80), edge(150, 110, 20);
    p.setPen(QPen(edge, 1));
    p.setBrush(body.darker(110));
    QPainterPath back;
    back.moveTo(r.left(), r.top() + 6);
    back.lineTo(r.left() + r.width() * 2 / 5, r.top() + 6);
    back.lineTo(r.left() + r.width() * 2 / 5 + 5, r.top());
    back.lineTo(r.right(), r.top());
    back.lineTo(r.right(), r.bottom());
    back.lineTo(r.left(), r.bottom());
    back.closeSubpath();
    p.drawPath(back);
    p.setBrush(body);
    if (open) {
        QPolygon front;
        front << QPoint(r.left() + 6, r.top() + 14) << QPoint(r.right() + 4, r.top() + 14)
              << QPoint(r.right(), r.bottom()) << QPoint(r.left(), r.bottom());
        p.drawPolygon(front);
    } else {
        p.drawRect(r.adjusted(0, 10, 0, 0));
    }
}

void TCopyAnimation::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.fillRect(rect(), Qt::white);
    const int fw = 48, fh = 40;
    const QRect from(8, height() - fh - 6, fw, fh);
    const QRect to(width() - fw - 8, height() - fh - 6, fw, fh);
    PaintFolder(p, from, true);
    PaintFolder(p, to, true);

    // The sheet flies along an arc from the left folder to the right one.
    const double t = double(frame_) / (kFrames - 1);
    const double x0 = from.center().x(), x1 = to.center().x();
    const double x = x0 + (x1 - x0) * t;
    const double y = from.top() + 4 - std::sin(t * std::numbers::pi) * (from.top() - 2);
    p.save();
    p.translate(x, y);
    p.rotate(-25 + 50 * t);
    const QRectF sheet(-9, -12, 18, 24);
    p.setPen(QPen(QColor(90, 90, 90), 1));
    p.setBrush(Qt::white);
    p.drawRect(sheet);
    p.setPen(QPen(QColor(120, 140, 200), 1));
    for (int i = 0; i < 4; ++i)
        p.drawLine(QPointF(-6, -7 + 5 * i), QPointF(6, -7 + 5 * i));
    p.restore();
}

TMessageForm::TMessageForm(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("MessageForm"));
    setWindowTitle(QStringLiteral("Окно сообщений"));
    setModal(false);
    setFixedSize(424, 155);

    auto* panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("Panel1"));
    panel->setGeometry(0, 0, 424, 155);
    panel->setAutoFillBackground(true);
    QPalette pal = panel->palette();
    pal.setColor(QPalette::Window, Qt::white);
    pal.setColor(QPalette::WindowText, Qt::black);
    panel->setPalette(pal);

    animation_ = new TCopyAnimation(panel);
    animation_->setObjectName(QStringLiteral("Animate1"));
    animation_->setGeometry(69, 16, 272, 60);

    staticText1_ = new QLabel(QStringLiteral("Ждите! Идет получение архивных данных"), panel);
    staticText1_->setObjectName(QStringLiteral("StaticText1"));
    staticText1_->setGeometry(19, 100, 385, 27);
    QFont f;
    f.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans"), QStringLiteral("Sans Serif")});
    f.setPixelSize(16);
    staticText1_->setFont(f);
    staticText1_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

void TMessageForm::SetText(const QString& text) { staticText1_->setText(text); }
QString TMessageForm::Text() const { return staticText1_->text(); }

void TMessageForm::ShowCentred()
{
    if (QWidget* owner = parentWidget(); owner && owner->isVisible())
        CentreWindowOver(this, owner);
    else
        CentreWindowOnScreen(this);
    show();
    raise();
}

void TMessageForm::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    animation_->Play();
}

void TMessageForm::hideEvent(QHideEvent* e)
{
    animation_->Stop();
    QDialog::hideEvent(e);
}

void TMessageForm::keyPressEvent(QKeyEvent* e)
{
    if (e->key() == Qt::Key_Escape)
        return;
    QDialog::keyPressEvent(e);
}

void TMessageForm::closeEvent(QCloseEvent* e)
{
    // Only the program closes it (hide()); the window manager's close is ignored.
    if (e->spontaneous())
        e->ignore();
    else
        QDialog::closeEvent(e);
}

}  // namespace kestrel
