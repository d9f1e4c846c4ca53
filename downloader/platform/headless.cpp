#include "platform/headless.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QtGlobal>

#include <cstdio>

namespace tk {

void selectPlatformForDisplay()
{
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        return;
#if defined(Q_OS_WIN) || defined(Q_OS_MACOS)
    return;
#else
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
    else
        qputenv("QT_QPA_PLATFORM", QByteArray("xcb;offscreen"));
#endif
}

void dropQtMessages()
{
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
        // Only the reason a start failed for good (no display could be opened,
        // say) is worth a word: nothing else would tell the user why.
        if (type == QtFatalMsg) {
            std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
            std::fflush(stderr);
        }
    });
}

bool hasDisplay()
{
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

} // namespace tk
