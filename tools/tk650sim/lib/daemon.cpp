#include "daemon.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSaveFile>
#include <QTcpSocket>
#include <QTimer>
#include <utility>

#ifdef Q_OS_WIN
#include <winsock2.h>
#else
#include <sys/socket.h>
#endif

namespace tk::sim {

DaemonConfig DaemonConfig::olderDaemon()
{
    DaemonConfig c;
    c.versionReply = VersionReply::BadArgs;
    c.rtcReply = Reply::BadArgs;
    c.aspReply = Reply::BadArgs;
    c.artReply = Reply::BadArgs;
    c.rstReply = Reply::BadArgs;
    c.installResult = InstallResult::Silent;
    c.oneCommandPerConnection = true;
    return c;
}

namespace {

QByteArray replyBytes(Reply r)
{
    switch (r) {
    case Reply::Ok: return "OK";
    case Reply::BadArgs: return "BADARGS";
    case Reply::NoSpace: return "NOSPACE";
    case Reply::Silent: break;
    }
    return {};
}

QByteArray installBytes(InstallResult r)
{
    switch (r) {
    case InstallResult::Done: return "DNLD_DONE";
    case InstallResult::Expanded: return "DNLD_EXP";
    case InstallResult::Failed: return "DNLD_FAIL";
    case InstallResult::Silent:
    case InstallResult::Close: break;
    }
    return {};
}

constexpr qint64 kReadChunk = 256 * 1024;

// A flood goes out in pieces of this size while less than kFloodQueued bytes
// wait in the socket, so it follows the other end's pace.
constexpr qint64 kFloodPiece = 64 * 1024;
constexpr qint64 kFloodQueued = 1024 * 1024;

// The moments of DaemonFaults::strikeAt that are not commands.
const QByteArray kStrikeMidFile = "FILE/2";
const QByteArray kStrikeAfterFile = "FILE";

// A rate-limited daemon holds at most this much in the socket beyond what it
// has taken, so the rest stays in the system's buffers. Bytes are taken in
// bursts of a tenth of a second's worth (at least kRateBurstMin).
constexpr qint64 kRateReadBuffer = 4096;
constexpr qint64 kRateBurstMin = 512;

} // namespace

// One accepted connection: its own command buffer, transfer state and faults.
class DaemonConnection : public QObject {
public:
    DaemonConnection(Daemon* daemon, QTcpSocket* socket, int id)
        : QObject(daemon), m_daemon(daemon), m_socket(socket), m_id(id)
    {
        socket->setParent(this);
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        m_pause.setSingleShot(true);
        m_rateTimer.setSingleShot(true);
        m_replyTimer.setSingleShot(true);
        connect(&m_rateTimer, &QTimer::timeout, this, [this] { process(); });
        connect(&m_replyTimer, &QTimer::timeout, this, [this] { sendDueReplies(); });
        m_rateClock.start();
        socket->setReadBufferSize(normalReadBuffer());
        connect(&m_pause, &QTimer::timeout, this, [this] {
            m_atPause = true;
            process();
        });
        connect(socket, &QTcpSocket::readyRead, this, [this] { process(); });
        connect(socket, &QTcpSocket::disconnected, this, [this] { onDisconnected(); });
        connect(socket, &QTcpSocket::bytesWritten, this, [this] { flood(); });
        connect(socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
            if (e != QAbstractSocket::RemoteHostClosedError)
                m_daemon->log(m_id, QStringLiteral("error: ") + m_socket->errorString());
        });
    }

    ~DaemonConnection() override
    {
        m_socket->disconnect(this);
        m_socket->abort();
    }

    bool isOpen() const { return !m_closed; }
    qint64 fileBytesInProgress() const { return m_receiving ? m_file.received : 0; }

    void start() { process(); }

private:
    const DaemonConfig& cfg() const { return m_daemon->config; }
    const DaemonFaults& faults() const { return m_daemon->config.faults; }

