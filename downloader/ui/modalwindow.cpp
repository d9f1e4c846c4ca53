#include "ui/modalwindow.h"

#include "platform/wait.h"

#include <QPointer>
#include <QWidget>

namespace tk {

void showModalAndWait(QWidget* window)
{
    QPointer<QWidget> guard(window);
    window->setWindowModality(Qt::ApplicationModal);
    window->show();
    pumpEventsUntil([&] { return !guard || !guard->isVisible(); });
}

} // namespace tk
