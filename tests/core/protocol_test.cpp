#include "core/exitcodes.h"
#include "core/protocol.h"

#include <gtest/gtest.h>

using namespace tk::proto;
using namespace std::string_literals;

TEST(FileName, TakesThePartAfterTheLastSeparatorOfItsPlatform)
{
    const std::string_view windows = "\\/";
    struct Case {
        std::string path, onWindows, onLinux;
    };
    for (const Case& c : std::vector<Case>{
             {"C:\\dir\\sub\\app.bin", "app.bin", "C:\\dir\\sub\\app.bin"},
             {"/home/me/app.bin", "app.bin", "app.bin"},
             {"C:\\mixed/dir\\app.bin", "app.bin", "dir\\app.bin"},
             {"/home/me/back\\slash.tgz", "slash.tgz", "back\\slash.tgz"},
             {"/tmp/a b\\c d.tgz", "c_d.tgz", "a_b\\c_d.tgz"},
             {"app.bin", "app.bin", "app.bin"},
             {"dir\\", "", "dir\\"},
             {"dir/", "", ""},
             {"", "", ""},
         }) {
        EXPECT_EQ(GetFileName(c.path, windows), c.onWindows) << c.path;
        EXPECT_EQ(GetFileName(c.path, "/"), c.onLinux) << c.path;
#ifdef _WIN32
        EXPECT_EQ(GetFileName(c.path), c.onWindows) << c.path;
#else
        EXPECT_EQ(GetFileName(c.path), c.onLinux) << c.path;
#endif
    }
}

TEST(FileName, ReplacesBlanksOnlyInPackageNamesWithExactCase)
{
    EXPECT_EQ(GetFileName("C:\\my files\\my app.tgz", "\\/"), "my_app.tgz");
    EXPECT_EQ(GetFileName("a b c.tar"), "a_b_c.tar");
    EXPECT_EQ(GetFileName("a b.gz"), "a_b.gz");
    EXPECT_EQ(GetFileName("a b.bz2"), "a_b.bz2");
    EXPECT_EQ(GetFileName("a b.ipk"), "a_b.ipk");
    EXPECT_EQ(GetFileName("a b.TGZ"), "a b.TGZ");
    EXPECT_EQ(GetFileName("a b.txt"), "a b.txt");
    EXPECT_EQ(GetFileName("a b.tgz.bak"), "a b.tgz.bak");
    EXPECT_EQ(GetFileName("my dir\\plain", "\\/"), "plain");
    EXPECT_FALSE(isPackageName("gz"));
    EXPECT_TRUE(isPackageName(".gz"));
}

TEST(AnnounceCommand, CarriesEveryFieldEachEndedByNul)
{
    Announcement a;
    a.path = "/files/my app.tgz";
    a.size = 1234;
    a.permissions = "644";
    a.owner = "usr1";
    a.type = announceTypeField("01.02.01", true);
    const std::string cmd = buildAnnounceCommand(a);
    EXPECT_EQ(cmd, "DLD:my_app.tgz\0"
                   "1234\0"
                   "644\0"
                   "usr1\0"
                   "users\0"
                   "F\0"s);
    EXPECT_EQ("Sending command: " + showSeparators(cmd),
              "Sending command: DLD:my_app.tgz|1234|644|usr1|users|F|");
}

TEST(AnnounceCommand, OlderDaemonGetsNoTypeField)
{
    EXPECT_EQ(announceTypeField("", true), "");
    EXPECT_EQ(announceTypeField("", false), "");
    EXPECT_EQ(announceTypeField("01.00.00", false), "P");
    Announcement a;
    a.path = "pkg.ipk";
    a.size = 0;
    a.permissions = "755";
    a.owner = "root";
    a.type = announceTypeField("", true);
    EXPECT_EQ(buildAnnounceCommand(a), "DLD:pkg.ipk\0"
                                       "0\0"
                                       "755\0"
                                       "root\0"
                                       "users\0"s);
}

TEST(SetClockCommand, IsMonthDayHourMinuteYearDotSeconds)
{
    EXPECT_EQ(buildSetClockCommand({2026, 12, 6, 8, 35, 7}), "RTC:120608352026.07");
    EXPECT_EQ(buildSetClockCommand({2030, 1, 31, 23, 59, 59}), "RTC:013123592030.59");
    EXPECT_EQ(buildSetClockCommand({2025, 2, 1, 0, 0, 0}), "RTC:020100002025.00");
}

