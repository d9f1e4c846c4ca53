// The main window's own behaviour: closing, the Exit buttons, "More", the tab
// rule, the key chords, resetAll and the output channels.
#include "mainwin_support.h"
#include "platform/wait.h"
#include "ui/frmdebug.h"
#include "ui/frmlog.h"
#include "ui/onelinelist.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTcpServer>
#include <QTest>
#include <gtest/gtest.h>

using namespace tk;
using test::MainWindowRig;

namespace {

// A connected tcpClient, as during a network session.
struct Peer {
    QTcpServer server;
    QTcpSocket* accepted = nullptr;
    explicit Peer(frmmain& w, const char* address)
    {
        EXPECT_TRUE(server.listen(QHostAddress(QString::fromLatin1(address))));
        w.tcpClient->connectToHost(server.serverAddress(), server.serverPort());
        EXPECT_TRUE(w.tcpClient->waitForConnected(5000));
        EXPECT_TRUE(server.waitForNewConnection(5000));
        accepted = server.nextPendingConnection();
    }
};

QStringList logLines(frmmain& w)
{
    return w.logWindow()->text().split('\n', Qt::SkipEmptyParts);
}

// Records the order in which watched windows are closed.
struct CloseOrder : QObject {
    QStringList order;
    bool eventFilter(QObject* o, QEvent* e) override
    {
        if (e->type() == QEvent::Close)
            order << o->objectName();
        return false;
    }
};

} // namespace

TEST(Unload, ClosesEveryWindowInOrderStoresAndEndsTheProgram)
{
    MainWindowRig rig;
    auto& w = rig.withTool().start();
    w.show();
    CloseOrder closes;
    // Windows of other parts are found by name; these stand in for them.
    for (const char* name : {"frmBcastListener", "frmAbout", "frmKSYN"}) {
        auto* other = new QWidget(&w, Qt::Window);
        other->setObjectName(name);
        other->show();
        other->installEventFilter(&closes);
    }
    w.logWindow()->show();
    w.logWindow()->installEventFilter(&closes);
    w.debugWindow()->show();
    w.debugWindow()->installEventFilter(&closes);
    Peer peer(w, "127.50.0.1");

    w.close();
    EXPECT_TRUE(w.cancelled);
    EXPECT_EQ(w.tcpClient->state(), QAbstractSocket::UnconnectedState);
    EXPECT_TRUE(rig.folder.dialogs.shown.isEmpty());
    EXPECT_EQ(closes.order,
              QStringList({"frmAbout", "frmKSYN", "frmBcastListener", "frmDebug", "frmLog"}));
    EXPECT_EQ(rig.folder.store().value("lastTab").toString(), "0");
    EXPECT_EQ(rig.folder.exitCode, 0);
}

TEST(Unload, ClosingDuringATransferSaysFileTransferAborted)
{
    MainWindowRig rig;
    auto& w = rig.withTool().start();
    w.show();
    Peer peer(w, "127.50.0.5");
    w.cmdExitN->setText("Cancel");
    w.close();
    EXPECT_EQ(w.tcpClient->state(), QAbstractSocket::UnconnectedState);
    ASSERT_EQ(rig.folder.dialogs.shown.size(), 1);
    const auto& box = rig.folder.dialogs.shown[0];
    EXPECT_EQ(box.icon, MsgIcon::None);
    EXPECT_EQ(box.title, "Exiting..");
    EXPECT_EQ(box.text, "File Transfer Aborted");
    EXPECT_EQ(box.buttons, MsgButtons::Ok);
    EXPECT_EQ(rig.folder.exitCode, 0);
}

TEST(Unload, UnattendedRunsCloseWithoutTheMessage)
{
    MainWindowRig rig;
    auto& w = rig.withTool().start();
    w.commandLineMode = true;
    w.cmdExitN->setText("Cancel");
    w.close();
    EXPECT_TRUE(rig.folder.dialogs.shown.isEmpty());
    EXPECT_EQ(rig.folder.exitCode, 0);
}

