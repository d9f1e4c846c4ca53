#include "daemon.h"
#include "simclient.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tk;
using namespace tk::sim;
using test::SimClient;

namespace {

QByteArray nul(const QByteArray& text)
{
    return text + '\0';
}

QByteArray announce(const QByteArray& name, qint64 size, const QByteArray& type = "F")
{
    QByteArray c = "DLD:" + nul(name) + nul(QByteArray::number(size)) + nul("644") + nul("usr1") +
                   nul("users");
    if (!type.isEmpty())
        c += nul(type);
    return c;
}

QByteArray randomBytes(qsizetype n)
{
    QByteArray b(n, Qt::Uninitialized);
    for (qsizetype i = 0; i < n; ++i)
        b[i] = char(QRandomGenerator::global()->bounded(256));
    return b;
}

// Each test gets its own loopback address so the suite can run in parallel.
QHostAddress address(int n)
{
    return QHostAddress(QStringLiteral("127.10.0.%1").arg(n));
}

struct Fixture {
    explicit Fixture(int n, const DaemonConfig& cfg = DaemonConfig()) : daemon(cfg)
    {
        daemon.config.commandPauseMs = 30;
        EXPECT_TRUE(daemon.listen(address(n))) << daemon.errorString().toStdString();
    }
    bool connect() { return client.connectTo(daemon.serverAddress(), daemon.serverPort()); }
    Daemon daemon;
    SimClient client;
};

} // namespace

TEST(Daemon, RunsAWholeDownloadAndStoresTheFileWithItsMetadata)
{
    QTemporaryDir store;
    Fixture f(1);
    f.daemon.config.storeDir = store.path();
    int filesSignalled = 0;
    QObject::connect(&f.daemon, &Daemon::fileReceived, [&] { ++filesSignalled; });
    ASSERT_TRUE(f.connect());

    EXPECT_EQ(f.client.ask("VER:", 9), "01.02.01\n");
    EXPECT_EQ(f.client.ask("RTC:120608352026.07", 2), "OK");
    EXPECT_EQ(f.client.ask("ASP:", 2), "OK");
    const QByteArray content = randomBytes(3 * 4096 + 17);
    EXPECT_EQ(f.client.ask(announce("my_app.tgz", content.size()), 2), "OK");
    for (qsizetype at = 0; at < content.size(); at += 4096)
        f.client.send(content.mid(at, 4096));
    ASSERT_TRUE(f.client.waitBytes(2 + 9 + 2 + 2 + 9));
    EXPECT_EQ(f.client.received().right(9), "DNLD_DONE");
    EXPECT_EQ(f.client.ask("RST:", 2), "OK");
    EXPECT_TRUE(f.client.waitClosed()); // the terminal reboots

    ASSERT_EQ(f.daemon.files().size(), 1);
    const ReceivedFile& file = f.daemon.files()[0];
    EXPECT_TRUE(file.complete);
    EXPECT_EQ(file.announcement.name, "my_app.tgz");
    EXPECT_EQ(file.announcement.type, "F");
    EXPECT_EQ(file.announcement.owner, "usr1");
    EXPECT_EQ(file.content, content);
    EXPECT_EQ(filesSignalled, 1);
    QFile stored(QDir(store.path()).filePath("my_app.tgz"));
    ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
    EXPECT_EQ(stored.readAll(), content);
    EXPECT_EQ(file.storedPath, stored.fileName());
    QFile index(QDir(store.path()).filePath("tk650sim-received.txt"));
    ASSERT_TRUE(index.open(QIODevice::ReadOnly));
    EXPECT_EQ(index.readAll(),
              "my_app.tgz\t" + QByteArray::number(content.size()) + "\t644\tusr1\tusers\tF\n");

    EXPECT_EQ(f.daemon.commands(),
              (QList<QByteArray>{"VER:", "RTC:120608352026.07",
                                 "ASP:", announce("my_app.tgz", content.size()), "RST:"}));
    EXPECT_EQ(f.daemon.connectionCount(), 1);
    EXPECT_EQ(f.daemon.openConnections(), 0);
}

