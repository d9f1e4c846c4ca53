#pragma once
// The command protocol spoken to the terminal's download daemon (qlinkd):
// command framing, the payload builders, reply recognition, the version rules
// and the reply dispatcher as a decision table. Pure: bytes are std::string,
// the clock is passed in, nothing here touches a socket or a window.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tk::proto {

// Where a network session stands. The values are fixed: the dispatcher treats
// 5 to 7 as one range, and other parts of the program store them.
enum class SessionState : int {
    Idle = 0,
    Connecting = 1,
    CheckingVersion = 2,
    KillingApps = 3,
    Announcing = 4,
    Sending = 5,
    Installing = 6,
    Done = 7,
    Failed = 8,
    StartingApp = 9,
    Rebooting = 10,
    SettingClock = 11,
};

// Command prefixes: three capital letters and a colon, no terminator.
inline constexpr std::string_view kCmdVersion = "VER:";
inline constexpr std::string_view kCmdSetClock = "RTC:";
inline constexpr std::string_view kCmdKillApps = "ASP:";
inline constexpr std::string_view kCmdAnnounce = "DLD:";
inline constexpr std::string_view kCmdReboot = "RST:";
inline constexpr std::string_view kCmdRunApp = "ART:";
inline constexpr std::string_view kCmdWho = "WHO:";
inline constexpr std::string_view kCmdMessage = "MSG:";

// Reply wait limits in milliseconds.
inline constexpr double kVersionWaitMs = 2500;
inline constexpr double kSetClockWaitMs = 5000;
inline constexpr double kKillAppsWaitMs = 10000;
inline constexpr double kAnnounceWaitMs = 5000;
inline constexpr double kRebootWaitMs = 10000;
inline constexpr double kRunAppWaitMs = 10000;
inline constexpr double kConnectLimitMs = 5000;
// A piece of the file fails when nothing moved for this long: the system
// took none of it and the terminal acknowledged nothing (where the system
// tells; elsewhere: the system took none of it).
inline constexpr int kSendTimeoutMs = 4000;

// The wait for the answer to "VER:" grows with the time the connection took
// to open (about one round trip): at least kVersionWaitMs, else this many
// times the connect time. A far terminal's answer takes more than a round
// trip, and a daemon that merely answers late must not pass for an older one.
inline constexpr double kVersionWaitPerConnect = 4;
double versionWaitMs(double connectMs);
inline constexpr int kReplyTickMs = 20;

// The most of one arrival kept as a reply (replies are a few bytes; the rest
// of a longer arrival is the next one), and how many arrivals may wait to be
// acted on before further ones are dropped.
inline constexpr long long kMaxReplyBytes = 64 * 1024;
inline constexpr int kMaxQueuedReplies = 16;

// How long an unattended run waits for the install result after the file:
// the environment variable TK650_INSTALL_TIMEOUT in whole seconds (1 to
// kInstallLimitMaxS), else kInstallLimitDefaultS. A window waits as long as
// its user wants (Cancel ends the wait).
inline constexpr const char* kInstallLimitVariable = "TK650_INSTALL_TIMEOUT";
inline constexpr int kInstallLimitDefaultS = 600;
inline constexpr int kInstallLimitMaxS = 2'000'000;
// The limit in seconds from the variable's text (null when not set); a text
// that is not a whole number in range gives the default.
int installLimitSeconds(const char* value);

// Daemon versions that unlock features (compared as plain strings).
inline constexpr std::string_view kVersionWithClock = "01.02.00";
inline constexpr std::string_view kVersionKeepsConnection = "01.02.01";

// --- file names -------------------------------------------------------------

// What ends a folder in a path of this system: "\" and "/" on Windows; only
// "/" elsewhere, where a backslash is an ordinary character of a file name.
#ifdef _WIN32
inline constexpr std::string_view kPathSeparators = "\\/";
#else
inline constexpr std::string_view kPathSeparators = "/";
#endif

// The file-name part of a path (after the last separator; the whole text when
// there is none). Package names (".tgz", ".tar", ".gz", ".bz2", ".ipk", exact
// case) get every blank replaced by "_", since the terminal's installer does
// not take blanks in package names.
std::string GetFileName(const std::string& Fname, std::string_view separators = kPathSeparators);
bool isPackageName(std::string_view name);

// --- payload builders -------------------------------------------------------

// What the "DLD:" announcement carries. `type` is "F" or "P", or empty for a
// daemon that reported no version (the payload then ends after the group).
struct Announcement {
    std::string path; // the chosen path; the name sent is GetFileName(path)
    std::uint64_t size = 0;
    std::string permissions = "644";
    std::string owner;
    std::string type;
};

