#pragma once
// The terminal's view of the download protocol: where a command ends in the
// byte stream, what a "DLD:" announcement and an "RTC:" clock text hold, and
// how an exchange is shown in the simulator's log. No sockets here.
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <optional>

namespace tk::sim {

// A "DLD:" announcement: fields each followed by NUL.
struct Announcement {
    QByteArray name;
    qint64 size = 0;
    QByteArray permissions; // three octal digits
    QByteArray owner;
    QByteArray group;
    QByteArray type; // "F", "P", or empty when the field was not sent
    bool hasType = false;
};

// Result of reading a "DLD:" payload: the announcement, or why it is refused.
struct AnnouncementParse {
    std::optional<Announcement> announcement;
    QString error; // set when announcement is empty
};

// Reads the bytes after "DLD:": name, size, permissions, owner, group and an
// optional type, each followed by NUL. Anything else is refused with a reason.
AnnouncementParse parseAnnouncement(const QByteArray& payload);

// Reads the bytes after "RTC:" (MMDDhhmmYYYY.ss, the argument form of the
// POSIX date command). Empty when the text is not exactly that or not a real
// date and time.
std::optional<QDateTime> parseClock(const QByteArray& payload);

// The length of the command at the start of buf, or 0 while more bytes may
// still belong to it. Commands without payload are 4 bytes; "RTC:" is 19;
// "DLD:" ends with its sixth NUL. A "DLD:" with five fields (no type), a
// "MSG:" text and anything unknown end only when the sender has paused
// (atPause): then everything buffered is the command.
qsizetype commandLength(const QByteArray& buf, bool atPause);

// The four-byte prefix of a command ("VER:"), or the whole text when shorter.
QByteArray commandPrefix(const QByteArray& command);

// Bytes as a readable log text: NUL as "|", other control and non-ASCII
// bytes as <XX>, printable ASCII unchanged.
QString readable(const QByteArray& bytes);

// A file name the terminal accepts: not empty, not "." or "..", and free of
// path separators, so storing it can never leave the store folder.
bool isPlainFileName(const QByteArray& name);

} // namespace tk::sim
