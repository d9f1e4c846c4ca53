#pragma once
// The terminal's download daemon on TCP: answers the download protocol's
// commands as configured, receives announced files, and records everything
// it saw. Runs in the thread that creates it, on that thread's event loop;
// a program that waits by pumping events serves it while it waits.
#include "record.h"
#include "wire.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpServer>
#include <memory>

namespace tk::sim {

// Answer to "RTC:", "ASP:", "ART:", "RST:", "DLD:" and "MSG:".
enum class Reply { Ok, BadArgs, NoSpace, Silent };
// Answer to "VER:".
enum class VersionReply { Text, BadArgs, Silent };
// What the terminal does once all announced bytes have arrived.
enum class InstallResult { Done, Expanded, Failed, Silent, Close };

// What the terminal does when a struck fault hits (DaemonFaults::strike).
enum class Strike {
    None,
    Close,   // closes the connection (after what it has queued)
    Reset,   // resets the connection
    Silence, // keeps reading, never answers again
    Stall,   // stops reading and answering
    Flood,   // answers nothing more but an endless stream without a line end
};

// Misbehaviour on demand, for reliability tests. Negative counts are off.
struct DaemonFaults {
    // Stop reading after this many file bytes, so the sender's buffers fill.
    qint64 stallAfterFileBytes = -1;
    // Resume reading after this long (negative: never).
    int stallMs = -1;
    // Drop the connection (reset) after this many file bytes.
    qint64 dropAfterFileBytes = -1;
    // Send every reply in two segments, the second this much later.
    bool splitReplies = false;
    int splitDelayMs = 50;
    // Bytes appended to every reply.
    QByteArray trailingBytes;
    // Do not accept connections at all: connecting is refused. Applied by
    // listen() and setRefuseConnections().
    bool refuseConnections = false;
    // Accept connections and close them again at once.
    bool closeOnAccept = false;
    // Accept connections, read everything, never answer.
    bool silent = false;
    // One fault at a chosen moment of a session: when the command with this
    // prefix arrives ("VER:", "DLD:", "RST:", ...), at half of the announced
    // file bytes ("FILE/2"), or once all of them have arrived ("FILE"). It
    // strikes before that command's answer (or the install result) when
    // strikeBeforeAnswer is set, else right after it; once per connection.
    Strike strike = Strike::None;
    QByteArray strikeAt;
    bool strikeBeforeAnswer = false;
};

// A slow or far terminal: a link that is not as fast as loopback.
struct DaemonLink {
    // File bytes taken off the connection per second (0: as fast as they
    // come). Beyond it the daemon leaves them in the system, whose buffers
    // fill, so the back-pressure of a slow link reaches the sender.
    qint64 readRate = 0;
    // The rate holds for this long after a file's first byte, then the link
    // is fast again: a spell of other traffic (0: for the whole file).
    int slowForMs = 0;
    // Every reply goes out this long after it was due, in order: a long
    // round trip (a close after a reply waits for it too).
    int replyDelayMs = 0;
};

// A terminal that fails its first tries, then behaves (retry tests).
struct FirstTries {
    // The first N connections are reset as soon as they are accepted.
    int refuse = 0;
    // The first N announcements ("DLD:") are answered by resetting the
    // connection: the file never starts.
    int drop = 0;
};

struct DaemonConfig {
    VersionReply versionReply = VersionReply::Text;
    QByteArray version = "01.02.01";
    char versionTerminator = '\n'; // the daemon's last byte, removed by the reader
    bool versionTerminated = true; // false: the text goes out without it
    Reply rtcReply = Reply::Ok;    // a malformed clock text is always BADARGS
    Reply aspReply = Reply::Ok;
    Reply artReply = Reply::Ok;
    Reply rstReply = Reply::Ok; // after OK or silence the connection closes (reboot)
    Reply dldReply = Reply::Ok; // a malformed announcement is always BADARGS
    Reply msgReply = Reply::Ok;
    InstallResult installResult = InstallResult::Done;
    int installDelayMs = 0;
    // Announcements larger than this are answered NOSPACE (negative: no limit).
    qint64 freeSpace = -1;
    // Close the connection after answering each command, like an older daemon.
    // "DLD:" and the file bytes after it still share one connection.
    bool oneCommandPerConnection = false;
    // The answer to "WHO:"; empty means no answer.
    QByteArray whoReply = TerminalRecord().toBytes();
    // Pause after which buffered bytes are taken as one whole command when
    // their end cannot be told from the bytes themselves.
    int commandPauseMs = 50;
    // Keep received file content in memory (files()[i].content).
    bool keepContent = true;
    // When set, received files are written here under their announced name,
    // and "tk650sim-received.txt" gets one line of metadata per file.
    QString storeDir;
    DaemonFaults faults;
    DaemonLink link;
    FirstTries firstTries;

    // A daemon from before versions were reported: "VER:" answered BADARGS,
    // one command per connection, no install result after the file bytes.
    static DaemonConfig olderDaemon();
};

struct ReceivedCommand {
    int connection = 0; // 1 for the first connection accepted, and so on
    QByteArray bytes;   // the whole command as received
};

struct ReceivedFile {
    int connection = 0;
    Announcement announcement;
    qint64 received = 0;   // bytes that arrived
    bool complete = false; // all announced bytes arrived
    QByteArray content;    // when keepContent
    QString storedPath;    // when stored
};

class DaemonConnection;

class Daemon : public QObject {
    Q_OBJECT
public:
    explicit Daemon(QObject* parent = nullptr);
    explicit Daemon(const DaemonConfig& config, QObject* parent = nullptr);
    ~Daemon() override;

    // Read at the moment each decision is taken, so tests may change it
    // between steps.
    DaemonConfig config;

    bool listen(const QHostAddress& address, quint16 port = 0);
    quint16 serverPort() const { return m_port; }
    QHostAddress serverAddress() const { return m_address; }
    QString errorString() const { return m_error; }
    void close();

    // Refuses or again accepts new connections on the same address and port.
    bool setRefuseConnections(bool refuse);

    const QList<ReceivedCommand>& commandLog() const { return m_commands; }
    // The commands' bytes in the order they arrived, on all connections.
    QList<QByteArray> commands() const;
    // Files whose transfer has ended, complete or not, in that order.
    const QList<ReceivedFile>& files() const { return m_files; }
    // File bytes received so far by transfers still running.
    qint64 fileBytesInProgress() const;
    int connectionCount() const { return m_connectionCount; }
    int openConnections() const;
    // Forgets commands, files and counts.
    void clearRecords();

signals:
    void commandReceived(const QByteArray& command);
    // A transfer ended: all bytes arrived, or the connection closed first.
    void fileReceived(const tk::sim::ReceivedFile& file);
    void connectionOpened(int connection);
    void connectionClosed(int connection);
    // One readable line per exchange ("<- " received, "-> " sent).
    void logLine(const QString& line);

private:
    friend class DaemonConnection;
    void onNewConnection();
    void recordCommand(int connection, const QByteArray& bytes);
    void finishFile(ReceivedFile file);
    void log(int connection, const QString& text);

    QTcpServer m_server;
    QHostAddress m_address;
    quint16 m_port = 0;
    QString m_error;
    QList<ReceivedCommand> m_commands;
    QList<ReceivedFile> m_files;
    QList<QPointer<DaemonConnection>> m_connections;
    int m_connectionCount = 0;
    int m_transferCount = 0;
};

} // namespace tk::sim
