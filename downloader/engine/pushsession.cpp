#include "engine/pushsession.h"

#include "core/exitcodes.h"
#include "core/transfer.h"
#include "engine/connectionreset.h"
#include "engine/linkprogress.h"

#include <QFileInfo>
#include <QHostAddress>
#include <QMetaObject>
#include <QSet>
#include <algorithm>
#include <optional>

namespace tk::engine {

using proto::SessionState;

// --- outcomes ---------------------------------------------------------------

int exitCodeOf(Outcome o)
{
    switch (o) {
    case Outcome::Installed:
    case Outcome::AlreadyInstalled: return exitcode::Success;
    case Outcome::AppStarted: return exitcode::AppStarted;
    case Outcome::Rebooted: return exitcode::Rebooted;
    case Outcome::BadArgs: return exitcode::BadArgs;
    case Outcome::NoFile: return exitcode::NoFile;
    case Outcome::BadAddress: return exitcode::BadAddress;
    case Outcome::NoConnection:
    case Outcome::TimedOut:
    case Outcome::NoInstallResult: return exitcode::NoConnect;
    case Outcome::NoSpace: return exitcode::NoSpace;
    case Outcome::InstallFailed:
    case Outcome::ConnectionLost:
    case Outcome::Failed:
    case Outcome::Cancelled:
    case Outcome::Delivered:
    case Outcome::AlreadyRunning:
    case Outcome::NotAttempted: return exitcode::Failed;
    }
    return exitcode::Failed;
}

bool succeeded(Outcome o)
{
    return exitCodeOf(o) >= 0;
}

namespace {

struct OutcomeNames {
    Outcome outcome;
    const char* word;
    const char* text;
};

constexpr OutcomeNames kOutcomeNames[] = {
    {Outcome::Installed, "installed", "Installed"},
    {Outcome::AppStarted, "app-started", "Installed, application started"},
    {Outcome::Rebooted, "rebooted", "Installed, rebooting"},
    {Outcome::BadArgs, "bad-args", "Failed: bad arguments"},
    {Outcome::NoFile, "no-file", "Failed: no file"},
    {Outcome::BadAddress, "bad-address", "Failed: bad address"},
    {Outcome::NoConnection, "no-connection", "Failed: no connection"},
    {Outcome::TimedOut, "timed-out", "Failed: timed out"},
    {Outcome::NoInstallResult, "no-install-result", "Failed: no install result"},
    {Outcome::NoSpace, "no-space", "Failed: no space"},
    {Outcome::InstallFailed, "install-failed", "Failed: install failed"},
    {Outcome::ConnectionLost, "connection-lost", "Failed: connection lost"},
    {Outcome::Failed, "failed", "Failed"},
    {Outcome::Cancelled, "cancelled", "Cancelled"},
    {Outcome::Delivered, "delivered", "Delivered, install not awaited"},
    {Outcome::AlreadyRunning, "already-running", "Not sent: a download to it is running"},
    {Outcome::AlreadyInstalled, "already-installed", "Already installed, not sent"},
    {Outcome::NotAttempted, "not-attempted", "Not attempted"},
};

const OutcomeNames& namesOf(Outcome o)
{
    for (const auto& n : kOutcomeNames)
        if (n.outcome == o)
            return n;
    return kOutcomeNames[std::size(kOutcomeNames) - 5]; // "cancelled"
}

QString latin1(const std::string& s)
{
    return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}

std::string bytes(const QString& s)
{
    return s.toLatin1().toStdString();
}

QByteArray command(std::string_view c)
{
    return QByteArray(c.data(), static_cast<qsizetype>(c.size()));
}

// The addresses sessions run to, in this process. One terminal takes one
// download at a time: a second would announce and send a second file over
// a second connection while the first is installing.
QSet<QString>& runningAddresses()
{
    static QSet<QString> running;
    return running;
}

// "10.0.0.005" and "10.0.0.5" are one terminal.
QString addressKey(const QString& address)
{
    const QHostAddress a(address.trimmed());
    return a.isNull() ? address.trimmed().toLower() : a.toString();
}

} // namespace

QString outcomeWord(Outcome o)
{
    return QString::fromLatin1(namesOf(o).word);
}

QString outcomeText(Outcome o)
{
    return QString::fromLatin1(namesOf(o).text);
}

QString stageText(Stage s, qint64 sent, qint64 total)
{
    switch (s) {
    case Stage::Queued: return QStringLiteral("Queued");
    case Stage::Connecting: return QStringLiteral("Connecting");
    case Stage::CheckingVersion: return QStringLiteral("Checking version");
    case Stage::SettingClock: return QStringLiteral("Setting time");
    case Stage::KillingApps: return QStringLiteral("Stopping applications");
    case Stage::Announcing: return QStringLiteral("Announcing");
    case Stage::Sending:
        return QStringLiteral("Sending %1 %").arg(static_cast<int>(progressPercent(sent, total)));
    case Stage::Installing: return QStringLiteral("Installing");
    case Stage::Rebooting: return QStringLiteral("Rebooting");
    case Stage::StartingApp: return QStringLiteral("Starting application");
    case Stage::Finished: return QStringLiteral("Finished");
    }
    return {};
}

// --- the session ------------------------------------------------------------

class PushSession::Impl : public QObject {
    friend class PushSession;

public:
    Impl(PushSession& session, const PushOptions& options, QTcpSocket* socket);

