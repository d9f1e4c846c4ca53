#include "ui/networkdownload.h"

#include "core/exitcodes.h"
#include "core/protocol.h"
#include "core/transfer.h"
#include "platform/wait.h"
#include "ui/fleetdownload.h"
#include "ui/frmmain.h"
#include "ui/networkoptions.h"

#include <QFileInfo>

namespace tk {

using engine::Cause;
using engine::Outcome;
using engine::Stage;
using proto::SessionState;

namespace {

const QString kUnableToSend = QStringLiteral("Unable to Send");
const QString kSelectValidFile = QStringLiteral("Please select a valid file to send.");
const QString kConnectionLost = QStringLiteral("Connection to Tk650 Lost");
const QString kUnableToSendFile = QStringLiteral("Unable to send file");

std::string bytes(const QString& s)
{
    return s.toLatin1().toStdString();
}

QString latin1(const std::string& s)
{
    return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}

} // namespace

NetworkDownload::NetworkDownload(frmmain& window) : w(window)
{
    connect(w.cmdSend, &QPushButton::clicked, this, &NetworkDownload::sendAction);
    w.tmrCmdSendNetwork->setSingleShot(true);
    connect(w.tmrCmdSendNetwork, &QTimer::timeout, this, [this] {
        w.tmrCmdSendNetwork->stop();
        sendAction();
    });
    connect(w.tmrTime, &QTimer::timeout, this, &NetworkDownload::timeLeftTick);
    connect(w.tmrTimeout, &QTimer::timeout, this, &NetworkDownload::connectTick);
}

NetworkDownload::~NetworkDownload()
{
    delete m_session.data();
}

bool NetworkDownload::exitIfUnattended(int code)
{
    if (!w.commandLineMode)
        return false;
    w.doExitProcess(code);
    return true;
}

void NetworkDownload::report(const QString& title, const QString& text)
{
    w.env().dialogs->message(MsgIcon::Critical, title, text);
}

bool NetworkDownload::running() const
{
    return m_session && !m_session->isFinished();
}

bool NetworkDownload::replyReceived() const
{
    return running() && m_session->replyReceived();
}

void NetworkDownload::cancel()
{
    if (running())
        m_session->cancel();
}

// --- the Send action ----------------------------------------------------------

std::optional<SendProblem> fileProblem(const QString& path, qint64* size)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists() || !info.isFile())
        return SendProblem{exitcode::NoFile, QStringLiteral("The selected file does not exist.\r") +
                                                 kSelectValidFile};
    if (size)
        *size = info.size();
    if (info.size() == 0)
        return SendProblem{exitcode::NoFile,
                           QStringLiteral("The selected file is empty (zero bytes in size).\r") +
                               kSelectValidFile};
    // A file that cannot be opened is found now, before the terminal is told
    // about it.
    if (QFile probe(path); !probe.open(QIODevice::ReadOnly))
        return SendProblem{exitcode::Failed, QStringLiteral("The selected file cannot be read.\r") +
                                                 kSelectValidFile};
    return std::nullopt;
}

std::optional<SendProblem> portProblem(const QString& portText, quint16* port)
{
    bool numeric = false;
    const uint value = portText.toUInt(&numeric);
    // No dialog may appear in an unattended run: the port is part of the
    // destination, so it ends like a bad address.
    if (!numeric || value == 0 || value > 65535)
        return SendProblem{exitcode::BadAddress,
                           QStringLiteral("Please Enter A Valid Destination Port")};
    if (port)
        *port = static_cast<quint16>(value);
    return std::nullopt;
}

QString unableToSendTitle()
{
    return kUnableToSend;
}

bool NetworkDownload::checkInputs(const QString& path, quint16& port)
{
    if (const auto problem = fileProblem(path)) {
        if (exitIfUnattended(problem->exitCode))
            return false;
        report(kUnableToSend, problem->text);
        w.txtfilen->selectAll();
        w.txtfilen->setFocus();
        return false;
    }
    if (w.getDestinationIP().isEmpty()) {
        if (exitIfUnattended(exitcode::BadAddress))
            return false;
        report(kUnableToSend, QStringLiteral("Please Enter A Valid Destination IP Address"));
        return false;
    }
    if (const auto problem = portProblem(w.txtPort->text(), &port)) {
        if (exitIfUnattended(problem->exitCode))
            return false;
        report(kUnableToSend, problem->text);
        return false;
    }
    return true;
}

