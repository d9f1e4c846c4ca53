#include "core/protocol.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace tk::proto {

// --- file names -------------------------------------------------------------

bool isPackageName(std::string_view name)
{
    for (std::string_view ext : {".tgz", ".tar", ".gz", ".bz2", ".ipk"}) {
        if (name.size() >= ext.size() && name.substr(name.size() - ext.size()) == ext)
            return true;
    }
    return false;
}

std::string GetFileName(const std::string& Fname, std::string_view separators)
{
    const auto cut = Fname.find_last_of(separators);
    std::string name = cut == std::string::npos ? Fname : Fname.substr(cut + 1);
    if (isPackageName(name))
        std::replace(name.begin(), name.end(), ' ', '_');
    return name;
}

// --- payload builders -------------------------------------------------------

namespace {

void appendField(std::string& out, std::string_view field)
{
    out.append(field);
    out.push_back('\0');
}

} // namespace

std::string buildAnnounceCommand(const Announcement& a)
{
    std::string out(kCmdAnnounce);
    appendField(out, GetFileName(a.path));
    appendField(out, std::to_string(a.size));
    appendField(out, a.permissions);
    appendField(out, a.owner);
    appendField(out, "users");
    if (!a.type.empty())
        appendField(out, a.type);
    return out;
}

std::string announceTypeField(const std::string& hostVersion, bool fullSelected)
{
    if (hostVersion.empty())
        return {};
    return fullSelected ? "F" : "P";
}

std::string buildSetClockCommand(const ClockTime& t)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d%02d%02d%02d%04d.%02d", t.month, t.day, t.hour, t.minute,
                  t.year, t.second);
    return std::string(kCmdSetClock) + buf;
}

std::string showSeparators(std::string_view command)
{
    std::string out(command);
    std::replace(out.begin(), out.end(), '\0', '|');
    return out;
}

// --- versions ---------------------------------------------------------------

int installLimitSeconds(const char* value)
{
    if (value == nullptr)
        return kInstallLimitDefaultS;
    const std::string_view text(value);
    if (text.empty() || text.size() > 9)
        return kInstallLimitDefaultS;
    int n = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return kInstallLimitDefaultS;
        n = n * 10 + (c - '0');
    }
    return n >= 1 && n <= kInstallLimitMaxS ? n : kInstallLimitDefaultS;
}

std::string normaliseVersion(std::string_view reply)
{
    if (reply.empty())
        return {};
    std::string v(reply.substr(0, reply.size() - 1));
    if (v.size() >= 2 && v[1] == '.')
        v.insert(v.begin(), '0');
    return v;
}

bool versionBelow(const std::string& hostVersion, std::string_view reference)
{
    return std::string_view(hostVersion) < reference;
}

bool clockSupported(const std::string& hostVersion)
{
    return !versionBelow(hostVersion, kVersionWithClock);
}

bool oneCommandPerConnection(const std::string& hostVersion)
{
    return versionBelow(hostVersion, kVersionKeepsConnection);
}

// --- replies ----------------------------------------------------------------

Reply recogniseReply(std::string_view text)
{
    struct Known {
        std::string_view prefix;
        Reply reply;
    };
    static constexpr std::array<Known, 6> known{{
        {"OK", Reply::Ok},
        {"BADARGS", Reply::BadArgs},
        {"NOSPACE", Reply::NoSpace},
        {"DNLD_DONE", Reply::DnldDone},
        {"DNLD_EXP", Reply::DnldExp},
        {"DNLD_FAIL", Reply::DnldFail},
    }};
    for (const auto& k : known) {
        if (text.substr(0, k.prefix.size()) == k.prefix)
            return k.reply;
    }
    return Reply::Other;
}

bool isLateVersionAnswer(std::string_view text)
{
    const Reply r = recogniseReply(text);
    return !text.empty() && (r == Reply::Other || r == Reply::BadArgs);
}

double versionWaitMs(double connectMs)
{
    return std::max(kVersionWaitMs, kVersionWaitPerConnect * connectMs);
}

// --- the reply dispatcher ---------------------------------------------------

