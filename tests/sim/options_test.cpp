#include "options.h"
#include "simulator.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tk::sim;

namespace {
SimOptions parse(const QStringList& args)
{
    auto r = parseSimArguments(args);
    if (auto* e = std::get_if<QString>(&r)) {
        ADD_FAILURE() << e->toStdString();
        return {};
    }
    return std::get<SimOptions>(r);
}

QString error(const QStringList& args)
{
    auto r = parseSimArguments(args);
    auto* e = std::get_if<QString>(&r);
    return e ? *e : QString();
}
} // namespace

TEST(SimOptions, DefaultsAreOneTerminalOnPort5142)
{
    const SimOptions o = parse({});
    EXPECT_EQ(o.listenAddress, QHostAddress(QHostAddress::AnyIPv4));
    EXPECT_EQ(o.listenPort, 5142);
    EXPECT_TRUE(o.daemon);
    EXPECT_FALSE(o.broadcast);
    EXPECT_EQ(o.broadcastPort, 5143);
    EXPECT_EQ(o.record.keyStatus.size(), 26);
    EXPECT_EQ(o.daemonConfig.version, "01.02.01");
}

TEST(SimOptions, FlagsSetAnswersFaultsRecordAndLines)
{
    const SimOptions o = parse({"--listen",
                                "127.10.5.1:6000",
                                "--store",
                                "/tmp/x",
                                "--version-text",
                                "1.02.00",
                                "--version-end",
                                "0x00",
                                "--rtc",
                                "badargs",
                                "--dld=nospace",
                                "--install",
                                "close",
                                "--install-delay",
                                "250",
                                "--one-command",
                                "--stall-after",
                                "100",
                                "--stall-ms",
                                "20",
                                "--drop-after",
                                "7",
                                "--split-replies",
                                "--trailing",
                                "\\r\\n",
                                "--silent",
                                "--serial-number",
                                "9-9",
                                "--packages",
                                "a;1,b;2",
                                "--keys",
                                "none",
                                "--discretionary",
                                "x\\r\\ny",
                                "--broadcast",
                                "127.10.5.9",
                                "--interval",
                                "40",
                                "--rounds",
                                "3",
                                "--pty",
                                "--ksyn",
                                "nak",
                                "--ksyn-suffix",
                                "\\x41",
                                "--who",
                                "none"});
    EXPECT_EQ(o.listenAddress, QHostAddress("127.10.5.1"));
    EXPECT_EQ(o.listenPort, 6000);
    const DaemonConfig& c = o.daemonConfig;
    EXPECT_EQ(c.storeDir, "/tmp/x");
    EXPECT_EQ(c.version, "1.02.00");
    EXPECT_EQ(c.versionTerminator, '\0');
    EXPECT_EQ(c.rtcReply, Reply::BadArgs);
    EXPECT_EQ(c.dldReply, Reply::NoSpace);
    EXPECT_EQ(c.installResult, InstallResult::Close);
    EXPECT_EQ(c.installDelayMs, 250);
    EXPECT_TRUE(c.oneCommandPerConnection);
    EXPECT_EQ(c.faults.stallAfterFileBytes, 100);
    EXPECT_EQ(c.faults.stallMs, 20);
    EXPECT_EQ(c.faults.dropAfterFileBytes, 7);
    EXPECT_TRUE(c.faults.splitReplies);
    EXPECT_EQ(c.faults.trailingBytes, "\r\n");
    EXPECT_TRUE(c.faults.silent);
    EXPECT_EQ(o.record.serial, "9-9");
    EXPECT_EQ(o.record.packages.size(), 2);
    EXPECT_TRUE(o.record.keyStatus.isEmpty());
    EXPECT_EQ(o.record.discretionary, "x\r\ny");
    EXPECT_TRUE(o.broadcast);
    EXPECT_EQ(o.broadcastTarget, QHostAddress("127.10.5.9"));
    EXPECT_EQ(o.broadcastPort, 5143);
    EXPECT_EQ(o.broadcastIntervalMs, 40);
    EXPECT_EQ(o.broadcastRounds, 3);
    EXPECT_TRUE(o.pseudoTerminal);
    EXPECT_EQ(o.serialConfig.validAnswer, KsynAnswer::Nak);
    EXPECT_EQ(o.serialConfig.answerSuffix, "A");
    ASSERT_TRUE(o.whoReply);
    EXPECT_TRUE(o.whoReply->isEmpty());

    EXPECT_EQ(parse({"--version-end", "none"}).daemonConfig.versionTerminated, false);
    EXPECT_EQ(parse({"--version-end", "\\r"}).daemonConfig.versionTerminator, '\r');
    EXPECT_EQ(parse({"--version-end", "7"}).daemonConfig.versionTerminator, '7');
    EXPECT_EQ(parse({"--listen", ":0"}).listenPort, 0);
}