engine::PushOptions NetworkDownload::optionsFor(const QString& path, quint16 port)
{
    engine::PushOptions o = networkTabOptions(w, port);
    o.filePath = path;
    // A window waits for the install result until the user cancels; an
    // unattended run has a limit, so a build job never waits for ever.
    o.installLimitMs = -1;
    if (w.commandLineMode)
        o.installLimitMs =
            proto::installLimitSeconds(qEnvironmentVariableIsSet(proto::kInstallLimitVariable)
                                           ? qgetenv(proto::kInstallLimitVariable).constData()
                                           : nullptr) *
            1000;
    o.fullAsPartial = [this] { return fullAsPartial(); };
    o.continueUnsupported = [this] { return continueUnsupported(); };
    o.logFailures = false; // the window tells its own lines
    return o;
}

void NetworkDownload::sendAction()
{
    if (running())
        return;
    w.timeout = proto::kConnectLimitMs;
    w.cancelled = false;
    hostVersion.clear();

    const QString path = w.txtfilen->text();
    quint16 port = 0;
    if (!checkInputs(path, port))
        return;

    m_address = w.getDestinationIP();
    m_lastStage = Stage::Queued;
    sessionState = SessionState::Idle;
    bytesSent = 0;
    bytesAtLastTick = 0;
    fileSize = QFileInfo(path).size();
    delete m_session.data();
    auto* s = new engine::PushSession(m_address, optionsFor(path, port), this, w.tcpClient);
    m_session = s;
    connect(s, &engine::PushSession::stageChanged, this, &NetworkDownload::onStage);
    connect(s, &engine::PushSession::connected, this, &NetworkDownload::onConnected);
    connect(s, &engine::PushSession::announcementAccepted, this, &NetworkDownload::onAccepted);
    connect(s, &engine::PushSession::chunkSent, this, &NetworkDownload::onChunk);
    connect(s, &engine::PushSession::commandRefused, this, &NetworkDownload::onRefused);
    connect(s, &engine::PushSession::finished, this, &NetworkDownload::onFinished);
    connect(s, &engine::PushSession::logLine, &w, &frmmain::logMessage);
    connect(s, &engine::PushSession::traced, this, [this](const QByteArray& b, bool received) {
        if (received)
            w.doDebugBytes(b, true);
        else
            w.doDebug(QString::fromLatin1(b), false);
    });
    s->start();
}

// --- the questions -------------------------------------------------------------

bool NetworkDownload::fullAsPartial()
{
    // An older daemon takes only partial downloads.
    if (!w.commandLineMode) {
        const auto answer = w.env().dialogs->message(
            MsgIcon::None, QStringLiteral("Unsupported Commmand"),
            QStringLiteral("The destination device does not support a 'Full' download "
                           "type.\r\nContinue sending file as a 'Partial' download?"),
            MsgButtons::YesNo);
        if (answer != MsgAnswer::Yes)
            return false;
    }
    w.optNetworkPartial->setChecked(true);
    return true;
}

bool NetworkDownload::continueUnsupported()
{
    if (w.commandLineMode)
        return true;
    const QString question = latin1(proto::unsupportedQuestion(
        bytes(w.chkKillApps->text()), bytes(w.chkRunApp->text()), bytes(w.chkReboot->text())));
    const auto answer = w.env().dialogs->message(
        MsgIcon::None, QString::fromLatin1(proto::kUnsupportedQuestionTitle), question,
        MsgButtons::YesNo);
    return answer != MsgAnswer::No;
}

void NetworkDownload::onRefused(SessionState state)
{
    if (w.commandLineMode)
        return;
    const proto::Reaction r = proto::dispatchReply(state, "BADARGS");
    if (!r.title)
        return;
    QString caption;
    if (r.caption == proto::CaptionOf::RunApp)
        caption = w.chkRunApp->text();
    else if (r.caption == proto::CaptionOf::Reboot)
        caption = w.chkReboot->text();
    report(QString::fromLatin1(r.title), latin1(proto::reactionText(r, bytes(caption))));
}

// --- the session's course -----------------------------------------------------------

