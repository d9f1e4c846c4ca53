#include "ui/networksession.h"

#include "core/exitcodes.h"
#include "engine/connectionreset.h"
#include "platform/wait.h"
#include "ui/frmmain.h"

#include <QMetaObject>
#include <QThread>
#include <algorithm>

namespace tk {

using proto::SessionState;

namespace {

QString latin1(const std::string& s)
{
    return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}

std::string bytes(const QString& s)
{
    return s.toLatin1().toStdString();
}

} // namespace

NetworkSession::NetworkSession(frmmain& window) : w(window)
{
    QTcpSocket* s = w.tcpClient;
    connect(s, &QTcpSocket::readyRead, this, &NetworkSession::onDataArrival);
    connect(s, &QTcpSocket::disconnected, this, &NetworkSession::onClosed);
    connect(s, &QTcpSocket::bytesWritten, this, &NetworkSession::onBytesWritten);
    connect(s, &QTcpSocket::errorOccurred, this, [this] { m_socketError = true; });
    connect(w.tmrTimeout, &QTimer::timeout, this, &NetworkSession::onTimeoutTick);
    w.tmrNetSendTimeout->setSingleShot(true);
    connect(w.tmrNetSendTimeout, &QTimer::timeout, this, &NetworkSession::onSendTimeout);
}

bool NetworkSession::socketClosed() const
{
    return w.tcpClient->state() == QAbstractSocket::UnconnectedState;
}

bool NetworkSession::exitIfUnattended(int code)
{
    if (!w.commandLineMode)
        return false;
    w.doExitProcess(code);
    return true;
}

void NetworkSession::report(const char* title, const QString& text)
{
    w.env().dialogs->message(MsgIcon::Critical, QString::fromLatin1(title), text);
}

// --- connection ---------------------------------------------------------

bool NetworkSession::connectToHost()
{
    pumpPendingEvents();
    // The socket is unbuffered and learns of the terminal's close only when
    // it reads. A daemon that closes after its answer has usually done so by
    // now, but its close may not have been read yet: look, and take the
    // close as if it had been read, rather than sending the next command
    // into a connection the terminal has ended.
    if (!socketClosed() && m_repliesQueued == 0 &&
        connectionEnded(w.tcpClient->socketDescriptor())) {
        if (connectionWasReset(w.tcpClient->socketDescriptor()))
            m_peerReset = true;
        char byte;
        w.tcpClient->read(&byte, 1); // nothing is left to read: this takes the close
        if (socketClosed())
            onClosed();
    }
    if (!socketClosed())
        return true;

    w.cmdSend->setEnabled(false);
    w.status(QStringLiteral("Connecting.."));
    w.cmdExitN->setText(QStringLiteral("Cancel"));
    replyReceived = false;

    const QString address = w.getDestinationIP();
    m_socketError = false;
    m_peerReset = false;
    ++m_connection;
    // Unbuffered: a write goes straight to the system when it can take it,
    // without a turn of the event loop per chunk of a file.
    w.tcpClient->connectToHost(address, w.txtPort->text().toUShort(),
                               QIODevice::ReadWrite | QIODevice::Unbuffered);
    sessionState = SessionState::Connecting;
    startTimeout(w.timeout, true);
    auto connecting = [this] {
        const auto st = w.tcpClient->state();
        return st == QAbstractSocket::HostLookupState || st == QAbstractSocket::ConnectingState;
    };
    pumpEventsUntil([&] { return !connecting() || w.cancelled || w.gotTimeout; });
    stopTimeout();
    pumpPendingEvents();

    const auto state = w.tcpClient->state();
    if (state == QAbstractSocket::ConnectedState && !w.cancelled && !w.gotTimeout) {
        w.logMessage(QStringLiteral("Connected to ") + address);
        w.status(QStringLiteral("Connected"));
        delayMs(200);
        return true;
    }

    if (exitIfUnattended(exitcode::NoConnect))
        return false;
    if (!w.cancelled) {
        proto::LinkState link = proto::LinkState::OtherOpen;
        if (connecting())
            link = proto::LinkState::StillConnecting;
        else if (state == QAbstractSocket::UnconnectedState)
            // A refused or unreachable address fails with an error; a daemon
            // that takes the connection and drops it at once rejects it.
            link = m_socketError && w.tcpClient->error() != QAbstractSocket::RemoteHostClosedError
                       ? proto::LinkState::Error
                       : proto::LinkState::Closed;
        const auto r = proto::connectFailureReport(link, bytes(address));
        w.logMessage(latin1(r.logLine));
        report(proto::kConnectErrorTitle, QString::fromLatin1(r.text));
    }
    w.resetAll();
    w.cancelled = false;
    return false;
}

void NetworkSession::closeConnection()
{
    ++m_connection; // a close of the terminal's still waiting to be handled is moot
    if (socketClosed())
        return;
    m_closingHere = true;
    w.tcpClient->abort();
    m_closingHere = false;
    w.logMessage(QStringLiteral("Connection closed"));
}

void NetworkSession::applyOneCommandRule()
{
    if (proto::oneCommandPerConnection(bytes(hostVersion)))
        closeConnection();
}

void NetworkSession::onClosed()
{
    // The terminal closed the connection (it does so when it reboots).
    if (!m_closingHere)
        w.resetAll();
}

// --- sending ------------------------------------------------------------

bool NetworkSession::sendCommand(const QByteArray& cmd)
{
    w.doDebug(QString::fromLatin1(cmd), false);
    w.logMessage(QStringLiteral("Sending command: ") +
                 latin1(proto::showSeparators(cmd.toStdString())));
    return sendAndWait(cmd);
}

bool NetworkSession::sendFailed(const QString& text, int exitCode)
{
    if (exitIfUnattended(exitCode))
        return false;
    if (!w.cancelled) {
        w.cancelled = true;
        w.env().dialogs->message(MsgIcon::Critical, QStringLiteral("Connection to Tk650 Lost"),
                                 text);
    }
    w.resetAll();
    w.status(QStringLiteral("Download FAILED"));
    sessionState = SessionState::Failed;
    return false;
}

bool NetworkSession::sendAndWait(const QByteArray& data)
{
    sendCompleted = false;
    QTcpSocket* s = w.tcpClient;
    const qint64 written =
        s->state() == QAbstractSocket::ConnectedState ? s->write(data) : qint64(-1);
    if (written < 0) {
        const QString why = s->error() == QAbstractSocket::UnknownSocketError
                                ? QStringLiteral("The connection is not open")
                                : s->errorString();
        return sendFailed(QStringLiteral("Error occurred during file transfer\r") + why,
                          exitcode::Failed);
    }
    // The system may take the whole command at once; otherwise the socket
    // reports it written once it has passed the rest on.
    if (s->bytesToWrite() == 0)
        sendCompleted = true;
    m_socketError = false;
    w.gotTimeout = false;
    w.tmrNetSendTimeout->start();
    pumpEventsUntil([this] {
        return socketClosed() || w.cancelled || w.gotTimeout || sendCompleted || m_socketError;
    });
    w.tmrNetSendTimeout->stop();

    if (w.gotTimeout)
        return sendFailed(
            QStringLiteral("Unable to complete file transfer\rSend request timed out"),
            exitcode::NoConnect);
    // An error that left the connection open is a failed write; a closed
    // connection ends the wait normally and the next write fails.
    if (m_socketError && !sendCompleted && !socketClosed())
        return sendFailed(QStringLiteral("Error occurred during file transfer\r") +
                              s->errorString(),
                          exitcode::Failed);
    return !w.cancelled;
}

void NetworkSession::onBytesWritten(qint64)
{
    if (w.tcpClient->bytesToWrite() == 0)
        sendCompleted = true;
}

// --- waiting ------------------------------------------------------------

void NetworkSession::sendAndAwaitReply(const QByteArray& cmd, double limitMs)
{
    replyReceived = false;
    sendCommand(cmd);
    waitForReply(limitMs);
}

void NetworkSession::waitForReply(double limitMs)
{
    startTimeout(limitMs, false);
    pumpEventsUntil(
        // A reply read together with the close is acted on before the close
        // ends the wait.
        [this] {
            return (socketClosed() && m_repliesQueued == 0) || replyReceived || w.cancelled ||
                   w.gotTimeout;
        });
    stopTimeout();
}

void NetworkSession::startTimeout(double limitMs, bool showProgress)
{
    w.tmrTimeout->stop();
    m_elapsed = 0;
    w.gotTimeout = false;
    m_limit = limitMs;
    m_showProgress = showProgress;
    m_timeoutClock.start();
    w.tmrTimeout->start();
}

void NetworkSession::stopTimeout()
{
    w.tmrTimeout->stop();
}

void NetworkSession::onTimeoutTick()
{
    // Counts nominal ticks; but when ticks come late (a busy event loop, a
    // terminal flooding the connection), never less than the time that has
    // really passed, so the limit still holds.
    m_elapsed = std::max(m_elapsed + w.tmrTimeout->interval(),
                         static_cast<double>(m_timeoutClock.elapsed()));
    if (m_elapsed >= m_limit) {
        if (m_showProgress)
            w.ProgBar->setValue(100);
        w.tmrTimeout->stop();
        w.gotTimeout = true;
        w.logMessage(QStringLiteral("ERROR: timeout occurred"));
    } else if (m_showProgress) {
        w.ProgBar->setValue(static_cast<int>(m_elapsed / m_limit * 100));
    }
}

void NetworkSession::onSendTimeout()
{
    w.tmrNetSendTimeout->stop();
    w.gotTimeout = true;
}

void NetworkSession::delayMs(int ms)
{
    const long long until = tickCountMs() + ms;
    pumpEventsUntil([until] { return tickCountMs() >= until; });
}

void NetworkSession::stopInstallWatch()
{
    w.installTimer->stop();
}

// --- the reply dispatcher -------------------------------------------------

void NetworkSession::onDataArrival()
{
    // Read at once, so a close that follows cannot discard the reply, and act
    // on it from the event queue: the socket does not signal new data while
    // one of its signal handlers runs, and acting on a reply may wait for the
    // next one ("RST:" after "DNLD_DONE").
    // One bounded read per arrival: a terminal that floods the connection
    // must neither fill the memory nor hold the window's events up (the
    // socket is unbuffered, so reading everything would go on for as long
    // as the terminal keeps sending). What is left comes as the next arrival.
    if (!socketClosed() && connectionWasReset(w.tcpClient->socketDescriptor()))
        m_peerReset = true;
    const QByteArray text = w.tcpClient->read(proto::kMaxReplyBytes);
    if (!text.isEmpty() && m_repliesQueued < proto::kMaxQueuedReplies) {
        ++m_repliesQueued;
        QMetaObject::invokeMethod(
            this,
            [this, text] {
                --m_repliesQueued;
                dispatch(text);
            },
            Qt::QueuedConnection);
    }
    // The socket is unbuffered: it learns that the terminal closed the
    // connection only while reading, and then shows it by its state alone.
    // The close is handled after the reply that came with it, unless a new
    // connection has been made meanwhile.
    if (socketClosed() && !m_closingHere) {
        const quint64 connection = m_connection;
        QMetaObject::invokeMethod(
            this,
            [this, connection] {
                if (connection == m_connection)
                    onClosed();
            },
            Qt::QueuedConnection);
    }
}

void NetworkSession::dispatch(const QByteArray& text)
{
    w.doDebugBytes(text, true);
    execute(proto::dispatchReply(sessionState, text.toStdString()));
}

void NetworkSession::askUnsupported()
{
    const QString question = latin1(proto::unsupportedQuestion(
        bytes(w.chkKillApps->text()), bytes(w.chkRunApp->text()), bytes(w.chkReboot->text())));
    const auto answer = w.env().dialogs->message(
        MsgIcon::None, QString::fromLatin1(proto::kUnsupportedQuestionTitle), question,
        MsgButtons::YesNo);
    if (answer == MsgAnswer::No)
        w.cancelled = true;
}

void NetworkSession::execute(const proto::Reaction& r)
{
    using proto::Effect;
    using proto::ReportGuard;
    if (r.setsReplyReceived)
        replyReceived = true;
    if (r.stopsInstallWatch)
        stopInstallWatch();

    switch (r.effect) {
    case Effect::None: break;
    case Effect::StoreVersion: hostVersion = latin1(r.version); break;
    case Effect::AskUnsupported:
        // Asked once per session, and never in an unattended run.
        if (!w.commandLineMode && !unsupportedReported)
            askUnsupported();
        break;
    case Effect::AcceptAnnouncement:
        if (!socketClosed()) {
            w.status(QStringLiteral("Connected"));
            sessionState = SessionState::Sending;
            w.lbletl->show();
            w.lblTime->show();
        } else {
            announcementLost = true;
        }
        break;
    case Effect::InstallFinished:
        // The terminal needs a moment after installing; nothing else may run.
        QThread::msleep(500);
        if (proto::oneCommandPerConnection(bytes(hostVersion)))
            closeConnection();
        if (finishDownload)
            finishDownload();
        break;
    }
    if (r.marksUnsupported)
        unsupportedReported = true;

    if (r.exitCode && exitIfUnattended(*r.exitCode))
        return;
    if (!r.title || w.commandLineMode)
        return;
    switch (r.guard) {
    case ReportGuard::Always: break;
    case ReportGuard::UnlessCancelled:
        if (w.cancelled)
            return;
        w.cancelled = true;
        break;
    case ReportGuard::UnlessUnsupportedReported:
        if (unsupportedReported)
            return;
        break;
    }
    QString caption;
    if (r.caption == proto::CaptionOf::RunApp)
        caption = w.chkRunApp->text();
    else if (r.caption == proto::CaptionOf::Reboot)
        caption = w.chkReboot->text();
    report(r.title, latin1(proto::reactionText(r, bytes(caption))));
    if (r.resets)
        w.resetAll();
    if (r.status)
        w.status(QString::fromLatin1(r.status));
    if (r.fails)
        sessionState = SessionState::Failed;
    if (r.log)
        w.logMessage(QString::fromLatin1(r.log));
}

} // namespace tk
