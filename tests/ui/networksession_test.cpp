// The protocol layer of a network download over real loopback sockets,
// against the simulated terminal daemon (addresses 127.20.x.x).
#include "core/exitcodes.h"
#include "core/protocol.h"
#include "daemon.h"
#include "platform/wait.h"
#include "programfolder.h"
#include "ui/frmdebug.h"
#include "ui/frmlog.h"
#include "ui/frmmain.h"
#include "ui/networksession.h"

#include <QPlainTextEdit>
#include <QTcpServer>
#include <QTimer>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace tk;
using proto::SessionState;

namespace {

// A listening socket whose accept queue is full: the kernel drops further
// connection requests, so a connect attempt stays pending without leaving
// the loopback interface.
class FullBacklog {
public:
    explicit FullBacklog(const char* ip)
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        inet_pton(AF_INET, ip, &a.sin_addr);
        m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
        socklen_t len = sizeof a;
        if (::bind(m_listen, reinterpret_cast<sockaddr*>(&a), len) != 0 ||
            ::listen(m_listen, 0) != 0 ||
            ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            return;
        port = ntohs(a.sin_port);
        // The one connection a backlog of 0 holds.
        m_filler = ::socket(AF_INET, SOCK_STREAM, 0);
        if (::connect(m_filler, reinterpret_cast<sockaddr*>(&a), len) != 0)
            port = 0;
    }
    ~FullBacklog()
    {
        if (m_filler >= 0)
            ::close(m_filler);
        if (m_listen >= 0)
            ::close(m_listen);
    }
    quint16 port = 0;

private:
    int m_listen = -1;
    int m_filler = -1;
};

class NetworkSessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        w = std::make_unique<frmmain>(folder.env());
        w->logWindow()->show();
    }

    NetworkSession& net() { return *w->net; }

    void aim(const QString& ip, quint16 port)
    {
        const QStringList parts = ip.split(QLatin1Char('.'));
        for (int i = 0; i < 4; ++i)
            w->txtIP[i]->setText(parts[i]);
        w->txtPort->setText(QString::number(port));
    }

    // Starts the daemon on ip and points the window at it.
    void serve(const char* ip)
    {
        ASSERT_TRUE(daemon.listen(QHostAddress(QString::fromLatin1(ip))))
            << daemon.errorString().toStdString();
        aim(QString::fromLatin1(ip), daemon.serverPort());
    }

    // One step: state, command, reply wait.
    void step(SessionState state, const QByteArray& cmd, double limitMs = 3000)
    {
        net().sessionState = state;
        net().sendAndAwaitReply(cmd, limitMs);
    }

    QByteArray announce(qint64 size = 10) const
    {
        proto::Announcement a;
        a.path = "/out/my app.tgz";
        a.size = static_cast<std::uint64_t>(size);
        a.owner = "usr1";
        a.type = "F";
        return QByteArray::fromStdString(proto::buildAnnounceCommand(a));
    }

    bool logged(const QString& line) const { return w->logWindow()->text().contains(line); }
    QString status() const { return w->lblStatus->text(); }
    const QList<test::ShownMessage>& shown() const { return folder.dialogs.shown; }

    void expectOneMessage(MsgIcon icon, const QString& title, const QString& text)
    {
        ASSERT_EQ(shown().size(), 1);
        EXPECT_EQ(shown()[0].icon, icon);
        EXPECT_EQ(shown()[0].title, title);
        EXPECT_EQ(shown()[0].text, text);
    }

    void expectIdleWindow()
    {
        EXPECT_EQ(status(), "Disconnected");
        EXPECT_TRUE(w->cmdSend->isEnabled());
        EXPECT_EQ(w->cmdExitN->text(), "Exit");
        EXPECT_EQ(w->tcpClient->state(), QAbstractSocket::UnconnectedState);
    }

    test::ProgramFolder folder;
    sim::Daemon daemon;
    std::unique_ptr<frmmain> w;
};

// --- connecting ---------------------------------------------------------------

