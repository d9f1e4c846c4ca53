#include "ui/eventhook.h"

#include <QMouseEvent>
#include <QWidget>

namespace tk {

bool isLeftClickRelease(const QEvent* event, const QWidget* widget)
{
    if (event->type() != QEvent::MouseButtonRelease)
        return false;
    const auto* mouse = static_cast<const QMouseEvent*>(event);
    return mouse->button() == Qt::LeftButton &&
           widget->rect().contains(mouse->position().toPoint());
}

} // namespace tk
