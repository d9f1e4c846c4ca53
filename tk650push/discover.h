#pragma once
// Finding terminals by their broadcasts: every sender of a datagram that is a
// terminal record, within a time, becomes a terminal to push to. Everything
// taken from the network is bounded: the time, the bytes of one datagram and
// of all of them, and the number of terminals kept.
#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QTimer>
#include <QUdpSocket>

namespace tk::push {

class Discovery : public QObject {
    Q_OBJECT
public:
    explicit Discovery(int maxTerminals, QObject* parent = nullptr);

    // Listens on address:port for seconds. False (errorString) when the port
    // cannot be bound.
    bool start(const QHostAddress& address, quint16 port, int seconds);
    // Ends the listening now; finished() follows from the event loop.
    void stop();

    const QStringList& addresses() const { return m_addresses; }
    // The last record each address broadcast.
    const QHash<QString, QByteArray>& records() const { return m_records; }
    QString errorString() const { return m_error; }
    // Set when a bound was reached (what was dropped, for a note).
    QString limitNote() const { return m_limitNote; }

    // All datagrams together, at most.
    static constexpr qint64 kMaxTotalBytes = 64 * 1024 * 1024;

signals:
    void found(const QString& address);
    void finished();

private:
    void readDatagrams();

    int m_maxTerminals;
    QUdpSocket m_socket;
    QTimer m_timer;
    QStringList m_addresses;
    QSet<QString> m_seen;
    QHash<QString, QByteArray> m_records;
    qint64 m_bytes = 0;
    bool m_done = false;
    QString m_error;
    QString m_limitNote;
};

} // namespace tk::push