TEST_F(NetworkSessionTest, ConnectsOnceAndReusesTheOpenConnection)
{
    serve("127.20.0.1");
    w->timeout = 5000;
    ASSERT_TRUE(net().connectToHost());
    EXPECT_EQ(net().sessionState, SessionState::Connecting);
    EXPECT_EQ(status(), "Connected");
    EXPECT_FALSE(w->cmdSend->isEnabled());
    EXPECT_EQ(w->cmdExitN->text(), "Cancel");
    EXPECT_TRUE(logged("Connected to 127.20.0.1"));
    EXPECT_TRUE(net().connectToHost());
    EXPECT_TRUE(pumpEventsUntil([&] { return daemon.connectionCount() == 1; }, 2000));
    EXPECT_EQ(daemon.connectionCount(), 1);
    EXPECT_TRUE(shown().isEmpty());
}

TEST_F(NetworkSessionTest, RefusedConnectionIsReportedAndResets)
{
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress("127.20.1.1")));
    const quint16 port = probe.serverPort();
    probe.close();
    aim("127.20.1.1", port);
    w->timeout = 5000;
    w->cancelled = false;

    EXPECT_FALSE(net().connectToHost());
    expectOneMessage(MsgIcon::Critical, "Connection Error",
                     "Unable to connect to remote server.\r"
                     "Verify Network Download is enabled on the device.");
    EXPECT_TRUE(logged("ERROR connecting to 127.20.1.1 (host not ready)"));
    expectIdleWindow();
    EXPECT_FALSE(w->cancelled);
}

TEST_F(NetworkSessionTest, RefusedConnectionUnattendedEndsWithMinusFourAndNoMessage)
{
    serve("127.20.1.2");
    ASSERT_TRUE(daemon.setRefuseConnections(true));
    w->commandLineMode = true;
    EXPECT_FALSE(net().connectToHost());
    EXPECT_EQ(folder.exitCode, exitcode::NoConnect);
    EXPECT_TRUE(shown().isEmpty());
}

TEST_F(NetworkSessionTest, ConnectTimeOutIsReportedWithTheProgressBarCounting)
{
    FullBacklog blackhole("127.20.2.1");
    ASSERT_NE(blackhole.port, 0);
    aim("127.20.2.1", blackhole.port);
    w->timeout = 300;
    int highest = 0;
    QObject::connect(w->ProgBar, &QProgressBar::valueChanged,
                     [&](int v) { highest = std::max(highest, v); });

    EXPECT_FALSE(net().connectToHost());
    expectOneMessage(MsgIcon::Critical, "Connection Error",
                     "Timeout occurred trying to connect to remote server.");
    EXPECT_TRUE(logged("ERROR connecting to 127.20.2.1 (timeout occurred)"));
    EXPECT_TRUE(logged("ERROR: timeout occurred"));
    EXPECT_EQ(highest, 100);
    expectIdleWindow();
    EXPECT_EQ(w->ProgBar->value(), 0);
}

TEST_F(NetworkSessionTest, CancelDuringTheConnectWaitShowsNothing)
{
    FullBacklog blackhole("127.20.2.2");
    ASSERT_NE(blackhole.port, 0);
    aim("127.20.2.2", blackhole.port);
    w->timeout = 5000;
    for (bool unattended : {false, true}) {
        SCOPED_TRACE(unattended);
        w->commandLineMode = unattended;
        QTimer::singleShot(100, w.get(), [&] { w->cancelled = true; });
        EXPECT_FALSE(net().connectToHost());
        EXPECT_TRUE(shown().isEmpty());
        EXPECT_FALSE(w->gotTimeout);
        if (unattended) {
            EXPECT_EQ(folder.exitCode, exitcode::NoConnect);
        } else {
            EXPECT_FALSE(folder.exitCode);
            EXPECT_FALSE(w->cancelled);
            expectIdleWindow();
        }
    }
}

