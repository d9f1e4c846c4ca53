#pragma once
// Keeping windows on the screen. A window is placed by its frame (title bar
// and borders included), which the window manager adds only once the window
// is mapped: until then the frame of an already framed window of the program
// stands in for it, so a window lands where it belongs on its first showing
// too.
#include <QMargins>
#include <QRect>

class QWidget;

namespace tk {

// `frame` kept inside `area`: no larger than the area, and moved the least
// distance that puts it wholly inside.
QRect keptInside(QRect frame, const QRect& area);

// The area windows may take (the screen less panels and docks) on the screen
// that holds `point`, else on the window's own or the primary screen.
QRect availableAreaAt(const QPoint& point, const QWidget* window);

// The window manager's frame around `window`: its own once it has one, else
// that of `framed` (a window of the program the manager has framed), else none.
QMargins frameMarginsOf(const QWidget* window, const QWidget* framed);

// Puts the window's frame at `frame` (the margins as frameMarginsOf gives
// them), kept inside the available area of the screen it lands on. A frame
// larger than the area is made smaller, never below the window's minimum size.
void placeFrame(QWidget* window, const QRect& frame, const QMargins& margins);

} // namespace tk
