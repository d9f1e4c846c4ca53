#pragma once
// The Send action of the network tab and the file transfer behind it: the
// input checks, the order of the commands, the streaming of the file with its
// progress and time-left label, the install watch and the steps after a
// successful install (reboot or application start). The wire side (connect,
// commands, replies) is NetworkSession's.
#include "core/protocol.h"

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <optional>

namespace tk {

class frmmain;
class NetworkSession;

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

    // Transfer fields (64-bit, so files beyond 2 GB are counted right).
    qint64 bytesSent = 0;
    qint64 bytesAtLastTick = 0;
    qint64 fileSize = 0;

    // The click handler of cmdSend.
    void sendAction();
    // Streams the file announced with `announcedSize` bytes; called once the
    // daemon has accepted "DLD:".
    void SendFile(const QString& path, qint64 announcedSize);
    // After a successful install: "RST:", "ART:" or simply done.
    void finishDownload();

    // One tick of the time-left timer (every 1000 ms while streaming).
    void timeLeftTick();
    // One tick of the install watch (every 10 ms while installing).
    void installWatchTick();

    // How the chunk loop ended.
    enum class Stream { Running, Done, Cancelled, TimedOut, WriteError, SizeChanged, ReadError };
    // The chunk loop alone, over the open connection: sends `size` bytes of
    // the file and counts them in bytesSent. SendFile runs it; the throughput
    // benchmark measures it.
    Stream streamFile(const QString& path, qint64 size);

signals:
    // A chunk of the file has been handed to the system.
    void chunkSent(qint64 bytes);

private:
    NetworkSession& net() const;
    bool exitIfUnattended(int code);
    void report(const QString& title, const QString& text);
    void abort();
    // Exit code unattended; else the message, then abort.
    void failSession(int exitCode, const QString& title, const QString& text);
    // Step check of the Send action; false ends the action.
    bool checkInputs(const QString& path, qint64& size);
    bool afterReplyCancelled();
    // "RTC:" or "ASP:" with its reply wait; false when the action ends.
    bool optionalStep(proto::SessionState state, const QString& status,
                      const std::function<QByteArray()>& command, double limitMs);
    // Unattended: the install result did not come within the install limit.
    void installLimitReached();
    // Unattended: the Send action returned without an outcome and nothing is
    // awaited any more.
    void endUnattendedRunWithoutOutcome();
    // The steps after "RST:" or "ART:".
    bool finishWith(const QByteArray& cmd, proto::SessionState state, double limitMs, int exitCode,
                    const char* status, const char* log);

    Stream stream(QFile& file);
    void pumpChunks();
    void writeNextChunk();
    void onBytesWritten(qint64 n);
    void onChunkTimer();
    void endTransfer(Stream how);

    frmmain& w;
    // Streaming state: one chunk in flight at a time.
    bool m_streaming = false;
    Stream m_stream = Stream::Done;
    QFile* m_file = nullptr;
    QByteArray m_chunk;
    // Bytes of the chunk in flight (0: none).
    qint64 m_chunkLength = 0;
    bool m_pumping = false;
    // How long chunks may follow each other before the window's events run.
    static constexpr qint64 kStreamSliceNs = 2'000'000;
    // The 4000 ms limit of the chunk in flight: its start time, and one timer
    // re-armed only when it fires (not once per chunk).
    long long m_chunkStartedMs = 0;
    QTimer m_chunkTimer;
    // Unattended runs: the longest wait for the install result.
    QTimer m_installLimit;
    QString m_writeError;
    QString m_readError;
};

} // namespace tk