TEST_F(NetworkSessionTest, RefusedConnectionUnattendedEndsTheRealProcess)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            QTcpServer probe;
            probe.listen(QHostAddress("127.20.1.4"));
            const quint16 port = probe.serverPort();
            probe.close();
            ProgramEnv env = folder.env();
            env.exitProcess = [](int code) { exitProcessNow(code); };
            frmmain real(env);
            for (int i = 0; i < 4; ++i)
                real.txtIP[i]->setText(QString::fromLatin1("127.20.1.4").split('.')[i]);
            real.txtPort->setText(QString::number(port));
            real.commandLineMode = true;
            real.timeout = 5000;
            real.net->connectToHost();
            // Never reached: the process has ended.
            std::_Exit(99);
        },
        ::testing::ExitedWithCode(exitcode::NoConnect & 0xff), "");
}

// --- versions and recognition -----------------------------------------------

TEST_F(NetworkSessionTest, VersionReplyIsNormalised)
{
    struct Case {
        QByteArray version;
        char terminator;
        const char* expected;
    };
    const Case cases[] = {{"1.02.01", '\n', "01.02.01"},
                          {"01.02.01", '\0', "01.02.01"},
                          {"1.02.00", '\r', "01.02.00"}};
    serve("127.20.3.1");
    w->debugWindow()->show();
    for (const auto& c : cases) {
        daemon.config.version = c.version;
        daemon.config.versionTerminator = c.terminator;
        ASSERT_TRUE(net().connectToHost());
        step(SessionState::CheckingVersion, "VER:", 2500);
        EXPECT_TRUE(net().replyReceived);
        EXPECT_EQ(net().hostVersion, c.expected);
    }
    EXPECT_TRUE(logged("Sending command: VER:"));
    const QString trace = w->debugWindow()->txtDebug->toPlainText();
    EXPECT_TRUE(trace.contains("VER:"));
    EXPECT_TRUE(trace.contains("1.02.00"));
}

TEST_F(NetworkSessionTest, VersionRefusedOrUnansweredLeavesItEmpty)
{
    daemon.config.versionReply = sim::VersionReply::BadArgs;
    serve("127.20.3.2");
    ASSERT_TRUE(net().connectToHost());
    net().hostVersion = "stale";
    step(SessionState::CheckingVersion, "VER:", 2500);
    EXPECT_TRUE(net().replyReceived);
    EXPECT_EQ(net().hostVersion, "");

    // No answer at all: the 2500 ms wait runs out, the version stays empty.
    daemon.config.versionReply = sim::VersionReply::Silent;
    step(SessionState::CheckingVersion, "VER:", 2500);
    EXPECT_FALSE(net().replyReceived);
    EXPECT_TRUE(w->gotTimeout);
    EXPECT_EQ(net().hostVersion, "");
    EXPECT_TRUE(logged("ERROR: timeout occurred"));
    EXPECT_TRUE(shown().isEmpty());
}

TEST_F(NetworkSessionTest, RepliesAreRecognisedOnlyByTheirExactPrefix)
{
    // The daemon's version text stands in for arbitrary reply text; the
    // session's state decides how the arrival is read.
    serve("127.20.3.3");
    ASSERT_TRUE(net().connectToHost());
    daemon.config.version = "OK, stopped";
    step(SessionState::KillingApps, "VER:", 2000);
    EXPECT_TRUE(net().replyReceived);
    EXPECT_FALSE(w->gotTimeout);

    daemon.config.version = "ok";
    step(SessionState::KillingApps, "VER:", 300);
    EXPECT_FALSE(net().replyReceived);
    EXPECT_TRUE(w->gotTimeout);
}

TEST_F(NetworkSessionTest, AReplySplitOverTwoArrivalsIsNotReassembled)
{
    daemon.config.faults.splitReplies = true;
    daemon.config.faults.splitDelayMs = 100;
    daemon.config.version = "1.02.01";
    daemon.config.dldReply = sim::Reply::NoSpace;
    serve("127.20.3.4");
    ASSERT_TRUE(net().connectToHost());

    // "1.02" then ".01\n": the first part is the version.
    step(SessionState::CheckingVersion, "VER:", 2500);
    EXPECT_EQ(net().hostVersion, "01.0");

    // "NOS" then "PACE": neither part is a reply, so nothing is reported.
    step(SessionState::Announcing, announce(), 600);
    EXPECT_FALSE(net().replyReceived);
    EXPECT_TRUE(w->gotTimeout);
    EXPECT_TRUE(shown().isEmpty());
}

