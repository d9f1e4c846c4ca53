// Failures of the Send action: the input checks, the daemon's refusals, the
// terminal failing the install, lost connections, Cancel at each stage, a file
// that changes while it is sent; with their messages and, unattended, their
// exit codes.
#include "netdownload_support.h"

#include "core/exitcodes.h"

#include <QTest>
#include <QTimer>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace tk;
using tk::proto::SessionState;

namespace {

class Failures : public test::NetDownloadTest {
protected:
    Failures() : NetDownloadTest("127.30.2.1") {}

    void expectOnlyMessage(const QString& title, const QString& text)
    {
        ASSERT_EQ(messages().size(), 1) << status().toStdString();
        EXPECT_EQ(messages()[0].icon, MsgIcon::Critical);
        EXPECT_EQ(messages()[0].title, title);
        EXPECT_EQ(messages()[0].text, text);
    }
    // Unattended: no dialog, only the exit code.
    void unattended() { w->commandLineMode = true; }
    void expectExit(int code)
    {
        EXPECT_EQ(folder.exitCode, code);
        EXPECT_TRUE(messages().isEmpty());
    }
    // Presses the Exit button as soon as `when` holds; it must read "Cancel"
    // then.
    void cancelWhen(std::function<bool()> when)
    {
        w->show();
        auto* t = new QTimer(w.get());
        t->setInterval(1);
        QObject::connect(t, &QTimer::timeout, [this, t, when] {
            if (when()) {
                t->stop();
                captionWhenPressed = w->cmdExitN->text();
                QTest::mouseClick(w->cmdExitN, Qt::LeftButton);
            }
        });
        t->start();
    }
    QString captionWhenPressed;
};

} // namespace

TEST_F(Failures, MissingEmptyAndUnreadableFilesAreRefusedBeforeConnecting)
{
    const QString notExist =
        "The selected file does not exist.\rPlease select a valid file to send.";
    choose("");
    send();
    choose(folder.file("nothing.tgz"));
    send();
    choose(makeFile("empty.tgz", 0));
    send();
    ASSERT_EQ(messages().size(), 3);
    EXPECT_EQ(messages()[0].title, "Unable to Send");
    EXPECT_EQ(messages()[0].text, notExist);
    EXPECT_EQ(messages()[1].text, notExist);
    EXPECT_EQ(
        messages()[2].text,
        "The selected file is empty (zero bytes in size).\rPlease select a valid file to send.");
    EXPECT_EQ(w->txtfilen->selectedText(), w->txtfilen->text());
    EXPECT_EQ(daemon.connectionCount(), 0);

    folder.dialogs.shown.clear();
    unattended();
    send();
    expectExit(exitcode::NoFile);
}

TEST_F(Failures, MissingAddressOrPortIsRefused)
{
    choose(makeFile("a.tgz", 10));
    w->txtIP[2]->clear();
    send();
    w->txtIP[2]->setText("2");
    w->txtPort->clear();
    send();
    ASSERT_EQ(messages().size(), 2);
    EXPECT_EQ(messages()[0].text, "Please Enter A Valid Destination IP Address");
    EXPECT_EQ(messages()[1].text, "Please Enter A Valid Destination Port");
    EXPECT_EQ(daemon.connectionCount(), 0);

    folder.dialogs.shown.clear();
    unattended();
    w->txtIP[2]->clear();
    send();
    expectExit(exitcode::BadAddress);
}

TEST_F(Failures, NoSpaceAndBadArgumentsForTheAnnouncement)
{
    choose(makeFile("a.tgz", 10));
    daemon.config.dldReply = sim::Reply::NoSpace;
    send();
    expectOnlyMessage("Unable to send file", "There is not enough free flash space on the unit");
    EXPECT_EQ(status(), "Disconnected");
    EXPECT_TRUE(daemon.files().isEmpty());

    folder.dialogs.shown.clear();
    daemon.config.dldReply = sim::Reply::BadArgs;
    send();
    expectOnlyMessage("Unable to send file", "Bad arguments in the command packet.\rAre you "
                                             "trying to overwrite a directory on the device?");
}

TEST_F(Failures, NoSpaceUnattendedExitsWithMinus5)
{
    choose(makeFile("a.tgz", 10));
    daemon.config.dldReply = sim::Reply::NoSpace;
    unattended();
    send();
    ASSERT_TRUE(waitFor([&] { return folder.exitCode.has_value(); }));
    expectExit(exitcode::NoSpace);
}

TEST_F(Failures, NoAnswerToTheAnnouncementIsALostConnection)
{
    choose(makeFile("a.tgz", 10));
    daemon.config.dldReply = sim::Reply::Silent;
    send();
    expectOnlyMessage("Connection to Tk650 Lost",
                      "Unable to complete file transfer\rSend Request Timed Out");
    EXPECT_EQ(status(), "Disconnected");
    EXPECT_FALSE(w->cancelled);

    folder.dialogs.shown.clear();
    unattended();
    send();
    expectExit(exitcode::NoConnect);
}

TEST_F(Failures, InstallFailureOnTheTerminal)
{
    daemon.config.installResult = sim::InstallResult::Failed;
    choose(makeFile("a.tgz", 5000));
    send();
    ASSERT_TRUE(waitForStatus("Download FAILED"));
    expectOnlyMessage("File transfer failed", "The download failed on the terminal side: timeout");
    EXPECT_EQ(state(), SessionState::Failed);
}

