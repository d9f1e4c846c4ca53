#include "engine/fleetpush.h"

#include <QMetaObject>
#include <algorithm>

namespace tk::engine {

FleetPush::FleetPush(const QStringList& addresses, const PushOptions& options, int jobs,
                     QObject* parent)
    : QObject(parent), m_addresses(addresses), m_options(options),
      m_jobs(std::clamp(jobs, 1, kMaxJobs)), m_results(addresses.size()),
      m_running(addresses.size(), nullptr)
{
    for (qsizetype i = 0; i < addresses.size(); ++i)
        m_results[i].address = addresses[i];
}

FleetPush::~FleetPush()
{
    // Sessions still running end with the fleet, without reporting.
    for (PushSession* s : m_running)
        if (s) {
            s->disconnect(this);
            delete s;
        }
}

void FleetPush::start()
{
    if (m_addresses.isEmpty()) {
        QMetaObject::invokeMethod(this, &FleetPush::allFinished, Qt::QueuedConnection);
        return;
    }
    for (int i = 0; i < m_jobs; ++i)
        startNext();
}

void FleetPush::startNext()
{
    while (m_next < count() && !m_cancelled) {
        const int index = m_next++;
        auto* s = new PushSession(m_addresses[index], m_options, this);
        m_running[index] = s;
        connect(s, &PushSession::stageChanged, this,
                [this, index](Stage st) { emit stageChanged(index, st); });
        connect(s, &PushSession::progress, this,
                [this, index](qint64 sent, qint64 total) { emit progress(index, sent, total); });
        connect(s, &PushSession::finished, this,
                [this, index](const PushResult& r) { onFinished(index, r); });
        s->start();
        return;
    }
}

void FleetPush::onFinished(int index, const PushResult& result)
{
    PushSession* s = m_running[index];
    m_running[index] = nullptr;
    if (s) {
        s->disconnect(this);
        s->deleteLater();
    }
    m_results[index] = result;
    ++m_done;
    if (!result.ok())
        ++m_failed;
    emit terminalFinished(index, m_results[index]);
    if (m_cancelled)
        return;
    startNext();
    if (m_done == count())
        emit allFinished();
}

void FleetPush::cancel()
{
    if (m_cancelled || isFinished())
        return;
    m_cancelled = true;
    for (PushSession* s : std::vector<PushSession*>(m_running))
        if (s)
            s->cancel();
    // Queued terminals end without starting.
    while (m_next < count()) {
        const int index = m_next++;
        PushResult r;
        r.address = m_addresses[index];
        r.outcome = Outcome::Cancelled;
        r.exitCode = exitCodeOf(Outcome::Cancelled);
        m_results[index] = r;
        ++m_done;
        ++m_failed;
        emit terminalFinished(index, m_results[index]);
    }
    emit allFinished();
}

} // namespace tk::engine