TEST_F(NetworkSessionTest, OneArrivalIsOneReplyWhateverFollowsInIt)
{
    daemon.config.faults.trailingBytes = QByteArray("NOSPACE", 7);
    serve("127.20.3.5");
    ASSERT_TRUE(net().connectToHost());
    step(SessionState::Announcing, announce(), 3000);
    EXPECT_TRUE(net().replyReceived);
    EXPECT_EQ(net().sessionState, SessionState::Sending);
    EXPECT_TRUE(shown().isEmpty());
}

// --- the dispatcher, row by row ---------------------------------------------

TEST_F(NetworkSessionTest, AcceptedAnnouncementMovesToSending)
{
    serve("127.20.4.1");
    w->show();
    ASSERT_TRUE(net().connectToHost());
    w->lbletl->hide();
    w->lblTime->hide();
    step(SessionState::Announcing, announce(), 3000);
    EXPECT_TRUE(net().replyReceived);
    EXPECT_EQ(net().sessionState, SessionState::Sending);
    EXPECT_EQ(status(), "Connected");
    EXPECT_FALSE(w->lbletl->isHidden());
    EXPECT_FALSE(w->lblTime->isHidden());
    EXPECT_TRUE(logged("Sending command: DLD:my_app.tgz|10|644|usr1|users|F|"));
    ASSERT_EQ(daemon.commands().size(), 1);
    EXPECT_EQ(daemon.commands()[0], announce());
}

TEST_F(NetworkSessionTest, AnnouncementRefusalsReportAndReset)
{
    struct Case {
        sim::Reply reply;
        QString text;
        int exitCode;
    };
    const Case cases[] = {
        {sim::Reply::NoSpace, "There is not enough free flash space on the unit",
         exitcode::NoSpace},
        {sim::Reply::BadArgs,
         "Bad arguments in the command packet.\rAre you trying to overwrite a directory on the "
         "device?",
         exitcode::BadArgs},
    };
    serve("127.20.4.2");
    for (const auto& c : cases) {
        for (bool unattended : {false, true}) {
            SCOPED_TRACE(c.exitCode);
            SCOPED_TRACE(unattended);
            folder.dialogs.shown.clear();
            folder.exitCode.reset();
            w->commandLineMode = unattended;
            daemon.config.dldReply = c.reply;
            ASSERT_TRUE(net().connectToHost());
            step(SessionState::Announcing, announce(), 3000);
            EXPECT_TRUE(net().replyReceived);
            if (unattended) {
                EXPECT_EQ(folder.exitCode, c.exitCode);
                EXPECT_TRUE(shown().isEmpty());
                w->resetAll();
            } else {
                EXPECT_FALSE(folder.exitCode);
                expectOneMessage(MsgIcon::Critical, "Unable to send file", c.text);
                expectIdleWindow();
            }
        }
    }
}