TEST(Version, NormalisationDropsTheTerminatorAndPadsTheMajor)
{
    EXPECT_EQ(normaliseVersion("1.02.01\n"), "01.02.01");
    EXPECT_EQ(normaliseVersion("1.02.01\0"s), "01.02.01");
    EXPECT_EQ(normaliseVersion("01.02.01\n"), "01.02.01");
    EXPECT_EQ(normaliseVersion("01.02.01\0"s), "01.02.01");
    // The last byte goes whatever it is.
    EXPECT_EQ(normaliseVersion("1.02.01"), "01.02.0");
    EXPECT_EQ(normaliseVersion("x"), "");
    EXPECT_EQ(normaliseVersion(""), "");
    EXPECT_EQ(normaliseVersion("1.\n"), "01.");
    EXPECT_EQ(normaliseVersion("1\n"), "1");
}

TEST(Version, RulesCompareOrdinallyAgainstTheTwoThresholds)
{
    struct Case {
        const char* version;
        bool clock;
        bool onePerConnection;
    };
    const Case cases[] = {
        {"", false, true},         {"01.01.99", false, true}, {"01.02.00", true, true},
        {"01.02.00a", true, true}, {"01.02.01", true, false}, {"01.10.00", true, false},
        {"02.00.00", true, false}, {"1.02.01", true, false}, // not normalised: "1" > "0"
        {"00.99.99", false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version);
        EXPECT_EQ(clockSupported(c.version), c.clock);
        EXPECT_EQ(oneCommandPerConnection(c.version), c.onePerConnection);
    }
}