    void start();
    void finish(Outcome o, const QString& detail = {}, Cause cause = Cause::None);
    void cancel();

private:
    // What the session waits for; the continuation runs once it came.
    enum class Wait { None, Connect, Delay, Send, Reply, Stream, Install };

    void setStage(Stage s);
    void log(const QString& line) { emit q.logLine(line); }
    bool closed() const { return sock.state() == QAbstractSocket::UnconnectedState; }

    // The steps, in their order.
    void checkVersion();
    void afterVersion();
    void setClock();
    void killApps();
    void announce();
    void afterAnnouncement();
    void sendFile();
    void afterStream();
    void afterInstall();
    void finishWith(std::string_view cmd, SessionState state, Stage stage, double limitMs,
                    Outcome outcome);

    // The waits.
    void connectThen(std::function<void()> next);
    void delayThen(int ms, std::function<void()> next);
    // Sends a command, waits until the system has taken it (4000 ms), then for
    // a reply, the connection closing or limitMs; `timedOut` tells which.
    void commandThen(const QByteArray& cmd, double limitMs, std::function<void()> next);
    // A command before the file that the terminal may never have read (the
    // connection was gone before any answer): sent again, once, over a new
    // connection. False when that is not allowed.
    bool sendAgain(const QString& why = QStringLiteral(
                       "Connection closed before an answer; sending the command again"));
    void optionalStep(SessionState state, Stage stage, const std::function<QByteArray()>& cmd,
                      double limitMs, std::function<void()> next);
    void arm(double limitMs);
    void onLimit();
    // Looks whether what the session waits for has come.
    void poke();
    void resume();

    void closeConnection();
    void applyOneCommandRule();

    void onConnected();
    void onSocketError();
    void onReadyRead();
    void onClosed(quint64 connection);
    void dispatch(const QByteArray& text);
    void execute(const proto::Reaction& r);
    void installFinished();
    void takeLateVersion(const QByteArray& text);
    void afterOlderDaemon();

    // Streaming: one chunk in flight at a time.
    void pumpChunks();
    bool writeNextChunk();
    void onChunkTimer();
    // Whether the piece under way moved since the last look (the system took
    // some of it, or the terminal acknowledged bytes).
    bool pieceMoved();
    void endStream(Outcome failure, const QString& detail, Cause cause = Cause::None);

    PushSession& q;
    PushOptions opt;
    QTcpSocket ownSocket;
    QTcpSocket& sock; // the caller's, or our own
    QTimer limitTimer;
    QTimer chunkTimer;
    QElapsedTimer started;

    Wait wait = Wait::None;
    std::function<void()> next;
    bool timedOut = false;
    double replyLimitMs = 0;
    bool sendCompleted = false;
    bool socketError = false;
    bool closingHere = false;
    bool peerReset = false;
    quint64 connection = 0;
    int repliesQueued = 0;

    SessionState state = SessionState::Idle;
    QString hostVersion;
    bool replyReceived = false;
    bool unsupportedReported = false;
    bool announcementLost = false;
    bool fullDownload = false;
    // How long the last connection took to open, for the version wait.
    QElapsedTimer connectClock;
    double connectMs = 0;
    // "VER:" went unanswered within its wait on a connection still open:
    // the next reply on it is that answer, late.
    bool versionOwed = false;
    // The connection has carried an answer: a daemon that closes after each
    // answer may have closed it before the next command arrived.
    bool answeredHere = false;
    bool versionTimedOut = false;
    // After the last byte to a daemon that did not answer "VER:" in time:
    // an install result may still come and is taken into account.
    bool listeningAfterFile = false;

    // The step under way, to send its command again.
    struct Step {
        QByteArray cmd;
        double limitMs = 0;
        std::function<void()> next;
        SessionState state = SessionState::Idle;
        Stage stage = Stage::Queued;
        bool sentAgain = false;
    } step;
    bool fileStarted = false; // once file bytes went out nothing is sent again
    bool resending = false;   // the next command is one sent again
    bool registered = false;
    QString key;

