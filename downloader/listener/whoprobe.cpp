#include "listener/whoprobe.h"

#include "core/bcastrecord.h"

#include <QTcpSocket>

namespace tk {

namespace {
constexpr qint64 kReadBytes = static_cast<qint64>(bcast::kMaxRecordBytes) + 1;
constexpr int kTickMs = 200;
constexpr int kConnectTicks = 5; // five 200 ms pauses
constexpr int kReplyTicks = 25;  // twenty-five 200 ms pauses
} // namespace

WhoProbe::WhoProbe(QObject* parent, std::function<bool()> skipOnConnect)
    : QObject(parent), m_socket(new QTcpSocket(this)), m_skip(std::move(skipOnConnect))
{
    m_socket->setObjectName(QStringLiteral("tcpClient"));
    m_socket->setReadBufferSize(kReadBytes);
    m_timer.setInterval(kTickMs);
    connect(m_socket, &QTcpSocket::connected, this, &WhoProbe::onConnected);
    connect(m_socket, &QTcpSocket::readyRead, this, &WhoProbe::onData);
    connect(m_socket, &QTcpSocket::disconnected, this, &WhoProbe::onGone);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &WhoProbe::onGone);
    connect(&m_timer, &QTimer::timeout, this, &WhoProbe::onTick);
}

WhoProbe::~WhoProbe()
{
    // The socket (a child) goes after this: its last signals must not reach us.
    m_socket->disconnect(this);
}

void WhoProbe::start(const QString& address, quint16 port)
{
    m_phase = Phase::Connecting;
    m_ticks = 0;
    m_timer.start();
    m_socket->abort();
    m_socket->connectToHost(address, port);
}

void WhoProbe::onTick()
{
    ++m_ticks;
    if (m_phase == Phase::Connecting && m_ticks >= kConnectTicks)
        finish(End::NotConnected);
    else if (m_phase == Phase::AwaitingReply && m_ticks >= kReplyTicks)
        finish(End::NoAnswer);
}

void WhoProbe::onConnected()
{
    if (m_phase != Phase::Connecting)
        return;
    if (m_skip && m_skip()) {
        finish(End::Skipped);
        return;
    }
    m_phase = Phase::AwaitingReply;
    m_ticks = 0;
    m_timer.start(); // the reply wait counts from here
    emit asked();
    m_socket->write("WHO:", 4);
}

// Each arrival is one whole answer; nothing is kept across arrivals.
void WhoProbe::onData()
{
    if (m_phase != Phase::AwaitingReply || m_socket->bytesAvailable() <= 0)
        return;
    finish(End::Answered, m_socket->read(kReadBytes));
}

void WhoProbe::onGone()
{
    switch (m_phase) {
    case Phase::Idle: return;
    case Phase::Connecting:
        if (m_socket->state() != QAbstractSocket::ConnectedState)
            finish(End::NotConnected);
        return;
    case Phase::AwaitingReply:
        if (m_socket->bytesAvailable() > 0)
            onData();
        else
            finish(End::NoAnswer);
        return;
    }
}

void WhoProbe::giveUp()
{
    if (m_phase == Phase::Connecting)
        finish(End::NotConnected);
    else if (m_phase == Phase::AwaitingReply)
        finish(End::NoAnswer);
}

void WhoProbe::abort()
{
    m_phase = Phase::Idle;
    m_timer.stop();
    m_socket->abort();
}

void WhoProbe::finish(End end, const QByteArray& answer)
{
    if (m_phase == Phase::Idle)
        return;
    abort();
    emit done(end, answer);
}

} // namespace tk
