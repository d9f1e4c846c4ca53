#include "engine/fleetpush.h"

#include "core/bcastrecord.h"

#include <QFileInfo>
#include <QMetaObject>
#include <QRandomGenerator>
#include <QTimer>
#include <algorithm>

namespace tk::engine {

bool isTransient(const PushResult& r, qint64 fileSize)
{
    switch (r.outcome) {
    case Outcome::NoConnection:
    case Outcome::TimedOut:
    case Outcome::ConnectionLost:
        // Once the whole file went out the terminal may be installing it:
        // a second copy is never sent.
        return r.bytes < fileSize;
    default: return false;
    }
}

QString recordCheckWord(RecordCheck c)
{
    switch (c) {
    case RecordCheck::NotAsked: return QStringLiteral("not-asked");
    case RecordCheck::Listed: return QStringLiteral("listed");
    case RecordCheck::NotListed: return QStringLiteral("not-listed");
    case RecordCheck::Unread: return QStringLiteral("unread");
    }
    return QStringLiteral("unread");
}

FleetPush::FleetPush(const QStringList& addresses, const PushOptions& options, int jobs,
                     QObject* parent)
    : QObject(parent), m_addresses(addresses), m_options(options),
      m_fileSize(QFileInfo(options.filePath).size()), m_jobs(std::clamp(jobs, 1, kMaxJobs)),
      m_results(addresses.size()), m_terminals(addresses.size())
{
    for (qsizetype i = 0; i < addresses.size(); ++i)
        m_results[i].address = addresses[i];
}

FleetPush::~FleetPush()
{
    // Sessions and record reads still running end with the fleet, without reporting.
    for (Terminal& t : m_terminals) {
        if (t.session) {
            t.session->disconnect(this);
            delete t.session;
        }
        if (t.query) {
            t.query->disconnect(this);
            delete t.query;
        }
    }
}

void FleetPush::start()
{
    if (m_addresses.isEmpty()) {
        m_allSignalled = true;
        QMetaObject::invokeMethod(this, &FleetPush::allFinished, Qt::QueuedConnection);
        return;
    }
    fill();
}

bool FleetPush::mayStartNew() const
{
    if (m_cancelled || m_halted || m_next >= count())
        return false;
    // The rest of the fleet waits until the canary group has all finished.
    const int canary = std::min(m_policy.canary, count());
    return m_next < canary || m_canaryPassed || canary <= 0;
}

void FleetPush::fill()
{
    if (m_filling)
        return; // the loop below goes on
    m_filling = true;
    while (!m_cancelled && m_active < m_jobs) {
        if (!m_ready.isEmpty()) {
            const int index = m_ready.takeFirst();
            ++m_active;
            push(index);
        } else if (mayStartNew()) {
            begin(m_next++);
        } else {
            break;
        }
    }
    m_filling = false;
    endIfDone();
}

void FleetPush::begin(int index)
{
    ++m_active;
    if (m_policy.package.isEmpty()) {
        push(index);
        return;
    }
    const QString& address = m_addresses[index];
    const auto known = m_policy.records.constFind(address);
    if (known != m_policy.records.constEnd()) {
        onRecord(index, *known);
        return;
    }
    // The listener's probe: "WHO:" on a connection of its own, with its limits.
    auto* q = new WhoProbe(this);
    m_terminals[size_t(index)].query = q;
    emit stageChanged(index, Stage::Connecting);
    connect(q, &WhoProbe::done, this, [this, index](WhoProbe::End end, const QByteArray& answer) {
        onAnswer(index, end, answer);
    });
    q->start(address, m_options.port);
}

void FleetPush::onAnswer(int index, WhoProbe::End end, const QByteArray& answer)
{
    // Only a record tells what the terminal holds; anything else leaves it unread.
    const bool record =
        end == WhoProbe::End::Answered &&
        bcast::decodeProbeReply(std::string_view(answer.constData(), size_t(answer.size()))).serial;
    onRecord(index, record ? std::optional<QByteArray>(answer) : std::nullopt);
}

void FleetPush::onRecord(int index, const std::optional<QByteArray>& record)
{
    Terminal& t = m_terminals[size_t(index)];
    if (t.query) {
        t.query->disconnect(this);
        t.query->deleteLater();
        t.query = nullptr;
    }
    if (!record) {
        t.record = RecordCheck::Unread; // pushed to as without the check
    } else {
        const QByteArray package = m_policy.package.toLatin1();
        const bool listed = bcast::recordListsPackage(
            std::string_view(record->constData(), size_t(record->size())),
            std::string_view(package.constData(), size_t(package.size())));
        t.record = listed ? RecordCheck::Listed : RecordCheck::NotListed;
        if (listed) {
            --m_active;
            PushResult r;
            r.outcome = Outcome::AlreadyInstalled;
            r.exitCode = exitCodeOf(r.outcome);
            finishTerminal(index, r);
            fill();
            return;
        }
    }
    push(index);
}

void FleetPush::push(int index)
{
    auto* s = new PushSession(m_addresses[index], m_options, this);
    m_terminals[size_t(index)].session = s;
    connect(s, &PushSession::stageChanged, this,
            [this, index](Stage st) { emit stageChanged(index, st); });
    connect(s, &PushSession::progress, this,
            [this, index](qint64 sent, qint64 total) { emit progress(index, sent, total); });
    connect(s, &PushSession::finished, this,
            [this, index](const PushResult& r) { onSessionFinished(index, r); });
    s->start();
}

void FleetPush::onSessionFinished(int index, const PushResult& result)
{
    Terminal& t = m_terminals[size_t(index)];
    if (PushSession* s = std::exchange(t.session, nullptr)) {
        s->disconnect(this);
        s->deleteLater();
    }
    --m_active;
    t.attempts.push_back(result.outcome);
    const int tries = int(t.attempts.size());
    if (!m_cancelled && tries <= m_policy.retries && isTransient(result, m_fileSize)) {
        // 2 s, 4 s, 8 s ... and up to a quarter more; the slot goes to others meanwhile.
        const qint64 base = qint64(std::max(0, m_policy.retryBaseMs)) << std::min(tries - 1, 16);
        const int waitMs = int(std::min<qint64>(
            base + QRandomGenerator::global()->bounded(base / 4 + 1), 24 * 3600 * 1000));
        t.waiting = true;
        emit retryScheduled(index, result, waitMs);
        emit stageChanged(index, Stage::Queued);
        QTimer::singleShot(waitMs, this, [this, index] {
            Terminal& w = m_terminals[size_t(index)];
            if (!w.waiting)
                return; // cancelled meanwhile
            w.waiting = false;
            m_ready.append(index);
            fill();
        });
        fill();
        return;
    }
    finishTerminal(index, result);
    fill();
}

void FleetPush::finishTerminal(int index, const PushResult& result)
{
    Terminal& t = m_terminals[size_t(index)];
    if (t.finished)
        return;
    t.finished = true;
    t.waiting = false;
    m_results[size_t(index)] = result;
    m_results[size_t(index)].address = m_addresses[index];
    ++m_done;
    const bool failed = !result.ok();
    if (failed)
        ++m_failed;
    if (index < m_policy.canary) {
        ++m_canaryDone;
        m_canaryFailed += failed ? 1 : 0;
    }
    emit terminalFinished(index, m_results[size_t(index)]);
    checkStages();
}

void FleetPush::checkStages()
{
    if (m_halted || m_cancelled)
        return;
    const int canary = std::min(m_policy.canary, count());
    if (canary > 0 && !m_canaryPassed && m_canaryDone == canary) {
        if (m_canaryFailed == 0)
            m_canaryPassed = true;
        else
            m_halted = true;
    }
    if (m_policy.maxFailures >= 0 && m_failed > m_policy.maxFailures)
        m_halted = true;
    if (m_halted)
        endUnstarted(Outcome::NotAttempted);
}

void FleetPush::endUnstarted(Outcome outcome)
{
    while (m_next < count()) {
        const int index = m_next++;
        PushResult r;
        r.outcome = outcome;
        r.exitCode = exitCodeOf(outcome);
        finishTerminal(index, r);
    }
}

void FleetPush::endIfDone()
{
    if (m_done == count() && !m_allSignalled) {
        m_allSignalled = true;
        emit allFinished();
    }
}

void FleetPush::cancel()
{
    if (m_cancelled || isFinished())
        return;
    m_cancelled = true;
    PushResult cancelled;
    cancelled.outcome = Outcome::Cancelled;
    cancelled.exitCode = exitCodeOf(Outcome::Cancelled);
    for (int index = 0; index < count(); ++index) {
        Terminal& t = m_terminals[size_t(index)];
        if (t.session) {
            t.session->cancel(); // reports through onSessionFinished
        } else if (t.query) {
            t.query->disconnect(this);
            t.query->abort();
            t.query->deleteLater();
            t.query = nullptr;
            finishTerminal(index, cancelled);
        } else if (t.waiting || m_ready.contains(index)) {
            finishTerminal(index, cancelled);
        }
    }
    m_ready.clear();
    // Queued terminals end without starting.
    endUnstarted(Outcome::Cancelled);
    if (!m_allSignalled) {
        m_allSignalled = true;
        emit allFinished();
    }
}

} // namespace tk::engine
