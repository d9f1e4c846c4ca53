#include "ui/screenfit.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace tk {

QRect keptInside(QRect frame, const QRect& area)
{
    if (area.isEmpty())
        return frame;
    frame.setWidth(std::min(frame.width(), area.width()));
    frame.setHeight(std::min(frame.height(), area.height()));
    frame.moveLeft(std::clamp(frame.left(), area.left(), area.right() - frame.width() + 1));
    frame.moveTop(std::clamp(frame.top(), area.top(), area.bottom() - frame.height() + 1));
    return frame;
}

QRect availableAreaAt(const QPoint& point, const QWidget* window)
{
    const QScreen* screen = QGuiApplication::screenAt(point);
    if (!screen && window)
        screen = window->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

namespace {

QMargins ownFrame(const QWidget* w)
{
    const QRect frame = w->frameGeometry();
    const QRect client = w->geometry();
    return {client.left() - frame.left(), client.top() - frame.top(),
            frame.right() - client.right(), frame.bottom() - client.bottom()};
}

} // namespace

QMargins frameMarginsOf(const QWidget* window, const QWidget* framed)
{
    const QMargins own = ownFrame(window);
    if (!own.isNull() || !framed || !framed->isVisible())
        return own;
    return ownFrame(framed);
}

void placeFrame(QWidget* window, const QRect& frame, const QMargins& margins)
{
    const QRect area = availableAreaAt(frame.center(), window);
    // The window cannot be smaller than its minimum: the area grows to hold it
    // and the frame then starts at the area's top left.
    const QSize least = window->minimumSize().grownBy(margins);
    QRect room = area;
    room.setWidth(std::max(room.width(), least.width()));
    room.setHeight(std::max(room.height(), least.height()));
    const QRect kept = keptInside(frame, room);
    window->setGeometry(kept.marginsRemoved(margins));
}

} // namespace tk
