// The network tab's Send as a view of one download session: the connect
// failures, the reading of replies, the refusals and the questions, and a
// second download to a terminal that is already busy. Driven through the
// real window and the engine over loopback sockets against the simulated
// terminal daemon (addresses 127.20.x.x).
#include "core/exitcodes.h"
#include "daemon.h"
#include "engine/pushsession.h"
#include "platform/wait.h"
#include "programfolder.h"
#include "ui/frmdebug.h"
#include "ui/frmlog.h"
#include "ui/frmmain.h"
#include "ui/networkdownload.h"

#include <QPlainTextEdit>
#include <QTcpServer>
#include <QTimer>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace tk;

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

class NetworkSend : public ::testing::Test {
protected:
    void SetUp() override
    {
        w = std::make_unique<frmmain>(folder.env());
        w->logWindow()->show();
        folder.write("app.tgz", QByteArray(5000, 'x'));
        w->txtfilen->setText(folder.file("app.tgz"));
    }

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

    // Presses Send and waits until the session has ended.
    void send(int ms = 20000)
    {
        w->cmdSend->click();
        EXPECT_TRUE(pumpEventsUntil([&] { return !w->netDownload->running(); }, ms));
    }

    // Before the next run: an unattended run ends the process where it ends,
    // so its window is put back as it would start.
    void forget()
    {
        w->resetAll();
        folder.dialogs.shown.clear();
        folder.exitCode.reset();
        daemon.clearRecords();
    }

    QStringList prefixes() const
    {
        QStringList out;
        for (const QByteArray& c : daemon.commands())
            out << QString::fromLatin1(c.left(4));
        return out;
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
        EXPECT_EQ(w->ProgBar->value(), 0);
        EXPECT_EQ(w->tcpClient->state(), QAbstractSocket::UnconnectedState);
    }

    test::ProgramFolder folder;
    sim::Daemon daemon;
    std::unique_ptr<frmmain> w;
};

// --- connecting ---------------------------------------------------------------

TEST_F(NetworkSend, ConnectFailuresAreReportedOnceAndUnattendedEndWithMinusFour)
{
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress("127.20.1.1")));
    const quint16 refusing = probe.serverPort();
    probe.close();
    FullBacklog blackhole("127.20.1.2");
    ASSERT_NE(blackhole.port, 0);
    struct Case {
        const char* ip;
        quint16 port;
        const char* text;
        const char* log;
    };
    const Case cases[] = {
        {"127.20.1.1", refusing,
         "Unable to connect to remote server.\rVerify Network Download is enabled on the device.",
         "ERROR connecting to 127.20.1.1 (host not ready)"},
        {"127.20.1.2", blackhole.port, "Timeout occurred trying to connect to remote server.",
         "ERROR connecting to 127.20.1.2 (timeout occurred)"},
    };
    for (const auto& c : cases) {
        for (bool unattended : {false, true}) {
            SCOPED_TRACE(c.ip);
            SCOPED_TRACE(unattended);
            forget();
            w->commandLineMode = unattended;
            aim(QString::fromLatin1(c.ip), c.port);
            int highest = 0;
            auto watch = QObject::connect(w->ProgBar, &QProgressBar::valueChanged,
                                          [&](int v) { highest = std::max(highest, v); });
            send();
            QObject::disconnect(watch);
            if (unattended) {
                EXPECT_EQ(folder.exitCode, exitcode::NoConnect);
                EXPECT_TRUE(shown().isEmpty());
                continue;
            }
            EXPECT_FALSE(folder.exitCode);
            expectOneMessage(MsgIcon::Critical, "Connection Error", c.text);
            EXPECT_TRUE(logged(c.log));
            expectIdleWindow();
            // The bar counts the connect limit down, to the end when it runs out.
            if (c.port == blackhole.port) {
                EXPECT_EQ(highest, 100);
                EXPECT_TRUE(logged("ERROR: timeout occurred"));
            }
        }
    }
}

TEST_F(NetworkSend, CancelDuringTheConnectWaitShowsNothing)
{
    FullBacklog blackhole("127.20.2.2");
    ASSERT_NE(blackhole.port, 0);
    aim("127.20.2.2", blackhole.port);
    for (bool unattended : {false, true}) {
        SCOPED_TRACE(unattended);
        forget();
        w->commandLineMode = unattended;
        QTimer::singleShot(100, w.get(), [&] { w->cmdExitN->click(); });
        send();
        EXPECT_TRUE(shown().isEmpty());
        if (unattended) {
            EXPECT_EQ(folder.exitCode, exitcode::NoConnect);
        } else {
            EXPECT_FALSE(folder.exitCode);
            EXPECT_FALSE(w->cancelled);
            expectIdleWindow();
        }
    }
}

