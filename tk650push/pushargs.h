#pragma once
// The command line of tk650push: options in the GNU style (long options with
// "--name VALUE" or "--name=VALUE", options and operands in any order, "--"
// ends the options), the file, then terminals: addresses and @LISTFILE.
#include "addresslist.h"
#include "engine/fleetpush.h"
#include "engine/pushsession.h"
#include "listener/inventory.h"

#include <QHostAddress>
#include <QString>
#include <QStringList>
#include <variant>

namespace tk::push {

// Exit status of a run that did not start because of its arguments.
inline constexpr int kExitBadArguments = 101;
// Exit status when the program itself could not do its part (the report
// could not be written, the discovery port could not be bound).
inline constexpr int kExitCannotRun = 102;
// Failed terminals beyond this still give this status.
inline constexpr int kMaxFailedStatus = 100;

inline constexpr int kDefaultJobs = 16;
inline constexpr int kMaxDiscoverSeconds = 3600;
inline constexpr int kMaxRetries = 10;
inline constexpr char kRetryBaseVariable[] = "TK650_RETRY_BASE_MS";

struct PushArgs {
    bool help = false;
    bool version = false;

    QString file;          // absolute path
    QStringList terminals; // normalised, each once, in the order given

    quint16 port = 5142;
    bool full = false;
    bool setTime = false;
    bool killApps = false;
    bool reboot = false;
    bool run = false;
    QString permissions; // empty: 755 for executables, 644 otherwise
    QString owner = QStringLiteral("usr1");
    int jobs = kDefaultJobs;
    QString report; // empty: none; "-": standard output

    int discoverSeconds = 0; // 0: no discovery
    // Where the broadcasts are awaited; a null address means every local
    // address, port 0 the daemon port plus one.
    QHostAddress discoverAddress;
    quint16 discoverPort = 0;

    // Deployment policy (engine::FleetPolicy).
    int retries = 0;
    int canary = 0;
    int maxFailures = -1; // negative: no bound
    QString package;      // "name;version"; empty: no check

    // Discovery only: the terminals heard are written here, nothing is sent.
    QString inventory;
    InventoryFormat inventoryFormat = InventoryFormat::Json;
};

struct ArgError {
    QString message; // one line, without the program name
    // 101, or 102 where the arguments are sound but the report cannot be
    // written (its folder is missing, or it names a folder): checked before
    // any terminal is reached.
    int status = kExitBadArguments;
};

// Reads the arguments after the program name. Files named by @LIST are read
// here; FILE must be a readable, non-empty ordinary file (not needed with
// --help or --version).
std::variant<PushArgs, ArgError> parsePushArguments(const QStringList& args);

// What each terminal's session is given: the options as asked, permissions
// following the file when not given (755 for executables, 644 otherwise; a
// package always 644), the install wait from TK650_INSTALL_TIMEOUT.
engine::PushOptions pushOptionsFor(const PushArgs& args);

// The deployment policy asked for; the first retry wait from
// TK650_RETRY_BASE_MS (milliseconds, 2000 when unset).
engine::FleetPolicy fleetPolicyFor(const PushArgs& args);

QString pushHelpText();
QString pushVersionText();

// The status a finished run ends with.
inline int exitStatusFor(int failed)
{
    return failed <= 0 ? 0 : (failed > kMaxFailedStatus ? kMaxFailedStatus : failed);
}

} // namespace tk::push