    void process()
    {
        while (!m_closed && !m_closing && !m_stalled &&
               m_socket->state() != QAbstractSocket::UnconnectedState) {
            if (m_receiving) {
                if (!receiveSome())
                    return;
                continue;
            }
            m_buffer += m_socket->readAll();
            const qsizetype n = commandLength(m_buffer, m_atPause);
            m_atPause = false;
            if (n == 0) {
                if (!m_buffer.isEmpty())
                    m_pause.start(cfg().commandPauseMs);
                return;
            }
            m_pause.stop();
            const QByteArray command = m_buffer.left(n);
            m_buffer.remove(0, n);
            handleCommand(command);
        }
    }

    // Takes the next file bytes (first those that came with the command).
    // False when nothing more can be taken now.
    bool receiveSome()
    {
        if (m_stalled)
            return false;
        const qint64 got = m_file.received;
        const DaemonFaults& fl = faults();
        const qint64 dropAfter = fl.dropAfterFileBytes;
        if (dropAfter >= 0 && got >= dropAfter) {
            m_daemon->log(m_id,
                          QStringLiteral("dropping the connection after %1 file bytes").arg(got));
            m_socket->abort();
            onDisconnected();
            return false;
        }
        if (fl.stallAfterFileBytes >= 0 && !m_stallDone && got >= fl.stallAfterFileBytes) {
            stall();
            return false;
        }
        qint64 want = std::min(m_remaining, kReadChunk);
        if (dropAfter >= 0)
            want = std::min(want, dropAfter - got);
        if (fl.stallAfterFileBytes >= 0 && !m_stallDone)
            want = std::min(want, fl.stallAfterFileBytes - got);
        if (strikesAt(kStrikeMidFile) && 2 * got < m_file.announcement.size)
            want = std::min(want, (m_file.announcement.size + 1) / 2 - got);
        want = std::min(want, rateAllowance(want));
        if (want == 0)
            return false; // the rate timer brings us back
        QByteArray chunk;
        if (!m_buffer.isEmpty()) {
            chunk = m_buffer.left(want);
            m_buffer.remove(0, chunk.size());
        } else {
            chunk = m_socket->read(want);
        }
        if (chunk.isEmpty())
            return false;
        m_tokens -= double(chunk.size());
        takeFileBytes(chunk);
        return true;
    }

    // --- a slow or far terminal ---

    qint64 normalReadBuffer() const { return cfg().link.readRate > 0 ? kRateReadBuffer : 0; }

    // How many of `want` file bytes the read rate lets through now; when
    // none, the rate timer is set for the moment some may be taken.
    qint64 rateAllowance(qint64 want)
    {
        const qint64 rate = cfg().link.readRate;
        if (rate <= 0)
            return want;
        if (cfg().link.slowForMs > 0 && m_fileClock.isValid() &&
            m_fileClock.elapsed() >= cfg().link.slowForMs) {
            if (m_socket->readBufferSize() != 0 && !m_stalled)
                m_socket->setReadBufferSize(0);
            return want;
        }
        const double burst = double(std::max(kRateBurstMin, rate / 10));
        const qint64 now = m_rateClock.elapsed();
        m_tokens = std::min(burst, m_tokens + double(now - m_tokensAt) * double(rate) / 1000.0);
        m_tokensAt = now;
        const qint64 allowed = std::min(want, qint64(m_tokens));
        if (allowed > 0)
            return allowed;
        if (!m_rateTimer.isActive()) {
            const double need = std::min(burst, double(want)) - m_tokens;
            m_rateTimer.start(int(std::max(1.0, need * 1000.0 / double(rate))));
        }
        return 0;
    }

    // Replies go out in order, each replyDelayMs after it was due.
    void queueReply(const QByteArray& bytes)
    {
        m_delayed.append({m_rateClock.elapsed() + cfg().link.replyDelayMs, bytes});
        if (!m_replyTimer.isActive())
            m_replyTimer.start(
                int(std::max<qint64>(0, m_delayed.front().due - m_rateClock.elapsed())));
    }