TEST_F(NetworkSend, RefusedConnectionUnattendedEndsTheRealProcess)
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
            real.txtfilen->setText(folder.file("app.tgz"));
            real.commandLineMode = true;
            real.cmdSend->click();
            pumpEventsUntil([] { return false; }, 10000);
            // Never reached: the process has ended.
            std::_Exit(99);
        },
        ::testing::ExitedWithCode(exitcode::NoConnect & 0xff), "");
}

// --- reading replies ---------------------------------------------------------

TEST_F(NetworkSend, VersionReplyIsNormalisedAndTraced)
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
        SCOPED_TRACE(c.expected);
        forget();
        daemon.config.version = c.version;
        daemon.config.versionTerminator = c.terminator;
        send();
        EXPECT_EQ(status(), "Download Complete");
        EXPECT_EQ(w->netDownload->hostVersion, c.expected);
        EXPECT_TRUE(logged(QStringLiteral("Host qlinkd version: ") + c.expected));
    }
    EXPECT_TRUE(logged("Sending command: VER:"));
    const QString trace = w->debugWindow()->txtDebug->toPlainText();
    EXPECT_TRUE(trace.contains("VER:"));
    EXPECT_TRUE(trace.contains("1.02.00"));
    EXPECT_TRUE(trace.contains("DNLD_DONE"));
}

TEST_F(NetworkSend, OneArrivalIsOneReplyAndSplitRepliesAreNotReassembled)
{
    // "OK" followed by "NOSPACE" in one arrival is "OK": the file goes out.
    daemon.config.faults.trailingBytes = QByteArray("NOSPACE", 7);
    serve("127.20.3.5");
    send();
    EXPECT_EQ(status(), "Download Complete");
    EXPECT_TRUE(shown().isEmpty());
    EXPECT_EQ(daemon.files().size(), 1);

    // "1.02" then ".01\n": the first part is the version; "NOS" then "PACE":
    // neither part is a reply, so the announcement is never answered.
    forget();
    daemon.config.faults = {};
    daemon.config.faults.splitReplies = true;
    daemon.config.faults.splitDelayMs = 100;
    daemon.config.version = "1.02.01";
    daemon.config.dldReply = sim::Reply::NoSpace;
    send();
    EXPECT_EQ(w->netDownload->hostVersion, "01.0");
    expectOneMessage(MsgIcon::Critical, "Connection to Tk650 Lost",
                     "Unable to complete file transfer\rSend Request Timed Out");
    expectIdleWindow();
}

// --- refusals and questions ---------------------------------------------------

TEST_F(NetworkSend, UnsupportedCommandsNameTheirBoxAndTheSessionGoesOn)
{
    struct Case {
        QCheckBox* box;
        const char* prefix;
        const char* text;
        const char* status;
    };
    const Case cases[] = {
        {w->chkRunApp, "ART:",
         "Error: 'Execute App (*go)' not supported by the connected device\r\n(Requires "
         "ZRL00016 SP1 or later)",
         "Download Complete (Running App)"},
        {w->chkReboot, "RST:",
         "Error: 'Reboot Tk650' not supported by the connected device\r\n(Requires ZRL00016 SP1 "
         "or later)",
         "Download Complete (terminal rebooting)"},
        {w->chkSetRTC, "RTC:",
         "Error: Set Time/Date not supported by the connected device\r\n(Requires ZRL00018 or "
         "later)",
         "Download Complete"},
    };
    daemon.config.artReply = sim::Reply::BadArgs;
    daemon.config.rstReply = sim::Reply::BadArgs;
    daemon.config.rtcReply = sim::Reply::BadArgs;
    serve("127.20.4.5");
    for (const auto& c : cases) {
        for (bool unattended : {false, true}) {
            SCOPED_TRACE(c.prefix);
            SCOPED_TRACE(unattended);
            forget();
            w->commandLineMode = unattended;
            c.box->setChecked(true);
            send();
            c.box->setChecked(false);
            EXPECT_TRUE(prefixes().contains(c.prefix));
            EXPECT_EQ(daemon.files().size(), 1);
            if (unattended) {
                EXPECT_TRUE(shown().isEmpty());
                EXPECT_GE(*folder.exitCode, 0);
                continue;
            }
            expectOneMessage(MsgIcon::Critical, "Unsupported Command", c.text);
            EXPECT_EQ(status(), c.status);
        }
    }
}