TEST_F(NetworkSessionTest, KillAppsRefusedAsksOnceAndNoCancels)
{
    daemon.config.aspReply = sim::Reply::BadArgs;
    serve("127.20.4.3");
    ASSERT_TRUE(net().connectToHost());
    folder.dialogs.answers = {MsgAnswer::No};
    step(SessionState::KillingApps, "ASP:", 3000);
    ASSERT_EQ(shown().size(), 1);
    EXPECT_EQ(shown()[0].icon, MsgIcon::None);
    EXPECT_EQ(shown()[0].buttons, MsgButtons::YesNo);
    EXPECT_EQ(shown()[0].title, "Unsupported Command. Continue?");
    EXPECT_EQ(shown()[0].text,
              "The following commands are not supported by the connected device:\r\n"
              "   - Kill Running Apps\r\n"
              "   - Execute App (*go)\r\n"
              "   - Reboot Tk650\r\n"
              "(Requires ZRL00016 SP1 or later)\r\n\r\n\t\t      Continue download?");
    EXPECT_TRUE(w->cancelled);
    EXPECT_TRUE(net().unsupportedReported);

    // A second refusal, and refusals of the later commands, stay silent.
    w->cancelled = false;
    step(SessionState::KillingApps, "ASP:", 3000);
    daemon.config.artReply = sim::Reply::BadArgs;
    step(SessionState::StartingApp, "ART:", 3000);
    EXPECT_TRUE(net().replyReceived);
    daemon.config.rtcReply = sim::Reply::BadArgs;
    step(SessionState::SettingClock,
         QByteArray::fromStdString(proto::buildSetClockCommand({2026, 12, 6, 8, 35, 7})), 3000);
    EXPECT_TRUE(net().replyReceived);
    EXPECT_EQ(shown().size(), 1);
    EXPECT_FALSE(w->cancelled);
}

TEST_F(NetworkSessionTest, KillAppsRefusedYesGoesOnAndUnattendedAsksNothing)
{
    daemon.config.aspReply = sim::Reply::BadArgs;
    serve("127.20.4.4");
    ASSERT_TRUE(net().connectToHost());
    folder.dialogs.answers = {MsgAnswer::Yes};
    step(SessionState::KillingApps, "ASP:", 3000);
    EXPECT_EQ(shown().size(), 1);
    EXPECT_FALSE(w->cancelled);
    EXPECT_TRUE(net().unsupportedReported);

    folder.dialogs.shown.clear();
    net().unsupportedReported = false;
    w->commandLineMode = true;
    step(SessionState::KillingApps, "ASP:", 3000);
    EXPECT_TRUE(shown().isEmpty());
    EXPECT_TRUE(net().unsupportedReported);
    EXPECT_FALSE(folder.exitCode);
}

TEST_F(NetworkSessionTest, UnsupportedPostDownloadCommandsNameTheirBox)
{
    daemon.config.artReply = sim::Reply::BadArgs;
    daemon.config.rstReply = sim::Reply::BadArgs;
    daemon.config.rtcReply = sim::Reply::BadArgs;
    serve("127.20.4.5");
    ASSERT_TRUE(net().connectToHost());
    w->chkRunApp->setText("Execute App (*go)");
    step(SessionState::StartingApp, "ART:", 3000);
    step(SessionState::Rebooting, "RST:", 3000);
    step(SessionState::SettingClock,
         QByteArray::fromStdString(proto::buildSetClockCommand({2026, 12, 6, 8, 35, 7})), 3000);
    ASSERT_EQ(shown().size(), 3);
    for (const auto& m : shown()) {
        EXPECT_EQ(m.icon, MsgIcon::Critical);
        EXPECT_EQ(m.title, "Unsupported Command");
    }
    EXPECT_EQ(shown()[0].text, "Error: 'Execute App (*go)' not supported by the connected "
                               "device\r\n(Requires ZRL00016 SP1 or later)");
    EXPECT_EQ(shown()[1].text, "Error: 'Reboot Tk650' not supported by the connected "
                               "device\r\n(Requires ZRL00016 SP1 or later)");
    EXPECT_EQ(shown()[2].text, "Error: Set Time/Date not supported by the connected "
                               "device\r\n(Requires ZRL00018 or later)");

    folder.dialogs.shown.clear();
    w->commandLineMode = true;
    step(SessionState::StartingApp, "ART:", 3000);
    EXPECT_TRUE(net().replyReceived);
    EXPECT_TRUE(shown().isEmpty());
    EXPECT_FALSE(folder.exitCode);
}

