#pragma once
// Shows a window modally and returns when it has been closed or hidden,
// waiting through the program's one wait helper (window events keep running,
// so timers and serial-port notifications of the window are served).
class QWidget;

namespace tk {

void showModalAndWait(QWidget* window);

} // namespace tk
