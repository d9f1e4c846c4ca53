#include "platform/wait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace tk {

long long tickCountMs()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock.elapsed();
}

bool pumpEventsUntil(const std::function<bool()>& done, int maxMs)
{
    if (done())
        return true;
    QElapsedTimer elapsed;
    elapsed.start();
    // processEvents(WaitForMoreEvents) sleeps until *some* event arrives. A
    // timer that runs for the whole wait guarantees a wake-up, both for the
    // deadline and in case a condition changes without an event of its own.
    QTimer wake;
    wake.setInterval(maxMs >= 0 && maxMs < 50 ? std::max(1, maxMs) : 50);
    wake.start();
    while (!done()) {
        if (maxMs >= 0 && elapsed.elapsed() >= maxMs)
            return done();
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::AllEvents);
    }
    return true;
}

void pumpPendingEvents()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

} // namespace tk
