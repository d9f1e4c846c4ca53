#include "platform/comports.h"

#include "core/comport.h"

#include <QFileInfo>
#include <QtGlobal>
#include <optional>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

namespace tk {

namespace {

constexpr bool kWindows =
#ifdef Q_OS_WIN
    true;
#else
    false;
#endif

PortOpenResult other(const QString& description)
{
    return {PortFailure::Other, description};
}

PortOpenResult invalidBaud(const QString& baud)
{
    return other(QStringLiteral("Invalid baud rate: %1").arg(baud));
}

#if TK_SERIAL_QT

// Qt's error texts are translated, so the kind is read from the error enum.
PortOpenResult classifyOpenError(const QSerialPort& serial, const QString& device)
{
    switch (serial.error()) {
    case QSerialPort::DeviceNotFoundError: return {PortFailure::Missing, {}};
    case QSerialPort::OpenError: return {PortFailure::InUse, {}};
    case QSerialPort::PermissionError:
#ifndef Q_OS_WIN
        // A lock file or EBUSY says "in use"; a device we may not open at all
        // is a different problem that Retry cannot cure.
        if (::access(QFile::encodeName(device).constData(), R_OK | W_OK) != 0)
            return other(serial.errorString());
#else
        Q_UNUSED(device);
#endif
        return {PortFailure::InUse, {}};
    default: return other(serial.errorString());
    }
}

PortOpenResult openDevice(QSerialPort& serial, const QString& device, const QString& baud)
{
    serial.setPortName(device);
    if (!serial.open(QIODevice::ReadWrite))
        return classifyOpenError(serial, device);
    if (baud.isNull())
        return {};

    bool numeric = false;
    const qint32 rate = baud.trimmed().toInt(&numeric);
    if (!numeric || rate <= 0 || !serial.setBaudRate(rate) ||
        !serial.setDataBits(QSerialPort::Data8) || !serial.setParity(QSerialPort::NoParity) ||
        !serial.setStopBits(QSerialPort::OneStop) ||
        !serial.setFlowControl(QSerialPort::NoFlowControl)) {
        const PortOpenResult failure = numeric && rate > 0 && serial.error() != QSerialPort::NoError
                                           ? other(serial.errorString())
                                           : invalidBaud(baud);
        serial.close();
        return failure;
    }
    return {};
}

#else

PortOpenResult openDevice(WinSerialLine& serial, const QString& device, const QString& baud)
{
    const win32::SerialOpenResult opened = serial.openDevice(device);
    switch (opened.failure) {
    case win32::SerialOpenFailure::None: break;
    case win32::SerialOpenFailure::InUse: return {PortFailure::InUse, {}};
    case win32::SerialOpenFailure::Missing: return {PortFailure::Missing, {}};
    case win32::SerialOpenFailure::Other: return other(serial.errorString());
    }
    if (baud.isNull())
        return {};

    bool numeric = false;
    const qint64 rate = baud.trimmed().toLongLong(&numeric);
    if (!numeric || rate <= 0 || rate > 0xFFFFFFFFLL) {
        serial.close();
        return invalidBaud(baud);
    }
    if (!serial.setLine(static_cast<quint32>(rate))) {
        const PortOpenResult failure = other(serial.errorString());
        serial.close();
        return failure;
    }
    return {};
}

#endif

} // namespace

QString comPortDevice(int port)
{
    const std::string var = comPortOverrideVariable(port);
    std::optional<std::string> override;
    if (qEnvironmentVariableIsSet(var.c_str()))
        override = qEnvironmentVariable(var.c_str()).toStdString();
    return QString::fromStdString(tk::comPortDevice(port, override, kWindows));
}

PortOpenResult openComPort(SerialLine& serial, int port, const QString& baud)
{
    QString device = comPortDevice(port);
    if (device.isEmpty())
        return {PortFailure::Missing, {}};
    if (!kWindows) {
        const QFileInfo info(device);
        if (!info.exists())
            return {PortFailure::Missing, {}};
        // The lock file is named after the path given: two names for one
        // device (a symlink and its target) must lock the same file.
        device = info.canonicalFilePath();
    }
    return openDevice(serial, device, baud);
}

PortOpenResult testComPort(int port)
{
    SerialLine serial;
    PortOpenResult result = openComPort(serial, port);
    serial.close();
    return result;
}

} // namespace tk
