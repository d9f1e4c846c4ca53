#pragma once
// One file to many terminals: a PushSession per terminal, at most `jobs` at
// once, the rest queued in order. Memory is bounded by the sessions running
// (one chunk each). Driven by the event loop.
#include "engine/pushsession.h"

#include <QList>
#include <QObject>
#include <QStringList>
#include <vector>

namespace tk::engine {

class FleetPush : public QObject {
    Q_OBJECT
public:
    FleetPush(const QStringList& addresses, const PushOptions& options, int jobs,
              QObject* parent = nullptr);
    ~FleetPush() override;

    // Starts the first `jobs` sessions. With no address allFinished() comes
    // from the event loop.
    void start();
    // Cancels every running session; queued ones end Cancelled without starting.
    void cancel();

    int count() const { return int(m_addresses.size()); }
    int finishedCount() const { return m_done; }
    int failedCount() const { return m_failed; }
    bool isFinished() const { return m_done == count(); }
    const QStringList& addresses() const { return m_addresses; }
    // One result per address, in the order given; valid once that terminal finished.
    const std::vector<PushResult>& results() const { return m_results; }

    static constexpr int kMaxJobs = 1000;

signals:
    void stageChanged(int index, tk::engine::Stage stage);
    void progress(int index, qint64 sent, qint64 total);
    void terminalFinished(int index, const tk::engine::PushResult& result);
    void allFinished();

private:
    void startNext();
    void onFinished(int index, const PushResult& result);

    QStringList m_addresses;
    PushOptions m_options;
    int m_jobs;
    int m_next = 0;
    int m_done = 0;
    int m_failed = 0;
    bool m_cancelled = false;
    std::vector<PushResult> m_results;
    std::vector<PushSession*> m_running; // by index; null when not running
};

} // namespace tk::engine
