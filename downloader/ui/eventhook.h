#pragma once
// Lets a window handle the events of one of its controls (key strokes in a
// text box, clicks on a label) with a function, the way a form handles its
// controls' events. The hook is a child of the control and dies with it.
#include <QEvent>
#include <QObject>
#include <functional>

namespace tk {

class EventHook : public QObject {
public:
    // handler returns true when it consumed the event.
    using Handler = std::function<bool(QEvent*)>;

    static EventHook* install(QObject* target, Handler handler)
    {
        auto* hook = new EventHook(target, std::move(handler));
        target->installEventFilter(hook);
        return hook;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        return watched == parent() && m_handler(event);
    }

private:
    EventHook(QObject* target, Handler handler) : QObject(target), m_handler(std::move(handler)) {}
    Handler m_handler;
};

// True for a left-button release inside the widget: what a click on a label is.
bool isLeftClickRelease(const QEvent* event, const class QWidget* widget);

} // namespace tk
