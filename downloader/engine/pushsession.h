#pragma once
// One network download to one terminal, without a window: the version check,
// clock, stopping applications, the announcement, the file in chunks with
// their limits, the install result and the reboot or application start.
// Driven by the event loop (no nested waits), so any number of sessions run
// side by side on one thread. The decisions on replies are core/protocol's.
// The two questions a session may have (a "Full" download to an older
// daemon, commands the daemon does not support) go to the caller's answers;
// without them a session answers as an unattended run does. Its outcome
// carries the exit code such a run would have ended with. At most one
// session runs to a terminal address at a time in the process.
#include "core/protocol.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QString>
#include <QTcpSocket>
#include <QTimer>
#include <functional>
#include <memory>

namespace tk::engine {

// What the network tab offers, for one download.
struct PushOptions {
    QString filePath;
    quint16 port = 5142;
    bool full = false;     // "F" (full) rather than "P" (partial) download
    bool setClock = false; // "RTC:" with the PC's clock (daemons from 01.02.00)
    bool killApps = false; // "ASP:" before the announcement
    bool reboot = false;   // "RST:" after a successful install
    bool runApp = false;   // "ART:" after a successful install (reboot wins)
    QString permissions = QStringLiteral("644");
    QString owner = QStringLiteral("root");
    // The longest wait for the install result after the file, in ms;
    // negative: wait until the session is cancelled.
    int installLimitMs = proto::kInstallLimitDefaultS * 1000;
    // The clock "RTC:" carries; the PC's local time when empty.
    std::function<QDateTime()> clock;
    // The daemon has no version, so it takes no "Full" download: true goes
    // on as "Partial", false stops the session (Cancelled). Unset: goes on.
    std::function<bool()> fullAsPartial;
    // The daemon refused "ASP:" (asked once per session): true goes on,
    // false stops the session (Cancelled). Unset: goes on.
    std::function<bool()> continueUnsupported;
    // Whether the session logs "ERROR: ..." with the detail of a failure.
    bool logFailures = true;
};

// How a session ended. Each maps to the exit code an unattended single run
// ends with in the same case (exitCodeOf).
enum class Outcome {
    Installed,       // 0: installed (or, for an older daemon, every byte sent)
    AppStarted,      // 1: installed and the application started
    Rebooted,        // 2: installed and the terminal rebooted
    BadArgs,         // -1: "BADARGS" to the announcement
    NoFile,          // -2: the file is missing or empty
    BadAddress,      // -3: not a usable address or port
    NoConnection,    // -4: refused, unreachable or not answered in time
    TimedOut,        // -4: a send or the announcement's reply did not come in time
    NoInstallResult, // -4: the install result did not come within the limit
    NoSpace,         // -5: "NOSPACE"
    InstallFailed,   // -6: "DNLD_FAIL"
    ConnectionLost,  // -6: the terminal closed or reset the connection too early
    Failed,          // -6: any other failure (reading the file, writing)
    Cancelled,       // -6: stopped by the user
    // -6: stopped by the user after the whole file arrived, while the
    // terminal installed it: it will, but its result was not awaited.
    Delivered,
    AlreadyRunning, // -6: another session to this address is running; nothing sent
    // Fleet pushes only (FleetPush), never a session's own outcome:
    AlreadyInstalled, // 0: the terminal's record lists the package; nothing sent
    NotAttempted,     // -6: a staged rollout stopped before this terminal
};

// What exactly ended a session, where one outcome has several causes a
// window tells apart.
enum class Cause {
    None,
    ConnectTimedOut,       // NoConnection: the limit passed while connecting
    ConnectFailed,         // NoConnection: refused or unreachable
    ConnectClosed,         // NoConnection: the daemon took the connection and closed it
    SendTimedOut,          // TimedOut: the system did not take a write in time
    AnnounceTimedOut,      // TimedOut: no answer to "DLD:"
    WriteFailed,           // ConnectionLost or Failed: a write failed
    ClosedBeforeFile,      // ConnectionLost: "OK" to "DLD:" but the connection was gone
    ResetWhileInstalling,  // ConnectionLost: reset instead of the install result
    ClosedWhileInstalling, // Rebooted: closed in order instead of the install result
    FileChangedSize,       // Failed
    FileUnreadable,        // Failed
    SentToOlderDaemon,     // Installed: an older daemon that refused "ASP:" got every byte
};

int exitCodeOf(Outcome o);
bool succeeded(Outcome o);
// A short word for reports ("installed", "no-space", ...).
QString outcomeWord(Outcome o);
// A text for a status column ("Installed", "Failed: no space", ...).
QString outcomeText(Outcome o);

// Where a running session stands.
enum class Stage {
    Queued,
    Connecting,
    CheckingVersion,
    SettingClock,
    KillingApps,
    Announcing,
    Sending,
    Installing,
    Rebooting,
    StartingApp,
    Finished,
};
// "Connecting", "Sending 42 %", "Installing", ... for a status column.
QString stageText(Stage s, qint64 sent, qint64 total);

struct PushResult {
    QString address;
    Outcome outcome = Outcome::Failed;
    int exitCode = -6;
    QString detail; // what went wrong, for logs; empty on success
    Cause cause = Cause::None;
    qint64 bytes = 0;   // file bytes handed to the system
    double seconds = 0; // from start to the outcome
    // "Full" was asked for, but an older daemon takes only partial downloads.
    bool sentAsPartial = false;
    bool ok() const { return succeeded(outcome); }
};

class PushSession : public QObject {
    Q_OBJECT
public:
    // With `socket` the session uses the caller's socket (a window's, which
    // others look at) instead of one of its own.
    PushSession(const QString& address, const PushOptions& options, QObject* parent = nullptr,
                QTcpSocket* socket = nullptr);
    ~PushSession() override;