    void sendDueReplies()
    {
        while (!m_delayed.isEmpty() && m_delayed.front().due <= m_rateClock.elapsed())
            sendNow(m_delayed.takeFirst().bytes);
        if (!m_delayed.isEmpty()) {
            m_replyTimer.start(
                int(std::max<qint64>(1, m_delayed.front().due - m_rateClock.elapsed())));
            return;
        }
        if (m_closeWhenSent && m_pendingHalves == 0)
            closeAfterReplies();
    }

    void stall()
    {
        m_stalled = true;
        // A full read buffer makes the socket stop reading from the network,
        // so the sender's buffers fill up.
        m_socket->setReadBufferSize(1);
        m_daemon->log(m_id,
                      QStringLiteral("stopped reading after %1 file bytes").arg(m_file.received));
        if (faults().stallMs >= 0) {
            QTimer::singleShot(faults().stallMs, this, [this] {
                m_stalled = false;
                m_stallDone = true;
                m_socket->setReadBufferSize(normalReadBuffer());
                m_daemon->log(m_id, QStringLiteral("reading again"));
                process();
            });
        }
    }

    void takeFileBytes(const QByteArray& chunk)
    {
        m_file.received += chunk.size();
        m_remaining -= chunk.size();
        if (cfg().keepContent)
            m_file.content += chunk;
        if (m_store && m_store->write(chunk) != chunk.size()) {
            m_daemon->log(m_id, QStringLiteral("cannot store: ") + m_store->errorString());
            m_store.reset();
        }
        if (m_remaining == 0)
            fileComplete();
        else if (strikesAt(kStrikeMidFile) && 2 * m_file.received >= m_file.announcement.size)
            strike();
    }

    void startFile(const Announcement& a)
    {
        m_file = ReceivedFile();
        m_file.connection = m_id;
        m_file.announcement = a;
        m_receiving = true;
        m_remaining = a.size;
        m_fileClock.start();
        m_stallDone = false;
        if (!cfg().storeDir.isEmpty()) {
            const QString path = QDir(cfg().storeDir).filePath(QFile::decodeName(a.name));
            m_store = std::make_unique<QSaveFile>(path);
            if (!m_store->open(QIODevice::WriteOnly)) {
                m_daemon->log(
                    m_id, QStringLiteral("cannot store %1: %2").arg(path, m_store->errorString()));
                m_store.reset();
            }
        }
        if (m_remaining == 0)
            fileComplete();
    }

    void fileComplete()
    {
        m_receiving = false;
        ReceivedFile& f = m_file;
        f.complete = true;
        if (m_store) {
            if (m_store->commit())
                f.storedPath = m_store->fileName();
            else
                m_daemon->log(m_id, QStringLiteral("cannot store: ") + m_store->errorString());
            m_store.reset();
        }
        m_daemon->log(m_id, QStringLiteral("received %1 bytes of %2")
                                .arg(f.received)
                                .arg(readable(f.announcement.name)));
        m_daemon->finishFile(std::exchange(m_file, ReceivedFile()));
        QTimer::singleShot(std::max(0, cfg().installDelayMs), this,
                           [this] { sendInstallResult(); });
    }

    void sendInstallResult()
    {
        if (m_closed)
            return;
        const bool strikes = strikesAt(kStrikeAfterFile);
        if (strikes && faults().strikeBeforeAnswer) {
            strike();
            return;
        }
        answerInstall();
        if (strikes)
            strike();
    }

    void answerInstall()
    {
        const InstallResult r = cfg().installResult;
        if (r == InstallResult::Close) {
            m_daemon->log(m_id, QStringLiteral("rebooting while installing: closing"));
            closeAfterReplies();
            return;
        }
        const QByteArray bytes = installBytes(r);
        if (bytes.isEmpty())
            return;
        reply(bytes);
        if (cfg().oneCommandPerConnection)
            closeAfterReplies();
    }

    void handleCommand(const QByteArray& command)
    {
        m_daemon->recordCommand(m_id, command);
        if (faults().silent)
            return;
        const QByteArray prefix = commandPrefix(command);
        const bool strikes = strikesAt(prefix);
        if (strikes && faults().strikeBeforeAnswer) {
            strike();
            return;
        }
        answer(prefix, command.mid(4));
        if (strikes)
            strike();
    }

