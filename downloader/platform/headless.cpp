#include "platform/headless.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QtGlobal>

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
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
}

bool hasDisplay()
{
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

} // namespace tk
