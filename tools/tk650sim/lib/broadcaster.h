#pragma once
// Terminals announcing themselves: each sends its record as one UDP datagram
// to a target address and port, every interval, from its own source address
// so a listener sees one sender per terminal.
#include "record.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QTimer>
#include <QUdpSocket>
#include <memory>

namespace tk::sim {

class Broadcaster : public QObject {
    Q_OBJECT
public:
    explicit Broadcaster(QObject* parent = nullptr);
    ~Broadcaster() override;

    // Adds a terminal whose datagrams leave from source (any address when
    // null). Returns false when that address cannot be bound.
    bool addTerminal(const TerminalRecord& record, const QHostAddress& source = QHostAddress());
    int terminalCount() const { return int(m_terminals.size()); }
    TerminalRecord& record(int i) { return m_terminals[i]->record; }
    QString errorString() const { return m_error; }

    // Sends one round at once, then one every intervalMs; rounds < 0 means
    // without end.
    void start(const QHostAddress& target, quint16 port, int intervalMs, int rounds = -1);
    void stop();
    // One datagram from every terminal, now. Returns the number sent.
    int sendRound();
    qint64 datagramsSent() const { return m_sent; }
    int roundsSent() const { return m_rounds; }

signals:
    void roundSent(int round);
    void finished();
    void logLine(const QString& line);

private:
    struct Terminal {
        TerminalRecord record;
        QUdpSocket socket;
    };
    QList<std::shared_ptr<Terminal>> m_terminals;
    QHostAddress m_target;
    quint16 m_port = 0;
    QTimer m_timer;
    int m_rounds = 0;
    int m_roundLimit = -1;
    qint64 m_sent = 0;
    QString m_error;
};

} // namespace tk::sim
