#include "platform/termination.h"

#include <QtGlobal>

#ifdef Q_OS_WIN
#include <QCoreApplication>
#include <atomic>
#include <windows.h>
#endif
#ifdef Q_OS_UNIX
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace tk {

#ifdef Q_OS_UNIX

namespace {

// The signal handler may only write a byte; the notifier reads it on the
// window thread (the self-pipe pattern).
int g_pipe[2] = {-1, -1};

extern "C" void noteTerminationSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

std::function<void()>& currentHandler()
{
    static std::function<void()> handler;
    return handler;
}

} // namespace

bool onTerminationRequest(std::function<void()> handler)
{
    currentHandler() = std::move(handler);
    if (g_pipe[0] >= 0)
        return true;
    if (::pipe(g_pipe) != 0) {
        g_pipe[0] = g_pipe[1] = -1;
        return false;
    }
    // Never inherited by the serial tool; a full pipe never blocks the handler.
    for (int fd : g_pipe) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    // Lives as long as the process.
    auto* notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
        char bytes[16];
        while (::read(g_pipe[0], bytes, sizeof bytes) > 0) {
        }
        if (currentHandler())
            currentHandler()();
    });

    struct sigaction action {};
    action.sa_handler = noteTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGTERM, &action, nullptr) == 0 &&
           ::sigaction(SIGINT, &action, nullptr) == 0;
}

#elif defined(Q_OS_WIN)

namespace {

std::function<void()>& currentHandler()
{
    static std::function<void()> handler;
    return handler;
}

std::atomic<int> g_requests{0};

// Runs on a thread the system starts for the event.
BOOL WINAPI noteConsoleEvent(DWORD event)
{
    const bool interrupt = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
    if (g_requests.fetch_add(1) > 0 && interrupt)
        return FALSE; // asked again: the default, which ends the process
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return FALSE;
    QMetaObject::invokeMethod(
        app,
        [] {
            if (currentHandler())
                currentHandler()();
        },
        Qt::QueuedConnection);
    if (!interrupt) {
        // The process ends when this returns: the window thread gets the
        // time Windows allows, and ends the process itself when done.
        Sleep(kConsoleCloseGraceMs);
    }
    return TRUE;
}

} // namespace

bool onTerminationRequest(std::function<void()> handler)
{
    currentHandler() = std::move(handler);
    static const bool installed = SetConsoleCtrlHandler(noteConsoleEvent, TRUE) != 0;
    return installed;
}

#else

bool onTerminationRequest(std::function<void()>)
{
    return false;
}

#endif

} // namespace tk
