#pragma once
// Where the program's windows open. Every window and dialog is placed by
// PlaceWindow, on the size it really has on the screen (a window that was
// never shown has not been given one yet), and kept wholly on the screen.
#include <QMargins>
#include <QRect>
#include <QSize>

#include "monitor/ui/Layout.h"

class QWidget;

namespace kestrel {

// The frame the window manager puts around window `w`: its own once it has
// been on the screen; before that, the frame of the shown window it belongs
// to, or of another shown window of the program (the same window manager
// decorates them alike); none without one.
QMargins WindowFrameMargins(const QWidget* w);

// The size `w` takes on the screen, frame included. A window never shown is
// given now the size its first show would give it: polished and laid out,
// its size hint, unless resize() chose a size (kept, grown to the layout's
// minimum at most).
QSize WindowOuterSize(QWidget* w);

// The rectangle `w` covers on the screen; a window's includes its frame.
QRect ScreenRect(const QWidget* w);

// Move `w` by `kind` against `over` (screen coordinates; `top` a screen row,
// for CentredHorizontally), kept inside the available area of the screen
// `over` is on. A widget that is not a window is kept inside its parent.
void PlaceWindow(QWidget* w, TPlaceKind kind, const QRect& over, int top = 0);

// Centred over another window or widget.
void CentreWindowOver(QWidget* w, const QWidget* over);

// Centred on the available area of the screen `w` is on.
void CentreWindowOnScreen(QWidget* w);

}  // namespace kestrel