namespace {

using S = SessionState;

// Which replies a row matches: one recognised reply, or any non-empty text.
enum class Match { Ok, BadArgs, NoSpace, InstallDone, DnldFail, AnyText };

constexpr unsigned bit(S s)
{
    return 1u << static_cast<int>(s);
}

struct Row {
    unsigned states; // bits of the states the row applies to
    Match match;
    Reaction reaction;
};

Reaction replyOnly()
{
    Reaction r;
    r.setsReplyReceived = true;
    return r;
}

Reaction unsupportedMessage(CaptionOf caption, const char* text)
{
    Reaction r = replyOnly();
    r.guard = ReportGuard::UnlessUnsupportedReported;
    r.title = "Unsupported Command";
    r.text = text;
    r.caption = caption;
    return r;
}

constexpr const char* kUnsupportedRequiresSp1 =
    "Error: '%1' not supported by the connected device\r\n(Requires ZRL00016 SP1 or later)";

const std::array<Row, 15>& table()
{
    static const std::array<Row, 15> rows = [] {
        Reaction version = replyOnly();
        version.effect = Effect::StoreVersion;

        Reaction ask = replyOnly();
        ask.effect = Effect::AskUnsupported;
        ask.marksUnsupported = true;

        Reaction accept = replyOnly();
        accept.effect = Effect::AcceptAnnouncement;

        Reaction noSpace = replyOnly();
        noSpace.exitCode = -5;
        noSpace.title = "Unable to send file";
        noSpace.text = "There is not enough free flash space on the unit";
        noSpace.resets = true;

        Reaction badArgs = replyOnly();
        badArgs.exitCode = -1;
        badArgs.title = "Unable to send file";
        badArgs.text = "Bad arguments in the command packet.\rAre you trying to overwrite a "
                       "directory on the device?";
        badArgs.resets = true;

        Reaction installed;
        installed.effect = Effect::InstallFinished;
        installed.stopsInstallWatch = true;

        Reaction installFailed;
        installFailed.stopsInstallWatch = true;
        installFailed.exitCode = -6;
        installFailed.guard = ReportGuard::UnlessCancelled;
        installFailed.title = "File transfer failed";
        installFailed.text = "The download failed on the terminal side: timeout";
        installFailed.resets = true;
        installFailed.status = "Download FAILED";
        installFailed.fails = true;
        installFailed.log = "ERROR: download timeout on the host";

        const unsigned streaming = bit(S::Sending) | bit(S::Installing) | bit(S::Done);
        return std::array<Row, 15>{{
            {bit(S::CheckingVersion), Match::BadArgs, version},
            {bit(S::CheckingVersion), Match::AnyText, version},
            {bit(S::KillingApps), Match::Ok, replyOnly()},
            {bit(S::KillingApps), Match::BadArgs, ask},
            {bit(S::Announcing), Match::Ok, accept},
            {bit(S::Announcing), Match::NoSpace, noSpace},
            {bit(S::Announcing), Match::BadArgs, badArgs},
            {streaming, Match::InstallDone, installed},
            {streaming, Match::DnldFail, installFailed},
            {bit(S::StartingApp), Match::Ok, replyOnly()},
            {bit(S::StartingApp), Match::BadArgs,
             unsupportedMessage(CaptionOf::RunApp, kUnsupportedRequiresSp1)},
            {bit(S::Rebooting), Match::Ok, replyOnly()},
            {bit(S::Rebooting), Match::BadArgs,
             unsupportedMessage(CaptionOf::Reboot, kUnsupportedRequiresSp1)},
            {bit(S::SettingClock), Match::Ok, replyOnly()},
            {bit(S::SettingClock), Match::BadArgs,
             unsupportedMessage(CaptionOf::None,
                                "Error: Set Time/Date not supported by the "
                                "connected device\r\n(Requires ZRL00018 or later)")},
        }};
    }();
    return rows;
}

bool matches(Match m, Reply reply, std::string_view text)
{
    switch (m) {
    case Match::Ok: return reply == Reply::Ok;
    case Match::BadArgs: return reply == Reply::BadArgs;
    case Match::NoSpace: return reply == Reply::NoSpace;
    case Match::InstallDone: return reply == Reply::DnldDone || reply == Reply::DnldExp;
    case Match::DnldFail: return reply == Reply::DnldFail;
    case Match::AnyText: return !text.empty();
    }
    return false;
}

} // namespace

Reaction dispatchReply(SessionState state, std::string_view text)
{
    const Reply reply = recogniseReply(text);
    for (const Row& row : table()) {
        if ((row.states & bit(state)) == 0)
            continue;
        if (!matches(row.match, reply, text))
            continue;
        Reaction r = row.reaction;
        if (r.effect == Effect::StoreVersion && reply != Reply::BadArgs)
            r.version = normaliseVersion(text);
        return r;
    }
    return {};
}

std::string reactionText(const Reaction& r, const std::string& caption)
{
    if (!r.text)
        return {};
    std::string text = r.text;
    const auto at = text.find("%1");
    if (at != std::string::npos)
        text.replace(at, 2, caption);
    return text;
}

std::string unsupportedQuestion(const std::string& killAppsCaption,
                                const std::string& runAppCaption, const std::string& rebootCaption)
{
    return "The following commands are not supported by the connected device:\r\n   - " +
           killAppsCaption + "\r\n   - " + runAppCaption + "\r\n   - " + rebootCaption +
           "\r\n(Requires ZRL00016 SP1 or later)\r\n\r\n\t\t      Continue download?";
}

// --- connect failures -------------------------------------------------------

ConnectReport connectFailureReport(LinkState state, const std::string& address)
{
    const std::string head = "ERROR connecting to " + address;
    switch (state) {
    case LinkState::StillConnecting:
        return {head + " (timeout occurred)",
                "Timeout occurred trying to connect to remote server."};
    case LinkState::Error:
        return {head + " (host not ready)", "Unable to connect to remote server.\rVerify Network "
                                            "Download is enabled on the device."};
    case LinkState::OtherOpen:
        return {head + " (host unavailable)", "Unable to connect to remote server."};
    case LinkState::Closed:
        return {head + " (connection rejected)",
                "Unable to connect to remote server.\rThe connection attempt has been rejected."};
    }
    return {head, "Unable to connect to remote server."};
}

} // namespace tk::proto