    // Starts the session from the event loop; the outcome comes through
    // finished(), never from inside start().
    void start();
    // Ends the session at once (finished() is emitted before this returns);
    // no-op once finished. The outcome tells what the terminal has: Cancelled
    // before the whole file went out, Delivered while it installs, Installed
    // once its install result came (a reboot or start not awaited).
    void cancel();

    bool isFinished() const { return m_finished; }
    const PushResult& result() const { return m_result; }
    Stage stage() const { return m_stage; }
    const QString& address() const { return m_address; }
    // The state of the protocol (which replies mean what), and whether the
    // step under way has had its reply.
    proto::SessionState protocolState() const;
    bool replyReceived() const;
    // The daemon's version ("" for an older daemon), once asked.
    QString hostVersion() const;

    // Whether a session to this address is running in this process.
    static bool runningTo(const QString& address);

signals:
    void stageChanged(tk::engine::Stage stage);
    // File bytes handed to the system so far, at most once per chunk slice.
    void progress(qint64 sent, qint64 total);
    // One line of the session's log ("Connected to ...", "Sending command: ...").
    void logLine(const QString& line);
    // Bytes on the wire: commands sent and replies received (not file bytes).
    void traced(const QByteArray& bytes, bool received);
    // A connection is open; the step that needed it goes on.
    void connected();
    // A chunk of the file has been handed to the system.
    void chunkSent(qint64 bytes);
    // The daemon said "OK" to the announcement: the file follows.
    void announcementAccepted();
    // The daemon refused "RTC:", "ART:" or "RST:" before it was known that it
    // lacks those commands (the session goes on).
    void commandRefused(tk::proto::SessionState state);
    void finished(const tk::engine::PushResult& result);

private:
    class Impl;
    std::unique_ptr<Impl> d;
    friend class Impl;
    QString m_address;
    Stage m_stage = Stage::Queued;
    bool m_finished = false;
    bool m_started = false;
    PushResult m_result;
};

} // namespace tk::engine
