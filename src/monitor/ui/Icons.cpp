#include "monitor/ui/Icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace kestrel {

namespace {

void DrawExit(QPainter& p)
{
    // A door frame with an arrow leaving it.
    p.setPen(QPen(QColor(90, 60, 30), 1.2));
    p.setBrush(QColor(205, 160, 100));
    p.drawRect(QRectF(2.5, 1.5, 8, 15));
    p.setBrush(QColor(250, 250, 250));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(8.5, 9.5), 0.9, 0.9);
    p.setPen(QPen(QColor(200, 30, 30), 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(QPointF(8, 9), QPointF(16, 9));
    p.drawLine(QPointF(13, 6), QPointF(16, 9));
    p.drawLine(QPointF(13, 12), QPointF(16, 9));
}

void DrawConfiguration(QPainter& p)
{
    // A list with check marks.
    p.setPen(QPen(QColor(70, 70, 90), 1));
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(1.5, 1.5, 15, 15), 2, 2);
    for (int i = 0; i < 3; ++i) {
        const double y = 5 + 4.5 * i;
        p.setPen(QPen(QColor(30, 140, 40), 1.6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(4, y), QPointF(5.5, y + 1.5));
        p.drawLine(QPointF(5.5, y + 1.5), QPointF(8, y - 1.5));
        p.setPen(QPen(QColor(80, 80, 110), 1.2));
        p.drawLine(QPointF(10, y), QPointF(14, y));
    }
}

void DrawJournal(QPainter& p)
{
    // A bound book with ruled lines.
    p.setPen(QPen(QColor(30, 60, 120), 1));
    p.setBrush(QColor(70, 120, 200));
    p.drawRoundedRect(QRectF(2.5, 1.5, 13, 15), 1.5, 1.5);
    p.setBrush(Qt::white);
    p.setPen(Qt::NoPen);
    p.drawRect(QRectF(5, 3, 9, 12));
    p.setPen(QPen(QColor(120, 120, 120), 1));
    for (int i = 0; i < 4; ++i)
        p.drawLine(QPointF(6.5, 5.5 + 2.7 * i), QPointF(12.5, 5.5 + 2.7 * i));
}

void DrawReset(QPainter& p)
{
    // A circular arrow.
    p.setPen(QPen(QColor(200, 110, 0), 2.2, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(3, 3, 12, 12), 100 * 16, 290 * 16);
    QPainterPath head;
    head.moveTo(9.5, 0.8);
    head.lineTo(13.5, 3.2);
    head.lineTo(9.5, 5.8);
    head.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(200, 110, 0));
    p.drawPath(head);
}

void DrawConsole(QPainter& p)
{
    // A terminal screen with a prompt.
    p.setPen(QPen(QColor(40, 40, 40), 1));
    p.setBrush(QColor(30, 30, 30));
    p.drawRoundedRect(QRectF(1.5, 2.5, 15, 13), 1.5, 1.5);
    p.setPen(QPen(QColor(80, 230, 80), 1.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(4, 6), QPointF(7, 9));
    p.drawLine(QPointF(7, 9), QPointF(4, 12));
    p.drawLine(QPointF(9, 12), QPointF(13, 12));
}

QPixmap Render(TToolIcon which, int size)
{
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.scale(size / 18.0, size / 18.0);
    switch (which) {
    case TToolIcon::Exit: DrawExit(p); break;
    case TToolIcon::Configuration: DrawConfiguration(p); break;
    case TToolIcon::Journal: DrawJournal(p); break;
    case TToolIcon::Reset: DrawReset(p); break;
    case TToolIcon::Console: DrawConsole(p); break;
    }
    return pm;
}

}  // namespace

QIcon ToolIcon(TToolIcon which)
{
    QIcon icon;
    for (int size : {16, 18, 24, 32, 36})
        icon.addPixmap(Render(which, size));
    return icon;
}

}  // namespace kestrel