TEST_F(NetworkSessionTest, AcknowledgementsEndTheWaitQuietly)
{
    serve("127.20.4.6");
    ASSERT_TRUE(net().connectToHost());
    step(SessionState::KillingApps, "ASP:", 3000);
    EXPECT_TRUE(net().replyReceived);
    step(SessionState::StartingApp, "ART:", 3000);
    EXPECT_TRUE(net().replyReceived);
    step(SessionState::SettingClock,
         QByteArray::fromStdString(proto::buildSetClockCommand({2026, 12, 6, 8, 35, 7})), 3000);
    EXPECT_TRUE(net().replyReceived);
    EXPECT_FALSE(w->gotTimeout);
    EXPECT_TRUE(shown().isEmpty());
    EXPECT_EQ(daemon.commands().value(2), "RTC:120608352026.07");
}

TEST_F(NetworkSessionTest, IdleConnectingAndFailedIgnoreReplies)
{
    daemon.config.aspReply = sim::Reply::BadArgs;
    serve("127.20.4.7");
    ASSERT_TRUE(net().connectToHost());
    for (auto s : {SessionState::Idle, SessionState::Connecting, SessionState::Failed}) {
        step(s, "ASP:", 300);
        EXPECT_FALSE(net().replyReceived);
        EXPECT_EQ(net().sessionState, s);
    }
    EXPECT_TRUE(shown().isEmpty());
    EXPECT_FALSE(net().unsupportedReported);
}

// Announces and streams a small file, leaving the session in Installing.
class InstallTest : public NetworkSessionTest {
protected:
    void streamFile(const char* ip, const QString& version)
    {
        serve(ip);
        ASSERT_TRUE(net().connectToHost());
        net().hostVersion = version;
        step(SessionState::Announcing, announce(10), 3000);
        ASSERT_EQ(net().sessionState, SessionState::Sending);
        net().finishDownload = [this] { ++finished; };
        w->installTimer->start();
        ASSERT_TRUE(net().sendAndWait(QByteArray(10, 'x')));
        net().sessionState = SessionState::Installing;
        net().replyReceived = false;
    }
    int finished = 0;
};

TEST_F(InstallTest, DoneOrExpandedRunsTheFinishingSteps)
{
    for (auto result : {sim::InstallResult::Done, sim::InstallResult::Expanded}) {
        daemon.close();
        daemon.config.installResult = result;
        finished = 0;
        streamFile("127.20.5.1", "01.02.01");
        ASSERT_TRUE(pumpEventsUntil([&] { return finished > 0; }, 3000));
        EXPECT_EQ(finished, 1);
        EXPECT_FALSE(w->installTimer->isActive());
        EXPECT_FALSE(net().replyReceived) << "install results are no reply to a step";
        EXPECT_NE(w->tcpClient->state(), QAbstractSocket::UnconnectedState);
        EXPECT_TRUE(shown().isEmpty());
        w->resetAll();
    }
}

TEST_F(InstallTest, OlderDaemonConnectionIsClosedBeforeFinishing)
{
    streamFile("127.20.5.2", "01.02.00");
    QAbstractSocket::SocketState atFinish = QAbstractSocket::ConnectedState;
    net().finishDownload = [&] {
        atFinish = w->tcpClient->state();
        ++finished;
    };
    ASSERT_TRUE(pumpEventsUntil([&] { return finished > 0; }, 3000));
    EXPECT_EQ(atFinish, QAbstractSocket::UnconnectedState);
    EXPECT_TRUE(logged("Connection closed"));
    // Closed by the session itself: the window is not reset.
    EXPECT_NE(status(), "Disconnected");
}

TEST_F(InstallTest, FinishingStepsCanAwaitTheirOwnReply)
{
    streamFile("127.20.5.3", "01.02.01");
    net().finishDownload = [&] {
        net().sessionState = SessionState::StartingApp;
        net().sendAndAwaitReply("ART:", 10000);
        ++finished;
    };
    ASSERT_TRUE(pumpEventsUntil([&] { return finished > 0; }, 12000));
    EXPECT_TRUE(net().replyReceived);
    EXPECT_FALSE(w->gotTimeout) << "the reply to ART: must reach the session";
}