TEST(SimOptions, OlderPresetKeepsTheStoreAndLinkAndLaterFlagsWin)
{
    const SimOptions o = parse({"--store", "/s", "--read-rate", "1000", "--slow-for", "20",
                                "--reply-delay", "300", "--older", "--install", "done"});
    EXPECT_EQ(o.daemonConfig.storeDir, "/s");
    EXPECT_EQ(o.daemonConfig.link.readRate, 1000);
    EXPECT_EQ(o.daemonConfig.link.slowForMs, 20);
    EXPECT_EQ(o.daemonConfig.link.replyDelayMs, 300);
    EXPECT_EQ(o.daemonConfig.versionReply, VersionReply::BadArgs);
    EXPECT_TRUE(o.daemonConfig.oneCommandPerConnection);
    EXPECT_EQ(o.daemonConfig.installResult, InstallResult::Done);
}

TEST(SimOptions, ReportsWhatIsWrong)
{
    EXPECT_TRUE(error({"--frobnicate"}).contains("unknown option"));
    EXPECT_TRUE(error({"--listen"}).contains("needs a value"));
    EXPECT_TRUE(error({"--listen", "localhost"}).contains("--listen"));
    EXPECT_TRUE(error({"--listen", "127.0.0.1:70000"}).contains("--listen"));
    EXPECT_TRUE(error({"--asp", "maybe"}).contains("ok|"));
    EXPECT_TRUE(error({"--install-delay", "-1"}).contains("--install-delay"));
    EXPECT_TRUE(error({"--terminals", "0"}).contains("--terminals"));
    EXPECT_TRUE(error({"--version-end", "ab"}).contains("one byte"));
    EXPECT_TRUE(error({"--pty=1"}).contains("no value"));
    EXPECT_TRUE(error({"stray"}).contains("unexpected"));
    EXPECT_TRUE(error({"--scenario", "/nonexistent/file"}).contains("cannot read"));
    EXPECT_TRUE(error({"--holding", "app"}).contains("name;version"));
    EXPECT_TRUE(error({"--installs", "a;b;c"}).contains("name;version"));
    EXPECT_TRUE(error({"--flaky-every", "0"}).contains("--flaky-every"));
}

TEST(SimOptions, ScenarioFileLinesAreFlagsThatLaterArgumentsOverride)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("s.txt");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("# a terminal that is short of space\n"
            "\n"
            "dld nospace\n"
            "--discretionary two words here\n"
            "split-replies\n"
            "asp badargs\n");
    f.close();
    const SimOptions o = parse({"--scenario", path, "--asp", "ok"});
    EXPECT_EQ(o.daemonConfig.dldReply, Reply::NoSpace);
    EXPECT_EQ(o.record.discretionary, "two words here");
    EXPECT_TRUE(o.daemonConfig.faults.splitReplies);
    EXPECT_EQ(o.daemonConfig.aspReply, Reply::Ok);

    QFile bad(dir.filePath("bad.txt"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("rounds many\n");
    bad.close();
    EXPECT_TRUE(error({"--scenario", bad.fileName()}).contains("bad.txt"));
}

TEST(SimOptions, TextEscapesEndpointsAndFleetNames)
{
    EXPECT_EQ(unescapeText("a\\0b\\x1c\\\\\\n"), QByteArray("a\0b\x1c\\\n", 6));
    EXPECT_EQ(unescapeText("\\xZZ\\q"), "\\xZZ\\q");
    EXPECT_EQ(nextAddress(QHostAddress("127.10.0.255"), 1), QHostAddress("127.10.1.0"));
    EXPECT_EQ(fleetSerial("SN", 0, 1), "SN");
    EXPECT_EQ(fleetSerial("SN", 0, 500), "SN-001");
    EXPECT_EQ(fleetSerial("SN", 499, 500), "SN-500");
}

// Fleet shares: terminals K, 2K ... fail their first tries; terminals 1,
// K+1 ... list the held package in their record.
TEST(SimOptions, FleetSharesPickTheirTerminals)
{
    Simulator sim(parse({"--quiet", "--terminals", "6", "--listen", "127.25.70.1:5142",
                         "--refuse-first", "2", "--drop-first", "1", "--flaky-every", "3",
                         "--holding", "pkg;2.0", "--holding-every", "4"}));
    ASSERT_TRUE(sim.start()) << sim.errorString().toStdString();
    ASSERT_EQ(sim.daemons().size(), 6);
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        const DaemonConfig& c = sim.daemons()[i]->config;
        const bool flaky = i == 2 || i == 5;
        EXPECT_EQ(c.firstTries.refuse, flaky ? 2 : 0);
        EXPECT_EQ(c.firstTries.drop, flaky ? 1 : 0);
        EXPECT_EQ(c.whoReply.contains("pkg;2.0"), i == 0 || i == 4);
    }
}
