#pragma once
// Takes the terminals' datagrams off a bound UDP socket a batch at a time, so
// the system's buffer does not fill while rows are being updated, and hands
// them on from a 0 ms timer, a batch per pass. A datagram larger than any
// record is dropped unread; so is one that finds the queue full (a round of
// 500 terminals is about 250 KB).
#include <QByteArray>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>

class QHostAddress;
class QUdpSocket;

namespace tk {

// An address as dotted IPv4 text (an IPv4-mapped IPv6 address too).
QString dottedAddress(const QHostAddress& address);

class BcastReceiver : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void(const QString& address, const QByteArray& datagram)>;
    static constexpr qsizetype kMaxQueuedBytes = 2 * 1024 * 1024;

    BcastReceiver(QUdpSocket& socket, Handler handler, QObject* parent = nullptr);
    ~BcastReceiver() override;

    enum class BindResult { Bound, AnotherInstance, PortInUse };
    // Binds the socket to port on bindAddress (every IPv4 address when
    // empty), for this program alone: a lock file tells another instance of
    // the program apart from any other owner of the port.
    BindResult bind(const QString& bindAddress, quint16 port);
    // Closes the socket and gives the port up.
    void unbind();

    bool idle() const { return m_queue.empty(); }
    qint64 dropped() const { return m_dropped; }
    // Closing: what waits is dropped.
    void clear();

private:
    struct Datagram {
        QString address;
        QByteArray data;
    };
    void drain();
    void process();

    QUdpSocket& m_socket;
    Handler m_handler;
    std::deque<Datagram> m_queue;
    qsizetype m_queuedBytes = 0;
    qint64 m_dropped = 0;
    QTimer m_timer;
    std::unique_ptr<QLockFile> m_lock;
};

} // namespace tk
