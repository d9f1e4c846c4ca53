#pragma once
// The protocol side of a network download: the connection to the terminal's
// daemon over the main window's tcpClient, the send primitive with its flow
// control and 4000 ms send limit, the reply time-out, and the reply
// dispatcher that carries out the decisions of core/protocol. Lives on the
// window thread; every wait goes through tk::pumpEventsUntil, so socket
// events, timers and the Cancel button act while a wait runs.
#include "core/protocol.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <functional>

namespace tk {

class frmmain;

class NetworkSession : public QObject {
    Q_OBJECT
public:
    explicit NetworkSession(frmmain& window);

    // --- session fields
    proto::SessionState sessionState = proto::SessionState::Idle;
    QString hostVersion; // normalised daemon version; empty for an older daemon
    bool replyReceived = false;
    bool sendCompleted = false;
    bool unsupportedReported = false;
    // The daemon said "OK" to "DLD:" but the connection was already gone, so
    // the file could not follow.
    bool announcementLost = false;

    // Run by the dispatcher after "DNLD_DONE" or "DNLD_EXP" (the steps after
    // a successful install belong to the file transfer).
    std::function<void()> finishDownload;

    // --- operations
    // True when a connection is open, opening one (limit: the window's
    // `timeout`) if needed. Reports its own failures.
    bool connectToHost();
    // Traces and logs one command, then sends it with sendAndWait.
    bool sendCommand(const QByteArray& cmd);
    // Writes data and waits until the socket has taken all of it, the
    // connection closes, the user cancels or 4000 ms pass.
    bool sendAndWait(const QByteArray& data);
    // The reply wait of one step: clears replyReceived, sends the command,
    // then waits up to limitMs for a reply, a close, Cancel or the time-out.
    // The caller sets sessionState before and inspects the flags after.
    void sendAndAwaitReply(const QByteArray& cmd, double limitMs);
    // Only the waiting part (after sendCommand).
    void waitForReply(double limitMs);
    void startTimeout(double limitMs, bool showProgress);
    void stopTimeout();
    // A pause that keeps window events running.
    void delayMs(int ms);

    // Closes an open connection ourselves and logs "Connection closed".
    void closeConnection();
    // Below 01.02.01 the daemon takes one command per connection: close it.
    void applyOneCommandRule();
    bool socketClosed() const;
    void stopInstallWatch();
    // Replies read but not yet acted on: they came before (or with) a close,
    // so they decide before the close does.
    bool repliesPending() const { return m_repliesQueued > 0; }
    // The terminal reset the connection (rather than closing it in order).
    bool connectionReset() const { return m_peerReset; }

private:
    void onDataArrival();
    void dispatch(const QByteArray& text);
    void execute(const proto::Reaction& r);
    void onClosed();
    void onBytesWritten(qint64 bytes);
    void onTimeoutTick();
    void onSendTimeout();
    void askUnsupported();
    bool sendFailed(const QString& text, int exitCode);
    // In command-line mode: ends the process with the code; true when it did
    // (in tests the exit is only recorded, so callers return at once).
    bool exitIfUnattended(int code);
    void report(const char* title, const QString& text);

    frmmain& w;
    double m_elapsed = 0;
    double m_limit = 0;
    QElapsedTimer m_timeoutClock;
    bool m_showProgress = false;
    bool m_socketError = false;
    bool m_closingHere = false;
    bool m_peerReset = false;
    quint64 m_connection = 0; // counts connections made and closed here
    int m_repliesQueued = 0;  // replies read but not yet acted on
};

} // namespace tk