TEST(Daemon, AnswersEachCommandAsConfigured)
{
    Fixture f(2);
    DaemonConfig& c = f.daemon.config;
    c.version = "1.02.00";
    c.versionTerminator = '\0';
    c.aspReply = Reply::BadArgs;
    c.artReply = Reply::BadArgs;
    c.rstReply = Reply::BadArgs;
    ASSERT_TRUE(f.connect());
    EXPECT_EQ(f.client.ask("VER:", 8), QByteArray("1.02.00\0", 8));
    EXPECT_EQ(f.client.ask("ASP:", 7), "BADARGS");
    EXPECT_EQ(f.client.ask("ART:", 7), "BADARGS");
    EXPECT_EQ(f.client.ask("RST:", 7), "BADARGS");                // not supported: no reboot
    EXPECT_EQ(f.client.ask("RTC:130608352026.07", 7), "BADARGS"); // month 13
    EXPECT_EQ(f.client.ask("MSG:hello there", 2), "OK");
    EXPECT_EQ(f.client.ask("XYZ:", 7), "BADARGS");
    EXPECT_EQ(f.client.ask("WHO:", c.whoReply.size()), TerminalRecord().toBytes());

    c.versionReply = VersionReply::BadArgs;
    EXPECT_EQ(f.client.ask("VER:", 7), "BADARGS");
    c.versionReply = VersionReply::Silent;
    c.aspReply = Reply::Silent;
    c.whoReply.clear();
    EXPECT_EQ(f.client.ask("VER:", 1, 300), "");
    EXPECT_EQ(f.client.ask("ASP:", 1, 300), "");
    EXPECT_EQ(f.client.ask("WHO:", 1, 300), "");
    EXPECT_EQ(f.client.socket.state(), QAbstractSocket::ConnectedState);
    EXPECT_EQ(f.daemon.commands().last(), "WHO:");
    EXPECT_EQ(f.daemon.commands()[5], "MSG:hello there");
}

TEST(Daemon, RefusesAnnouncementsByConfigurationSpaceAndForm)
{
    QTemporaryDir store;
    Fixture f(3);
    f.daemon.config.storeDir = store.path();
    ASSERT_TRUE(f.connect());
    f.daemon.config.dldReply = Reply::NoSpace;
    EXPECT_EQ(f.client.ask(announce("a.tgz", 10), 7), "NOSPACE");
    f.daemon.config.dldReply = Reply::BadArgs;
    EXPECT_EQ(f.client.ask(announce("a.tgz", 10), 7), "BADARGS");
    f.daemon.config.dldReply = Reply::Ok;
    f.daemon.config.freeSpace = 9;
    EXPECT_EQ(f.client.ask(announce("a.tgz", 10), 7), "NOSPACE");
    f.daemon.config.freeSpace = -1;
    EXPECT_EQ(f.client.ask(announce("../escape.tgz", 10), 7), "BADARGS");
    EXPECT_EQ(f.client.ask(announce("a.tgz", 10, "Q"), 7), "BADARGS");
    // After all refusals the connection still takes a good announcement.
    EXPECT_EQ(f.client.ask(announce("a.tgz", 3), 2), "OK");
    EXPECT_EQ(f.client.ask("abc", 9), "DNLD_DONE");
    EXPECT_TRUE(f.daemon.files().size() == 1 && f.daemon.files()[0].content == "abc");
    EXPECT_FALSE(QFile::exists(QDir(store.path()).filePath("../escape.tgz")));
    EXPECT_EQ(QDir(store.path()).entryList(QDir::Files).size(), 2); // a.tgz and the index
}

TEST(Daemon, OlderAnnouncementWithoutTypeIsTakenAfterThePause)
{
    Fixture f(4, DaemonConfig::olderDaemon());
    ASSERT_TRUE(f.connect());
    EXPECT_EQ(f.client.ask(announce("a.txt", 4, ""), 2), "OK");
    f.client.send("data");
    ASSERT_TRUE(pumpEventsUntil([&] { return f.daemon.files().size() == 1; }, 3000));
    EXPECT_FALSE(f.daemon.files()[0].announcement.hasType);
    EXPECT_EQ(f.daemon.files()[0].content, "data");
    // An older daemon sends no install result and leaves closing to the sender.
    EXPECT_EQ(f.client.ask("", 1, 200), "");
    EXPECT_EQ(f.client.socket.state(), QAbstractSocket::ConnectedState);
}

