#include "broadcaster.h"

namespace tk::sim {

Broadcaster::Broadcaster(QObject* parent) : QObject(parent)
{
    connect(&m_timer, &QTimer::timeout, this, [this] {
        sendRound();
        if (m_roundLimit >= 0 && m_rounds >= m_roundLimit) {
            m_timer.stop();
            emit finished();
        }
    });
}

Broadcaster::~Broadcaster() = default;

bool Broadcaster::addTerminal(const TerminalRecord& record, const QHostAddress& source)
{
    auto t = std::make_shared<Terminal>();
    t->record = record;
    if (!source.isNull() && !t->socket.bind(source, 0)) {
        m_error = QStringLiteral("cannot send from %1: %2")
                      .arg(source.toString(), t->socket.errorString());
        return false;
    }
    m_terminals.append(t);
    return true;
}

void Broadcaster::start(const QHostAddress& target, quint16 port, int intervalMs, int rounds)
{
    m_target = target;
    m_port = port;
    m_roundLimit = rounds;
    m_rounds = 0;
    if (rounds == 0) {
        emit finished();
        return;
    }
    m_timer.start(std::max(1, intervalMs));
    sendRound();
    if (m_roundLimit >= 0 && m_rounds >= m_roundLimit) {
        m_timer.stop();
        emit finished();
    }
}

void Broadcaster::stop()
{
    m_timer.stop();
}

int Broadcaster::sendRound()
{
    int sent = 0;
    for (const auto& t : m_terminals) {
        const QByteArray bytes = t->record.toBytes();
        if (t->socket.writeDatagram(bytes, m_target, m_port) == bytes.size())
            ++sent;
        else
            emit logLine(QStringLiteral("bcast %1: %2")
                             .arg(QString::fromLatin1(t->record.serial), t->socket.errorString()));
    }
    m_sent += sent;
    ++m_rounds;
    emit logLine(QStringLiteral("bcast round %1: %2 datagrams to %3:%4")
                     .arg(m_rounds)
                     .arg(sent)
                     .arg(m_target.toString())
                     .arg(m_port));
    emit roundSent(m_rounds);
    return sent;
}

} // namespace tk::sim
