#pragma once
// The Send action of the network tab as a view of one download session of
// the engine: the input checks and their messages, then the session's
// stages as status texts, its progress bar and time-left label, its log and
// trace lines, the two questions it may have, and the message, status and
// (unattended) exit code for each way it ends. Cancel and Exit act on the
// session. The protocol itself is the engine's.
#include "core/protocol.h"
#include "engine/pushsession.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <optional>

namespace tk {

class frmmain;

// Why a download cannot start: the exit code an unattended run ends with and
// the text of the "Unable to Send" message a window shows.
struct SendProblem {
    int exitCode;
    QString text;
};
// The file must exist, hold bytes and open for reading; its size is given
// back when it exists.
std::optional<SendProblem> fileProblem(const QString& path, qint64* size = nullptr);
// The port box must hold a port number (1 to 65535).
std::optional<SendProblem> portProblem(const QString& portText, quint16* port = nullptr);
// "Unable to Send", the title of both messages.
QString unableToSendTitle();

class NetworkDownload : public QObject {
    Q_OBJECT
public:
    explicit NetworkDownload(frmmain& window);
    ~NetworkDownload() override;

    // Transfer figures of the running session, for the progress bar and the
    // time-left label (64-bit, so files beyond 2 GB are counted right).
    qint64 bytesSent = 0;
    qint64 bytesAtLastTick = 0;
    qint64 fileSize = 0;

    // Where the last session stands: the protocol state while it runs, then
    // Done or Failed where it ended so (a cancelled session keeps its state).
    proto::SessionState sessionState = proto::SessionState::Idle;
    // The daemon's version as the last session found it.
    QString hostVersion;

    // The click handler of cmdSend: checks the inputs, then starts a session.
    void sendAction();
    // Cancel: ends a running session (nothing happens without one).
    void cancel();
    bool running() const;
    // Whether the step under way has had its reply.
    bool replyReceived() const;

    // One tick of the time-left timer (every 1000 ms while streaming).
    void timeLeftTick();

signals:
    // A chunk of the file has been handed to the system.
    void chunkSent(qint64 bytes);

private:
    bool exitIfUnattended(int code);
    void report(const QString& title, const QString& text);
    bool checkInputs(const QString& path, quint16& port);
    engine::PushOptions optionsFor(const QString& path, quint16 port);

    // The session's signals.
    void onStage(engine::Stage stage);
    void onConnected();
    void onAccepted();
    void onChunk(qint64 bytes);
    void onRefused(proto::SessionState state);
    void onFinished(const engine::PushResult& result);
    void endUnattended(const engine::PushResult& result);
    void endInWindow(const engine::PushResult& result);
    void connectTick();

    // The questions.
    bool fullAsPartial();
    bool continueUnsupported();

    frmmain& w;
    QPointer<engine::PushSession> m_session;
    engine::Stage m_lastStage = engine::Stage::Queued;
    QString m_address;
    QElapsedTimer m_connectClock;
};

} // namespace tk
