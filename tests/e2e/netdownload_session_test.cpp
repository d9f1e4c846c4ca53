// The Send action end to end against the simulated daemon: the order of the
// commands per daemon version, what reaches the terminal, the messages.
#include "netdownload_support.h"

#include "ui/networkoptions.h"
#include "ui/onelinelist.h"

using namespace tk;
using tk::proto::SessionState;

namespace {

class Session : public test::NetDownloadTest {};

} // namespace

TEST_F(Session, CurrentDaemonTakesTheWholeSessionOnOneConnection)
{
    const QString path = makeFile("my app.tgz", 10000);
    choose(path);
    w->optNetworkFull->setChecked(true);
    w->chkSetRTC->setChecked(true);
    w->chkReboot->setChecked(true);
    send();
    ASSERT_TRUE(waitForStatus("Download Complete (terminal rebooting)"));
    EXPECT_EQ(state(), SessionState::Done);
    EXPECT_EQ(prefixes(), QStringList({"VER:", "RTC:", "DLD:", "RST:"}));
    EXPECT_EQ(daemon.commands()[1], "RTC:120608352026.07");
    EXPECT_EQ(daemon.commands()[2], QByteArray("DLD:my_app.tgz\0"
                                               "10000\0"
                                               "644\0usr1\0users\0F\0",
                                               38));
    EXPECT_EQ(daemon.connectionCount(), 1);
    ASSERT_EQ(daemon.files().size(), 1);
    const auto& f = daemon.files()[0];
    EXPECT_TRUE(f.complete);
    EXPECT_EQ(f.announcement.name, "my_app.tgz");
    EXPECT_EQ(f.announcement.permissions, "644");
    EXPECT_EQ(f.announcement.owner, "usr1");
    EXPECT_EQ(f.announcement.group, "users");
    EXPECT_EQ(f.announcement.type, "F");
    EXPECT_EQ(f.content, folder.read("my app.tgz"));
    EXPECT_TRUE(messages().isEmpty());
    EXPECT_TRUE(w->cmdSend->isEnabled());
    EXPECT_EQ(w->cmdExitN->text(), "Exit");
}

TEST_F(Session, PermissionsOwnerAndPartialTypeGoIntoTheAnnouncement)
{
    choose(makeFile("tool", 5000));
    w->netOptions->showPermissions(7, 3, 0);
    w->listNetO->showEntry("usr4");
    w->chkRunApp->setChecked(true);
    send();
    ASSERT_TRUE(waitForStatus("Download Complete (Running App)"));
    EXPECT_EQ(prefixes(), QStringList({"VER:", "DLD:", "ART:"}));
    const auto& a = daemon.files().value(0).announcement;
    EXPECT_EQ(a.name, "tool");
    EXPECT_EQ(a.size, 5000);
    EXPECT_EQ(a.permissions, "730");
    EXPECT_EQ(a.owner, "usr4");
    EXPECT_EQ(a.type, "P");
}

TEST_F(Session, OlderDaemonFallsBackToPartialAndReconnectsForEveryCommand)
{
    daemon.config = sim::DaemonConfig::olderDaemon();
    choose(makeFile("pkg.tgz", 9000));
    w->optNetworkFull->setChecked(true);
    w->chkSetRTC->setChecked(true); // never sent to an older daemon
    folder.dialogs.answers = {MsgAnswer::Yes};
    send();
    ASSERT_TRUE(waitForStatus("Download Complete"));
    ASSERT_EQ(messages().size(), 1);
    EXPECT_EQ(messages()[0].title, "Unsupported Commmand");
    EXPECT_EQ(messages()[0].text, "The destination device does not support a 'Full' download "
                                  "type.\r\nContinue sending file as a 'Partial' download?");
    EXPECT_EQ(messages()[0].buttons, MsgButtons::YesNo);
    EXPECT_TRUE(w->optNetworkPartial->isChecked());
    EXPECT_EQ(prefixes(), QStringList({"VER:", "DLD:"}));
    EXPECT_EQ(daemon.connectionCount(), 2);
    ASSERT_TRUE(waitFor([&] { return daemon.files().size() == 1; }));
    EXPECT_FALSE(daemon.files()[0].announcement.hasType);
    EXPECT_EQ(daemon.files()[0].content, folder.read("pkg.tgz"));
    EXPECT_EQ(state(), SessionState::Done);
}

TEST_F(Session, NoToTheFallBackQuestionEndsTheSessionBeforeTheAnnouncement)
{
    daemon.config = sim::DaemonConfig::olderDaemon();
    choose(makeFile("pkg.tgz", 100));
    w->optNetworkFull->setChecked(true);
    folder.dialogs.answers = {MsgAnswer::No};
    send();
    EXPECT_EQ(prefixes(), QStringList({"VER:"}));
    EXPECT_EQ(status(), "Disconnected");
    EXPECT_FALSE(w->cancelled);
    EXPECT_TRUE(w->cmdSend->isEnabled());
}

