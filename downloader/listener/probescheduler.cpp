#include "listener/probescheduler.h"

#include "core/bcastrecord.h"
#include "listener/devicetable.h"

#include <algorithm>

namespace tk {

namespace {

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
    // The exchanges (children, deleted later) must not reach a slot of ours.
    for (auto& p : m_probes)
        p->exchange->disconnect(this);
}

int ProbeScheduler::running() const
{
    return static_cast<int>(std::count_if(m_probes.begin(), m_probes.end(),
                                          [](const auto& p) { return p->exchange->running(); }));
}

bool ProbeScheduler::isProbing(const QString& serial) const
{
    return std::any_of(m_probes.begin(), m_probes.end(), [&](const auto& p) {
        return p->exchange->running() && p->serial == serial;
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
        if (!p->exchange->running())
            return p.get();
    if (m_probes.size() >= static_cast<std::size_t>(kMaxProbes))
        return nullptr;
    auto probe = std::make_unique<Probe>();
    Probe* p = probe.get();
    // The program's own connection to this terminal: it is busy with us.
    p->exchange =
        new WhoProbe(this, [this, p] { return m_ownConnection && m_ownConnection(p->address); });
    connect(p->exchange, &WhoProbe::asked, this, [this] {
        ++m_sent;
        emit traced(QStringLiteral("WHO:"), false);
    });
    connect(p->exchange, &WhoProbe::done, this,
            [this, p](WhoProbe::End end, const QByteArray& answer) { onDone(*p, end, answer); });
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
        p->exchange->start(p->address, m_port());
    }
}

void ProbeScheduler::onDone(Probe& p, WhoProbe::End end, const QByteArray& answer)
{
    QString status = kBusy; // connected, but no answer (or our own connection)
    if (end == WhoProbe::End::NotConnected) {
        status = kDisconnected;
    } else if (end == WhoProbe::End::Answered && m_table.applyProbeReply(answer)) {
        status = kWaiting;
        emit traced(QString::fromLatin1(answer), true);
    }
    const QString serial = std::exchange(p.serial, QString());
    // A row a download started on while it was probed keeps the download's status.
    if (!m_held.contains(serial))
        m_table.setStatus(serial, status);
    counted(serial);
    startSoon();
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
        p->exchange->giveUp();
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
    for (auto& p : m_probes)
        p->exchange->abort();
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