void NetworkDownload::onStage(Stage stage)
{
    if (stage == Stage::Finished)
        return;
    m_lastStage = stage;
    sessionState = m_session ? m_session->protocolState() : sessionState;
    switch (stage) {
    case Stage::Queued:
    case Stage::Finished: return;
    case Stage::Connecting:
        w.cmdSend->setEnabled(false);
        w.status(QStringLiteral("Connecting.."));
        w.cmdExitN->setText(QStringLiteral("Cancel"));
        // The progress bar counts the connect limit down.
        m_connectClock.start();
        w.tmrTimeout->start();
        return;
    case Stage::CheckingVersion: w.status(QStringLiteral("Checking Version..")); return;
    case Stage::SettingClock: w.status(QStringLiteral("Setting Time / Date")); return;
    case Stage::KillingApps: w.status(QStringLiteral("Killing Apps..")); return;
    case Stage::Announcing:
        w.status(QStringLiteral("Initializing transfer.."));
        w.saveRecentIP();
        w.ProgBar->setValue(0);
        return;
    case Stage::Sending:
        bytesSent = 0;
        bytesAtLastTick = 0;
        w.lblTime->setText(QStringLiteral("0 s"));
        w.status(QStringLiteral("Sending.."));
        w.tmrTime->start();
        return;
    case Stage::Installing:
        // No Cancel while the terminal installs: Exit closes the window.
        w.cmdExitN->setText(QStringLiteral("Exit"));
        w.status(QStringLiteral("Installing Files.."));
        w.lbletl->hide();
        w.lblTime->hide();
        w.tmrTime->stop();
        return;
    case Stage::Rebooting:
    case Stage::StartingApp: w.status(QStringLiteral("Installing Files..")); return;
    }
}

void NetworkDownload::connectTick()
{
    const double part = m_connectClock.elapsed() / proto::kConnectLimitMs;
    w.ProgBar->setValue(static_cast<int>(std::min(part, 0.99) * 100));
}

void NetworkDownload::onConnected()
{
    w.tmrTimeout->stop();
    w.status(QStringLiteral("Connected"));
}

void NetworkDownload::onAccepted()
{
    sessionState = SessionState::Sending;
    w.status(QStringLiteral("Connected"));
    w.lbletl->show();
    w.lblTime->show();
}

void NetworkDownload::onChunk(qint64 n)
{
    bytesSent += n;
    w.ProgBar->setValue(static_cast<int>(progressPercent(bytesSent, fileSize)));
    emit chunkSent(n);
}

void NetworkDownload::timeLeftTick()
{
    if (const auto text = timeLeftText(fileSize, bytesSent, bytesAtLastTick))
        w.lblTime->setText(QString::fromStdString(*text));
    bytesAtLastTick = bytesSent;
}

// --- how it ended ---------------------------------------------------------------------

void NetworkDownload::onFinished(const engine::PushResult& r)
{
    w.tmrTimeout->stop();
    w.tmrTime->stop();
    if (m_session) {
        hostVersion = m_session->hostVersion();
        m_session->deleteLater();
    }
    if (w.commandLineMode)
        endUnattended(r);
    else
        endInWindow(r);
    w.cancelled = false;
}

void NetworkDownload::endUnattended(const engine::PushResult& r)
{
    int code = r.exitCode;
    if (r.outcome == Outcome::NoInstallResult)
        // The terminal kept the connection and never told the install result
        // (it lost power while installing, or the connection is half open):
        // whether the file is installed is not known.
        w.logMessage(QStringLiteral("ERROR: no install result from the terminal"));
    else if (r.outcome == Outcome::Cancelled && m_lastStage == Stage::Connecting)
        code = exitcode::NoConnect;
    w.doExitProcess(code);
}