TEST(ExitButtons, ExitClosesTheWindowCancelOnlyCancels)
{
    for (QPushButton* frmmain::*button : {&frmmain::cmdExit, &frmmain::cmdExitN}) {
        MainWindowRig rig;
        auto& w = rig.withTool().start();
        w.show();
        (w.*button)->setText("Cancel");
        QTest::mouseClick(w.*button, Qt::LeftButton);
        EXPECT_TRUE(w.cancelled);
        EXPECT_TRUE(w.isVisible());
        EXPECT_FALSE(rig.folder.exitCode);

        (w.*button)->setText("Exit");
        QTest::mouseClick(w.*button, Qt::LeftButton);
        EXPECT_FALSE(w.isVisible());
        EXPECT_EQ(rig.folder.exitCode, 0);
    }
}

TEST(ExitButtons, NetworkCancelClosesTheConnectionAndLogsIt)
{
    MainWindowRig rig;
    auto& w = rig.withTool().start();
    w.show();
    w.logWindow()->show();
    Peer peer(w, "127.50.0.2");
    w.cmdExitN->setText("Cancel");
    QTest::mouseClick(w.cmdExitN, Qt::LeftButton);
    EXPECT_TRUE(w.cancelled);
    EXPECT_EQ(w.tcpClient->state(), QAbstractSocket::UnconnectedState);
    const auto lines = logLines(w);
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].endsWith(" Connection closed"));
}

TEST(MoreToggle, GrowsTheWindowBy700TwipsAndShowsThePermissions)
{
    MainWindowRig rig;
    auto& w = rig.withTool().start();
    w.STab->setCurrentIndex(1);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    const int height = w.height();
    const int bottom = w.frameBottom->mapTo(&w, QPoint(0, 0)).y();

    QTest::mouseClick(w.cmdMore, Qt::LeftButton);
    EXPECT_TRUE(w.moreExpanded());
    EXPECT_EQ(w.cmdMore->frameShadow(), QFrame::Sunken);
    EXPECT_TRUE(w.framePerms->isVisible());
    EXPECT_EQ(w.height(), height + twips(700));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return w.frameBottom->mapTo(&w, QPoint(0, 0)).y() == bottom + twips(700); }, 5000));

    QTest::mouseClick(w.cmdMore, Qt::LeftButton);
    EXPECT_FALSE(w.moreExpanded());
    EXPECT_EQ(w.cmdMore->frameShadow(), QFrame::Raised);
    EXPECT_FALSE(w.framePerms->isVisible());
    EXPECT_EQ(w.height(), height);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return w.frameBottom->mapTo(&w, QPoint(0, 0)).y() == bottom; }, 5000));
}

TEST(TabRule, ARunningSessionKeepsTheNetworkTab)
{
    MainWindowRig rig;
    auto& w = rig.withTool().start();
    w.STab->setCurrentIndex(1);
    w.cmdExitN->setText("Cancel");
    w.STab->setCurrentIndex(0);
    EXPECT_EQ(w.STab->currentIndex(), 1);
}

TEST(TabRule, LeavingTheNetworkTabCollapsesMoreAndShowsTheLog)
{
    MainWindowRig rig;
    auto& w = rig.withTool().start();
    w.show();
    w.STab->setCurrentIndex(1);
    w.STab->setCurrentIndex(0);
    EXPECT_FALSE(w.logWindow()->isVisible()) << "nothing happens while More is collapsed";

    w.STab->setCurrentIndex(1);
    w.setMoreExpanded(true);
    w.STab->setCurrentIndex(0);
    EXPECT_EQ(w.STab->currentIndex(), 0);
    EXPECT_FALSE(w.moreExpanded());
    EXPECT_TRUE(w.logWindow()->isVisible());
}

// Collapsing through the tab rule takes back exactly what " + " added, every
// time, whatever size the user gave the window in between; the tabs are
// clicked as a user does, with the window's events running in between.
TEST(TabRule, CollapsingOnTheSerialTabGivesTheHeightBackExactly)
{
    for (const int firstTab : {1, 0}) {
        SCOPED_TRACE(firstTab == 1 ? "opened on the Network tab" : "opened on the Serial tab");
        MainWindowRig rig;
        auto& w = rig.withTool().start();
        w.STab->setCurrentIndex(firstTab);
        w.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
        QTabBar* tabs = w.STab->tabBar();
        const auto clickTab = [&](int index) {
            QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(index).center());
            pumpPendingEvents();
        };
        const int opening = w.height();
        const int least = w.minimumHeight();
        for (const int extra : {0, 0, 40}) {
            SCOPED_TRACE(extra);
            w.resize(w.width(), opening + extra);
            clickTab(1);
            QTest::mouseClick(w.cmdMore, Qt::LeftButton);
            pumpPendingEvents();
            ASSERT_TRUE(w.moreExpanded());
            EXPECT_EQ(w.height(), opening + extra + twips(700));
            clickTab(0);
            EXPECT_FALSE(w.moreExpanded());
            EXPECT_EQ(w.height(), opening + extra);
            EXPECT_EQ(w.minimumHeight(), least) << "the window can no longer be made as small";
        }
    }
}

