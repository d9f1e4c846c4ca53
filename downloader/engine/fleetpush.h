#pragma once
// One file to many terminals: a PushSession per terminal, at most `jobs` at
// once, the rest queued in order. Memory is bounded by the sessions running
// (one chunk each). Driven by the event loop.
//
// A policy (setPolicy, before start) adds what deployments ask for: tries
// again what failed for a passing reason, skips terminals whose record
// already lists the package, and stages the rollout (a canary group first,
// a bound on failures). A terminal waiting for its next try holds no job slot.
#include "engine/pushsession.h"
#include "listener/whoprobe.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QStringList>
#include <optional>
#include <vector>

namespace tk::engine {

struct FleetPolicy {
    // Further tries of a terminal whose outcome is transient (isTransient).
    int retries = 0;
    // The wait before the first further try; each next one doubles it. A
    // quarter of it again at most is added at random, so a fleet's retries
    // do not all come at once.
    int retryBaseMs = 2000;
    // The first `canary` terminals go first; the rest only when all of them
    // succeeded, else they end NotAttempted.
    int canary = 0;
    // Once more than this many terminals failed, none starts any more (they
    // end NotAttempted). Negative: no bound.
    int maxFailures = -1;
    // "name;version": a terminal whose record lists it ends AlreadyInstalled
    // with nothing sent. Empty: every terminal is pushed to.
    QString package;
    // Records already known (a terminal's broadcast), by address; the others
    // are read with "WHO:". A terminal whose record cannot be read is pushed to.
    QHash<QString, QByteArray> records;
};

// Whether a try may be repeated: nothing arrived whole, and the cause may pass.
bool isTransient(const PushResult& result, qint64 fileSize);

// What was learnt of a terminal's record before it was pushed to.
enum class RecordCheck { NotAsked, Listed, NotListed, Unread };
QString recordCheckWord(RecordCheck c);

class FleetPush : public QObject {
    Q_OBJECT
public:
    FleetPush(const QStringList& addresses, const PushOptions& options, int jobs,
              QObject* parent = nullptr);
    ~FleetPush() override;

    void setPolicy(const FleetPolicy& policy) { m_policy = policy; }

    // Starts the first `jobs` terminals. With no address allFinished() comes
    // from the event loop.
    void start();
    // Cancels every running session; queued and waiting ones end Cancelled
    // without starting again.
    void cancel();

    int count() const { return int(m_addresses.size()); }
    int finishedCount() const { return m_done; }
    int failedCount() const { return m_failed; }
    bool isFinished() const { return m_done == count(); }
    const QStringList& addresses() const { return m_addresses; }
    // One result per address, in the order given; valid once that terminal finished.
    const std::vector<PushResult>& results() const { return m_results; }
    // The outcome of each try of a terminal, in order (none when not tried).
    const std::vector<Outcome>& attempts(int index) const
    {
        return m_terminals[size_t(index)].attempts;
    }
    RecordCheck recordCheck(int index) const { return m_terminals[size_t(index)].record; }

    static constexpr int kMaxJobs = 1000;

signals:
    void stageChanged(int index, tk::engine::Stage stage);
    void progress(int index, qint64 sent, qint64 total);
    // A try failed for a passing reason; the next one starts after waitMs.
    void retryScheduled(int index, const tk::engine::PushResult& result, int waitMs);
    void terminalFinished(int index, const tk::engine::PushResult& result);
    void allFinished();

private:
    struct Terminal {
        PushSession* session = nullptr;
        WhoProbe* query = nullptr;
        std::vector<Outcome> attempts;
        RecordCheck record = RecordCheck::NotAsked;
        bool waiting = false; // for its next try
        bool finished = false;
    };

    void fill();
    bool mayStartNew() const;
    void begin(int index);
    void onRecord(int index, const std::optional<QByteArray>& record);
    void onAnswer(int index, WhoProbe::End end, const QByteArray& answer);
    void push(int index);
    void onSessionFinished(int index, const PushResult& result);
    void finishTerminal(int index, const PushResult& result);
    void endUnstarted(Outcome outcome);
    void checkStages();
    void endIfDone();

    QStringList m_addresses;
    PushOptions m_options;
    FleetPolicy m_policy;
    qint64 m_fileSize = 0;
    int m_jobs;
    int m_next = 0;   // the next terminal never started
    int m_active = 0; // terminals holding a job slot
    int m_done = 0;
    int m_failed = 0;
    bool m_cancelled = false;
    bool m_halted = false; // a staged rollout stopped
    bool m_filling = false;
    int m_canaryDone = 0;
    int m_canaryFailed = 0;
    bool m_canaryPassed = false;
    bool m_allSignalled = false;
    QList<int> m_ready; // terminals whose wait for the next try is over
    std::vector<PushResult> m_results;
    std::vector<Terminal> m_terminals;
};

} // namespace tk::engine
