#pragma once
// The simulator's command line and scenario files: everything a run can be
// told, as one plain struct.
#include "daemon.h"
#include "record.h"
#include "serialterminal.h"

#include <QHostAddress>
#include <QString>
#include <QStringList>
#include <optional>
#include <variant>

namespace tk::sim {

struct SimOptions {
    bool help = false;
    bool quiet = false;

    bool daemon = true;
    QHostAddress listenAddress{QHostAddress::AnyIPv4};
    quint16 listenPort = 5142;
    DaemonConfig daemonConfig;
    TerminalRecord record;
    // The answer to "WHO:" when not the terminal's own record (empty: none).
    std::optional<QByteArray> whoReply;

    // Number of terminals; each one after the first listens and broadcasts
    // from the next address (127.10.0.1, 127.10.0.2, ...) and gets its own
    // serial number.
    int terminals = 1;

    bool broadcast = false;
    QHostAddress broadcastTarget{QHostAddress::LocalHost};
    quint16 broadcastPort = 5143;
    int broadcastIntervalMs = 1000;
    int broadcastRounds = -1;

    // Fleet shares (with --terminals): which terminals fail their first
    // tries (DaemonConfig::firstTries) and which already hold a package.
    int flakyEvery = 1;   // terminals K, 2K, 3K ... (counted from 1) fail first
    QByteArray holding;   // "name;version" added to the record's packages
    int holdingEvery = 1; // of terminals 1, K+1, 2K+1 ...
    // "name;version" a terminal lists once it installed a file (its "WHO:"
    // answer; broadcasts keep the record they started with).
    QByteArray installs;
    // One line per file a terminal received ("ADDRESS NAME BYTES complete|partial").
    QString receivedLog;

    bool pseudoTerminal = false;
    QString serialDevice;
    qint32 baud = 115200;
    SerialConfig serialConfig;
};

// Reads the arguments after the program name. Returns the options, or a
// message saying what is wrong.
std::variant<SimOptions, QString> parseSimArguments(const QStringList& args);

// The text of --help.
QString simHelpText();

// Text with C escapes (\n, \r, \t, \0, \\, \xNN) as single-byte text.
QByteArray unescapeText(const QString& text);

// "ADDR", "ADDR:PORT" or ":PORT". False when not an IPv4 address or port.
bool parseEndpoint(const QString& text, QHostAddress& address, quint16& port);

// The address n steps after a (IPv4), for the terminals of a fleet.
QHostAddress nextAddress(const QHostAddress& a, quint32 n);

// Serial number of terminal i (from 0) of n: the base itself for one
// terminal, else the base and the number padded to the same width.
QByteArray fleetSerial(const QByteArray& base, int i, int n);

} // namespace tk::sim