    QFile file;
    qint64 fileSize = 0;
    qint64 sent = 0;
    qint64 reported = -1;
    QByteArray chunk;
    qint64 chunkLength = 0;
    // When the piece under way last moved, and what it looked like then.
    qint64 lastMoveMs = 0;
    qint64 lastToWrite = 0;
    std::optional<qint64> lastMark;
    bool pumping = false;
    static constexpr qint64 kStreamSliceNs = 2'000'000;
    // How often a piece that waits for the system is looked at.
    static constexpr int kPiecePollMs = 250;
};

PushSession::Impl::Impl(PushSession& session, const PushOptions& options, QTcpSocket* socket)
    : q(session), opt(options), sock(socket ? *socket : ownSocket), fullDownload(options.full)
{
    limitTimer.setSingleShot(true);
    chunkTimer.setSingleShot(true);
    connect(&limitTimer, &QTimer::timeout, this, &Impl::onLimit);
    connect(&chunkTimer, &QTimer::timeout, this, &Impl::onChunkTimer);
    connect(&sock, &QTcpSocket::connected, this, &Impl::onConnected);
    connect(&sock, &QTcpSocket::errorOccurred, this, &Impl::onSocketError);
    connect(&sock, &QTcpSocket::readyRead, this, &Impl::onReadyRead);
    connect(&sock, &QTcpSocket::disconnected, this, [this] {
        if (!closingHere)
            onClosed(connection);
    });
    connect(&sock, &QTcpSocket::bytesWritten, this, [this] {
        if (sock.bytesToWrite() == 0)
            sendCompleted = true;
        if (wait == Wait::Stream) {
            lastMoveMs = started.elapsed();
            pumpChunks();
        } else {
            poke();
        }
    });
}

void PushSession::Impl::setStage(Stage s)
{
    if (q.m_stage == s)
        return;
    q.m_stage = s;
    emit q.stageChanged(s);
}

void PushSession::Impl::finish(Outcome o, const QString& detail, Cause cause)
{
    if (q.m_finished)
        return;
    q.m_finished = true;
    if (registered) {
        runningAddresses().remove(key);
        registered = false;
    }
    wait = Wait::None;
    next = nullptr;
    limitTimer.stop();
    chunkTimer.stop();
    if (!closed()) {
        closingHere = true;
        sock.abort();
        closingHere = false;
        log(QStringLiteral("Connection closed"));
    }
    // A socket lent by the caller outlives the session.
    QObject::disconnect(&sock, nullptr, this, nullptr);
    file.close();
    chunk = QByteArray();
    PushResult& r = q.m_result;
    r.address = q.m_address;
    r.outcome = o;
    r.exitCode = exitCodeOf(o);
    r.detail = detail;
    r.cause = cause;
    r.bytes = sent;
    r.seconds = started.isValid() ? started.nsecsElapsed() / 1e9 : 0;
    r.sentAsPartial = opt.full && !fullDownload;
    if (!detail.isEmpty() && opt.logFailures)
        log(QStringLiteral("ERROR: ") + detail);
    setStage(Stage::Finished);
    emit q.finished(r);
}

// --- waits --------------------------------------------------------------------

void PushSession::Impl::arm(double limitMs)
{
    timedOut = false;
    limitTimer.start(static_cast<int>(std::clamp(limitMs, 0.0, 2'000'000'000.0)));
}

void PushSession::Impl::resume()
{
    wait = Wait::None;
    limitTimer.stop();
    auto n = std::move(next);
    next = nullptr;
    if (n && !q.m_finished)
        n();
}

void PushSession::Impl::poke()
{
    if (q.m_finished)
        return;
    switch (wait) {
    case Wait::None:
    case Wait::Delay:
    case Wait::Stream: return;
    case Wait::Connect: return; // onConnected and onSocketError decide
    case Wait::Send:
        if (sendCompleted || closed() || socketError) {
            limitTimer.stop();
            // An error that left the connection open is a failed write; a
            // closed connection ends the reply wait at once.
            if (socketError && !sendCompleted && !closed()) {
                finish(Outcome::Failed, sock.errorString(), Cause::WriteFailed);
                return;
            }
            wait = Wait::Reply;
            timedOut = false;
            limitTimer.start(static_cast<int>(std::clamp(replyLimitMs, 0.0, 2e9)));
            poke();
        }
        return;
    case Wait::Reply:
        // A reply read together with the close decides before the close.
        if (replyReceived)
            resume();
        else if (closed() && repliesQueued == 0 && !((peerReset || answeredHere) && sendAgain()))
            resume();
        return;
    case Wait::Install:
        if (closed() && repliesQueued == 0 && listeningAfterFile) {
            afterOlderDaemon();
            return;
        }
        if (closed() && repliesQueued == 0) {
            limitTimer.stop();
            wait = Wait::None;
            // The terminal closes the connection when it reboots after
            // installing; a reset means the connection broke, so the file
            // may never have arrived whole.
            if (peerReset)
                finish(Outcome::ConnectionLost,
                       QStringLiteral("the terminal reset the connection before it reported "
                                      "the install result"),
                       Cause::ResetWhileInstalling);
            else
                finish(Outcome::Rebooted, {}, Cause::ClosedWhileInstalling);
        }
        return;
    }
}

void PushSession::Impl::onLimit()
{
    if (q.m_finished)
        return;
    timedOut = true;
    switch (wait) {
    case Wait::Connect:
        log(QStringLiteral("ERROR: timeout occurred"));
        finish(Outcome::NoConnection,
               QStringLiteral("no connection within %1 ms")
                   .arg(static_cast<int>(proto::kConnectLimitMs)),
               Cause::ConnectTimedOut);
        return;
    case Wait::Send:
        finish(Outcome::TimedOut, QStringLiteral("send request timed out"), Cause::SendTimedOut);
        return;
    case Wait::Reply:
        log(QStringLiteral("ERROR: timeout occurred"));
        resume();
        return;
    case Wait::Delay: resume(); return;
    case Wait::Install:
        if (listeningAfterFile) {
            afterOlderDaemon();
            return;
        }
        finish(Outcome::NoInstallResult, QStringLiteral("no install result from the terminal"));
        return;
    case Wait::None:
    case Wait::Stream: return;
    }
}

void PushSession::Impl::delayThen(int ms, std::function<void()> n)
{
    next = std::move(n);
    wait = Wait::Delay;
    limitTimer.start(ms);
}

void PushSession::Impl::connectThen(std::function<void()> n)
{
    // The socket is unbuffered and learns of the terminal's close only when
    // it reads; a daemon that closes after its answer has done so by now, so
    // look before deciding whether the connection is still there.
    if (!closed() && repliesQueued == 0 && connectionEnded(sock.socketDescriptor())) {
        if (connectionWasReset(sock.socketDescriptor()))
            peerReset = true;
        closeConnection();
    }
    if (!closed()) {
        n();
        return;
    }
    next = std::move(n);
    ++connection;
    versionOwed = false;
    answeredHere = false;
    socketError = false;
    peerReset = false;
    replyReceived = false;
    state = SessionState::Connecting;
    setStage(Stage::Connecting);
    wait = Wait::Connect;
    arm(proto::kConnectLimitMs);
    connectClock.start();
    // Unbuffered: a write goes straight to the system when it can take it.
    sock.connectToHost(q.m_address, opt.port, QIODevice::ReadWrite | QIODevice::Unbuffered);
}

void PushSession::Impl::onConnected()
{
    if (wait != Wait::Connect || q.m_finished)
        return;
    limitTimer.stop();
    connectMs = static_cast<double>(connectClock.nsecsElapsed()) / 1e6;
    log(QStringLiteral("Connected to ") + q.m_address);
    emit q.connected();
    auto n = std::move(next);
    delayThen(200, std::move(n));
}

void PushSession::Impl::onSocketError()
{
    socketError = true;
    if (q.m_finished)
        return;
    if (wait == Wait::Connect) {
        // A refused or unreachable address fails with an error; a daemon
        // that takes the connection and drops it at once rejects it.
        finish(Outcome::NoConnection, sock.errorString(),
               sock.error() == QAbstractSocket::RemoteHostClosedError ? Cause::ConnectClosed
                                                                      : Cause::ConnectFailed);
        return;
    }
    // Qt reports a reset like a close; onReadyRead looks for a reset before
    // Qt reads.
    if (sock.error() == QAbstractSocket::RemoteHostClosedError)
        onClosed(connection);
    else
        poke();
}

void PushSession::Impl::commandThen(const QByteArray& cmd, double limitMs, std::function<void()> n)
{
    step.cmd = cmd;
    step.limitMs = limitMs;
    step.next = n;
    step.state = state;
    step.stage = q.m_stage;
    step.sentAgain = resending;
    resending = false;
    emit q.traced(cmd, false);
    log(QStringLiteral("Sending command: ") + latin1(proto::showSeparators(cmd.toStdString())));
    sendCompleted = false;
    socketError = false;
    const qint64 written =
        sock.state() == QAbstractSocket::ConnectedState ? sock.write(cmd) : qint64(-1);
    if (written < 0) {
        if (sendAgain())
            return;
        finish(Outcome::ConnectionLost,
               sock.error() == QAbstractSocket::UnknownSocketError
                   ? QStringLiteral("the connection is not open")
                   : sock.errorString(),
               Cause::WriteFailed);
        return;
    }
    if (sock.bytesToWrite() == 0)
        sendCompleted = true;
    next = std::move(n);
    replyLimitMs = limitMs;
    wait = Wait::Send;
    arm(proto::kSendTimeoutMs);
    poke();
}

bool PushSession::Impl::sendAgain(const QString& why)
{
    if (fileStarted || step.sentAgain || step.cmd.isEmpty() || q.m_finished)
        return false;
    // The command may never have reached the terminal: the connection was
    // gone when it was written, or it ended without an answer after having
    // answered an earlier command (a daemon that closes after each answer may
    // have closed before the command arrived, and its reset of the unread
    // bytes can come after the close is seen). It comes before the file, so
    // sending it once more does no harm even where the terminal had read it.
    wait = Wait::None;
    limitTimer.stop();
    Step again = step;
    again.sentAgain = true;
    log(why);
    closeConnection();
    connectThen([this, again] {
        state = again.state;
        setStage(again.stage);
        replyReceived = false;
        resending = true;
        commandThen(again.cmd, again.limitMs, again.next);
    });
    return true;
}

void PushSession::Impl::closeConnection()
{
    ++connection; // a close of the terminal's still waiting to be handled is moot
    versionOwed = false;
    if (closed())
        return;
    closingHere = true;
    sock.abort();
    closingHere = false;
    log(QStringLiteral("Connection closed"));
}

void PushSession::Impl::applyOneCommandRule()
{
    if (proto::oneCommandPerConnection(bytes(hostVersion)))
        closeConnection();
}

// --- replies --------------------------------------------------------------------

void PushSession::Impl::onReadyRead()
{
    // One bounded read per arrival, acted on from the event queue; what is
    // left of a longer arrival comes as the next one.
    if (!closed() && connectionWasReset(sock.socketDescriptor()))
        peerReset = true;
    const QByteArray text = sock.read(proto::kMaxReplyBytes);
    if (!text.isEmpty() && repliesQueued < proto::kMaxQueuedReplies) {
        ++repliesQueued;
        QMetaObject::invokeMethod(
            this,
            [this, text] {
                --repliesQueued;
                if (!q.m_finished)
                    dispatch(text);
            },
            Qt::QueuedConnection);
    }
    // The socket is unbuffered: it learns of the terminal's close while
    // reading. The close is handled after the reply that came with it.
    if (closed() && !closingHere) {
        const quint64 c = connection;
        QMetaObject::invokeMethod(
            this, [this, c] { onClosed(c); }, Qt::QueuedConnection);
    }
}

void PushSession::Impl::onClosed(quint64 c)
{
    if (c != connection || q.m_finished)
        return;
    if (wait == Wait::Stream) {
        endStream(Outcome::ConnectionLost,
                  QStringLiteral("the terminal closed the connection during the transfer"));
        return;
    }
    poke();
}

void PushSession::Impl::dispatch(const QByteArray& text)
{
    emit q.traced(text, true);
    answeredHere = true;
    if (versionOwed) {
        versionOwed = false;
        if (proto::isLateVersionAnswer(text.toStdString())) {
            takeLateVersion(text);
            poke();
            return;
        }
    }
    execute(proto::dispatchReply(state, text.toStdString()));
    if (!q.m_finished)
        poke();
}

void PushSession::Impl::takeLateVersion(const QByteArray& text)
{
    hostVersion =
        latin1(proto::dispatchReply(SessionState::CheckingVersion, text.toStdString()).version);
    if (hostVersion.isEmpty())
        return; // "BADARGS": an older daemon after all
    // A current daemon on a slow link: it reports its install result.
    log(QStringLiteral("Host qlinkd version: ") + hostVersion + QStringLiteral(" (late answer)"));
    if (listeningAfterFile) {
        listeningAfterFile = false;
        log(QStringLiteral("Send complete, installing files..."));
        if (opt.installLimitMs >= 0)
            arm(opt.installLimitMs);
        else
            limitTimer.stop();
    }
}

void PushSession::Impl::execute(const proto::Reaction& r)
{
    using proto::Effect;
    if (r.setsReplyReceived)
        replyReceived = true;
    switch (r.effect) {
    case Effect::None: break;
    case Effect::StoreVersion: hostVersion = latin1(r.version); break;
    case Effect::AskUnsupported:
        // Asked once per session; without anyone to ask the session goes on.
        if (!unsupportedReported && opt.continueUnsupported) {
            unsupportedReported = true;
            if (!opt.continueUnsupported()) {
                finish(Outcome::Cancelled);
                return;
            }
            if (q.m_finished)
                return;
        }
        break;
    case Effect::AcceptAnnouncement:
        if (!closed()) {
            state = SessionState::Sending;
            emit q.announcementAccepted();
        } else {
            announcementLost = true;
        }
        break;
    case Effect::InstallFinished: installFinished(); return;
    }
    if (r.guard == proto::ReportGuard::UnlessUnsupportedReported && r.title && !unsupportedReported)
        emit q.commandRefused(state);
    if (r.marksUnsupported)
        unsupportedReported = true;
    if (r.exitCode) {
        const int code = *r.exitCode;
        Outcome o = Outcome::Failed;
        QString detail;
        if (code == exitcode::NoSpace) {
            o = Outcome::NoSpace;
            detail = QStringLiteral("not enough free space on the terminal");
        } else if (code == exitcode::BadArgs) {
            o = Outcome::BadArgs;
            detail = QStringLiteral("bad arguments in the command packet");
        } else if (state == SessionState::Sending || state == SessionState::Installing) {
            o = Outcome::InstallFailed;
            detail = QStringLiteral("the download failed on the terminal side");
        }
        finish(o, detail);
    }
}

// --- the steps --------------------------------------------------------------------

void PushSession::Impl::start()
{
    started.start();
    key = addressKey(q.m_address);
    if (runningAddresses().contains(key)) {
        finish(Outcome::AlreadyRunning,
               QStringLiteral("a download to %1 is already running").arg(q.m_address));
        return;
    }
    runningAddresses().insert(key);
    registered = true;
    const QFileInfo info(opt.filePath);
    if (opt.filePath.isEmpty() || !info.exists() || !info.isFile()) {
        finish(Outcome::NoFile, QStringLiteral("the file does not exist: ") + opt.filePath);
        return;
    }
    fileSize = info.size();
    if (fileSize == 0) {
        finish(Outcome::NoFile, QStringLiteral("the file is empty: ") + opt.filePath);
        return;
    }
    // A file that cannot be opened is found now, before the terminal is told
    // about it; it is opened for good only while it is sent, so sessions
    // that wait hold no file open.
    file.setFileName(opt.filePath);
    if (!file.open(QIODevice::ReadOnly)) {
        finish(Outcome::Failed, QStringLiteral("cannot read the file: ") + file.errorString(),
               Cause::FileUnreadable);
        return;
    }
    file.close();
    if (q.m_address.trimmed().isEmpty() || opt.port == 0) {
        finish(Outcome::BadAddress, QStringLiteral("no valid destination address"));
        return;
    }
    connectThen([this] { checkVersion(); });
}

void PushSession::Impl::checkVersion()
{
    state = SessionState::CheckingVersion;
    setStage(Stage::CheckingVersion);
    replyReceived = false;
    commandThen(command(proto::kCmdVersion), proto::versionWaitMs(connectMs),
                [this] { afterVersion(); });
}

void PushSession::Impl::afterVersion()
{
    if (timedOut) {
        // Taken for an older daemon, but the connection stays open: a daemon
        // that merely answers late (a slow or far link) answers next, and
        // an older one closes the connection itself.
        hostVersion.clear();
        versionTimedOut = true;
        versionOwed = !closed();
    } else if (proto::versionBelow(bytes(hostVersion), proto::kVersionKeepsConnection)) {
        closeConnection();
    }
    log(hostVersion.isEmpty() ? QStringLiteral("Host is running an older qlinkd version")
                              : QStringLiteral("Host qlinkd version: ") + hostVersion);
    // An older daemon takes only partial downloads.
    if (hostVersion.isEmpty() && fullDownload) {
        if (opt.fullAsPartial && !opt.fullAsPartial()) {
            finish(Outcome::Cancelled);
            return;
        }
        if (q.m_finished)
            return;
        fullDownload = false;
    }
    setClock();
}

void PushSession::Impl::optionalStep(SessionState s, Stage stage,
                                     const std::function<QByteArray()>& cmd, double limitMs,
                                     std::function<void()> n)
{
    connectThen([this, s, stage, cmd, limitMs, n = std::move(n)]() mutable {
        state = s;
        setStage(stage);
        replyReceived = false;
        // A time-out is no failure here: the session goes on. The command is
        // built once connected, so a clock it carries is that of this moment.
        commandThen(cmd(), limitMs, [this, n = std::move(n)] {
            applyOneCommandRule();
            n();
        });
    });
}

void PushSession::Impl::setClock()
{
    if (!proto::clockSupported(bytes(hostVersion)) || !opt.setClock) {
        killApps();
        return;
    }
    const auto build = [this] {
        const QDateTime now = opt.clock ? opt.clock() : QDateTime::currentDateTime();
        const proto::ClockTime t{now.date().year(), now.date().month(),  now.date().day(),
                                 now.time().hour(), now.time().minute(), now.time().second()};
        return QByteArray::fromStdString(proto::buildSetClockCommand(t));
    };
    optionalStep(SessionState::SettingClock, Stage::SettingClock, build, proto::kSetClockWaitMs,
                 [this] {
                     if (replyReceived)
                         log(QStringLiteral("Date & Time set"));
                     killApps();
                 });
}

void PushSession::Impl::killApps()
{
    if (!opt.killApps) {
        announce();
        return;
    }
    optionalStep(
        SessionState::KillingApps, Stage::KillingApps, [] { return command(proto::kCmdKillApps); },
        proto::kKillAppsWaitMs,
        [this] {
            // The terminal needs a moment to stop its applications (one
            // that does not know the command has none to stop).
            const auto done = [this] {
                log(QStringLiteral("Killed running applications on host device"));
                announce();
            };
            if (unsupportedReported)
                done();
            else
                delayThen(4000, done);
        });
}

void PushSession::Impl::announce()
{
    connectThen([this] {
        replyReceived = false;
        announcementLost = false;
        state = SessionState::Announcing;
        setStage(Stage::Announcing);
        proto::Announcement a;
        a.path = QFile::encodeName(opt.filePath).toStdString();
        a.size = static_cast<std::uint64_t>(fileSize);
        a.permissions = bytes(opt.permissions);
        a.owner = bytes(opt.owner);
        a.type = proto::announceTypeField(bytes(hostVersion), fullDownload);
        commandThen(QByteArray::fromStdString(proto::buildAnnounceCommand(a)),
                    proto::kAnnounceWaitMs, [this] { afterAnnouncement(); });
    });
}

void PushSession::Impl::afterAnnouncement()
{
    // Nothing at all came on this connection since "VER:": the daemon's
    // side of it is dead, not slow (a slow one would have answered "VER:"
    // by now). Announce once more over a new connection.
    if (timedOut && versionOwed &&
        sendAgain(QStringLiteral("No answer on this connection; announcing again")))
        return;
    if (timedOut) {
        finish(Outcome::TimedOut, QStringLiteral("no answer to the announcement"),
               Cause::AnnounceTimedOut);
    } else if (state == SessionState::Sending) {
        delayThen(200, [this] { sendFile(); });
    } else if (!replyReceived || announcementLost) {
        finish(Outcome::ConnectionLost,
               QStringLiteral("the terminal closed the connection before the file was sent"),
               Cause::ClosedBeforeFile);
    } else {
        finish(Outcome::Failed, QStringLiteral("the terminal did not accept the announcement"));
    }
}

// --- streaming ------------------------------------------------------------------

void PushSession::Impl::sendFile()
{
    log(QStringLiteral("Sending file: ") +
        QString::fromLatin1(proto::GetFileName(QFile::encodeName(opt.filePath).toStdString())) +
        (fullDownload ? QStringLiteral(" (full)") : QStringLiteral(" (partial)")));
    setStage(Stage::Sending);
    fileStarted = true;
    if (!file.open(QIODevice::ReadOnly)) {
        finish(Outcome::Failed, QStringLiteral("cannot read the file: ") + file.errorString(),
               Cause::FileUnreadable);
        return;
    }
    chunk.resize(kChunkSize);
    sent = 0;
    chunkLength = 0;
    wait = Wait::Stream;
    emit q.progress(0, fileSize);
    pumpChunks();
}

void PushSession::Impl::pumpChunks()
{
    if (pumping || wait != Wait::Stream || q.m_finished)
        return;
    pumping = true;
    QElapsedTimer slice;
    slice.start();
    bool more = true;
    while (more && wait == Wait::Stream && !q.m_finished) {
        if (chunkLength > 0) {
            if (sock.bytesToWrite() > 0)
                break; // the bytes-written notification brings us back
            sent += chunkLength;
            emit q.chunkSent(chunkLength);
            chunkLength = 0;
        }
        if (slice.nsecsElapsed() >= kStreamSliceNs) {
            // Let the other sessions and the window's events run.
            QMetaObject::invokeMethod(this, &Impl::pumpChunks, Qt::QueuedConnection);
            break;
        }
        more = writeNextChunk();
    }
    pumping = false;
    if (!q.m_finished && sent != reported) {
        reported = sent;
        emit q.progress(sent, fileSize);
    }
}

bool PushSession::Impl::writeNextChunk()
{
    if (sent >= fileSize) {
        // All announced bytes are out; a file that has grown meanwhile was
        // not the file announced.
        char extra;
        if (file.read(&extra, 1) > 0)
            endStream(Outcome::Failed, QStringLiteral("the file changed size during transfer"),
                      Cause::FileChangedSize);
        else
            afterStream();
        return false;
    }
    const qint64 want = std::min<qint64>(kChunkSize, fileSize - sent);
    const qint64 got = file.read(chunk.data(), want);
    if (got < 0) {
        endStream(Outcome::Failed, QStringLiteral("error reading the file: ") + file.errorString(),
                  Cause::FileUnreadable);
        return false;
    }
    if (got < want) {
        endStream(Outcome::Failed, QStringLiteral("the file changed size during transfer"),
                  Cause::FileChangedSize);
        return false;
    }
    if (sock.state() != QAbstractSocket::ConnectedState ||
        sock.write(chunk.constData(), got) != got) {
        endStream(Outcome::ConnectionLost,
                  QStringLiteral("error during file transfer: ") + sock.errorString(),
                  Cause::WriteFailed);
        return false;
    }
    chunkLength = got;
    lastMoveMs = started.elapsed();
    lastToWrite = sock.bytesToWrite();
    lastMark = deliveryMark(sock.socketDescriptor());
    if (!chunkTimer.isActive())
        chunkTimer.start(kPiecePollMs);
    sock.flush();
    return true;
}

bool PushSession::Impl::pieceMoved()
{
    const qint64 toWrite = sock.bytesToWrite();
    const std::optional<qint64> mark = deliveryMark(sock.socketDescriptor());
    if (toWrite == lastToWrite && mark == lastMark)
        return false;
    lastToWrite = toWrite;
    lastMark = mark;
    return true;
}

void PushSession::Impl::onChunkTimer()
{
    if (wait != Wait::Stream || q.m_finished)
        return;
    // A slow link drains the system's buffer slowly, and the system takes
    // the next write only once a good part of it has drained: a piece fails
    // only when nothing moved for the limit, not when it waited that long.
    const qint64 now = started.elapsed();
    if (chunkLength > 0 && pieceMoved())
        lastMoveMs = now;
    const qint64 still = now - lastMoveMs;
    if (chunkLength > 0 && still >= proto::kSendTimeoutMs) {
        endStream(Outcome::TimedOut, QStringLiteral("send request timed out"), Cause::SendTimedOut);
        return;
    }
    chunkTimer.start(
        static_cast<int>(std::clamp<qint64>(proto::kSendTimeoutMs - still, 1, kPiecePollMs)));
}

void PushSession::Impl::endStream(Outcome failure, const QString& detail, Cause cause)
{
    wait = Wait::None;
    chunkTimer.stop();
    finish(failure, detail, cause);
}

void PushSession::Impl::afterStream()
{
    wait = Wait::None;
    chunkTimer.stop();
    file.close();
    chunk = QByteArray();
    emit q.progress(sent, fileSize);
    reported = sent;
    if (q.m_finished)
        return;
    if (hostVersion.isEmpty()) {
        // An older daemon sends no install result.
        if (unsupportedReported) {
            finish(Outcome::Installed, {}, Cause::SentToOlderDaemon);
            return;
        }
        if (versionTimedOut && !closed()) {
            // "VER:" went unanswered in time: a current daemon on a slow
            // link still reports its install result, so listen as long as
            // the version was waited for before taking the daemon for an
            // older one.
            listeningAfterFile = true;
            state = SessionState::Installing;
            setStage(Stage::Installing);
            wait = Wait::Install;
            arm(proto::versionWaitMs(connectMs));
            poke();
            return;
        }
        afterOlderDaemon();
        return;
    }
    log(QStringLiteral("Send complete, installing files..."));
    state = SessionState::Installing;
    setStage(Stage::Installing);
    wait = Wait::Install;
    timedOut = false;
    if (opt.installLimitMs >= 0)
        arm(opt.installLimitMs);
    poke();
}

void PushSession::Impl::afterOlderDaemon()
{
    // Every byte went out and an older daemon sends no install result.
    listeningAfterFile = false;
    wait = Wait::None;
    limitTimer.stop();
    closeConnection();
    afterInstall();
}

void PushSession::Impl::installFinished()
{
    // "DNLD_DONE" (also one that comes before the last chunk was counted).
    listeningAfterFile = false;
    wait = Wait::None;
    chunkTimer.stop();
    limitTimer.stop();
    if (sent < fileSize && chunkLength > 0)
        sent += chunkLength;
    chunkLength = 0;
    // The terminal needs a moment after installing.
    delayThen(500, [this] {
        if (proto::oneCommandPerConnection(bytes(hostVersion)))
            closeConnection();
        afterInstall();
    });
}

void PushSession::Impl::afterInstall()
{
    if (opt.reboot)
        finishWith(proto::kCmdReboot, SessionState::Rebooting, Stage::Rebooting,
                   proto::kRebootWaitMs, Outcome::Rebooted);
    else if (opt.runApp)
        finishWith(proto::kCmdRunApp, SessionState::StartingApp, Stage::StartingApp,
                   proto::kRunAppWaitMs, Outcome::AppStarted);
    else
        finish(Outcome::Installed);
}

void PushSession::Impl::finishWith(std::string_view cmd, SessionState s, Stage stage,
                                   double limitMs, Outcome outcome)
{
    connectThen([this, cmd, s, stage, limitMs, outcome] {
        state = s;
        setStage(stage);
        replyReceived = false;
        // A reply, the connection closing (a reboot) and the time-out all
        // count as success.
        commandThen(command(cmd), limitMs, [this, outcome] { finish(outcome); });
    });
}

// --- PushSession ------------------------------------------------------------------

PushSession::PushSession(const QString& address, const PushOptions& options, QObject* parent,
                         QTcpSocket* socket)
    : QObject(parent), m_address(address)
{
    d = std::make_unique<Impl>(*this, options, socket);
    m_result.address = address;
}

PushSession::~PushSession()
{
    // A session dropped while running leaves its address to the next one.
    if (d->registered)
        runningAddresses().remove(d->key);
    m_finished = true;
    QObject::disconnect(&d->sock, nullptr, d.get(), nullptr);
    if (d->sock.state() != QAbstractSocket::UnconnectedState)
        d->sock.abort();
}

proto::SessionState PushSession::protocolState() const
{
    return d->state;
}

bool PushSession::replyReceived() const
{
    return d->replyReceived;
}

QString PushSession::hostVersion() const
{
    return d->hostVersion;
}

bool PushSession::runningTo(const QString& address)
{
    return runningAddresses().contains(addressKey(address));
}

void PushSession::start()
{
    if (m_stage != Stage::Queued || m_started)
        return;
    m_started = true;
    // From the event loop, so an outcome is never reported from inside start().
    QMetaObject::invokeMethod(
        d.get(),
        [this] {
            if (!m_finished)
                d->start();
        },
        Qt::QueuedConnection);
}

void PushSession::cancel()
{
    d->cancel();
}

void PushSession::Impl::cancel()
{
    if (q.m_stage == Stage::Installing && wait == Wait::Install)
        finish(Outcome::Delivered, QStringLiteral("stopped while the terminal installed the file"));
    else if (q.m_stage == Stage::Installing || q.m_stage == Stage::Rebooting ||
             q.m_stage == Stage::StartingApp)
        finish(Outcome::Installed); // the install result came; what follows was not awaited
    else
        finish(Outcome::Cancelled);
}

} // namespace tk::engine