TEST_F(Failures, UnattendedOutcomesEndWithTheirExitCodes)
{
    struct Case {
        sim::InstallResult install;
        bool reboot, runApp;
        int code;
    };
    const Case cases[] = {
        {sim::InstallResult::Done, false, false, exitcode::Success},
        {sim::InstallResult::Done, false, true, exitcode::AppStarted},
        {sim::InstallResult::Done, true, false, exitcode::Rebooted},
        {sim::InstallResult::Close, false, false, exitcode::Rebooted},
        {sim::InstallResult::Failed, false, false, exitcode::Failed},
    };
    choose(makeFile("a.tgz", 5000));
    unattended();
    for (const auto& c : cases) {
        folder.exitCode.reset();
        daemon.config.installResult = c.install;
        w->chkReboot->setChecked(c.reboot);
        w->chkRunApp->setChecked(c.runApp);
        send();
        ASSERT_TRUE(waitFor([&] { return folder.exitCode.has_value(); }));
        EXPECT_EQ(*folder.exitCode, c.code);
        EXPECT_TRUE(messages().isEmpty());
        w->resetAll(); // the real process would have ended here
        pumpEventsUntil([] { return false; }, 50);
    }
}

TEST_F(Failures, CancelWhileStreamingEndsWithoutAMessage)
{
    choose(makeFile("big.tgz", 40 * 1024 * 1024));
    cancelWhen([&] { return w->netDownload->bytesSent > 0; });
    send();
    EXPECT_EQ(captionWhenPressed, "Cancel");
    EXPECT_EQ(status(), "Download CANCELLED");
    EXPECT_TRUE(messages().isEmpty());
    EXPECT_TRUE(w->cmdSend->isEnabled());
    EXPECT_EQ(w->cmdExitN->text(), "Exit");
    EXPECT_LT(w->netDownload->bytesSent, 40 * 1024 * 1024);
    EXPECT_EQ(w->tcpClient->state(), QAbstractSocket::UnconnectedState);
    EXPECT_TRUE(daemon.files().isEmpty());
    EXPECT_TRUE(w->isVisible()); // Cancel is not Exit
}

TEST_F(Failures, CancelWhileWaitingForTheVersionOrDuringTheKillAppsPause)
{
    daemon.config.versionReply = sim::VersionReply::Silent;
    choose(makeFile("a.tgz", 10));
    cancelWhen(
        [&] { return state() == SessionState::CheckingVersion && prefixes().contains("VER:"); });
    send();
    EXPECT_EQ(captionWhenPressed, "Cancel");
    EXPECT_EQ(prefixes(), QStringList({"VER:"}));
    EXPECT_EQ(status(), "Disconnected");
    EXPECT_TRUE(messages().isEmpty());

    daemon.clearRecords();
    daemon.config.versionReply = sim::VersionReply::Text;
    w->chkKillApps->setChecked(true);
    cancelWhen([&] { return prefixes().contains("ASP:") && w->netDownload->replyReceived(); });
    send();
    EXPECT_EQ(prefixes(), QStringList({"VER:", "ASP:"}));
    EXPECT_TRUE(messages().isEmpty());
    EXPECT_FALSE(w->cancelled);
}

TEST_F(Failures, CancelWhileConnectingShowsNoConnectError)
{
    // A listener whose backlog is full never completes a handshake, so the
    // connect stays pending.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = 0;
    sa.sin_addr.s_addr = htonl(0x7f1e0302); // 127.30.3.2
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    ASSERT_EQ(::listen(fd, 0), 0);
    socklen_t len = sizeof sa;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    const quint16 port = ntohs(sa.sin_port);
    std::vector<std::unique_ptr<QTcpSocket>> fillers;
    for (int i = 0; i < 3; ++i) {
        fillers.push_back(std::make_unique<QTcpSocket>());
        fillers.back()->connectToHost("127.30.3.2", port);
    }
    pumpEventsUntil([] { return false; }, 300);
    aimAt("127.30.3.2", port);
    choose(makeFile("a.tgz", 10));
    cancelWhen([&] { return state() == SessionState::Connecting; });
    send();
    EXPECT_EQ(captionWhenPressed, "Cancel");
    EXPECT_TRUE(messages().isEmpty());
    EXPECT_EQ(status(), "Disconnected");
    EXPECT_FALSE(w->cancelled);
    ::close(fd);
}

TEST_F(Failures, TerminalThatStopsReadingTimesTheTransferOut)
{
    daemon.config.faults.stallAfterFileBytes = 64 * 1024;
    choose(makeFile("big.tgz", 64 * 1024 * 1024));
    send();
    EXPECT_EQ(status(), "Download FAILED");
    expectOnlyMessage("Connection to Tk650 Lost",
                      "Unable to complete file transfer\rSend request timed out");
    EXPECT_EQ(state(), SessionState::Failed);
}

TEST_F(Failures, FileThatShrinksOrGrowsWhileSentFails)
{
    for (bool grow : {false, true}) {
        folder.dialogs.shown.clear();
        daemon.clearRecords();
        const qint64 size = 16 * 1024 * 1024;
        const QString path = makeFile("moving.tgz", size);
        choose(path);
        bool changed = false;
        auto* t = new QTimer(w.get());
        t->setInterval(1);
        QObject::connect(t, &QTimer::timeout, [&, t] {
            if (w->netDownload->bytesSent > 0 && !changed) {
                changed = true;
                t->stop();
                QFile f(path);
                f.open(QIODevice::ReadWrite);
                f.resize(grow ? size + 10 : 3 * 4096);
            }
        });
        t->start();
        send();
        EXPECT_EQ(status(), "Download FAILED (file changed size)") << grow;
        ASSERT_EQ(messages().size(), 1);
        EXPECT_EQ(messages()[0].title, "Unable to send file");
        EXPECT_TRUE(messages()[0].text.startsWith("The file changed size while it was being sent"));
        EXPECT_EQ(state(), SessionState::Failed);
        EXPECT_FALSE(daemon.files().isEmpty() && daemon.fileBytesInProgress() == size);
    }
}