TEST_F(InstallTest, FailureOnTheTerminalIsReportedOnce)
{
    daemon.config.installResult = sim::InstallResult::Failed;
    streamFile("127.20.5.4", "01.02.01");
    ASSERT_TRUE(pumpEventsUntil([&] { return net().sessionState == SessionState::Failed; }, 3000));
    EXPECT_EQ(finished, 0);
    EXPECT_FALSE(w->installTimer->isActive());
    expectOneMessage(MsgIcon::Critical, "File transfer failed",
                     "The download failed on the terminal side: timeout");
    EXPECT_TRUE(w->cancelled);
    EXPECT_TRUE(logged("ERROR: download timeout on the host"));
    EXPECT_EQ(status(), "Download FAILED");
    EXPECT_EQ(w->tcpClient->state(), QAbstractSocket::UnconnectedState);
}

TEST_F(InstallTest, FailureAfterCancelStaysSilent)
{
    daemon.config.installResult = sim::InstallResult::Failed;
    daemon.config.installDelayMs = 200;
    streamFile("127.20.5.5", "01.02.01");
    w->cancelled = true;
    EXPECT_TRUE(pumpEventsUntil([&] { return !w->installTimer->isActive(); }, 3000));
    EXPECT_TRUE(shown().isEmpty());
    EXPECT_EQ(net().sessionState, SessionState::Installing);
}

TEST_F(InstallTest, FailureUnattendedEndsWithMinusSix)
{
    daemon.config.installResult = sim::InstallResult::Failed;
    w->commandLineMode = true;
    streamFile("127.20.5.6", "01.02.01");
    EXPECT_TRUE(pumpEventsUntil([&] { return folder.exitCode.has_value(); }, 3000));
    EXPECT_EQ(folder.exitCode, exitcode::Failed);
    EXPECT_TRUE(shown().isEmpty());
}

// --- sending --------------------------------------------------------------

TEST_F(NetworkSessionTest, StalledTransferTimesOutTheSend)
{
    for (bool unattended : {false, true}) {
        SCOPED_TRACE(unattended);
        daemon.close();
        daemon.clearRecords();
        folder.dialogs.shown.clear();
        w->commandLineMode = unattended;
        w->cancelled = false;
        daemon.config.faults.stallAfterFileBytes = 0;
        serve("127.20.6.1");
        ASSERT_TRUE(net().connectToHost());
        const qint64 size = 32LL << 20; // well beyond what the kernel buffers hold
        step(SessionState::Announcing, announce(size), 3000);
        ASSERT_EQ(net().sessionState, SessionState::Sending);
        w->tmrNetSendTimeout->setInterval(400); // the real limit is 4000 ms

        EXPECT_FALSE(net().sendAndWait(QByteArray(size, 'x')));
        if (unattended) {
            EXPECT_EQ(folder.exitCode, exitcode::NoConnect);
            EXPECT_TRUE(shown().isEmpty());
            w->resetAll();
        } else {
            expectOneMessage(MsgIcon::Critical, "Connection to Tk650 Lost",
                             "Unable to complete file transfer\rSend request timed out");
            EXPECT_TRUE(w->cancelled);
            EXPECT_EQ(status(), "Download FAILED");
            EXPECT_EQ(net().sessionState, SessionState::Failed);
            EXPECT_EQ(w->tcpClient->state(), QAbstractSocket::UnconnectedState);
        }
    }
}

TEST_F(NetworkSessionTest, WritingOnAClosedConnectionFails)
{
    serve("127.20.6.2");
    ASSERT_TRUE(net().connectToHost());
    net().closeConnection();
    EXPECT_FALSE(net().sendAndWait("ASP:"));
    ASSERT_EQ(shown().size(), 1);
    EXPECT_EQ(shown()[0].title, "Connection to Tk650 Lost");
    EXPECT_TRUE(shown()[0].text.startsWith("Error occurred during file transfer\r"));
    EXPECT_EQ(status(), "Download FAILED");
    EXPECT_EQ(net().sessionState, SessionState::Failed);

    // Already cancelled: no second message.
    EXPECT_FALSE(net().sendAndWait("ASP:"));
    EXPECT_EQ(shown().size(), 1);

    w->commandLineMode = true;
    EXPECT_FALSE(net().sendAndWait("ASP:"));
    EXPECT_EQ(folder.exitCode, exitcode::Failed);
}

