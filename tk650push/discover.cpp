#include "discover.h"

#include "core/bcastrecord.h"

#include <string_view>

namespace tk::push {

Discovery::Discovery(int maxTerminals, QObject* parent)
    : QObject(parent), m_maxTerminals(maxTerminals)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &Discovery::stop);
    connect(&m_socket, &QUdpSocket::readyRead, this, &Discovery::readDatagrams);
}

bool Discovery::start(const QHostAddress& address, quint16 port, int seconds)
{
    if (!m_socket.bind(address, port)) {
        m_error = QStringLiteral("cannot listen for broadcasts on %1:%2: %3")
                      .arg(address.toString())
                      .arg(port)
                      .arg(m_socket.errorString());
        return false;
    }
    m_timer.start(seconds * 1000);
    return true;
}

void Discovery::stop()
{
    if (m_done)
        return;
    m_done = true;
    m_timer.stop();
    m_socket.close();
    QMetaObject::invokeMethod(this, &Discovery::finished, Qt::QueuedConnection);
}

void Discovery::readDatagrams()
{
    // One byte more than a record may have tells a datagram that is too large;
    // the rest of it is dropped by the system.
    QByteArray buffer(qsizetype(bcast::kMaxRecordBytes) + 1, Qt::Uninitialized);
    while (!m_done && m_socket.hasPendingDatagrams()) {
        QHostAddress sender;
        const qint64 n = m_socket.readDatagram(buffer.data(), buffer.size(), &sender);
        if (n < 0)
            break;
        m_bytes += n;
        if (m_bytes > kMaxTotalBytes) {
            m_limitNote = QStringLiteral("stopped listening after %1 MiB of broadcasts")
                              .arg(kMaxTotalBytes / (1024 * 1024));
            stop();
            return;
        }
        bool isV4 = false;
        const quint32 v4 = sender.toIPv4Address(&isV4);
        if (!isV4 ||
            !bcast::recordSerial(std::string_view(buffer.constData(), size_t(n))).has_value())
            continue;
        const QString address = QHostAddress(v4).toString();
        if (m_seen.contains(address)) {
            m_records[address] = QByteArray(buffer.constData(), n); // the latest counts
            continue;
        }
        if (m_addresses.size() >= m_maxTerminals) {
            m_limitNote =
                QStringLiteral("more than %1 terminals broadcast; the others are left out")
                    .arg(m_maxTerminals);
            continue;
        }
        m_seen.insert(address);
        m_addresses << address;
        m_records.insert(address, QByteArray(buffer.constData(), n));
        emit found(address);
    }
}

} // namespace tk::push
