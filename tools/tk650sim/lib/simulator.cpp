#include "simulator.h"

namespace tk::sim {

namespace {
QPair<QByteArray, QByteArray> splitHolding(const QByteArray& entry)
{
    const qsizetype at = entry.indexOf(';');
    return at < 0 ? qMakePair(entry, QByteArray()) : qMakePair(entry.left(at), entry.mid(at + 1));
}
} // namespace

Simulator::Simulator(const SimOptions& options, QObject* parent)
    : QObject(parent), m_options(options)
{
}

Simulator::~Simulator() = default;

bool Simulator::start()
{
    const SimOptions& o = m_options;
    const bool fleet = o.terminals > 1;
    if (fleet &&
        (o.listenAddress.isNull() || o.listenAddress == QHostAddress(QHostAddress::AnyIPv4))) {
        m_error = QStringLiteral("--terminals needs a --listen address to count up from "
                                 "(for example 127.10.0.1)");
        return false;
    }
    if (!o.receivedLog.isEmpty()) {
        m_receivedLog = std::make_unique<QFile>(o.receivedLog);
        if (!m_receivedLog->open(QIODevice::WriteOnly | QIODevice::Append)) {
            m_error = QStringLiteral("cannot write %1: %2")
                          .arg(o.receivedLog, m_receivedLog->errorString());
            return false;
        }
    }
    if (o.broadcast)
        m_broadcaster = std::make_unique<Broadcaster>();
    for (int i = 0; i < o.terminals; ++i) {
        TerminalRecord record = o.record;
        record.serial = fleetSerial(o.record.serial, i, o.terminals);
        const auto [name, version] = splitHolding(o.holding);
        if (!o.holding.isEmpty() && i % o.holdingEvery == 0)
            record.packages.append({name, version});
        const QHostAddress address =
            fleet ? nextAddress(o.listenAddress, quint32(i)) : o.listenAddress;
        if (o.daemon) {
            DaemonConfig config = o.daemonConfig;
            config.whoReply = o.whoReply ? *o.whoReply : record.toBytes();
            if ((i + 1) % o.flakyEvery != 0)
                config.firstTries = FirstTries();
            auto* daemon = new Daemon(config, this);
            if (!o.quiet)
                connect(daemon, &Daemon::logLine, this, &Simulator::logLine);
            if (!daemon->listen(address, o.listenPort)) {
                m_error = QStringLiteral("cannot listen on %1:%2: %3")
                              .arg(address.toString())
                              .arg(o.listenPort)
                              .arg(daemon->errorString());
                return false;
            }
            m_daemons.append(daemon);
            if (!o.installs.isEmpty() && !o.whoReply)
                connect(daemon, &Daemon::fileReceived, daemon,
                        [daemon, record,
                         entry = splitHolding(o.installs)](const ReceivedFile& f) mutable {
                            const InstallResult r = daemon->config.installResult;
                            if (!f.complete ||
                                (r != InstallResult::Done && r != InstallResult::Expanded) ||
                                record.packages.contains(entry))
                                return;
                            record.packages.append(entry);
                            daemon->config.whoReply = record.toBytes();
                        });
            if (m_receivedLog)
                connect(daemon, &Daemon::fileReceived, this,
                        [this, address](const ReceivedFile& f) {
                            m_receivedLog->write(QStringLiteral("%1 %2 %3 %4\n")
                                                     .arg(address.toString(),
                                                          QString::fromLatin1(f.announcement.name))
                                                     .arg(f.received)
                                                     .arg(f.complete ? "complete" : "partial")
                                                     .toLatin1());
                            m_receivedLog->flush();
                        });
            m_ready << QStringLiteral("listening on %1:%2")
                           .arg(address.toString())
                           .arg(daemon->serverPort());
        }
        if (m_broadcaster) {
            const QHostAddress source =
                address == QHostAddress(QHostAddress::AnyIPv4) ? QHostAddress() : address;
            if (!m_broadcaster->addTerminal(record, source)) {
                m_error = m_broadcaster->errorString();
                return false;
            }
        }
    }
    if (m_broadcaster) {
        if (!o.quiet)
            connect(m_broadcaster.get(), &Broadcaster::logLine, this, &Simulator::logLine);
        m_broadcaster->start(o.broadcastTarget, o.broadcastPort, o.broadcastIntervalMs,
                             o.broadcastRounds);
        m_ready << QStringLiteral("broadcasting to %1:%2")
                       .arg(o.broadcastTarget.toString())
                       .arg(o.broadcastPort);
    }
    if (o.pseudoTerminal || !o.serialDevice.isEmpty()) {
        m_serial = std::make_unique<SerialTerminal>();
        m_serial->config = o.serialConfig;
        const bool ok = o.pseudoTerminal ? m_serial->createPseudoTerminal()
                                         : m_serial->openDevice(o.serialDevice, o.baud);
        if (!ok) {
            m_error = QStringLiteral("serial line: ") + m_serial->errorString();
            return false;
        }
        if (!o.quiet)
            connect(m_serial.get(), &SerialTerminal::logLine, this, &Simulator::logLine);
        m_ready << QStringLiteral("serial port: ") + m_serial->devicePath();
    }
    if (m_daemons.isEmpty() && !m_broadcaster && !m_serial) {
        m_error = QStringLiteral("nothing to simulate: no daemon, no broadcasts, no serial line");
        return false;
    }
    return true;
}

} // namespace tk::sim