TEST_F(NetworkSessionTest, EveryChunkIsCountedUntilTheSocketHasTakenIt)
{
    serve("127.20.6.3");
    ASSERT_TRUE(net().connectToHost());
    const qint64 size = 3 * 4096 + 1;
    step(SessionState::Announcing, announce(size), 3000);
    ASSERT_EQ(net().sessionState, SessionState::Sending);
    QByteArray content;
    for (qint64 i = 0; i < size; ++i)
        content.append(static_cast<char>(i * 7));
    for (qint64 at = 0; at < size; at += 4096) {
        ASSERT_TRUE(net().sendAndWait(content.mid(at, 4096)));
        EXPECT_TRUE(net().sendCompleted);
    }
    ASSERT_TRUE(pumpEventsUntil([&] { return !daemon.files().isEmpty(); }, 3000));
    EXPECT_TRUE(daemon.files()[0].complete);
    EXPECT_EQ(daemon.files()[0].content, content);
}

// --- closing and the time-out ---------------------------------------------

TEST_F(NetworkSessionTest, TerminalClosingTheConnectionResetsTheWindow)
{
    serve("127.20.7.1");
    ASSERT_TRUE(net().connectToHost());
    step(SessionState::Rebooting, "RST:", 3000); // the daemon reboots: it closes
    EXPECT_TRUE(pumpEventsUntil([&] { return status() == "Disconnected"; }, 3000));
    expectIdleWindow();
}

TEST_F(NetworkSessionTest, OneCommandPerConnectionBelowTheVersionThatKeepsIt)
{
    serve("127.20.7.2");
    ASSERT_TRUE(net().connectToHost());
    net().hostVersion = "01.02.01";
    net().applyOneCommandRule();
    EXPECT_EQ(w->tcpClient->state(), QAbstractSocket::ConnectedState);
    net().hostVersion = "01.02.00";
    net().applyOneCommandRule();
    EXPECT_EQ(w->tcpClient->state(), QAbstractSocket::UnconnectedState);
    EXPECT_TRUE(logged("Connection closed"));
    EXPECT_EQ(status(), "Connected") << "closing it ourselves does not reset the window";
    ASSERT_TRUE(net().connectToHost());
    EXPECT_TRUE(pumpEventsUntil([&] { return daemon.connectionCount() == 2; }, 2000));
}

TEST_F(NetworkSessionTest, ReplyTimeOutCountsTicksAndStopKeepsTheFlag)
{
    net().startTimeout(100, true);
    EXPECT_FALSE(w->gotTimeout);
    ASSERT_TRUE(pumpEventsUntil([&] { return w->gotTimeout; }, 3000));
    EXPECT_EQ(w->ProgBar->value(), 100);
    EXPECT_FALSE(w->tmrTimeout->isActive());
    EXPECT_TRUE(logged("ERROR: timeout occurred"));
    net().stopTimeout();
    EXPECT_TRUE(w->gotTimeout);

    w->ProgBar->setValue(0);
    net().startTimeout(100000, false);
    EXPECT_FALSE(w->gotTimeout);
    pumpEventsUntil([] { return false; }, 100);
    net().stopTimeout();
    EXPECT_FALSE(w->tmrTimeout->isActive());
    EXPECT_EQ(w->ProgBar->value(), 0) << "no progress shown when not asked for";
}

TEST_F(NetworkSessionTest, DelayKeepsEventsRunning)
{
    bool ran = false;
    QTimer::singleShot(10, w.get(), [&] { ran = true; });
    const long long start = tickCountMs();
    net().delayMs(120);
    EXPECT_GE(tickCountMs() - start, 120);
    EXPECT_TRUE(ran);
}

} // namespace