void NetworkDownload::endInWindow(const engine::PushResult& r)
{
    const auto failed = [this](const QString& title, const QString& text) {
        report(title, text);
        w.resetAll();
        w.status(QStringLiteral("Download FAILED"));
        sessionState = SessionState::Failed;
    };
    const auto done = [this](const char* status, const char* log) {
        w.resetAll();
        sessionState = SessionState::Done;
        w.status(QString::fromLatin1(status));
        w.logMessage(QString::fromLatin1(log));
    };
    switch (r.outcome) {
    case Outcome::Installed:
        if (r.cause == Cause::SentToOlderDaemon) {
            // The daemon can neither reboot nor start applications.
            w.env().dialogs->message(MsgIcon::Exclamation, QStringLiteral("Send Complete"),
                                     QStringLiteral("File Sucessfully Sent!"));
            pumpPendingEvents();
            w.resetAll();
            w.logMessage(QStringLiteral("Finished sending file"));
            return;
        }
        done("Download Complete", "Download complete");
        return;
    case Outcome::AppStarted:
        done("Download Complete (Running App)", "Download complete (application started)");
        return;
    case Outcome::Rebooted:
        if (r.cause == Cause::ClosedWhileInstalling) {
            // The terminal closes the connection when it reboots after installing.
            w.resetAll();
            w.status(QStringLiteral("Install Complete (Terminal Rebooting)"));
            return;
        }
        done("Download Complete (terminal rebooting)", "Download complete (host rebooted)");
        return;
    case Outcome::BadArgs:
    case Outcome::NoSpace: {
        const auto reaction = proto::dispatchReply(
            SessionState::Announcing, r.outcome == Outcome::NoSpace ? "NOSPACE" : "BADARGS");
        report(QString::fromLatin1(reaction.title), latin1(proto::reactionText(reaction, {})));
        w.resetAll();
        return;
    }
    case Outcome::NoFile:
    case Outcome::BadAddress:
        // Found by the input checks before the session started, unless the
        // file went away in between.
        report(kUnableToSend,
               fileProblem(w.txtfilen->text()).value_or(SendProblem{0, r.detail}).text);
        w.resetAll();
        return;
    case Outcome::NoConnection: {
        proto::LinkState link = proto::LinkState::OtherOpen;
        if (r.cause == Cause::ConnectTimedOut) {
            link = proto::LinkState::StillConnecting;
            w.ProgBar->setValue(100);
        } else if (r.cause == Cause::ConnectFailed) {
            link = proto::LinkState::Error;
        } else if (r.cause == Cause::ConnectClosed) {
            link = proto::LinkState::Closed;
        }
        const auto report = proto::connectFailureReport(link, bytes(m_address));
        w.logMessage(latin1(report.logLine));
        this->report(QString::fromLatin1(proto::kConnectErrorTitle),
                     QString::fromLatin1(report.text));
        w.resetAll();
        return;
    }
    case Outcome::TimedOut:
        if (r.cause == Cause::AnnounceTimedOut) {
            report(kConnectionLost,
                   QStringLiteral("Unable to complete file transfer\rSend Request Timed Out"));
            w.resetAll();
            return;
        }
        failed(kConnectionLost,
               QStringLiteral("Unable to complete file transfer\rSend request timed out"));
        return;
    case Outcome::InstallFailed:
        failed(QStringLiteral("File transfer failed"),
               QStringLiteral("The download failed on the terminal side: timeout"));
        w.logMessage(QStringLiteral("ERROR: download timeout on the host"));
        return;
    case Outcome::ConnectionLost:
        if (r.cause == Cause::ClosedBeforeFile)
            failed(kConnectionLost,
                   QStringLiteral("Unable to complete file transfer\rThe terminal closed the "
                                  "connection before the file was sent"));
        else if (r.cause == Cause::ResetWhileInstalling)
            // A reset is no reboot: the terminal dropped the connection with
            // bytes it had not read, so the file may never have arrived whole.
            failed(kConnectionLost,
                   QStringLiteral("Unable to complete file transfer\rThe terminal reset the "
                                  "connection before it reported the install result"));
        else
            failed(kConnectionLost,
                   QStringLiteral("Error occurred during file transfer\r") +
                       QString(r.detail).remove(QStringLiteral("error during file transfer: ")));
        return;
    case Outcome::Failed:
        if (r.cause == Cause::FileChangedSize) {
            w.logMessage(QStringLiteral("ERROR: file changed size during transfer"));
            failed(kUnableToSendFile,
                   QStringLiteral("The file changed size while it was being sent (%1 bytes were "
                                  "announced).\rPlease send it again once it is complete.")
                       .arg(fileSize));
            w.status(QStringLiteral("Download FAILED (file changed size)"));
        } else if (r.cause == Cause::FileUnreadable) {
            failed(kUnableToSendFile, QStringLiteral("Error reading the file\r") + r.detail);
        } else if (r.cause == Cause::WriteFailed) {
            failed(kConnectionLost,
                   QStringLiteral("Error occurred during file transfer\r") + r.detail);
        } else {
            failed(kUnableToSendFile, QStringLiteral("Error: Timeout occurred while waiting for "
                                                     "response from device"));
        }
        return;
    case Outcome::NoInstallResult:
        failed(kConnectionLost, QStringLiteral("Unable to complete file transfer\rNo install "
                                               "result from the terminal"));
        return;
    case Outcome::Cancelled:
    case Outcome::AlreadyInstalled: // fleet pushes only
    case Outcome::NotAttempted:
    case Outcome::Delivered: // cancelled while the terminal installs the whole file
        w.resetAll();
        if (m_lastStage == Stage::Sending)
            w.status(QStringLiteral("Download CANCELLED"));
        return;
    case Outcome::AlreadyRunning:
        // Another window of the program is sending to this terminal.
        report(kUnableToSend,
               QStringLiteral("A download to %1 is already running.").arg(m_address));
        w.resetAll();
        return;
    }
}

} // namespace tk
