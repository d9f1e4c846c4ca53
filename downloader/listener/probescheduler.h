#pragma once
// The "WHO:" probes of the device table's rows. Up to kMaxProbes probes run
// at once, each on its own connection with its own waits, so a terminal that
// accepts and never answers costs its own five seconds, not everyone's. Rows
// wait in a queue; a row that is queued or being probed is not queued again,
// so no row is probed twice at the same time. A row keeps its last status
// until its own probe starts. The waits are counted in 200 ms ticks: five
// while connecting, twenty-five for the reply. A Refresh probes every row and
// reports its progress.
#include "listener/whoprobe.h"

#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

class QTcpSocket;

namespace tk {

class DeviceTable;

class ProbeScheduler : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxProbes = 32;

    // daemonPort: the port the probes connect to (read at each probe);
    // ownConnection: true when the program's own download connection is open
    // to that address (the row is then "Busy" without "WHO:").
    ProbeScheduler(DeviceTable& table, std::function<quint16()> daemonPort,
                   std::function<bool(const QString& address)> ownConnection,
                   QObject* parent = nullptr);
    ~ProbeScheduler() override;

    // Queues the row's probe (a broadcast's, or a Refresh's).
    void queue(const QString& serial, bool byBroadcast);
    void refresh();
    bool isRefreshing() const { return m_refreshing; }
    // Escape: probes under way give up (connecting: "Disconnected", waiting
    // for the reply: "Busy"); a Refresh ends after them.
    void stop();
    // Closing: nothing runs or starts any more.
    void shutDown();

    // Rows a download owns: no probe touches (or connects to) them until released.
    void hold(const QStringList& serials);
    void release();
    void forget(const QString& serial) { m_held.remove(serial); }

    bool idle() const { return running() == 0 && m_queue.empty(); }
    int running() const;
    int sent() const { return m_sent; }

signals:
    // A line of the probe exchange for the debug console.
    void traced(const QString& line, bool received);
    void refreshStarted();
    // The Refresh's progress, 0 to 100.
    void refreshProgress(int percent);
    void refreshEnded();

private:
    struct Probe {
        WhoProbe* exchange = nullptr;
        QString serial;
        QString address;
    };
    struct Queued {
        QString serial;
        bool byBroadcast = false;
    };

    Probe* freeProbe();
    bool isProbing(const QString& serial) const;
    void startSoon();
    void startNext();
    void onDone(Probe& p, WhoProbe::End end, const QByteArray& answer);
    void counted(const QString& serial);
    void endRefresh();

    DeviceTable& m_table;
    std::function<quint16()> m_port;
    std::function<bool(const QString&)> m_ownConnection;
    std::deque<Queued> m_queue;
    QSet<QString> m_queued;
    std::vector<std::unique_ptr<Probe>> m_probes; // created as needed, kMaxProbes at most
    bool m_startQueued = false;
    bool m_shutDown = false;
    int m_sent = 0;
    QSet<QString> m_held;

    bool m_refreshing = false;
    QSet<QString> m_refreshPending;
    int m_refreshDone = 0;
    QTimer m_refreshEnd;
};

} // namespace tk
