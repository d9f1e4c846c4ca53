#pragma once
// A whole simulated run as the tk650sim command line describes it: one or
// many terminals, each with its daemon and broadcasts, and the serial line.
#include "broadcaster.h"
#include "daemon.h"
#include "options.h"
#include "serialterminal.h"

#include <QFile>
#include <QList>
#include <QObject>
#include <QStringList>
#include <memory>

namespace tk::sim {

class Simulator : public QObject {
    Q_OBJECT
public:
    explicit Simulator(const SimOptions& options, QObject* parent = nullptr);
    ~Simulator() override;

    // Sets everything up. On success readyLines() says where the terminals
    // can be reached; on failure errorString() says why.
    bool start();
    QStringList readyLines() const { return m_ready; }
    QString errorString() const { return m_error; }

    const QList<Daemon*>& daemons() const { return m_daemons; }
    Broadcaster* broadcaster() const { return m_broadcaster.get(); }
    SerialTerminal* serial() const { return m_serial.get(); }

signals:
    void logLine(const QString& line);

private:
    SimOptions m_options;
    QList<Daemon*> m_daemons;
    std::unique_ptr<Broadcaster> m_broadcaster;
    std::unique_ptr<SerialTerminal> m_serial;
    std::unique_ptr<QFile> m_receivedLog;
    QStringList m_ready;
    QString m_error;
};

} // namespace tk::sim
