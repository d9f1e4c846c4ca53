#include "listener/probescheduler.h"

#include "core/bcastrecord.h"
#include "listener/devicetable.h"

#include <QTcpSocket>
#include <algorithm>

namespace tk {

namespace {

// A reply is read up to one byte beyond the largest record: more is an
// answer, but not a record.
constexpr qint64 kReadBytes = static_cast<qint64>(bcast::kMaxRecordBytes) + 1;
constexpr int kTickMs = 200;
constexpr int kConnectTicks = 5; // five 200 ms pauses
constexpr int kReplyTicks = 25;  // twenty-five 200 ms pauses

const QString kRefreshing = QStringLiteral("Refreshing...");
const QString kDisconnected = QStringLiteral("Disconnected");
const QString kBusy = QStringLiteral("Busy");
const QString kWaiting = QStringLiteral("Waiting for download");

} // namespace

ProbeScheduler::ProbeScheduler(DeviceTable& table, std::function<quint16()> daemonPort,
                               std::function<bool(const QString&)> ownConnection, QObject* parent)
    : QObject(parent), m_table(table), m_port(std::move(daemonPort)),
      m_ownConnection(std::move(ownConnection))
{
    m_refreshEnd.setSingleShot(true);
    m_refreshEnd.setInterval(500); // the bar stays full for a moment
    connect(&m_refreshEnd, &QTimer::timeout, this, &ProbeScheduler::endRefresh);
}

ProbeScheduler::~ProbeScheduler()
{
    // The slots go before the sockets (children, deleted later): a socket
    // ending its connection then must not reach its slot.
    for (auto& p : m_probes) {
        QObject::disconnect(p->socket, nullptr, this, nullptr);
        QObject::disconnect(p->timer, nullptr, this, nullptr);
    }
}

int ProbeScheduler::running() const
{
    return static_cast<int>(std::count_if(m_probes.begin(), m_probes.end(),
                                          [](const auto& p) { return p->phase != Phase::Idle; }));
}

bool ProbeScheduler::isProbing(const QString& serial) const
{
    return std::any_of(m_probes.begin(), m_probes.end(), [&](const auto& p) {
        return p->phase != Phase::Idle && p->serial == serial;
    });
}

void ProbeScheduler::queue(const QString& serial, bool byBroadcast)
{
    if (m_shutDown || isProbing(serial) || m_held.contains(serial))
        return;
    if (m_queued.contains(serial)) {
        if (byBroadcast)
            for (auto& q : m_queue)
                if (q.serial == serial)
                    q.byBroadcast = true;
        return;
    }
    m_queue.push_back({serial, byBroadcast});
    m_queued.insert(serial);
    startSoon();
}

void ProbeScheduler::startSoon()
{
    if (m_startQueued || m_queue.empty())
        return;
    m_startQueued = true;
    QMetaObject::invokeMethod(this, &ProbeScheduler::startNext, Qt::QueuedConnection);
}

ProbeScheduler::Probe* ProbeScheduler::freeProbe()
{
    for (auto& p : m_probes)
        if (p->phase == Phase::Idle)
            return p.get();
    if (m_probes.size() >= static_cast<std::size_t>(kMaxProbes))
        return nullptr;
    auto probe = std::make_unique<Probe>();
    Probe* p = probe.get();
    p->socket = new QTcpSocket(this);
    p->socket->setObjectName(QStringLiteral("tcpClient"));
    p->socket->setReadBufferSize(kReadBytes);
    p->timer = new QTimer(this);
    p->timer->setInterval(kTickMs);
    connect(p->socket, &QTcpSocket::connected, this, [this, p] { onConnected(*p); });
    connect(p->socket, &QTcpSocket::readyRead, this, [this, p] { onData(*p); });
    connect(p->socket, &QTcpSocket::disconnected, this, [this, p] { onGone(*p); });
    connect(p->socket, &QTcpSocket::errorOccurred, this, [this, p] { onGone(*p); });
    connect(p->timer, &QTimer::timeout, this, [this, p] { onTick(*p); });
    m_probes.push_back(std::move(probe));
    return p;
}

void ProbeScheduler::startNext()
{
    m_startQueued = false;
    while (!m_shutDown && !m_queue.empty()) {
        Probe* p = freeProbe();
        if (!p)
            return; // the next one starts when a probe finishes
        const QString serial = m_queue.front().serial;
        m_queue.pop_front();
        m_queued.remove(serial);
        const int row = m_table.rowOf(serial);
        if (row < 0 || m_held.contains(serial)) {
            counted(serial); // removed, or downloaded to, while it waited
            continue;
        }
        m_table.setText(row, DeviceTable::colStatus, kRefreshing);
        p->serial = serial;
        p->address = m_table.at(m_table.rowOf(serial)).address;
        p->phase = Phase::Connecting;
        p->ticks = 0;
        p->replied = false;
        p->timer->start();
        p->socket->abort();
        p->socket->connectToHost(p->address, m_port());
    }
}

void ProbeScheduler::onTick(Probe& p)
{
    ++p.ticks;
    if (p.phase == Phase::Connecting && p.ticks >= kConnectTicks)
        finish(p, kDisconnected);
    else if (p.phase == Phase::AwaitingReply && p.ticks >= kReplyTicks)
        finish(p, kBusy);
}

void ProbeScheduler::onConnected(Probe& p)
{
    if (p.phase != Phase::Connecting)
        return;
    // The program's own connection to this terminal: it is busy with us.
    if (m_ownConnection && m_ownConnection(p.address)) {
        finish(p, kBusy);
        return;
    }
    p.phase = Phase::AwaitingReply;
    p.ticks = 0;
    p.timer->start(); // the reply wait counts from here
    p.replied = false;
    ++m_sent;
    emit traced(QStringLiteral("WHO:"), false);
    p.socket->write("WHO:", 4);
}

void ProbeScheduler::onData(Probe& p)
{
    if (p.phase != Phase::AwaitingReply)
        return;
    handleReply(p);
    if (p.replied)
        finish(p, kWaiting);
}

void ProbeScheduler::onGone(Probe& p)
{
    switch (p.phase) {
    case Phase::Idle: return;
    case Phase::Connecting:
        if (p.socket->state() != QAbstractSocket::ConnectedState)
            finish(p, kDisconnected);
        return;
    case Phase::AwaitingReply:
        if (p.socket->bytesAvailable() > 0)
            handleReply(p);
        finish(p, p.replied ? kWaiting : kBusy);
        return;
    }
}

// Each arrival is one whole reply; nothing is kept across arrivals.
void ProbeScheduler::handleReply(Probe& p)
{
    const QByteArray bytes = p.socket->read(kReadBytes);
    if (m_table.applyProbeReply(bytes)) {
        p.replied = true;
        emit traced(QString::fromLatin1(bytes), true);
    }
}

void ProbeScheduler::finish(Probe& p, const QString& status)
{
    if (p.phase == Phase::Idle)
        return;
    p.phase = Phase::Idle;
    p.timer->stop();
    p.socket->abort();
    const QString serial = std::exchange(p.serial, QString());
    // A row a download started on while it was probed keeps the download's status.
    if (!m_held.contains(serial))
        m_table.setStatus(serial, status);
    counted(serial);
    startSoon();
}

void ProbeScheduler::giveUp(Probe& p)
{
    if (p.phase == Phase::Connecting)
        finish(p, kDisconnected);
    else if (p.phase == Phase::AwaitingReply)
        finish(p, kBusy);
}

void ProbeScheduler::stop()
{
    if (m_refreshing) {
        // Rows that only the Refresh queued are dropped first, so that giving
        // up the probes under way does not start them; a broadcast's stay.
        std::deque<Queued> keep;
        for (auto& q : m_queue) {
            if (q.byBroadcast)
                keep.push_back(q);
            else
                m_queued.remove(q.serial);
        }
        m_queue.swap(keep);
    }
    for (auto& p : m_probes)
        giveUp(*p);
    if (m_refreshing) {
        m_refreshPending.clear();
        m_refreshEnd.stop();
        endRefresh();
    }
}

void ProbeScheduler::shutDown()
{
    m_shutDown = true;
    m_queue.clear();
    m_queued.clear();
    m_refreshPending.clear();
    m_refreshEnd.stop();
    for (auto& p : m_probes) {
        p->phase = Phase::Idle;
        p->timer->stop();
        p->socket->abort();
    }
}

void ProbeScheduler::hold(const QStringList& serials)
{
    for (const QString& s : serials)
        m_held.insert(s);
}

void ProbeScheduler::release()
{
    m_held.clear();
}

void ProbeScheduler::refresh()
{
    if (m_refreshing || m_shutDown)
        return;
    m_refreshing = true;
    emit refreshStarted();
    m_refreshPending.clear();
    m_refreshDone = 0;
    for (int i = 0; i < m_table.count(); ++i) {
        const QString& serial = m_table.at(i).serial;
        if (m_held.contains(serial))
            continue; // a running download's rows are left to it
        m_refreshPending.insert(serial);
        queue(serial, false);
    }
    if (m_refreshPending.isEmpty())
        m_refreshEnd.start();
}

void ProbeScheduler::counted(const QString& serial)
{
    if (!m_refreshing || !m_refreshPending.remove(serial))
        return;
    ++m_refreshDone;
    const int rows = std::max(1, m_table.count());
    emit refreshProgress(std::min(100, static_cast<int>(m_refreshDone * 100.0f / rows)));
    if (m_refreshPending.isEmpty())
        m_refreshEnd.start();
}

void ProbeScheduler::endRefresh()
{
    m_refreshing = false;
    emit refreshEnded();
}

} // namespace tk
