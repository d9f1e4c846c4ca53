#include "engine/recordquery.h"

#include "core/bcastrecord.h"

#include <string_view>

namespace tk::engine {

namespace {
// One byte more than a record may have tells a reply that is too large.
constexpr qint64 kReadBytes = qint64(bcast::kMaxRecordBytes) + 1;
} // namespace

RecordQuery::RecordQuery(const QString& address, quint16 port, QObject* parent)
    : QObject(parent), m_address(address), m_port(port)
{
    m_socket.setReadBufferSize(kReadBytes);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] { finish(std::nullopt); });
    connect(&m_socket, &QTcpSocket::connected, this, [this] {
        m_asked = true;
        m_timer.start(kReplyMs); // the reply wait counts from here
        m_socket.write("WHO:", 4);
    });
    connect(&m_socket, &QTcpSocket::readyRead, this, &RecordQuery::onData);
    connect(&m_socket, &QTcpSocket::disconnected, this, [this] { onData(); });
    connect(&m_socket, &QTcpSocket::errorOccurred, this, [this] { onData(); });
}

void RecordQuery::start()
{
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_finished)
                return;
            m_timer.start(kConnectMs);
            m_socket.connectToHost(m_address, m_port);
        },
        Qt::QueuedConnection);
}

void RecordQuery::abort()
{
    m_finished = true;
    m_timer.stop();
    m_socket.abort();
}

void RecordQuery::onData()
{
    if (m_finished)
        return;
    if (!m_asked || m_socket.bytesAvailable() <= 0) {
        if (m_socket.state() != QAbstractSocket::ConnectedState)
            finish(std::nullopt); // refused, reset or closed without a reply
        return;
    }
    const QByteArray bytes = m_socket.read(kReadBytes);
    const auto reply =
        bcast::decodeProbeReply(std::string_view(bytes.constData(), size_t(bytes.size())));
    if (reply.serial)
        finish(bytes);
    else
        finish(std::nullopt);
}

void RecordQuery::finish(std::optional<QByteArray> record)
{
    if (m_finished)
        return;
    abort();
    emit done(record);
}

} // namespace tk::engine
