// The debug console against the simulator's daemon on 127.40.20.x.
#include "daemon.h"
#include "hangingport.h"
#include "platform/wait.h"
#include "programfolder.h"
#include "ui/frmdebug.h"
#include "ui/frmmain.h"

#include <QFrame>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTcpSocket>
#include <gmock/gmock.h>

using namespace tk;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

struct Console {
    explicit Console(int host, sim::DaemonConfig config = {})
        : address(QStringLiteral("127.40.20.%1").arg(host)), main(folder.env())
    {
        daemon.config = config;
        EXPECT_TRUE(daemon.listen(QHostAddress(address)));
        main.txtPort->setText(QString::number(daemon.serverPort()));
        dbg = main.debugWindow();
    }
    std::string log() const { return dbg->txtDebug->toPlainText().toStdString(); }
    bool panelShown(int ms = 4000)
    {
        return pumpEventsUntil([this] { return dbg->frameError->isVisible(); }, ms);
    }

    QString address;
    test::ProgramFolder folder;
    sim::Daemon daemon;
    frmmain main;
    frmDebug* dbg = nullptr;
};

} // namespace

TEST(DebugConsole, RepliesAreLoggedAndBadArgsShowsThePanel)
{
    sim::DaemonConfig config;
    config.msgReply = sim::Reply::BadArgs;
    Console c(1, config);
    c.dbg->init(c.address, QStringLiteral("MSG:hello"), true);
    EXPECT_FALSE(c.dbg->cmdSend->isEnabled());
    ASSERT_TRUE(c.panelShown());
    EXPECT_EQ(c.dbg->errorText(),
              QStringLiteral("Command not supported.\r\n"
                             "The command you sent was not recognized, try again."));
    EXPECT_EQ(c.daemon.commands(), QList<QByteArray>{"MSG:hello"}); // nothing added
    EXPECT_THAT(c.log(),
                HasSubstr("Capturing tcp messages...\n\nSent: MSG:hello\nReceived: BADARGS"));
    EXPECT_EQ(c.dbg->tcpClient->state(), QAbstractSocket::UnconnectedState);
    EXPECT_FALSE(c.dbg->cmdSend->isEnabled());
    c.dbg->cmdRetry->click();
    EXPECT_FALSE(c.dbg->frameError->isVisible());
    EXPECT_TRUE(c.dbg->cmdSend->isEnabled());

    // "OK" and anything starting with it only goes to the log.
    c.daemon.config.msgReply = sim::Reply::Ok;
    c.daemon.config.faults.trailingBytes = " and more";
    c.dbg->cmdSend->click();
    ASSERT_TRUE(pumpEventsUntil(
        [&] { return c.log().find("Received: OK and more") != std::string::npos; }, 4000));
    pumpEventsUntil([&] { return c.dbg->cmdSend->isEnabled(); }, 2000);
    EXPECT_TRUE(c.dbg->cmdSend->isEnabled());
    EXPECT_FALSE(c.dbg->frameError->isVisible());
}

TEST(DebugConsole, ConnectTimeOutNamesTheAddress)
{
    const QString address = QStringLiteral("127.40.20.2");
    test::HangingPort hanging(address, 5142);
    ASSERT_TRUE(hanging.ok());
    test::ProgramFolder folder;
    frmmain main(folder.env());
    frmDebug* dbg = main.debugWindow();
    dbg->init(address, {}, true);
    EXPECT_FALSE(pumpEventsUntil([&] { return dbg->frameError->isVisible(); }, 1500));
    ASSERT_TRUE(pumpEventsUntil([&] { return dbg->frameError->isVisible(); }, 3000));
    EXPECT_EQ(dbg->errorText(),
              QStringLiteral("Error!\r\nUnable to connect to device: 127.40.20.2"));
    EXPECT_EQ(dbg->tcpClient->state(), QAbstractSocket::UnconnectedState);
    EXPECT_EQ(dbg->txtMsg->text(), QStringLiteral("MSG:enter a message here"));
}

TEST(DebugConsole, RefusedConnectionShowsTheSocketError)
{
    Console c(3);
    c.daemon.close();
    c.dbg->init(c.address, {}, true);
    ASSERT_TRUE(c.panelShown());
    EXPECT_TRUE(c.dbg->errorText().startsWith(QStringLiteral("Error: ")));
    EXPECT_NE(c.dbg->errorText(), QStringLiteral("Error: "));
}

TEST(DebugConsole, SecondSendClosesTheFirstConnection)
{
    sim::DaemonConfig config;
    config.msgReply = sim::Reply::Silent;
    Console c(4, config);
    c.dbg->init(c.address, QStringLiteral("MSG:one"), true);
    ASSERT_TRUE(pumpEventsUntil([&] { return c.daemon.commands().size() == 1; }, 4000));
    EXPECT_EQ(c.daemon.openConnections(), 1);
    c.dbg->txtMsg->setText(QStringLiteral("MSG:two"));
    c.dbg->cmdSend->click();
    ASSERT_TRUE(pumpEventsUntil([&] { return c.daemon.commands().size() == 2; }, 4000));
    ASSERT_TRUE(pumpEventsUntil([&] { return c.daemon.openConnections() == 1; }, 4000));
    EXPECT_EQ(c.daemon.connectionCount(), 2);
    EXPECT_EQ(c.daemon.commandLog().last().connection, 2);
    EXPECT_FALSE(c.dbg->frameError->isVisible());
}

TEST(DebugConsole, LogsOnlyWhileShown)
{
    Console c(5);
    c.main.doDebug(QStringLiteral("VER:"), false); // console not shown yet
    c.dbg->init();
    c.main.doDebug(QStringLiteral("<b>x</b>"), true);
    c.dbg->hide();
    c.main.doDebug(QStringLiteral("hidden"), false);
    EXPECT_EQ(c.log(), "Capturing tcp messages...\n\nReceived: <b>x</b>");
    EXPECT_TRUE(c.dbg->txtIP->text().isEmpty());
}

TEST(DebugConsole, AnEmptyCommandConnectsAndGivesSendBack)
{
    Console c(6);
    c.dbg->init(c.address);
    c.dbg->txtMsg->clear();
    c.dbg->cmdSend->click();
    EXPECT_FALSE(c.dbg->cmdSend->isEnabled());
    ASSERT_TRUE(pumpEventsUntil([&] { return c.daemon.connectionCount() == 1; }, 4000));
    EXPECT_TRUE(pumpEventsUntil([&] { return c.dbg->cmdSend->isEnabled(); }, 4000));
    EXPECT_THAT(c.log(), HasSubstr("\nSent: "));
    EXPECT_FALSE(c.dbg->frameError->isVisible());
}

TEST(DebugConsole, AFloodingTerminalKeepsTheTraceBounded)
{
    sim::DaemonConfig config;
    config.faults.strike = sim::Strike::Flood;
    config.faults.strikeAt = "MSG:";
    config.faults.strikeBeforeAnswer = true;
    Console c(7, config);
    c.dbg->init(c.address, QStringLiteral("MSG:hello"), true);
    // Far more arrivals than lines kept: the trace stays at its newest lines.
    ASSERT_TRUE(pumpEventsUntil(
        [&] { return c.dbg->txtDebug->blockCount() >= frmDebug::kTraceLines; }, 20000));
    EXPECT_LE(c.dbg->txtDebug->blockCount(), frmDebug::kTraceLines);
    EXPECT_LE(c.dbg->txtDebug->toPlainText().size(),
              qsizetype(frmDebug::kTraceLines) * (frmDebug::kTraceEntryBytes + 64));
}