    void answer(const QByteArray& prefix, const QByteArray& payload)
    {
        const DaemonConfig& c = cfg();
        if (prefix == "VER:") {
            if (c.versionReply == VersionReply::Text)
                reply(c.versionTerminated ? c.version + c.versionTerminator : c.version);
            else if (c.versionReply == VersionReply::BadArgs)
                reply("BADARGS");
        } else if (prefix == "RTC:") {
            reply(parseClock(payload) ? replyBytes(c.rtcReply) : QByteArray("BADARGS"));
        } else if (prefix == "ASP:") {
            reply(replyBytes(c.aspReply));
        } else if (prefix == "ART:") {
            reply(replyBytes(c.artReply));
        } else if (prefix == "MSG:") {
            reply(replyBytes(c.msgReply));
        } else if (prefix == "WHO:") {
            reply(c.whoReply);
        } else if (prefix == "RST:") {
            reply(replyBytes(c.rstReply));
            if (c.rstReply != Reply::BadArgs) {
                m_daemon->log(m_id, QStringLiteral("rebooting: closing"));
                closeAfterReplies();
                return;
            }
        } else if (prefix == "DLD:") {
            if (handleAnnouncement(payload))
                return; // the file bytes follow on this connection
        } else {
            reply("BADARGS");
        }
        if (c.oneCommandPerConnection)
            closeAfterReplies();
    }

    // True when the announcement was accepted and the file bytes are awaited.
    bool handleAnnouncement(const QByteArray& payload)
    {
        const AnnouncementParse parsed = parseAnnouncement(payload);
        if (!parsed.announcement) {
            m_daemon->log(m_id, QStringLiteral("bad announcement: ") + parsed.error);
            reply("BADARGS");
            return false;
        }
        const DaemonConfig& c = cfg();
        if (c.dldReply != Reply::Ok) {
            reply(replyBytes(c.dldReply));
            return false;
        }
        if (c.freeSpace >= 0 && parsed.announcement->size > c.freeSpace) {
            reply("NOSPACE");
            return false;
        }
        if (++m_daemon->m_transferCount <= c.firstTries.drop) {
            m_daemon->log(m_id,
                          QStringLiteral("resetting instead of taking the file (first tries)"));
            resetConnection();
            return false;
        }
        reply("OK");
        startFile(*parsed.announcement);
        return true;
    }

    bool strikesAt(const QByteArray& moment) const
    {
        return !m_struck && faults().strike != Strike::None && faults().strikeAt == moment;
    }

    void strike()
    {
        if (m_struck || m_closed)
            return;
        m_struck = true;
        switch (faults().strike) {
        case Strike::None: break;
        case Strike::Close:
            // The system resets a connection closed with bytes unread; the
            // socket has taken them off the system already, so say it here.
            if (m_receiving || !m_buffer.isEmpty() || m_socket->bytesAvailable() > 0) {
                m_daemon->log(m_id, QStringLiteral("fault: closing with bytes unread"));
                resetConnection();
            } else {
                m_daemon->log(m_id, QStringLiteral("fault: closing"));
                closeAfterReplies();
            }
            break;
        case Strike::Reset:
            m_daemon->log(m_id, QStringLiteral("fault: resetting"));
            resetConnection();
            break;
        case Strike::Silence:
            m_daemon->log(m_id, QStringLiteral("fault: silent from now on"));
            m_silenced = true;
            break;
        case Strike::Stall:
            m_daemon->log(m_id, QStringLiteral("fault: stopped reading and answering"));
            m_silenced = true;
            m_stalled = true;
            m_socket->setReadBufferSize(1);
            break;
        case Strike::Flood:
            m_daemon->log(m_id, QStringLiteral("fault: flooding"));
            m_silenced = true;
            m_flooding = true;
            flood();
            break;
        }
    }

