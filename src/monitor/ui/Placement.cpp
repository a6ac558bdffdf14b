#include "monitor/ui/Placement.h"

#include <QApplication>
#include <QLayout>
#include <QScreen>
#include <QWidget>

namespace kestrel {

namespace {

TPlaceRect ToPlace(const QRect& r) { return {r.x(), r.y(), r.width(), r.height()}; }

QMargins FrameOf(const QWidget* w)
{
    const QRect f = w->frameGeometry(), g = w->geometry();
    return {g.left() - f.left(), g.top() - f.top(), f.right() - g.right(), f.bottom() - g.bottom()};
}

QScreen* ScreenFor(const QRect& over, const QWidget* w)
{
    if (QScreen* s = QApplication::screenAt(over.center()))
        return s;
    if (QScreen* s = w->screen())
        return s;
    return QApplication::primaryScreen();
}

}  // namespace

QMargins WindowFrameMargins(const QWidget* w)
{
    if (!w || !w->isWindow() || w->windowFlags().testFlag(Qt::FramelessWindowHint))
        return {};
    if (w->testAttribute(Qt::WA_WState_Created))
        return FrameOf(w);
    for (const QWidget* p = w->parentWidget(); p; p = p->parentWidget())
        if (p->isWindow() && p->isVisible())
            return FrameOf(p);
    for (const QWidget* other : QApplication::topLevelWidgets())
        if (other != w && other->isVisible() && !other->windowFlags().testFlag(Qt::FramelessWindowHint) &&
            other->windowType() != Qt::Popup && other->windowType() != Qt::ToolTip)
            return FrameOf(other);
    return {};
}

QSize WindowOuterSize(QWidget* w)
{
    if (!w->isVisible()) {
        w->ensurePolished();
        if (!w->testAttribute(Qt::WA_WState_Created) && !w->testAttribute(Qt::WA_Resized))
            w->adjustSize();  // what the first show() does; done now to know the size
        else if (QLayout* l = w->layout())
            l->activate();  // a size chosen by resize() or by the operator stays, up to the minimum
    }
    return w->size().grownBy(WindowFrameMargins(w));
}

QRect ScreenRect(const QWidget* w)
{
    if (w->isWindow())
        return w->frameGeometry();
    return {w->mapToGlobal(QPoint(0, 0)), w->size()};
}

void PlaceWindow(QWidget* w, TPlaceKind kind, const QRect& over, int top)
{
    if (!w)
        return;
    const QSize size = WindowOuterSize(w);
    const TPlaceRule rule{kind, ToPlace(over), top};
    if (w->isWindow()) {
        QRect screen;
        if (QScreen* s = ScreenFor(over, w))
            screen = s->availableGeometry();
        const TPlacePoint p = PlaceWindowCalc(rule, size.width(), size.height(), ToPlace(screen));
        w->move(p.Left, p.Top);  // a window's position is its frame's
        return;
    }
    QWidget* parent = w->parentWidget();
    const QRect inside = parent ? ScreenRect(parent) : QRect();
    const TPlacePoint p = PlaceWindowCalc(rule, size.width(), size.height(), ToPlace(inside));
    w->move(parent ? parent->mapFromGlobal(QPoint(p.Left, p.Top)) : QPoint(p.Left, p.Top));
}

void CentreWindowOver(QWidget* w, const QWidget* over)
{
    if (w && over)
        PlaceWindow(w, TPlaceKind::Centred, ScreenRect(over));
}

void CentreWindowOnScreen(QWidget* w)
{
    if (!w)
        return;
    if (QScreen* s = w->screen() ? w->screen() : QApplication::primaryScreen())
        PlaceWindow(w, TPlaceKind::Centred, s->availableGeometry());
}

}  // namespace kestrel