TEST_F(Session, SilentVersionCountsAsOlderAndUnsupportedCommandsEndWithFileSent)
{
    daemon.config = sim::DaemonConfig::olderDaemon();
    daemon.config.versionReply = sim::VersionReply::Silent;
    choose(makeFile("data.bin", 4097));
    w->chkKillApps->setChecked(true);
    w->chkReboot->setChecked(true);
    folder.dialogs.answers = {MsgAnswer::Yes};
    const auto started = tickCountMs();
    send();
    ASSERT_TRUE(waitFor([&] { return messages().size() == 2; }));
    // The 4000 ms pause after "ASP:" is skipped once commands are unsupported.
    EXPECT_LT(tickCountMs() - started, 2500 + 3500);
    EXPECT_EQ(messages()[0].title, "Unsupported Command. Continue?");
    EXPECT_EQ(messages()[1].icon, MsgIcon::Exclamation);
    EXPECT_EQ(messages()[1].title, "Send Complete");
    EXPECT_EQ(messages()[1].text, "File Sucessfully Sent!");
    EXPECT_EQ(prefixes(), QStringList({"VER:", "ASP:", "DLD:"}));
    ASSERT_TRUE(waitFor([&] { return daemon.files().size() == 1; }));
    EXPECT_EQ(daemon.files().value(0).content, folder.read("data.bin"));
    EXPECT_EQ(status(), "Disconnected");
}

TEST_F(Session, Version010200SetsTheClockAndReconnectsBetweenCommands)
{
    daemon.config.version = "1.02.00";
    daemon.config.oneCommandPerConnection = true;
    choose(makeFile("app.tgz", 3000));
    w->chkSetRTC->setChecked(true);
    send();
    ASSERT_TRUE(waitForStatus("Download Complete"));
    EXPECT_EQ(prefixes(), QStringList({"VER:", "RTC:", "DLD:"}));
    EXPECT_EQ(w->netDownload->hostVersion, "01.02.00");
    EXPECT_EQ(daemon.connectionCount(), 3);
    EXPECT_EQ(daemon.files().value(0).announcement.type, "P");
}

TEST_F(Session, KillAppsWaitsFourSecondsForTheTerminal)
{
    choose(makeFile("a.tgz", 100));
    w->chkKillApps->setChecked(true);
    const auto started = tickCountMs();
    send();
    ASSERT_TRUE(waitForStatus("Download Complete"));
    EXPECT_GE(tickCountMs() - started, 4000);
    EXPECT_EQ(prefixes(), QStringList({"VER:", "ASP:", "DLD:"}));
}

TEST_F(Session, UnsupportedKillAppsIsAskedOnceAndLaterBadArgsStaySilent)
{
    daemon.config.aspReply = sim::Reply::BadArgs;
    daemon.config.rstReply = sim::Reply::BadArgs;
    choose(makeFile("a.tgz", 100));
    w->chkKillApps->setChecked(true);
    w->chkReboot->setChecked(true);
    folder.dialogs.answers = {MsgAnswer::Yes};
    send();
    ASSERT_TRUE(waitForStatus("Download Complete (terminal rebooting)"));
    ASSERT_EQ(messages().size(), 1);
    EXPECT_EQ(messages()[0].title, "Unsupported Command. Continue?");
    EXPECT_EQ(prefixes(), QStringList({"VER:", "ASP:", "DLD:", "RST:"}));
}

TEST_F(Session, NoToTheUnsupportedQuestionCancelsTheSession)
{
    daemon.config.aspReply = sim::Reply::BadArgs;
    choose(makeFile("a.tgz", 100));
    w->chkKillApps->setChecked(true);
    folder.dialogs.answers = {MsgAnswer::No};
    send();
    EXPECT_EQ(prefixes(), QStringList({"VER:", "ASP:"}));
    EXPECT_EQ(status(), "Disconnected");
    EXPECT_FALSE(w->cancelled);
    EXPECT_TRUE(daemon.files().isEmpty());
}

TEST_F(Session, InstallExpandedCountsAsDone)
{
    daemon.config.installResult = sim::InstallResult::Expanded;
    choose(makeFile("a.tgz", 100));
    send();
    ASSERT_TRUE(waitForStatus("Download Complete"));
    EXPECT_EQ(state(), SessionState::Done);
}

TEST_F(Session, TerminalClosingWhileInstallingMeansItReboots)
{
    daemon.config.installResult = sim::InstallResult::Close;
    choose(makeFile("a.tgz", 100));
    send();
    ASSERT_TRUE(waitForStatus("Install Complete (Terminal Rebooting)"));
    EXPECT_FALSE(w->netDownload->running());
    EXPECT_TRUE(messages().isEmpty());
}

TEST_F(Session, FilesOfOneChunkAndOneByteMoreAreWrittenAsWholeChunks)
{
    for (qint64 size : {4096, 4097}) {
        daemon.clearRecords();
        QList<qint64> writes;
        auto c = QObject::connect(w->netDownload.get(), &NetworkDownload::chunkSent,
                                  [&](qint64 n) { writes << n; });
        choose(makeFile(QStringLiteral("f%1.tgz").arg(size), size));
        send();
        ASSERT_TRUE(waitForStatus("Download Complete"));
        QObject::disconnect(c);
        EXPECT_EQ(writes, size == 4096 ? QList<qint64>{4096} : QList<qint64>({4096, 1}));
        EXPECT_EQ(daemon.files().value(0).content.size(), size);
    }
}

TEST_F(Session, TimeLeftFollowsTheRateOfTheLastSecond)
{
    auto& d = *w->netDownload;
    w->lblTime->setText("0 s");
    d.fileSize = 100000;
    d.bytesSent = 20000;
    d.timeLeftTick();
    EXPECT_EQ(w->lblTime->text(), "4 s");
    d.timeLeftTick(); // nothing sent during the last second
    EXPECT_EQ(w->lblTime->text(), "4 s");
    d.bytesSent = 90000;
    d.timeLeftTick();
    EXPECT_EQ(w->lblTime->text(), "0 s");
}
