#pragma once
// "Download To..." on several rows of the listener: the main window's file
// with the network tab's options to every selected terminal at once, through
// engine::FleetPush. Each terminal's stage and progress become a status text
// for its rows, at most once per kStatusIntervalMs per row, so hundreds of
// terminals do not flood the window; an outcome is shown at once.
#include "engine/fleetpush.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <vector>

namespace tk {

class frmmain;

// What the network tab's Send would use (file, type, permissions, owner, the
// four post-download boxes), to `port`. The wait for each install result is
// the unattended one (TK650_INSTALL_TIMEOUT, 600 s unless set).
engine::PushOptions networkTabOptions(const frmmain& w, quint16 port);

class FleetDownload : public QObject {
    Q_OBJECT
public:
    // One terminal: its address and the rows (serial numbers) showing it.
    struct Target {
        QString address;
        QStringList serials;
    };
    static constexpr int kJobs = 16;
    static constexpr int kStatusIntervalMs = 250;

    FleetDownload(std::vector<Target> targets, const engine::PushOptions& options,
                  QObject* parent = nullptr);
    ~FleetDownload() override;

    // Every row shows "Queued", then the first kJobs terminals start.
    void start();
    // Stops every terminal; finished() follows.
    void cancel();

    bool isRunning() const { return m_running; }
    const std::vector<Target>& targets() const { return m_targets; }
    int count() const { return static_cast<int>(m_targets.size()); }
    int finishedCount() const { return m_finished; }
    int succeededCount() const { return m_succeeded; }
    int cancelledCount() const { return m_cancelled; }
    // Stopped while installing: the file arrived whole, the result was not awaited.
    int deliveredCount() const { return m_delivered; }
    int failedCount() const { return m_finished - m_succeeded - m_cancelled - m_delivered; }
    // Terminals running past their file (installing, rebooting, starting the
    // application): stopping them leaves a file that arrived.
    int pastFileCount() const;

    // "Downloading: 12 of 50 done"
    QString progressText() const;
    // "Download finished: 48 succeeded, 2 failed" (", 3 cancelled" and
    // ", 4 delivered, install not awaited" when any were).
    QString summaryText() const;

signals:
    void rowStatus(const QString& serial, const QString& text);
    // A terminal finished.
    void countChanged();
    // Every terminal finished; comes from the event loop, never from inside
    // the engine's own signal.
    void finished();

private:
    struct Row {
        engine::Stage stage = engine::Stage::Queued;
        qint64 sent = 0;
        qint64 total = 0;
        bool dirty = false;
        bool done = false;
        QString shown;
    };
    void touch(int index);
    void flush();
    void show(int index, const QString& text);
    void onTerminalFinished(int index, const engine::PushResult& result);
    void finishSoon();

    std::vector<Target> m_targets;
    std::vector<Row> m_rows;
    std::vector<int> m_dirty;
    engine::FleetPush* m_fleet = nullptr;
    QTimer m_flush;
    bool m_running = false;
    bool m_finishQueued = false;
    int m_finished = 0;
    int m_succeeded = 0;
    int m_cancelled = 0;
    int m_delivered = 0;
};

} // namespace tk