TEST(Version, ALateAnswerIsTheVersionUnlessItAnswersALaterCommand)
{
    const struct {
        const char* text;
        bool version;
    } cases[] = {
        {"01.02.01\n", true}, {"1.02.00", true},   {"BADARGS", true},
        {"OK", false},        {"NOSPACE", false},  {"DNLD_FAIL", false},
        {"DNLD_DONE", false}, {"DNLD_EXP", false}, {"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(isLateVersionAnswer(c.text), c.version);
    }
    // At least the usual wait; longer for a connection that took long to open.
    EXPECT_EQ(versionWaitMs(0), kVersionWaitMs);
    EXPECT_EQ(versionWaitMs(600), kVersionWaitMs);
    EXPECT_EQ(versionWaitMs(2600), 4 * 2600.0);
}

TEST(Replies, AreRecognisedByTheirExactPrefix)
{
    EXPECT_EQ(recogniseReply("OK"), Reply::Ok);
    EXPECT_EQ(recogniseReply("OK\n"), Reply::Ok);
    EXPECT_EQ(recogniseReply("OKAY and more"), Reply::Ok);
    EXPECT_EQ(recogniseReply("ok"), Reply::Other);
    EXPECT_EQ(recogniseReply("Ok"), Reply::Other);
    EXPECT_EQ(recogniseReply(" OK"), Reply::Other);
    EXPECT_EQ(recogniseReply("BADARGS\0"s), Reply::BadArgs);
    EXPECT_EQ(recogniseReply("NOSPACE left"), Reply::NoSpace);
    EXPECT_EQ(recogniseReply("DNLD_DONE"), Reply::DnldDone);
    EXPECT_EQ(recogniseReply("DNLD_EXP\r\n"), Reply::DnldExp);
    EXPECT_EQ(recogniseReply("DNLD_FAIL:42"), Reply::DnldFail);
    EXPECT_EQ(recogniseReply("dnld_done"), Reply::Other);
    EXPECT_EQ(recogniseReply(""), Reply::Other);
    EXPECT_EQ(recogniseReply("01.02.01\n"), Reply::Other);
}

TEST(Replies, AReplyCutAnywhereInsideItsPrefixIsNotRecognised)
{
    for (std::string full : {"OK", "BADARGS", "NOSPACE", "DNLD_DONE", "DNLD_EXP", "DNLD_FAIL"}) {
        const Reply whole = recogniseReply(full);
        ASSERT_NE(whole, Reply::Other) << full;
        for (std::size_t cut = 0; cut < full.size(); ++cut) {
            EXPECT_EQ(recogniseReply(full.substr(0, cut)), Reply::Other) << full << " @" << cut;
            // The tail that arrives on its own is never the reply either.
            EXPECT_NE(recogniseReply(full.substr(cut + 1)), whole) << full << " @" << cut;
        }
        // Trailing bytes of any kind are ignored.
        for (std::string tail : {"\0"s, "\n"s, "\r\n"s, "garbage"s, "\xff"s})
            EXPECT_EQ(recogniseReply(full + tail), whole) << full;
    }
}

// --- the dispatcher ---------------------------------------------------------

namespace {

bool doesNothing(const Reaction& r)
{
    return r.effect == Effect::None && !r.setsReplyReceived && !r.stopsInstallWatch &&
           !r.marksUnsupported && !r.exitCode && !r.title && !r.resets && !r.status && !r.fails &&
           !r.log;
}

} // namespace

TEST(Dispatcher, StateValuesAreFixed)
{
    EXPECT_EQ(static_cast<int>(SessionState::Sending), 5);
    EXPECT_EQ(static_cast<int>(SessionState::Done), 7);
    EXPECT_EQ(static_cast<int>(SessionState::SettingClock), 11);
}

TEST(Dispatcher, IdleConnectingAndFailedIgnoreEverything)
{
    for (auto s : {SessionState::Idle, SessionState::Connecting, SessionState::Failed})
        for (const char* text : {"OK", "BADARGS", "NOSPACE", "DNLD_DONE", "DNLD_FAIL", "1.0\n"})
            EXPECT_TRUE(doesNothing(dispatchReply(s, text))) << static_cast<int>(s) << text;
}

TEST(Dispatcher, RepliesAStateDoesNotExpectAreIgnored)
{
    struct Case {
        SessionState state;
        const char* text;
    };
    const Case cases[] = {
        {SessionState::KillingApps, "NOSPACE"},   {SessionState::KillingApps, "DNLD_DONE"},
        {SessionState::KillingApps, "ok"},        {SessionState::Announcing, "DNLD_DONE"},
        {SessionState::Announcing, "1.02.01\n"},  {SessionState::Sending, "OK"},
        {SessionState::Installing, "BADARGS"},    {SessionState::Done, "NOSPACE"},
        {SessionState::StartingApp, "DNLD_FAIL"}, {SessionState::Rebooting, "NOSPACE"},
        {SessionState::SettingClock, "DNLD_EXP"}, {SessionState::CheckingVersion, ""},
    };
    for (const auto& c : cases)
        EXPECT_TRUE(doesNothing(dispatchReply(c.state, c.text)))
            << static_cast<int>(c.state) << " " << c.text;
}

TEST(Dispatcher, InstallResultsCountInSendingInstallingAndDoneAndEndNoStep)
{
    for (auto s : {SessionState::Sending, SessionState::Installing, SessionState::Done}) {
        for (const char* done : {"DNLD_DONE", "DNLD_EXP\n"}) {
            const auto r = dispatchReply(s, done);
            EXPECT_EQ(r.effect, Effect::InstallFinished);
            EXPECT_FALSE(r.setsReplyReceived);
        }
        const auto f = dispatchReply(s, "DNLD_FAIL");
        EXPECT_TRUE(f.fails);
        EXPECT_FALSE(f.setsReplyReceived);
    }
}

TEST(ConnectFailure, ReportsByHowTheSocketStands)
{
    auto r = connectFailureReport(LinkState::StillConnecting, "127.0.0.1");
    EXPECT_EQ(r.logLine, "ERROR connecting to 127.0.0.1 (timeout occurred)");
    EXPECT_STREQ(r.text, "Timeout occurred trying to connect to remote server.");
    r = connectFailureReport(LinkState::Error, "10.0.0.2");
    EXPECT_EQ(r.logLine, "ERROR connecting to 10.0.0.2 (host not ready)");
    EXPECT_STREQ(r.text,
                 "Unable to connect to remote server.\rVerify Network Download is enabled on the "
                 "device.");
    r = connectFailureReport(LinkState::OtherOpen, "a");
    EXPECT_EQ(r.logLine, "ERROR connecting to a (host unavailable)");
    EXPECT_STREQ(r.text, "Unable to connect to remote server.");
    r = connectFailureReport(LinkState::Closed, "a");
    EXPECT_EQ(r.logLine, "ERROR connecting to a (connection rejected)");
    EXPECT_STREQ(r.text,
                 "Unable to connect to remote server.\rThe connection attempt has been rejected.");
}

TEST(InstallLimit, WholeSecondsInRangeElseTheDefault)
{
    const struct {
        const char* value;
        int seconds;
    } cases[] = {
        {nullptr, 600},
        {"", 600},
        {"30", 30},
        {"1", 1},
        {"0", 600},
        {"-5", 600},
        {"12s", 600},
        {" 30", 600},
        {"2000000", 2000000},
        {"2000001", 600},
        {"99999999999999999999", 600},
    };
    for (const auto& c : cases)
        EXPECT_EQ(tk::proto::installLimitSeconds(c.value), c.seconds)
            << (c.value ? c.value : "unset");
}