// "DLD:" + name, size, permissions, owner, "users"[, type], each + NUL.
std::string buildAnnounceCommand(const Announcement& a);
// The type field for a daemon version and the selected download type.
std::string announceTypeField(const std::string& hostVersion, bool fullSelected);

// A local date and time as the PC's clock gives it.
struct ClockTime {
    int year = 0;
    int month = 0; // 1..12
    int day = 0;
    int hour = 0; // 0..23
    int minute = 0;
    int second = 0;
};

// "RTC:" + MMDDhhmmYYYY.ss (the argument form of POSIX date).
std::string buildSetClockCommand(const ClockTime& t);

// A command as the log shows it: every NUL as "|".
std::string showSeparators(std::string_view command);

// --- versions ---------------------------------------------------------------

// The daemon's version reply: its last byte (the terminator) removed, and a
// "0" put in front when the second character is ".", so "1.02.01\n" becomes
// "01.02.01".
std::string normaliseVersion(std::string_view reply);
// Plain ordinal comparison, as the daemon's version texts are formed.
bool versionBelow(const std::string& hostVersion, std::string_view reference);
// "RTC:" is only understood from 01.02.00 on.
bool clockSupported(const std::string& hostVersion);
// Below 01.02.01 the daemon takes one command per connection.
bool oneCommandPerConnection(const std::string& hostVersion);

// --- replies ----------------------------------------------------------------

enum class Reply { Other, Ok, BadArgs, NoSpace, DnldDone, DnldExp, DnldFail };

// Exact, case-sensitive comparison of the reply's first characters; trailing
// bytes are ignored. Anything else is Other (for "VER:" that is the version).
Reply recogniseReply(std::string_view text);
// Replies come in order, so the first one after a "VER:" whose wait ran out
// is its late answer: the version text or "BADARGS". Unless it is "OK",
// "NOSPACE" or an install result: then the daemon never answered "VER:" and
// this answers a later command.
bool isLateVersionAnswer(std::string_view text);

// --- the reply dispatcher ---------------------------------------------------

// What a reply does beyond the common steps below.
enum class Effect {
    None,
    StoreVersion,       // hostVersion = Reaction::version
    AskUnsupported,     // the unsupported-commands question (once); "No" cancels
    AcceptAnnouncement, // while connected: status "Connected", state Sending, time-left shown
    InstallFinished,    // 500 ms pause, close below 01.02.01, then finishDownload
};

// Whether the report block (message and what follows it) runs. It never runs
// in command-line mode.
enum class ReportGuard {
    Always,
    UnlessCancelled,           // skipped when `cancelled` is set; otherwise sets it first
    UnlessUnsupportedReported, // skipped once the user was told commands are unsupported
};

// Which check box caption goes into the message text in place of "%1".
enum class CaptionOf { None, RunApp, Reboot };

struct Reaction {
    Effect effect = Effect::None;
    bool setsReplyReceived = false;
    bool stopsInstallWatch = false;
    bool marksUnsupported = false; // sets unsupportedReported in either mode
    // In command-line mode the process ends with this code before anything else.
    std::optional<int> exitCode;
    // Report block, outside command-line mode only (critical icon).
    ReportGuard guard = ReportGuard::Always;
    const char* title = nullptr; // no message when null
    const char* text = nullptr;
    CaptionOf caption = CaptionOf::None;
    bool resets = false;          // resetAll after the message
    const char* status = nullptr; // status text after resetAll
    bool fails = false;           // sessionState = Failed
    const char* log = nullptr;    // log line at the end
    // For StoreVersion: the normalised version ("" for "BADARGS").
    std::string version;
};

// The decision for one data arrival in the given state. A reply that the
// state does not act on gives a Reaction that does nothing.
Reaction dispatchReply(SessionState state, std::string_view text);

// The message text of a reaction, with the caption put in.
std::string reactionText(const Reaction& r, const std::string& caption);

// The unsupported-commands question, with the three check boxes' captions.
inline constexpr const char* kUnsupportedQuestionTitle = "Unsupported Command. Continue?";
std::string unsupportedQuestion(const std::string& killAppsCaption,
                                const std::string& runAppCaption, const std::string& rebootCaption);

// --- connect failures -------------------------------------------------------

// How the socket stands when a connect attempt did not succeed.
enum class LinkState {
    StillConnecting, // the limit passed first
    Error,           // the attempt failed (refused, unreachable)
    OtherOpen,       // open in some other way
    Closed,          // the daemon took the connection and closed it at once
};

struct ConnectReport {
    std::string logLine;
    const char* text;
};

inline constexpr const char* kConnectErrorTitle = "Connection Error";
ConnectReport connectFailureReport(LinkState state, const std::string& address);

} // namespace tk::proto
