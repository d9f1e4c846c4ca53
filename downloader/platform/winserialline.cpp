#ifdef _WIN32
#include "platform/winserialline.h"

namespace tk {

WinSerialLine::WinSerialLine(QObject* parent) : QIODevice(parent)
{
    m_poll.setInterval(kPollMs);
    connect(&m_poll, &QTimer::timeout, this, &WinSerialLine::poll);
}

WinSerialLine::~WinSerialLine()
{
    close();
}

win32::SerialOpenResult WinSerialLine::openDevice(const QString& name)
{
    close();
    const win32::SerialOpenResult result = m_port.open(name.toStdWString());
    if (!result.ok()) {
        noteSystemError();
        return result;
    }
    // Unbuffered: what is read comes straight from the driver, within the
    // limit of the current look.
    QIODevice::open(QIODevice::ReadWrite | QIODevice::Unbuffered);
    m_readBudget = kReadLimit;
    m_notified = 0;
    m_poll.start();
    return result;
}

bool WinSerialLine::setLine(quint32 baud)
{
    if (m_port.setLine(baud))
        return true;
    noteSystemError();
    return false;
}

void WinSerialLine::close()
{
    m_poll.stop();
    if (isOpen())
        QIODevice::close();
    m_port.close();
}

qint64 WinSerialLine::bytesAvailable() const
{
    const long long waiting = m_port.pending();
    return QIODevice::bytesAvailable() + (waiting > 0 ? waiting : 0);
}

qint64 WinSerialLine::readData(char* data, qint64 maxSize)
{
    const qint64 wanted = qMin(maxSize, m_readBudget);
    if (wanted <= 0)
        return 0;
    const long long got = m_port.read(data, wanted);
    if (got < 0) {
        noteSystemError();
        return -1;
    }
    m_readBudget -= got;
    m_notified = 0; // whatever arrives from now on is news
    return got;
}

qint64 WinSerialLine::writeData(const char* data, qint64 maxSize)
{
    const long long written = m_port.write(data, maxSize);
    if (written < 0)
        noteSystemError();
    return written;
}

void WinSerialLine::poll()
{
    m_readBudget = kReadLimit;
    const long long waiting = m_port.pending();
    if (waiting > 0 && waiting != m_notified) {
        m_notified = waiting;
        emit readyRead();
    }
}

void WinSerialLine::noteSystemError()
{
    setErrorString(QString::fromStdWString(win32::systemErrorText(m_port.lastError())));
}

} // namespace tk
#endif
