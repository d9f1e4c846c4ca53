#include "ui/networkdownload.h"

#include "core/exitcodes.h"
#include "core/protocol.h"
#include "core/transfer.h"
#include "platform/wait.h"
#include "ui/frmmain.h"
#include "ui/networkoptions.h"
#include "ui/networksession.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <exception>

namespace tk {

using proto::SessionState;

namespace {

const QString kUnableToSend = QStringLiteral("Unable to Send");
const QString kSelectValidFile = QStringLiteral("Please select a valid file to send.");

std::string bytes(const QString& s)
{
    return s.toLatin1().toStdString();
}

} // namespace

NetworkDownload::NetworkDownload(frmmain& window) : w(window)
{
    m_chunk.resize(kChunkSize);
    m_chunkTimer.setSingleShot(true);
    connect(&m_chunkTimer, &QTimer::timeout, this, &NetworkDownload::onChunkTimer);
    net().finishDownload = [this] { finishDownload(); };
    connect(w.cmdSend, &QPushButton::clicked, this, &NetworkDownload::sendAction);
    w.tmrCmdSendNetwork->setSingleShot(true);
    connect(w.tmrCmdSendNetwork, &QTimer::timeout, this, [this] {
        w.tmrCmdSendNetwork->stop();
        sendAction();
        endUnattendedRunWithoutOutcome();
    });
    m_installLimit.setSingleShot(true);
    connect(&m_installLimit, &QTimer::timeout, this, &NetworkDownload::installLimitReached);
    connect(w.tmrTime, &QTimer::timeout, this, &NetworkDownload::timeLeftTick);
    connect(w.installTimer, &QTimer::timeout, this, &NetworkDownload::installWatchTick);
    connect(w.tcpClient, &QTcpSocket::bytesWritten, this, &NetworkDownload::onBytesWritten);
}

NetworkSession& NetworkDownload::net() const
{
    return *w.net;
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

void NetworkDownload::abort()
{
    w.resetAll();
    w.cancelled = false;
}

void NetworkDownload::failSession(int exitCode, const QString& title, const QString& text)
{
    if (exitIfUnattended(exitCode))
        return;
    w.cancelled = true;
    report(title, text);
    abort();
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

bool NetworkDownload::checkInputs(const QString& path, qint64& size)
{
    if (const auto problem = fileProblem(path, &size)) {
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
    if (const auto problem = portProblem(w.txtPort->text())) {
        if (exitIfUnattended(problem->exitCode))
            return false;
        report(kUnableToSend, problem->text);
        return false;
    }
    return true;
}

bool NetworkDownload::afterReplyCancelled()
{
    if (!w.cancelled)
        return false;
    abort();
    return true;
}

bool NetworkDownload::optionalStep(SessionState state, const QString& status,
                                   const std::function<QByteArray()>& command, double limitMs)
{
    NetworkSession& s = net();
    if (!s.connectToHost())
        return false;
    s.sessionState = state;
    w.status(status);
    // A time-out is no failure here: the session goes on. The command is
    // built once connected, so a clock it carries is that of this moment.
    s.sendAndAwaitReply(command(), limitMs);
    if (afterReplyCancelled())
        return false;
    s.applyOneCommandRule();
    return true;
}

void NetworkDownload::sendAction()
{
    NetworkSession& s = net();
    try {
        w.timeout = proto::kConnectLimitMs;
        w.cancelled = false;
        s.hostVersion.clear();

        const QString path = w.txtfilen->text();
        qint64 size = 0;
        if (!checkInputs(path, size))
            return;

        s.unsupportedReported = false;
        if (!s.connectToHost())
            return;

        // Version: decides the clock, the type field and the connection rule.
        s.sessionState = SessionState::CheckingVersion;
        w.status(QStringLiteral("Checking Version.."));
        s.sendAndAwaitReply(QByteArray(proto::kCmdVersion.data(), proto::kCmdVersion.size()),
                            proto::kVersionWaitMs);
        if (w.gotTimeout) {
            s.closeConnection();
            s.hostVersion.clear();
        } else if (afterReplyCancelled()) {
            return;
        } else if (proto::versionBelow(bytes(s.hostVersion), proto::kVersionKeepsConnection)) {
            s.closeConnection();
        }
        w.logMessage(s.hostVersion.isEmpty()
                         ? QStringLiteral("Host is running an older qlinkd version")
                         : QStringLiteral("Host qlinkd version: ") + s.hostVersion);

        // An older daemon takes only partial downloads.
        if (s.hostVersion.isEmpty() && w.netOptions->fullSelected()) {
            if (!w.commandLineMode) {
                const auto answer = w.env().dialogs->message(
                    MsgIcon::None, QStringLiteral("Unsupported Commmand"),
                    QStringLiteral("The destination device does not support a 'Full' download "
                                   "type.\r\nContinue sending file as a 'Partial' download?"),
                    MsgButtons::YesNo);
                if (answer != MsgAnswer::Yes) {
                    abort();
                    return;
                }
            }
            w.optNetworkPartial->setChecked(true);
        }

        if (proto::clockSupported(bytes(s.hostVersion)) && w.chkSetRTC->isChecked()) {
            const auto setClock = [this] {
                const QDateTime now = w.env().now();
                const proto::ClockTime t{now.date().year(),   now.date().month(),
                                         now.date().day(),    now.time().hour(),
                                         now.time().minute(), now.time().second()};
                return QByteArray::fromStdString(proto::buildSetClockCommand(t));
            };
            if (!optionalStep(SessionState::SettingClock, QStringLiteral("Setting Time / Date"),
                              setClock, proto::kSetClockWaitMs))
                return;
            if (s.replyReceived)
                w.logMessage(QStringLiteral("Date & Time set"));
        }

        if (w.chkKillApps->isChecked()) {
            if (!optionalStep(
                    SessionState::KillingApps, QStringLiteral("Killing Apps.."),
                    [] {
                        return QByteArray(proto::kCmdKillApps.data(), proto::kCmdKillApps.size());
                    },
                    proto::kKillAppsWaitMs))
                return;
            // The terminal needs a moment to stop its applications.
            if (!s.unsupportedReported) {
                s.delayMs(4000);
                if (afterReplyCancelled())
                    return;
            }
            w.logMessage(QStringLiteral("Killed running applications on host device"));
        }

        // Announce the file.
        if (!s.connectToHost())
            return;
        s.replyReceived = false;
        s.announcementLost = false;
        s.sessionState = SessionState::Announcing;
        w.status(QStringLiteral("Initializing transfer.."));
        proto::Announcement a;
        a.path = QFile::encodeName(path).toStdString();
        a.size = static_cast<std::uint64_t>(size);
        a.permissions = bytes(w.netOptions->permissions());
        a.owner = bytes(w.netOptions->owner());
        a.type = proto::announceTypeField(bytes(s.hostVersion), w.netOptions->fullSelected());
        w.saveRecentIP();
        if (!s.sendCommand(QByteArray::fromStdString(proto::buildAnnounceCommand(a))))
            return;
        w.ProgBar->setValue(0);
        s.waitForReply(proto::kAnnounceWaitMs);
        if (afterReplyCancelled())
            return;
        if (w.gotTimeout) {
            failSession(exitcode::NoConnect, QStringLiteral("Connection to Tk650 Lost"),
                        QStringLiteral("Unable to complete file transfer\rSend Request Timed Out"));
            return;
        }
        if (s.sessionState == SessionState::Sending) {
            SendFile(path, size);
        } else if (!s.replyReceived || s.announcementLost) {
            // The terminal closed the connection before the file could go
            // out ("NOSPACE" and "BADARGS" have been reported by the
            // dispatcher).
            failSession(exitcode::Failed, QStringLiteral("Connection to Tk650 Lost"),
                        QStringLiteral("Unable to complete file transfer\rThe terminal closed "
                                       "the connection before the file was sent"));
            w.status(QStringLiteral("Download FAILED"));
        }
    } catch (const std::exception&) {
        failSession(
            exitcode::Failed, QStringLiteral("Unable to send file"),
            QStringLiteral("Error: Timeout occurred while waiting for response from device"));
    }
}

// --- streaming ------------------------------------------------------------------

void NetworkDownload::SendFile(const QString& path, qint64 announcedSize)
{
    NetworkSession& s = net();
    bytesSent = 0;
    bytesAtLastTick = 0;
    fileSize = announcedSize;
    w.lblTime->setText(QStringLiteral("0 s"));

    w.status(QStringLiteral("Sending.."));
    w.logMessage(
        QStringLiteral("Sending file: ") +
        QString::fromLatin1(proto::GetFileName(QFile::encodeName(path).toStdString())) +
        (w.netOptions->fullSelected() ? QStringLiteral(" (full)") : QStringLiteral(" (partial)")));
    pumpPendingEvents();
    s.delayMs(200);
    w.tmrTime->start();

    endTransfer(streamFile(path, announcedSize));
}

NetworkDownload::Stream NetworkDownload::streamFile(const QString& path, qint64 size)
{
    bytesSent = 0;
    fileSize = size;
    QFile file(path);
    // QFile reads ahead in blocks of a few chunks, which saves system calls;
    // its buffer is as flat as the chunk itself.
    if (!file.open(QIODevice::ReadOnly)) {
        m_readError = file.errorString();
        return Stream::ReadError;
    }
    return stream(file);
}

NetworkDownload::Stream NetworkDownload::stream(QFile& file)
{
    // One chunk is in flight at a time: a chunk is read and written once the
    // socket has handed the previous one to the system. While the system takes
    // chunks at once, they follow each other directly for a short slice of
    // time, then the window's events run; when the system's send buffer is
    // full, the socket's bytes-written notification resumes the loop. So
    // memory stays at one chunk and the window stays responsive. This wait
    // only watches for the end.
    m_file = &file;
    m_writeError.clear();
    w.gotTimeout = false;
    m_streaming = true;
    m_stream = Stream::Running;
    m_chunkLength = 0;
    pumpChunks();
    pumpEventsUntil([this] {
        return m_stream != Stream::Running || w.cancelled || w.gotTimeout ||
               w.tcpClient->state() != QAbstractSocket::ConnectedState;
    });
    m_streaming = false;
    m_file = nullptr;
    m_chunkTimer.stop();

    if (m_stream != Stream::Running)
        return m_stream;
    if (w.gotTimeout)
        return Stream::TimedOut;
    if (w.cancelled)
        return Stream::Cancelled;
    m_writeError = w.tcpClient->errorString();
    return Stream::WriteError;
}

void NetworkDownload::pumpChunks()
{
    // Flushing a chunk may report its bytes as written from inside this loop;
    // the loop itself looks after that.
    if (m_pumping || !m_streaming)
        return;
    m_pumping = true;
    QElapsedTimer slice;
    slice.start();
    while (m_stream == Stream::Running) {
        if (m_chunkLength > 0) {
            if (w.tcpClient->bytesToWrite() > 0)
                break; // the bytes-written notification brings us back
            bytesSent += m_chunkLength;
            emit chunkSent(m_chunkLength);
            m_chunkLength = 0;
            w.ProgBar->setValue(static_cast<int>(progressPercent(bytesSent, fileSize)));
        }
        if (slice.nsecsElapsed() >= kStreamSliceNs) {
            // Let the window's events (Cancel, timers, painting) run.
            QMetaObject::invokeMethod(this, &NetworkDownload::pumpChunks, Qt::QueuedConnection);
            break;
        }
        writeNextChunk();
    }
    m_pumping = false;
}

void NetworkDownload::writeNextChunk()
{
    if (w.cancelled) {
        m_stream = Stream::Cancelled;
        return;
    }
    if (bytesSent >= fileSize) {
        // All announced bytes are out; a file that has grown meanwhile was
        // not the file announced.
        char extra;
        m_stream = m_file->read(&extra, 1) > 0 ? Stream::SizeChanged : Stream::Done;
        return;
    }
    const qint64 want = std::min<qint64>(kChunkSize, fileSize - bytesSent);
    const qint64 got = m_file->read(m_chunk.data(), want);
    if (got < 0) {
        m_readError = m_file->errorString();
        m_stream = Stream::ReadError;
        return;
    }
    if (got < want) {
        m_stream = Stream::SizeChanged;
        return;
    }
    if (w.tcpClient->state() != QAbstractSocket::ConnectedState ||
        w.tcpClient->write(m_chunk.constData(), got) != got) {
        m_writeError = w.tcpClient->errorString();
        m_stream = Stream::WriteError;
        return;
    }
    m_chunkLength = got;
    m_chunkStartedMs = tickCountMs();
    if (!m_chunkTimer.isActive())
        m_chunkTimer.start(proto::kSendTimeoutMs);
    // Hand the chunk to the system now rather than on the next turn of the
    // event loop.
    w.tcpClient->flush();
}

void NetworkDownload::onChunkTimer()
{
    if (!m_streaming || m_stream != Stream::Running)
        return;
    const long long waited = tickCountMs() - m_chunkStartedMs;
    if (waited >= proto::kSendTimeoutMs)
        w.gotTimeout = true; // the socket has not taken this chunk in 4000 ms
    else
        m_chunkTimer.start(static_cast<int>(proto::kSendTimeoutMs - waited));
}

void NetworkDownload::onBytesWritten(qint64)
{
    if (m_streaming && m_stream == Stream::Running)
        pumpChunks();
}

void NetworkDownload::endTransfer(Stream how)
{
    NetworkSession& s = net();
    auto fail = [&](const QString& title, const QString& text, int code) {
        if (exitIfUnattended(code))
            return;
        if (!w.cancelled) {
            w.cancelled = true;
            report(title, text);
        }
        w.resetAll();
        w.status(QStringLiteral("Download FAILED"));
        s.sessionState = SessionState::Failed;
    };
    const QString lost = QStringLiteral("Connection to Tk650 Lost");
    switch (how) {
    case Stream::Done: break;
    case Stream::Cancelled:
        w.resetAll();
        // A failure reported by the terminal keeps its status.
        if (s.sessionState != SessionState::Failed)
            w.status(QStringLiteral("Download CANCELLED"));
        return;
    case Stream::TimedOut:
        fail(lost, QStringLiteral("Unable to complete file transfer\rSend request timed out"),
             exitcode::NoConnect);
        return;
    case Stream::WriteError:
        fail(lost, QStringLiteral("Error occurred during file transfer\r") + m_writeError,
             exitcode::Failed);
        return;
    case Stream::SizeChanged:
        w.logMessage(QStringLiteral("ERROR: file changed size during transfer"));
        fail(QStringLiteral("Unable to send file"),
             QStringLiteral("The file changed size while it was being sent (%1 bytes were "
                            "announced).\rPlease send it again once it is complete.")
                 .arg(fileSize),
             exitcode::Failed);
        if (!w.commandLineMode)
            w.status(QStringLiteral("Download FAILED (file changed size)"));
        return;
    case Stream::ReadError:
        fail(QStringLiteral("Unable to send file"),
             QStringLiteral("Error reading the file\r") + m_readError, exitcode::Failed);
        return;
    case Stream::Running: return;
    }

    if (s.sessionState == SessionState::Failed)
        return;
    if (s.hostVersion.isEmpty()) {
        // An older daemon sends no install result.
        if (s.unsupportedReported) {
            if (exitIfUnattended(exitcode::Success))
                return;
            w.env().dialogs->message(MsgIcon::Exclamation, QStringLiteral("Send Complete"),
                                     QStringLiteral("File Sucessfully Sent!"));
            pumpPendingEvents();
            w.resetAll();
            w.logMessage(QStringLiteral("Finished sending file"));
            return;
        }
        w.installTimer->stop();
        s.closeConnection();
        finishDownload();
        return;
    }
    w.logMessage(QStringLiteral("Send complete, installing files..."));
    s.sessionState = SessionState::Installing;
    w.cmdExitN->setText(QStringLiteral("Exit"));
    w.status(QStringLiteral("Installing Files.."));
    w.lbletl->hide();
    w.lblTime->hide();
    w.tmrTime->stop();
    w.installTimer->start();
    if (w.commandLineMode)
        m_installLimit.start(
            proto::installLimitSeconds(qEnvironmentVariableIsSet(proto::kInstallLimitVariable)
                                           ? qgetenv(proto::kInstallLimitVariable).constData()
                                           : nullptr) *
            1000);
}

void NetworkDownload::installLimitReached()
{
    if (!w.commandLineMode || w.exitRequested || net().sessionState != SessionState::Installing)
        return;
    // The terminal kept the connection and never told the install result (it
    // lost power while installing, or the connection is half open): whether
    // the file is installed is not known.
    w.logMessage(QStringLiteral("ERROR: no install result from the terminal"));
    w.doExitProcess(exitcode::NoConnect);
}

void NetworkDownload::endUnattendedRunWithoutOutcome()
{
    // Every unattended run ends with its outcome. A session that stopped
    // without one, and is not waiting for the install result, would leave a
    // build job waiting for ever.
    if (!w.commandLineMode || w.exitRequested)
        return;
    if (net().sessionState == SessionState::Installing && w.installTimer->isActive())
        return;
    w.doExitProcess(exitcode::Failed);
}

// --- progress and the install watch -------------------------------------------

void NetworkDownload::timeLeftTick()
{
    if (const auto text = timeLeftText(fileSize, bytesSent, bytesAtLastTick))
        w.lblTime->setText(QString::fromStdString(*text));
    bytesAtLastTick = bytesSent;
}

void NetworkDownload::installWatchTick()
{
    // A reply that came before or with the close ("DNLD_DONE") decides first.
    if (w.tcpClient->state() != QAbstractSocket::UnconnectedState || net().repliesPending())
        return;
    w.installTimer->stop();
    if (net().sessionState == SessionState::Done)
        return;
    if (net().connectionReset()) {
        // A reset is no reboot: the terminal dropped the connection with
        // bytes it had not read, so the file may never have arrived whole.
        net().sessionState = SessionState::Failed;
        if (exitIfUnattended(exitcode::Failed))
            return;
        report(QStringLiteral("Connection to Tk650 Lost"),
               QStringLiteral("Unable to complete file transfer\rThe terminal reset the "
                              "connection before it reported the install result"));
        w.resetAll();
        w.status(QStringLiteral("Download FAILED"));
        return;
    }
    // The terminal closes the connection when it reboots after installing.
    if (exitIfUnattended(exitcode::Rebooted))
        return;
    w.status(QStringLiteral("Install Complete (Terminal Rebooting)"));
}

// --- after the install ------------------------------------------------------------

bool NetworkDownload::finishWith(const QByteArray& cmd, SessionState state, double limitMs,
                                 int exitCode, const char* status, const char* log)
{
    NetworkSession& s = net();
    if (!s.connectToHost())
        return false;
    s.sessionState = state;
    w.status(QStringLiteral("Installing Files.."));
    // A reply, the connection closing (a reboot) and the time-out all count
    // as success.
    s.sendAndAwaitReply(cmd, limitMs);
    if (afterReplyCancelled())
        return false;
    if (exitIfUnattended(exitCode))
        return false;
    w.resetAll();
    s.sessionState = SessionState::Done;
    w.status(QString::fromLatin1(status));
    w.logMessage(QString::fromLatin1(log));
    return true;
}

void NetworkDownload::finishDownload()
{
    if (w.chkReboot->isChecked()) {
        finishWith(QByteArray(proto::kCmdReboot.data(), proto::kCmdReboot.size()),
                   SessionState::Rebooting, proto::kRebootWaitMs, exitcode::Rebooted,
                   "Download Complete (terminal rebooting)", "Download complete (host rebooted)");
    } else if (w.chkRunApp->isChecked()) {
        finishWith(QByteArray(proto::kCmdRunApp.data(), proto::kCmdRunApp.size()),
                   SessionState::StartingApp, proto::kRunAppWaitMs, exitcode::AppStarted,
                   "Download Complete (Running App)", "Download complete (application started)");
    } else {
        if (exitIfUnattended(exitcode::Success))
            return;
        w.resetAll();
        w.status(QStringLiteral("Download Complete"));
        net().sessionState = SessionState::Done;
        w.logMessage(QStringLiteral("Download complete"));
    }
}

} // namespace tk