    void resetConnection()
    {
        // No lingering: the close sends a reset instead of the usual end.
        linger l{};
        l.l_onoff = 1;
        l.l_linger = 0;
        ::setsockopt(m_socket->socketDescriptor(), SOL_SOCKET, SO_LINGER,
                     reinterpret_cast<const char*>(&l), sizeof l);
        m_socket->abort();
        onDisconnected();
    }

    void flood()
    {
        static const QByteArray piece(kFloodPiece, '~');
        while (m_flooding && !m_closed && m_socket->state() == QAbstractSocket::ConnectedState &&
               m_socket->bytesToWrite() < kFloodQueued)
            m_socket->write(piece);
    }

    void reply(QByteArray bytes)
    {
        if (bytes.isEmpty() || m_closed || m_silenced)
            return;
        bytes += faults().trailingBytes;
        m_daemon->log(m_id, QStringLiteral("-> ") + readable(bytes));
        if (cfg().link.replyDelayMs > 0 || !m_delayed.isEmpty()) {
            queueReply(bytes);
            return;
        }
        sendNow(bytes);
    }

    void sendNow(const QByteArray& bytes)
    {
        if (m_closed)
            return;
        if (faults().splitReplies && bytes.size() >= 2) {
            const qsizetype half = bytes.size() / 2;
            write(bytes.left(half));
            ++m_pendingHalves;
            QTimer::singleShot(
                std::max(1, faults().splitDelayMs), this, [this, rest = bytes.mid(half)] {
                    --m_pendingHalves;
                    write(rest);
                    if (m_closeWhenSent && m_pendingHalves == 0 && m_delayed.isEmpty())
                        closeAfterReplies();
                });
            return;
        }
        write(bytes);
    }

    void write(const QByteArray& bytes)
    {
        if (m_socket->state() != QAbstractSocket::ConnectedState)
            return;
        m_socket->write(bytes);
        m_socket->flush();
    }

    void closeAfterReplies()
    {
        m_closing = true;
        if (m_pendingHalves > 0 || !m_delayed.isEmpty()) {
            m_closeWhenSent = true;
            return;
        }
        if (m_socket->state() == QAbstractSocket::ConnectedState)
            m_socket->disconnectFromHost(); // sends what is queued, then closes
        else
            onDisconnected();
    }

    void onDisconnected()
    {
        if (m_closed)
            return;
        m_closed = true;
        m_flooding = false;
        m_pause.stop();
        m_rateTimer.stop();
        m_replyTimer.stop();
        m_delayed.clear();
        if (m_receiving) {
            m_receiving = false;
            m_daemon->log(m_id, QStringLiteral("connection closed after %1 of %2 file bytes")
                                    .arg(m_file.received)
                                    .arg(m_file.announcement.size));
            if (m_store)
                m_store->cancelWriting();
            m_store.reset();
            m_daemon->finishFile(std::exchange(m_file, ReceivedFile()));
        } else if (!m_buffer.isEmpty()) {
            m_daemon->recordCommand(m_id, m_buffer);
            m_buffer.clear();
        }
        m_daemon->log(m_id, QStringLiteral("closed"));
        emit m_daemon->connectionClosed(m_id);
        deleteLater();
    }

    Daemon* m_daemon;
    QTcpSocket* m_socket;
    const int m_id;
    QByteArray m_buffer;
    QTimer m_pause;
    bool m_atPause = false;
    bool m_receiving = false;
    ReceivedFile m_file;
    bool m_closing = false;
    qint64 m_remaining = 0;
    bool m_stalled = false;
    bool m_stallDone = false;
    int m_pendingHalves = 0;
    bool m_closeWhenSent = false;
    bool m_closed = false;
    bool m_struck = false;
    bool m_silenced = false;
    bool m_flooding = false;
    std::unique_ptr<QSaveFile> m_store;
    // A slow or far terminal.
    QTimer m_rateTimer;
    QElapsedTimer m_rateClock;
    QElapsedTimer m_fileClock;
    double m_tokens = 0;
    qint64 m_tokensAt = 0;
    struct DelayedReply {
        qint64 due = 0;
        QByteArray bytes;
    };
    QList<DelayedReply> m_delayed;
    QTimer m_replyTimer;
};

