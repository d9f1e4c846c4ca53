#include "listener/bcastreceiver.h"

#include "core/bcastrecord.h"

#include <QDir>
#include <QNetworkDatagram>
#include <QUdpSocket>

namespace tk {

namespace {

constexpr int kBatch = 512; // datagrams handed on per pass
// Datagrams taken off the socket per readyRead: a sender that keeps the
// socket full cannot keep the program from its other events.
constexpr int kDrainBatch = 2048;
constexpr int kReceiveBuffer = 8 * 1024 * 1024;

} // namespace

QString dottedAddress(const QHostAddress& address)
{
    bool ok = false;
    const quint32 v4 = address.toIPv4Address(&ok);
    return ok ? QHostAddress(v4).toString() : address.toString();
}

BcastReceiver::BcastReceiver(QUdpSocket& socket, Handler handler, QObject* parent)
    : QObject(parent), m_socket(socket), m_handler(std::move(handler))
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(0);
    connect(&m_timer, &QTimer::timeout, this, &BcastReceiver::process);
    connect(&m_socket, &QUdpSocket::readyRead, this, &BcastReceiver::drain);
}

BcastReceiver::~BcastReceiver() = default;

BcastReceiver::BindResult BcastReceiver::bind(const QString& bindText, quint16 port)
{
    const QHostAddress address =
        bindText.isEmpty() ? QHostAddress(QHostAddress::AnyIPv4) : QHostAddress(bindText);
    if (!m_lock) {
        const QString lockName = QStringLiteral("Tk650Downloader-bcast-%1-%2.lock")
                                     .arg(bindText.isEmpty() ? QStringLiteral("any") : bindText)
                                     .arg(port);
        m_lock = std::make_unique<QLockFile>(QDir::temp().filePath(lockName));
        m_lock->setStaleLockTime(0);
        if (!m_lock->tryLock(0)) {
            const bool held = m_lock->error() == QLockFile::LockFailedError;
            m_lock.reset();
            if (held)
                return BindResult::AnotherInstance;
        }
    }
    if (m_socket.state() != QAbstractSocket::UnconnectedState)
        m_socket.close();
    // No ShareAddress/ReuseAddressHint: a second owner of the port must fail.
    if (!m_socket.bind(address, port, QAbstractSocket::DontShareAddress)) {
        m_lock.reset();
        return BindResult::PortInUse;
    }
    m_socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, kReceiveBuffer);
    return BindResult::Bound;
}

void BcastReceiver::unbind()
{
    clear();
    m_socket.close();
    m_lock.reset();
}

void BcastReceiver::clear()
{
    m_timer.stop();
    m_queue.clear();
    m_queuedBytes = 0;
}

// Whatever is still pending after a batch raises readyRead again on the next pass.
void BcastReceiver::drain()
{
    for (int n = 0; n < kDrainBatch && m_socket.hasPendingDatagrams(); ++n) {
        const qint64 size = m_socket.pendingDatagramSize();
        if (size < 0 || size > static_cast<qint64>(bcast::kMaxRecordBytes) ||
            m_queuedBytes + size > kMaxQueuedBytes) {
            m_socket.receiveDatagram(0);
            ++m_dropped;
            continue;
        }
        QNetworkDatagram datagram = m_socket.receiveDatagram(size);
        m_queuedBytes += datagram.data().size();
        m_queue.push_back({dottedAddress(datagram.senderAddress()), datagram.data()});
    }
    if (!m_queue.empty() && !m_timer.isActive())
        m_timer.start();
}

void BcastReceiver::process()
{
    for (int n = 0; n < kBatch && !m_queue.empty(); ++n) {
        Datagram d = std::move(m_queue.front());
        m_queue.pop_front();
        m_queuedBytes -= d.data.size();
        m_handler(d.address, d.data);
    }
    if (!m_queue.empty())
        m_timer.start();
}

} // namespace tk