TEST(Daemon, OneCommandPerConnectionClosesAfterEachAnswer)
{
    Fixture f(5, DaemonConfig::olderDaemon());
    ASSERT_TRUE(f.connect());
    EXPECT_EQ(f.client.ask("VER:", 7), "BADARGS");
    EXPECT_TRUE(f.client.waitClosed());

    SimClient second;
    ASSERT_TRUE(second.connectTo(f.daemon.serverAddress(), f.daemon.serverPort()));
    EXPECT_EQ(second.ask("ASP:", 7), "BADARGS");
    EXPECT_TRUE(second.waitClosed());
    EXPECT_EQ(f.daemon.connectionCount(), 2);
    EXPECT_EQ(f.daemon.commandLog()[1].connection, 2);

    // A newer daemon in this mode closes after the install result too.
    f.daemon.config = DaemonConfig();
    f.daemon.config.oneCommandPerConnection = true;
    SimClient third;
    ASSERT_TRUE(third.connectTo(f.daemon.serverAddress(), f.daemon.serverPort()));
    EXPECT_EQ(third.ask(announce("b.tgz", 2), 2), "OK");
    EXPECT_EQ(third.ask("xy", 9), "DNLD_DONE");
    EXPECT_TRUE(third.waitClosed());
}

TEST(Daemon, ReportsEachInstallResultAfterTheDelay)
{
    struct Case {
        InstallResult result;
        QByteArray reply;
    };
    int n = 0;
    for (const Case& c :
         {Case{InstallResult::Expanded, "DNLD_EXP"}, Case{InstallResult::Failed, "DNLD_FAIL"}}) {
        Fixture f(10 + n++);
        f.daemon.config.installResult = c.result;
        f.daemon.config.installDelayMs = 150;
        ASSERT_TRUE(f.connect());
        EXPECT_EQ(f.client.ask(announce("a.tgz", 1), 2), "OK");
        f.client.send("z");
        ASSERT_TRUE(pumpEventsUntil([&] { return f.daemon.files().size() == 1; }, 3000));
        EXPECT_EQ(f.client.received(), "OK"); // nothing before the delay has passed
        EXPECT_TRUE(f.client.waitBytes(2 + c.reply.size()));
        EXPECT_EQ(f.client.received(), "OK" + c.reply);
    }

    Fixture reboot(12);
    reboot.daemon.config.installResult = InstallResult::Close;
    ASSERT_TRUE(reboot.connect());
    EXPECT_EQ(reboot.client.ask(announce("a.tgz", 0), 2),
              "OK"); // an empty file is complete at once
    EXPECT_TRUE(reboot.client.waitClosed());
    EXPECT_EQ(reboot.client.received(), "OK");
    ASSERT_EQ(reboot.daemon.files().size(), 1);
    EXPECT_TRUE(reboot.daemon.files()[0].complete);
}

TEST(Daemon, TakesCommandsSplitOverSegmentsAndFileBytesCoalescedWithTheAnnouncement)
{
    Fixture f(13);
    f.daemon.config.commandPauseMs = 2000; // a loaded machine may delay the second piece
    ASSERT_TRUE(f.connect());
    f.client.send("VE");
    pumpEventsUntil([] { return false; }, 20); // let the first piece travel alone
    f.client.send("R:");
    EXPECT_TRUE(f.client.waitBytes(9));
    EXPECT_EQ(f.client.arrivals.size(), 1);

    const QByteArray content = randomBytes(10000);
    f.client.send(announce("c.tgz", content.size()) + content + "WHO:");
    ASSERT_TRUE(pumpEventsUntil([&] { return f.daemon.files().size() == 1; }, 3000));
    EXPECT_EQ(f.daemon.files()[0].content, content);
    ASSERT_TRUE(pumpEventsUntil([&] { return f.daemon.commands().size() == 3; }, 3000));
    EXPECT_EQ(f.daemon.commands()[2], "WHO:");
}

TEST(Daemon, SurvivesGarbage)
{
    Fixture f(14);
    ASSERT_TRUE(f.connect());
    const QList<QByteArray> junk{
        QByteArray(200, '\0'),
        "DLD:" + QByteArray(5000, '\0'),
        "DLD:\0\0\0\0\0\0",
        announce("big", Q_INT64_C(999999999999999)),
        "RTC:" + QByteArray(40, '\xff'),
        randomBytes(20000),
    };
    for (const QByteArray& j : junk) {
        f.client.send(j);
        pumpEventsUntil([] { return false; }, 60); // past the command pause
    }
    // Whatever it made of that, a new connection is still served.
    SimClient fresh;
    ASSERT_TRUE(fresh.connectTo(f.daemon.serverAddress(), f.daemon.serverPort()));
    EXPECT_EQ(fresh.ask("VER:", 9), "01.02.01\n");
}

