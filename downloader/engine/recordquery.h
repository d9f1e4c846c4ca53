#pragma once
// Reads one terminal's record by asking its daemon "WHO:" on a connection of
// its own, with the listener's probe limits: one second to connect, five for
// the reply. The first arrival is the whole reply, as for the probes.
#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTcpSocket>
#include <QTimer>
#include <optional>

namespace tk::engine {

class RecordQuery : public QObject {
    Q_OBJECT
public:
    static constexpr int kConnectMs = 1000;
    static constexpr int kReplyMs = 5000;

    RecordQuery(const QString& address, quint16 port, QObject* parent = nullptr);

    // Starts from the event loop; done() always follows, never from inside start().
    void start();
    // Ends at once without emitting done().
    void abort();

signals:
    // The record, or nothing when the daemon could not be reached, did not
    // answer in time or answered something that is not a record.
    void done(const std::optional<QByteArray>& record);

private:
    void finish(std::optional<QByteArray> record);
    void onData();

    QString m_address;
    quint16 m_port;
    QTcpSocket m_socket;
    QTimer m_timer;
    bool m_asked = false;
    bool m_finished = false;
};

} // namespace tk::engine