TEST(KeyChords, AdvancedOptionsRevealThePortAndRootOnce)
{
    MainWindowRig rig;
    auto& w = rig.withTool().start();
    w.show();
    w.STab->setCurrentIndex(1);
    QTest::keyClick(w.txtIP[0], Qt::Key_F11, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_FALSE(w.advancedShown);
    for (int i = 0; i < 2; ++i)
        QTest::keyClick(w.txtIP[0], Qt::Key_F12, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(w.advancedShown);
    EXPECT_TRUE(w.txtPort->isVisible());
    EXPECT_TRUE(w.lblPort->isVisible());
    EXPECT_EQ(w.listNetO->entries().count("root"), 1);
    EXPECT_EQ(w.listNetO->count(), 9);
}

TEST(KeyChords, DebugConsoleAndLogWindowOpenFromAnyControl)
{
    MainWindowRig rig;
    auto& w = rig.withTool().start();
    w.show();
    w.txtfile->setText("abc");
    for (int i = 0; i < 4; ++i)
        w.txtIP[static_cast<size_t>(i)]->setText(QString::number(10 + i));
    QTest::keyClick(w.txtfile, Qt::Key_D, Qt::ControlModifier);
    EXPECT_TRUE(w.debugWindow()->isVisible());
    EXPECT_EQ(w.debugWindow()->txtIP->text(), "10.11.12.13");
    EXPECT_EQ(w.debugWindow()->txtMsg->text(), "MSG:enter a message here");
    EXPECT_EQ(w.txtfile->text(), "abc") << "the chord does not reach the control";
    w.debugWindow()->hide();
    QTest::keyClick(w.cmdSave, Qt::Key_T, Qt::ControlModifier);
    EXPECT_TRUE(w.debugWindow()->isVisible());

    QTest::keyClick(w.txtfile, Qt::Key_L, Qt::ControlModifier);
    EXPECT_TRUE(w.logWindow()->isVisible());
    EXPECT_EQ(w.logWindow()->frameGeometry().top(), w.frameGeometry().bottom() + 1);
}

// Everything on the network tab is reached and worked without a mouse: Tab
// reaches " + " and the permission and owner lists, Space or Enter work
// " + " and buttons, the arrow keys scroll a list, and an Alt chord of the
// other tab types nothing into a text box.
TEST(Keyboard, TheNetworkTabIsWorkedWithoutAMouse)
{
    MainWindowRig rig;
    auto& w = rig.withTool().start();
    w.STab->setCurrentIndex(1);
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    w.txtfilen->setFocus(Qt::TabFocusReason);
    const auto tabTo = [&](QWidget* target) {
        for (int i = 0; i < 60 && QApplication::focusWidget() != target; ++i)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        return QApplication::focusWidget() == target;
    };
    ASSERT_TRUE(tabTo(w.cmdMore));
    QTest::keyClick(w.cmdMore, Qt::Key_Space);
    EXPECT_TRUE(w.moreExpanded());
    QTest::keyClick(w.cmdMore, Qt::Key_Return);
    EXPECT_FALSE(w.moreExpanded());
    QTest::keyClick(w.cmdMore, Qt::Key_Enter);
    ASSERT_TRUE(w.moreExpanded());
    for (OneLineList* list : {w.listNetP[0], w.listNetP[2], w.listNetO}) {
        ASSERT_TRUE(tabTo(list)) << list->objectName().toStdString();
        list->setTopIndex(0);
        QTest::keyClick(list, Qt::Key_Down);
        EXPECT_EQ(list->topIndex(), 1);
        QTest::keyClick(list, Qt::Key_End);
        EXPECT_EQ(list->topIndex(), list->count() - 1);
        QTest::keyClick(list, Qt::Key_Up);
        EXPECT_EQ(list->topIndex(), list->count() - 2);
    }

    // Enter clicks the focused button, as Space does.
    ASSERT_TRUE(tabTo(w.cmdExitN));
    bool clicked = false;
    QObject::connect(w.cmdExitN, &QPushButton::clicked, [&] { clicked = true; });
    w.cmdExitN->setText("Cancel"); // Cancel only cancels: the window stays
    QTest::keyClick(w.cmdExitN, Qt::Key_Return);
    EXPECT_TRUE(QTest::qWaitFor([&] { return clicked; }, 5000));

    w.txtIP[0]->setText("10");
    for (const Qt::Key key : {Qt::Key_B, Qt::Key_M, Qt::Key_N, Qt::Key_R})
        QTest::keyClick(w.txtIP[0], key, Qt::AltModifier);
    EXPECT_EQ(w.txtIP[0]->text(), "10");
}

TEST(ResetAll, ReturnsTheNetworkTabToIdle)
{
    MainWindowRig rig;
    auto& w = rig.withTool().start();
    w.show();
    w.logWindow()->show();
    Peer peer(w, "127.50.0.3");
    w.tmrTimeout->start();
    w.tmrTime->start();
    w.lbletl->show();
    w.lblTime->show();
    w.status("Sending");
    w.cmdSend->setEnabled(false);
    w.ProgBar->setValue(40);
    w.cmdExitN->setText("Cancel");

    w.resetAll();
    EXPECT_FALSE(w.tmrTimeout->isActive());
    EXPECT_FALSE(w.tmrTime->isActive());
    EXPECT_EQ(w.tcpClient->state(), QAbstractSocket::UnconnectedState);
    EXPECT_FALSE(w.lbletl->isVisible());
    EXPECT_FALSE(w.lblTime->isVisible());
    EXPECT_EQ(w.lblStatus->text(), "Disconnected");
    EXPECT_TRUE(w.cmdSend->isEnabled());
    EXPECT_EQ(w.ProgBar->value(), 0);
    EXPECT_EQ(w.cmdExitN->text(), "Exit");
    EXPECT_EQ(logLines(w).size(), 1);

    // With no connection open nothing is logged.
    w.resetAll();
    EXPECT_EQ(logLines(w).size(), 1);
}

TEST(DoExitProcess, ClosesTheConnectionAndPassesTheCode)
{
    MainWindowRig rig;
    auto& w = rig.withTool().start();
    Peer peer(w, "127.50.0.4");
    w.doExitProcess(-4);
    EXPECT_EQ(rig.folder.exitCode, -4);
    EXPECT_EQ(w.tcpClient->state(), QAbstractSocket::UnconnectedState);
}

TEST(DoExitProcessDeathTest, EndsTheProcessAtOnceWithTheCode)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (int code : {0, 1, 2, -1, -7}) {
        EXPECT_EXIT(
            {
                test::ProgramFolder folder;
                auto env = folder.env();
                env.exitProcess = nullptr; // the real exit
                frmmain w(env);
                w.doExitProcess(code);
                std::_Exit(100); // not reached
            },
            testing::ExitedWithCode(code & 0xff), "");
    }
}

TEST(DoDebug, TracesIntoTheConsoleOnlyWhileItIsShown)
{
    MainWindowRig rig;
    auto& w = rig.withTool().start();
    w.doDebug("VER:", false);
    w.debugWindow()->show();
    const QString opening = w.debugWindow()->txtDebug->toPlainText();
    EXPECT_FALSE(opening.contains("VER:"));
    w.doDebug("VER:", false);
    w.doDebug("01.02.01", true);
    EXPECT_EQ(w.debugWindow()->txtDebug->toPlainText(),
              opening + "\nSent: VER:\nReceived: 01.02.01");
    w.debugWindow()->hide();
    w.doDebug("RST:", false);
    EXPECT_EQ(w.debugWindow()->txtDebug->toPlainText(),
              opening + "\nSent: VER:\nReceived: 01.02.01");
}

TEST(Status, SetsTheStatusLine)
{
    MainWindowRig rig;
    auto& w = rig.withTool().start();
    w.status("Connecting to 10.0.0.1");
    EXPECT_EQ(w.lblStatus->text(), "Connecting to 10.0.0.1");
}