TEST(DaemonFaults, SplitAndTrailingReplies)
{
    Fixture f(20);
    f.daemon.config.faults.splitReplies = true;
    f.daemon.config.faults.trailingBytes = "\r\n";
    ASSERT_TRUE(f.connect());
    EXPECT_EQ(f.client.ask("ASP:", 4), "OK\r\n");
    EXPECT_EQ(f.client.arrivals.size(), 2);
    EXPECT_EQ(f.client.arrivals[0], "OK");

    // A split reply before a reboot arrives whole before the connection closes.
    EXPECT_EQ(f.client.ask("RST:", 4), "OK\r\n");
    EXPECT_TRUE(f.client.waitClosed());
}

TEST(DaemonFaults, RefusesClosesAtOnceOrStaysSilent)
{
    Fixture f(21);
    ASSERT_TRUE(f.daemon.setRefuseConnections(true));
    EXPECT_FALSE(f.connect());
    EXPECT_EQ(f.client.socket.error(), QAbstractSocket::ConnectionRefusedError);
    ASSERT_TRUE(f.daemon.setRefuseConnections(false));

    f.daemon.config.faults.closeOnAccept = true;
    SimClient closed;
    closed.connectTo(f.daemon.serverAddress(), f.daemon.serverPort());
    EXPECT_TRUE(closed.waitClosed());
    EXPECT_EQ(f.daemon.connectionCount(), 1);

    f.daemon.config.faults.closeOnAccept = false;
    f.daemon.config.faults.silent = true;
    SimClient silent;
    ASSERT_TRUE(silent.connectTo(f.daemon.serverAddress(), f.daemon.serverPort()));
    EXPECT_EQ(silent.ask("VER:", 1, 300), "");
    EXPECT_EQ(silent.ask("RST:", 1, 300), "");
    EXPECT_EQ(silent.socket.state(), QAbstractSocket::ConnectedState);
    EXPECT_EQ(f.daemon.commands(), (QList<QByteArray>{"VER:", "RST:"}));

    // Refusing from the start of listening.
    DaemonConfig refusing;
    refusing.faults.refuseConnections = true;
    Daemon d(refusing);
    ASSERT_TRUE(d.listen(address(22)));
    EXPECT_NE(d.serverPort(), 0);
    SimClient c;
    EXPECT_FALSE(c.connectTo(d.serverAddress(), d.serverPort()));
}

TEST(DaemonFaults, DropsTheConnectionAfterNFileBytes)
{
    QTemporaryDir store;
    Fixture f(23);
    f.daemon.config.storeDir = store.path();
    f.daemon.config.faults.dropAfterFileBytes = 5000;
    ASSERT_TRUE(f.connect());
    EXPECT_EQ(f.client.ask(announce("d.tgz", 20000), 2), "OK");
    f.client.send(randomBytes(20000));
    EXPECT_TRUE(f.client.waitClosed());
    ASSERT_TRUE(pumpEventsUntil([&] { return f.daemon.files().size() == 1; }, 3000));
    EXPECT_FALSE(f.daemon.files()[0].complete);
    EXPECT_EQ(f.daemon.files()[0].received, 5000);
    EXPECT_TRUE(QDir(store.path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

TEST(DaemonFaults, StopsReadingMidTransferSoTheSenderBacksUp)
{
    Fixture f(24);
    f.daemon.config.keepContent = false;
    f.daemon.config.faults.stallAfterFileBytes = 100000;
    f.daemon.config.faults.stallMs = -1;
    ASSERT_TRUE(f.connect());
    const qint64 size = 64LL * 1024 * 1024;
    EXPECT_EQ(f.client.ask(announce("e.tgz", size), 2), "OK");
    const QByteArray chunk(1 << 20, 'x');
    for (int i = 0; i < 64; ++i)
        f.client.socket.write(chunk);
    // The network layer takes a few MiB at most; the rest stays queued.
    pumpEventsUntil([] { return false; }, 500);
    EXPECT_GT(f.client.socket.bytesToWrite(), 32LL * 1024 * 1024);
    EXPECT_EQ(f.daemon.fileBytesInProgress(), 100000);

    // With a bounded stall the transfer completes once reading resumes.
    Fixture g(25);
    g.daemon.config.faults.stallAfterFileBytes = 1000;
    g.daemon.config.faults.stallMs = 200;
    ASSERT_TRUE(g.connect());
    const QByteArray content = randomBytes(50000);
    EXPECT_EQ(g.client.ask(announce("f.tgz", content.size()), 2), "OK");
    g.client.send(content);
    EXPECT_TRUE(g.client.waitBytes(2 + 9));
    ASSERT_EQ(g.daemon.files().size(), 1);
    EXPECT_EQ(g.daemon.files()[0].content, content);
}