TEST_F(NetworkSend, RefusedKillAppsAsksOnceAndNoSendsNothingMore)
{
    daemon.config.aspReply = sim::Reply::BadArgs;
    daemon.config.artReply = sim::Reply::BadArgs;
    serve("127.20.4.3");
    w->chkKillApps->setChecked(true);
    w->chkRunApp->setChecked(true);
    folder.dialogs.answers = {MsgAnswer::No};
    send();
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
    EXPECT_EQ(prefixes(), QStringList({"VER:", "ASP:"}));
    expectIdleWindow();

    // Yes: the session goes on; the refused "ART:" then stays silent.
    forget();
    folder.dialogs.answers = {MsgAnswer::Yes};
    send();
    EXPECT_EQ(shown().size(), 1);
    EXPECT_EQ(prefixes(), QStringList({"VER:", "ASP:", "DLD:", "ART:"}));
    EXPECT_EQ(status(), "Download Complete (Running App)");
    EXPECT_TRUE(logged("Killed running applications on host device"));
}

// --- the end of the session ------------------------------------------------------

TEST_F(NetworkSend, TerminalResettingWhileInstallingIsNoReboot)
{
    daemon.config.faults.strike = sim::Strike::Reset;
    daemon.config.faults.strikeAt = "FILE";
    daemon.config.faults.strikeBeforeAnswer = true;
    serve("127.20.5.4");
    send();
    expectOneMessage(MsgIcon::Critical, "Connection to Tk650 Lost",
                     "Unable to complete file transfer\rThe terminal reset the connection "
                     "before it reported the install result");
    EXPECT_EQ(status(), "Download FAILED");
    EXPECT_EQ(w->netDownload->sessionState, proto::SessionState::Failed);
}

TEST_F(NetworkSend, ExitWhileInstallingClosesTheWindowAndEndsTheSession)
{
    daemon.config.installDelayMs = 60000;
    serve("127.20.5.5");
    w->show();
    w->cmdSend->click();
    ASSERT_TRUE(pumpEventsUntil([&] { return status() == "Installing Files.."; }, 10000));
    EXPECT_EQ(w->cmdExitN->text(), "Exit");
    EXPECT_TRUE(engine::PushSession::runningTo("127.20.5.5"));
    w->cmdExitN->click();
    EXPECT_FALSE(w->isVisible());
    EXPECT_FALSE(w->netDownload->running());
    EXPECT_FALSE(engine::PushSession::runningTo("127.20.5.5"));
    EXPECT_TRUE(shown().isEmpty()) << "no transfer was running any more";
}

// --- one download per terminal ------------------------------------------------------

TEST_F(NetworkSend, SendToATerminalThatIsBeingSentToSendsNothing)
{
    daemon.config.installDelayMs = 60000;
    serve("127.20.8.1");
    engine::PushOptions o;
    o.filePath = folder.file("app.tgz");
    o.port = daemon.serverPort();
    engine::PushSession other(QStringLiteral("127.20.8.1"), o);
    other.start();
    ASSERT_TRUE(pumpEventsUntil([&] { return other.stage() == engine::Stage::Installing; }, 10000));

    for (bool unattended : {false, true}) {
        SCOPED_TRACE(unattended);
        forget();
        w->commandLineMode = unattended;
        send();
        if (unattended) {
            EXPECT_EQ(folder.exitCode, exitcode::Failed);
            EXPECT_TRUE(shown().isEmpty());
        } else {
            expectOneMessage(MsgIcon::Critical, "Unable to Send",
                             "A download to 127.20.8.1 is already running.");
            expectIdleWindow();
        }
        // Nothing since the records were cleared: no connection, no command.
        EXPECT_EQ(daemon.connectionCount(), 0);
        EXPECT_TRUE(daemon.commands().isEmpty());
    }

    // Once the other has ended the terminal is free again.
    other.cancel();
    forget();
    daemon.config.installDelayMs = 0;
    w->commandLineMode = false;
    send();
    EXPECT_EQ(status(), "Download Complete");
}

} // namespace