Daemon::Daemon(QObject* parent) : Daemon(DaemonConfig(), parent) {}

Daemon::Daemon(const DaemonConfig& cfg, QObject* parent) : QObject(parent), config(cfg)
{
    connect(&m_server, &QTcpServer::newConnection, this, &Daemon::onNewConnection);
}

Daemon::~Daemon()
{
    // Connections are children; make sure none reports into a half-destroyed daemon.
    for (const QPointer<DaemonConnection>& c : m_connections)
        delete c.data();
}

bool Daemon::listen(const QHostAddress& address, quint16 port)
{
    m_address = address;
    if (!m_server.listen(address, port)) {
        m_error = m_server.errorString();
        return false;
    }
    m_port = m_server.serverPort();
    if (config.faults.refuseConnections)
        m_server.close();
    return true;
}

void Daemon::close()
{
    m_server.close();
    for (const QPointer<DaemonConnection>& c : m_connections)
        delete c.data();
    m_connections.clear();
}

bool Daemon::setRefuseConnections(bool refuse)
{
    config.faults.refuseConnections = refuse;
    if (refuse) {
        m_server.close();
        return true;
    }
    if (m_server.isListening())
        return true;
    if (!m_server.listen(m_address, m_port)) {
        m_error = m_server.errorString();
        return false;
    }
    return true;
}

QList<QByteArray> Daemon::commands() const
{
    QList<QByteArray> out;
    for (const ReceivedCommand& c : m_commands)
        out.append(c.bytes);
    return out;
}

int Daemon::openConnections() const
{
    int n = 0;
    for (const QPointer<DaemonConnection>& c : m_connections)
        if (c && c->isOpen())
            ++n;
    return n;
}

void Daemon::clearRecords()
{
    m_commands.clear();
    m_files.clear();
    m_connectionCount = 0;
    m_transferCount = 0;
}

void Daemon::onNewConnection()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        const int id = ++m_connectionCount;
        log(id, QStringLiteral("connection from %1:%2")
                    .arg(socket->peerAddress().toString())
                    .arg(socket->peerPort()));
        // One of a flaky terminal's first tries: reset as soon as it is taken.
        const bool refused = id <= config.firstTries.refuse;
        if (refused || config.faults.closeOnAccept) {
            emit connectionOpened(id);
            if (refused)
                socket->abort();
            else
                socket->disconnectFromHost();
            socket->deleteLater();
            log(id, refused ? QStringLiteral("reset at once (first tries refused)")
                            : QStringLiteral("closed at once"));
            emit connectionClosed(id);
            continue;
        }
        auto* connection = new DaemonConnection(this, socket, id);
        m_connections.removeAll(nullptr);
        m_connections.append(connection);
        emit connectionOpened(id);
        connection->start();
    }
}

void Daemon::recordCommand(int connection, const QByteArray& bytes)
{
    m_commands.append({connection, bytes});
    log(connection, QStringLiteral("<- ") + readable(bytes));
    emit commandReceived(bytes);
}

qint64 Daemon::fileBytesInProgress() const
{
    qint64 n = 0;
    for (const QPointer<DaemonConnection>& c : m_connections)
        if (c)
            n += c->fileBytesInProgress();
    return n;
}

void Daemon::finishFile(ReceivedFile file)
{
    m_files.append(std::move(file));
    const ReceivedFile& f = m_files.back();
    if (f.complete && !config.storeDir.isEmpty()) {
        QFile index(QDir(config.storeDir).filePath(QStringLiteral("tk650sim-received.txt")));
        if (index.open(QIODevice::WriteOnly | QIODevice::Append)) {
            const Announcement& a = f.announcement;
            index.write(a.name + '\t' + QByteArray::number(a.size) + '\t' + a.permissions + '\t' +
                        a.owner + '\t' + a.group + '\t' + a.type + '\n');
        }
    }
    emit fileReceived(f);
}

void Daemon::log(int connection, const QString& text)
{
    emit logLine(QStringLiteral("qlinkd #%1 %2").arg(connection).arg(text));
}

} // namespace tk::sim
