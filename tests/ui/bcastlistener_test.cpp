// The broadcast listener over real UDP and TCP on loopback, against the
// simulator's daemon. Every test has its own 127.40.N.x network (downloads
// to several terminals: 127.117.N.x).
#include "daemon.h"
#include "engine/pushsession.h"
#include "hangingport.h"
#include "platform/wait.h"
#include "programfolder.h"
#include "record.h"
#include "ui/frmbcastlistener.h"
#include "ui/frmdebug.h"
#include "ui/frmmain.h"

#include <QApplication>
#include <QCheckBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>
#include <QUdpSocket>
#include <algorithm>
#include <functional>
#include <gmock/gmock.h>

using namespace tk;
using tk::test::HangingPort;
using tk::test::ProgramFolder;

namespace {

const QByteArray FS("\x1c");

QByteArray rec(const QByteArray& serial, const QByteArray& discretionary = {})
{
    return "TK" + FS + serial + FS + "650" + FS + "R1.2" + FS + "2.6.12" + FS + "app;1.0" + FS +
           discretionary + FS + FS;
}

// A frmmain over a temporary program folder whose listener binds 127.40.net.1
// (or base + "1").
struct Rig {
    explicit Rig(int net, ProgramFolder* shared = nullptr)
        : Rig(QStringLiteral("127.40.%1.").arg(net), shared)
    {
    }
    explicit Rig(const QString& prefix, ProgramFolder* shared = nullptr)
        : base(prefix), folder(shared ? shared : &own)
    {
        ProgramEnv env = folder->env();
        env.bcastBindAddress = addr(1);
        env.now = [this] { return clock; };
        main = std::make_unique<frmmain>(env);
    }
    ~Rig()
    {
        if (auto* l = listener())
            l->close();
        pumpPendingEvents();
    }

    QString addr(int host) const { return base + QString::number(host); }
    frmBcastListener* listener() const
    {
        return main->findChild<frmBcastListener*>(QStringLiteral("frmBcastListener"),
                                                  Qt::FindDirectChildrenOnly);
    }
    frmBcastListener* open()
    {
        main->show();
        main->chkListener->click();
        auto* l = listener();
        if (l) {
            EXPECT_TRUE(pumpEventsUntil([l] { return !l->isRefreshing(); }, 10000));
        }
        return l;
    }
    // Datagrams from one socket, sent back to back without a turn of the event loop.
    void sendAll(const QList<QByteArray>& datagrams, int fromHost)
    {
        QUdpSocket s;
        ASSERT_TRUE(s.bind(QHostAddress(addr(fromHost)), 0));
        for (const auto& data : datagrams)
            ASSERT_EQ(s.writeDatagram(data, QHostAddress(addr(1)), 5143), data.size());
    }
    void send(const QByteArray& data, int fromHost)
    {
        QUdpSocket s;
        ASSERT_TRUE(s.bind(QHostAddress(addr(fromHost)), 0));
        ASSERT_EQ(s.writeDatagram(data, QHostAddress(addr(1)), 5143), data.size());
    }
    std::unique_ptr<sim::Daemon> daemon(int host, sim::DaemonConfig config = {})
    {
        auto d = std::make_unique<sim::Daemon>(config);
        EXPECT_TRUE(d->listen(QHostAddress(addr(host)), 5142)) << d->errorString().toStdString();
        return d;
    }
    // Waits until the row exists and its probe is over.
    bool settled(const QString& serial, int ms = 8000)
    {
        auto* l = listener();
        return pumpEventsUntil(
            [&] {
                const int i = l->rowOf(serial);
                return i >= 0 && l->probesIdle() &&
                       l->row(i).status != QLatin1String("Refreshing...");
            },
            ms);
    }
    DeviceRow rowOf(const QString& serial) const
    {
        return listener()->row(listener()->rowOf(serial));
    }

    QString base;
    ProgramFolder own;
    ProgramFolder* folder;
    QDateTime clock{QDate(2026, 12, 6), QTime(8, 35, 7)};
    std::unique_ptr<frmmain> main;
};

// A real double click: press, release, double-click, release.
void doubleClick(QWidget* w, QPoint at)
{
    QTest::mouseClick(w, Qt::LeftButton, {}, at);
    QMouseEvent dbl(QEvent::MouseButtonDblClick, at, w->mapToGlobal(at), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &dbl);
    QTest::mouseRelease(w, Qt::LeftButton, {}, at);
}

} // namespace

TEST(BcastListener, BindsThePortBoxPlusOneAndCountsRows)
{
    Rig rig(1);
    auto* l = rig.open();
    ASSERT_TRUE(l);
    EXPECT_TRUE(l->isVisible());
    EXPECT_EQ(l->windowTitle(), QStringLiteral("Tk650 Bcast Listener"));
    EXPECT_EQ(l->UDPbcast->localPort(), 5143);
    EXPECT_EQ(l->lblListenerState->text(), QStringLiteral("Listening"));
    EXPECT_EQ(l->lblDeviceCount->text(), QStringLiteral("Total Devices: 0"));
    EXPECT_TRUE(rig.main->chkListener->isChecked());

    // Three fields are dropped; four make a row, even with an empty serial.
    rig.send("a" + FS + "three" + FS, 2);
    rig.send(FS + FS + FS, 2);
    ASSERT_TRUE(rig.settled(QString()));
    EXPECT_EQ(l->rowCount(), 1);
    EXPECT_EQ(l->rowOf(QStringLiteral("three")), -1);
    EXPECT_EQ(l->lblDeviceCount->text(), QStringLiteral("Total Devices: 1"));
    EXPECT_EQ(rig.rowOf(QString()).status, QStringLiteral("Disconnected")); // nobody listens
}

TEST(BcastListener, OneRowPerSerialExactCase)
{
    Rig rig(2);
    auto* l = rig.open();
    rig.send(rec("SN-1"), 2);
    ASSERT_TRUE(rig.settled(QStringLiteral("SN-1")));
    const QString first = rig.rowOf(QStringLiteral("SN-1")).lastBcast;
    rig.clock = rig.clock.addSecs(65);
    rig.send(rec("SN-1"), 3);
    ASSERT_TRUE(pumpEventsUntil(
        [&] { return rig.rowOf(QStringLiteral("SN-1")).address == rig.addr(3); }, 5000));
    EXPECT_EQ(l->rowCount(), 1);
    EXPECT_NE(rig.rowOf(QStringLiteral("SN-1")).lastBcast, first);
    EXPECT_THAT(rig.rowOf(QStringLiteral("SN-1")).lastBcast.toStdString(),
                ::testing::HasSubstr("36:12"));

    rig.send(rec("sn-1"), 2);
    ASSERT_TRUE(rig.settled(QStringLiteral("sn-1")));
    EXPECT_EQ(l->rowCount(), 2);
}

TEST(BcastListener, ProbeRepliesFillTheRows)
{
    Rig rig(3);
    sim::DaemonConfig ok;
    ok.whoReply = "OK";
    auto okDaemon = rig.daemon(2, ok);
    sim::DaemonConfig bad;
    bad.whoReply = "BADARGS";
    auto badDaemon = rig.daemon(3, bad);
    sim::DaemonConfig other;
    other.whoReply = rec("OTHER", "a\r\nb\r\n");
    auto otherDaemon = rig.daemon(4, other);

    auto* l = rig.open();
    rig.send(rec("A"), 2);
    rig.send(rec("B"), 3);
    rig.send(rec("C", "old"), 4);
    for (const char* s : {"A", "B", "C"})
        ASSERT_TRUE(rig.settled(QString::fromLatin1(s)));
    ASSERT_TRUE(rig.settled(QStringLiteral("OTHER")));

    // A plain acknowledgement is an answer but not a record.
    EXPECT_EQ(rig.rowOf(QStringLiteral("A")).status, QStringLiteral("Waiting for download"));
    EXPECT_EQ(rig.rowOf(QStringLiteral("A")).record, QString::fromLatin1(rec("A")));
    EXPECT_EQ(rig.rowOf(QStringLiteral("B")).status, QStringLiteral("Waiting for download"));
    EXPECT_EQ(rig.rowOf(QStringLiteral("B")).record, QString::fromLatin1(rec("B")));
    EXPECT_EQ(okDaemon->commands(), QList<QByteArray>{"WHO:"});

    // A reply for a serial not in the table adds a row of its own.
    EXPECT_EQ(l->rowCount(), 4);
    EXPECT_EQ(l->lblDeviceCount->text(), QStringLiteral("Total Devices: 4"));
    const DeviceRow o = rig.rowOf(QStringLiteral("OTHER"));
    EXPECT_EQ(o.discretionary, QStringLiteral("a\nb"));
    EXPECT_EQ(o.record, QString::fromLatin1(other.whoReply));
    EXPECT_TRUE(o.address.isEmpty());
    EXPECT_EQ(rig.rowOf(QStringLiteral("C")).discretionary, QString()); // datagrams leave it
    EXPECT_EQ(rig.rowOf(QStringLiteral("C")).record, QString::fromLatin1(rec("C", "old")));
}

TEST(BcastListener, MainWindowsOwnPeerIsBusyWithoutProbe)
{
    Rig rig(4);
    auto d = rig.daemon(2);
    rig.open();
    rig.main->tcpClient->connectToHost(rig.addr(2), 5142);
    ASSERT_TRUE(rig.main->tcpClient->waitForConnected(3000));
    rig.send(rec("SN"), 2);
    ASSERT_TRUE(rig.settled(QStringLiteral("SN")));
    EXPECT_EQ(rig.rowOf(QStringLiteral("SN")).status, QStringLiteral("Busy"));
    pumpEventsUntil([] { return false; }, 100); // let the daemon see what it got
    EXPECT_TRUE(d->commands().isEmpty());
    rig.main->tcpClient->abort();
}

TEST(BcastListener, EscapeGivesUpTheProbe)
{
    Rig rig(5);
    HangingPort hanging(rig.addr(2), 5142);
    ASSERT_TRUE(hanging.ok());
    sim::DaemonConfig silent;
    silent.whoReply.clear();
    auto d = rig.daemon(3, silent);
    auto* l = rig.open();

    const auto probeStates = [l] {
        QList<QAbstractSocket::SocketState> states;
        for (auto* s : l->findChildren<QTcpSocket*>(QStringLiteral("tcpClient")))
            states << s->state();
        return states;
    };

    // During the connect wait: Disconnected.
    rig.send(rec("HANG"), 2);
    ASSERT_TRUE(pumpEventsUntil(
        [&] { return probeStates().contains(QAbstractSocket::ConnectingState); }, 3000));
    QTest::keyClick(l->lvBcast, Qt::Key_Escape);
    EXPECT_EQ(rig.rowOf(QStringLiteral("HANG")).status, QStringLiteral("Disconnected"));
    EXPECT_EQ(l->probesRunning(), 0);
    EXPECT_FALSE(probeStates().contains(QAbstractSocket::ConnectingState));

    // During the reply wait: Busy.
    rig.send(rec("QUIET"), 3);
    ASSERT_TRUE(pumpEventsUntil([&] { return d->commands().contains("WHO:"); }, 3000));
    QTest::keyClick(l, Qt::Key_Escape);
    EXPECT_EQ(rig.rowOf(QStringLiteral("QUIET")).status, QStringLiteral("Busy"));
    for (const auto state : probeStates())
        EXPECT_EQ(state, QAbstractSocket::UnconnectedState);
    EXPECT_TRUE(pumpEventsUntil([&] { return d->openConnections() == 0; }, 3000));
}

// Probes run side by side, each on its own connection with its own waits: a
// silent terminal costs its own reply wait, not everyone's. A row is never
// probed twice at the same time, and keeps its last status until its own
// probe starts.
TEST(BcastListener, ProbesRunSideBySide)
{
    Rig rig(6);
    sim::DaemonConfig silent;
    silent.whoReply.clear();
    auto quiet = rig.daemon(2, silent);
    auto answering = rig.daemon(3);
    auto* l = rig.open();
    rig.send(rec("SLOW"), 2);
    ASSERT_TRUE(pumpEventsUntil([&] { return quiet->commands().contains("WHO:"); }, 3000));
    // More broadcasts while the probe waits: the row is not probed again, and
    // the other row does not wait for it.
    rig.send(rec("SLOW"), 2);
    rig.send(rec("SLOW"), 2);
    rig.send(rec("NEXT"), 3);
    rig.send(rec("GONE"), 4);
    ASSERT_TRUE(pumpEventsUntil(
        [&] {
            return rig.rowOf(QStringLiteral("NEXT")).status ==
                       QLatin1String("Waiting for download") &&
                   rig.rowOf(QStringLiteral("GONE")).status == QLatin1String("Disconnected");
        },
        3000));
    EXPECT_EQ(rig.rowOf(QStringLiteral("SLOW")).status, QStringLiteral("Refreshing..."));
    EXPECT_EQ(quiet->connectionCount(), 1);
    // The silent daemon holds only its own probe, for its whole reply wait (5 s).
    ASSERT_TRUE(rig.settled(QStringLiteral("SLOW"), 9000));
    EXPECT_EQ(rig.rowOf(QStringLiteral("SLOW")).status, QStringLiteral("Busy"));
    EXPECT_EQ(quiet->connectionCount(), 1);
    EXPECT_EQ(l->probesSent(), 2);

    // With every probe held by a silent terminal, a known row keeps its status
    // while its probe waits for a free connection.
    std::vector<std::unique_ptr<sim::Daemon>> silentOnes;
    for (int i = 0; i < frmBcastListener::kMaxProbes; ++i) {
        silentOnes.push_back(rig.daemon(10 + i, silent));
        rig.send(rec("S" + QByteArray::number(i)), 10 + i);
    }
    ASSERT_TRUE(
        pumpEventsUntil([&] { return l->probesRunning() == frmBcastListener::kMaxProbes; }, 5000));
    const QString before = rig.rowOf(QStringLiteral("NEXT")).lastBcast;
    rig.clock = rig.clock.addSecs(61);
    rig.send(rec("NEXT"), 3);
    ASSERT_TRUE(pumpEventsUntil(
        [&] { return rig.rowOf(QStringLiteral("NEXT")).lastBcast != before; }, 3000));
    EXPECT_EQ(rig.rowOf(QStringLiteral("NEXT")).status, QStringLiteral("Waiting for download"));
    EXPECT_EQ(l->probesRunning(), frmBcastListener::kMaxProbes);
    EXPECT_EQ(answering->connectionCount(), 1);
    // Its turn comes when a silent probe ends.
    ASSERT_TRUE(pumpEventsUntil([&] { return answering->connectionCount() == 2; }, 9000));
    ASSERT_TRUE(rig.settled(QStringLiteral("NEXT")));
    EXPECT_EQ(rig.rowOf(QStringLiteral("NEXT")).status, QStringLiteral("Waiting for download"));
}

TEST(BcastListener, RefreshProbesEveryRow)
{
    Rig rig(7);
    auto a = rig.daemon(2);
    auto* l = rig.open();
    rig.send(rec("R1"), 2);
    rig.send(rec("R2"), 3);
    ASSERT_TRUE(rig.settled(QStringLiteral("R1")));
    ASSERT_TRUE(rig.settled(QStringLiteral("R2")));
    a->clearRecords();

    l->cmdRefresh->click();
    EXPECT_EQ(l->cmdRefresh->text(), QStringLiteral("Refreshing.."));
    EXPECT_FALSE(l->cmdRefresh->isEnabled());
    EXPECT_EQ(l->lblListenerState->text(), QStringLiteral("Refreshing"));
    ASSERT_TRUE(pumpEventsUntil([&] { return l->cmdRefresh->isEnabled(); }, 8000));
    EXPECT_EQ(l->cmdRefresh->text(), QStringLiteral("Refresh"));
    EXPECT_EQ(l->lblListenerState->text(), QStringLiteral("Listening"));
    EXPECT_EQ(l->pbBcastRefresh->value(), 0);
    EXPECT_EQ(a->commands(), QList<QByteArray>{"WHO:"});
    EXPECT_EQ(rig.rowOf(QStringLiteral("R1")).status, QStringLiteral("Waiting for download"));
    EXPECT_EQ(rig.rowOf(QStringLiteral("R2")).status, QStringLiteral("Disconnected"));
}

TEST(BcastListener, PruningAsksFirst)
{
    Rig rig(8);
    auto d = rig.daemon(4);
    auto* l = rig.open();
    rig.main->tcpClient->connectToHost(rig.addr(4), 5142);
    ASSERT_TRUE(rig.main->tcpClient->waitForConnected(3000));
    rig.send(rec("D1"), 2);
    rig.send(rec("D2"), 3);
    rig.send(rec("B1"), 4);
    for (const char* s : {"D1", "D2", "B1"})
        ASSERT_TRUE(rig.settled(QString::fromLatin1(s)));

    auto& dialogs = rig.folder->dialogs;
    dialogs.answers = {MsgAnswer::No};
    l->cmdRemoveDisconnected->click();
    EXPECT_EQ(l->rowCount(), 3);
    dialogs.answers = {MsgAnswer::Yes};
    l->cmdRemoveDisconnected->click();
    ASSERT_EQ(l->rowCount(), 1);
    EXPECT_EQ(l->row(0).serial, QStringLiteral("B1"));
    EXPECT_EQ(l->lblDeviceCount->text(), QStringLiteral("Total Devices: 1"));
    EXPECT_EQ(dialogs.shown.last().title, QStringLiteral("Confirm Clear Disconnected"));
    EXPECT_EQ(
        dialogs.shown.last().text,
        QStringLiteral("Are you sure you want to remove all Disconnected S/N's from the list?"));
    EXPECT_EQ(dialogs.shown.last().buttons, MsgButtons::YesNo);
    EXPECT_EQ(dialogs.shown.last().icon, MsgIcon::None);

    dialogs.answers = {MsgAnswer::No};
    l->cmdClear->click();
    EXPECT_EQ(l->rowCount(), 1);
    dialogs.answers = {MsgAnswer::Yes};
    l->cmdClear->click();
    EXPECT_EQ(l->rowCount(), 0);
    EXPECT_EQ(dialogs.shown.last().title, QStringLiteral("Clear List?"));
    EXPECT_EQ(dialogs.shown.last().text,
              QStringLiteral("Are you sure you want to clear the Bcast list?"));
    EXPECT_EQ(l->lblDeviceCount->text(), QStringLiteral("Total Devices: 0"));
    rig.main->tcpClient->abort();
}

TEST(BcastListener, RightClickSelectsThenRemoveAndDeleteKey)
{
    Rig rig(9);
    auto* l = rig.open();
    rig.send(rec("FIRST"), 2);
    rig.send(rec("SECOND"), 3);
    rig.send(rec("THIRD"), 3);
    ASSERT_TRUE(rig.settled(QStringLiteral("THIRD")));
    l->lvBcast->setCurrentIndex(l->table().index(0, 0));

    const QRect second = l->lvBcast->visualRect(l->table().index(1, 0));
    QTest::mouseClick(l->lvBcast->viewport(), Qt::RightButton, {}, second.center());
    EXPECT_TRUE(l->lvBcast->selectionModel()->isRowSelected(1));
    EXPECT_FALSE(l->lvBcast->selectionModel()->isRowSelected(0));
    EXPECT_TRUE(l->mnuItemContext->isVisible());
    l->mnuItemContext->hide();

    auto& dialogs = rig.folder->dialogs;
    dialogs.answers = {MsgAnswer::Yes};
    l->mnuRemove->trigger();
    EXPECT_EQ(dialogs.shown.last().title, QStringLiteral("Confirm Remove"));
    EXPECT_EQ(dialogs.shown.last().text,
              QStringLiteral("Are you sure you want to remove S/N SECOND from the list?"));
    EXPECT_EQ(l->rowOf(QStringLiteral("SECOND")), -1);
    EXPECT_EQ(l->lblDeviceCount->text(), QStringLiteral("Total Devices: 2"));

    // Right click on empty space: no selection, no menu.
    QTest::mouseClick(l->lvBcast->viewport(), Qt::RightButton, {},
                      QPoint(5, l->lvBcast->viewport()->height() - 3));
    EXPECT_TRUE(l->lvBcast->selectionModel()->selectedRows().isEmpty());
    EXPECT_FALSE(l->mnuItemContext->isVisible());
    const int asked = static_cast<int>(dialogs.shown.size());
    QTest::keyClick(l->lvBcast, Qt::Key_Delete); // nothing selected: no question
    EXPECT_EQ(dialogs.shown.size(), asked);

    l->lvBcast->selectionModel()->select(l->table().index(0, 0),
                                         QItemSelectionModel::Select | QItemSelectionModel::Rows);
    dialogs.answers = {MsgAnswer::Yes};
    QTest::keyClick(l->lvBcast, Qt::Key_Delete);
    EXPECT_EQ(dialogs.shown.last().text,
              QStringLiteral("Are you sure you want to remove S/N FIRST from the list?"));
    EXPECT_EQ(l->rowCount(), 1);
}

TEST(BcastListener, HeaderClicksSortAndMark)
{
    Rig rig(10);
    auto* l = rig.open();
    rig.send(rec("M"), 3);
    rig.send(rec("Z"), 2);
    rig.send(rec("A"), 4);
    ASSERT_TRUE(rig.settled(QStringLiteral("A")));
    QHeaderView* header = l->lvBcast->header();
    auto click = [&](int column) {
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(column) + 10, 5));
    };
    auto caption = [&](int column) {
        return l->lvBcast->model()->headerData(column, Qt::Horizontal).toString();
    };
    auto serials = [&] {
        QStringList s;
        for (int i = 0; i < l->rowCount(); ++i)
            s << l->row(i).serial;
        return s;
    };
    click(1);
    EXPECT_EQ(caption(1), QStringLiteral("IP Address >"));
    EXPECT_EQ(serials(), (QStringList{"Z", "M", "A"}));
    click(1);
    EXPECT_EQ(caption(1), QStringLiteral("IP Address <"));
    EXPECT_EQ(serials(), (QStringList{"A", "M", "Z"}));
    click(2);
    EXPECT_EQ(caption(1), QStringLiteral("IP Address"));
    EXPECT_EQ(caption(2), QStringLiteral("Status >"));
    click(0);
    click(0);
    click(0);
    EXPECT_EQ(caption(0), QStringLiteral("Serial Number"));
    EXPECT_EQ(caption(2), QStringLiteral("Status"));
    EXPECT_EQ(serials(), (QStringList{"Z", "M", "A"})); // unsorted keeps the last order
    rig.send(rec("B"), 5);
    ASSERT_TRUE(rig.settled(QStringLiteral("B")));
    EXPECT_EQ(serials().last(), QStringLiteral("B"));
}

TEST(BcastListener, DetailsAndHandOver)
{
    Rig rig(11);
    auto* l = rig.open();
    rig.send(rec("DET"), 2);
    rig.send(FS + "RAW" + FS + FS, 3);
    ASSERT_TRUE(rig.settled(QStringLiteral("RAW")));
    auto& dialogs = rig.folder->dialogs;

    l->lvBcast->clearSelection();
    l->mnuDetails->trigger();
    l->mnuDownloadTo->trigger();
    EXPECT_TRUE(dialogs.shown.isEmpty());

    const QModelIndex det = l->table().index(l->rowOf(QStringLiteral("DET")), 0);
    l->lvBcast->selectionModel()->select(det,
                                         QItemSelectionModel::Select | QItemSelectionModel::Rows);
    l->mnuDetails->trigger();
    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_EQ(dialogs.shown[0].icon, MsgIcon::Information);
    EXPECT_EQ(dialogs.shown[0].title, QStringLiteral("Details For S/N DET"));
    EXPECT_TRUE(dialogs.shown[0].text.startsWith(
        QStringLiteral("S/N: DET\nIP Address: %1\nModel: TK 650\n").arg(rig.addr(2))));
    EXPECT_TRUE(
        dialogs.shown[0].text.endsWith(QStringLiteral("\nStatus: Disconnected\nLast Bcast: %1\n")
                                           .arg(rig.rowOf(QStringLiteral("DET")).lastBcast)));

    const QRect r = l->lvBcast->visualRect(det);
    doubleClick(l->lvBcast->viewport(), r.center());
    EXPECT_EQ(rig.main->txtIP[0]->text(), QStringLiteral("127"));
    EXPECT_EQ(rig.main->txtIP[1]->text(), QStringLiteral("40"));
    EXPECT_EQ(rig.main->txtIP[2]->text(), QStringLiteral("11"));
    EXPECT_EQ(rig.main->txtIP[3]->text(), QStringLiteral("2"));
    // One row only hands its address over: no question, no download. Send
    // has the focus and shows it, so Enter sends.
    EXPECT_EQ(dialogs.shown.size(), 1);
    EXPECT_FALSE(l->isDownloading());
    EXPECT_EQ(rig.main->focusWidget(), rig.main->cmdSend);
    EXPECT_TRUE(rig.main->testAttribute(Qt::WA_KeyboardFocusChange));

    // The console chord here opens the console without an address.
    QTest::keyClick(l->lvBcast, Qt::Key_D, Qt::ControlModifier);
    EXPECT_TRUE(rig.main->debugWindow()->isVisible());
    EXPECT_TRUE(rig.main->debugWindow()->txtIP->text().isEmpty());
    EXPECT_EQ(rig.main->debugWindow()->txtMsg->text(), QStringLiteral("MSG:enter a message here"));

    l->lvBcast->clearSelection();
    l->lvBcast->selectionModel()->select(l->table().index(l->rowOf(QStringLiteral("RAW")), 0),
                                         QItemSelectionModel::Select | QItemSelectionModel::Rows);
    l->mnuDetails->trigger();
    EXPECT_EQ(dialogs.shown.last().text, QString::fromLatin1(FS + "RAW" + FS + FS));
}

TEST(BcastListener, ListAndLayoutSurviveARestart)
{
    ProgramFolder folder;
    const QByteArray odd = rec("Q\"2", "say \"hi\"\r\nbye") + "\r\n\x1e";
    {
        Rig rig(12, &folder);
        auto* l = rig.open();
        rig.send(rec("PLAIN"), 2);
        rig.send(odd, 3);
        ASSERT_TRUE(rig.settled(QStringLiteral("Q\"2")));
        ASSERT_TRUE(rig.settled(QStringLiteral("PLAIN")));
        l->close();
        ASSERT_TRUE(pumpEventsUntil([&] { return !rig.listener(); }, 3000));
        EXPECT_FALSE(rig.main->chkListener->isChecked());
    }
    EXPECT_EQ(folder.store().value("bCastListOrder").toString(),
              QStringLiteral("1;1300,2;1200,3;2000,4;2000,5;2000"));
    EXPECT_EQ(folder.store().value("saveBcastList").toString(), QStringLiteral("1"));
    EXPECT_EQ(folder.store().value("frmBcastSize").toString(), QStringLiteral("6480,4380"));
    const QByteArray file = folder.read("bcastlist.qsf");
    EXPECT_TRUE(file.startsWith("\"PLAIN\x1e" + QByteArray("127.40.12.2") + "\x1e"));
    EXPECT_EQ(file.count("\r\n"), 2);

    // Moved columns and a size below the minimum are applied at the next start;
    // the minimum is the design one, or what the controls' texts need if more.
    folder.store().setValue("bCastListOrder", "2;900,1;1500,3;2000,4;2000,5;2000");
    folder.store().setValue("frmBcastSize", "1500,1200");
    {
        Rig rig(12, &folder);
        auto* l = rig.open();
        EXPECT_EQ(l->size(), l->minimumSize());
        EXPECT_GE(l->minimumWidth(), twips(3600));
        EXPECT_EQ(l->minimumHeight(), twips(3000));
        // Entry i is column i + 1: serial number at position 2, 900 wide.
        EXPECT_EQ(l->lvBcast->header()->visualIndex(0), 1);
        EXPECT_EQ(l->lvBcast->header()->visualIndex(1), 0);
        EXPECT_EQ(l->lvBcast->columnWidth(0), twips(900));
        EXPECT_EQ(l->lvBcast->columnWidth(1), twips(1500));
        ASSERT_EQ(l->rowCount(), 2);
        EXPECT_EQ(l->lblDeviceCount->text(), QStringLiteral("Total Devices: 2"));
        const DeviceRow q = l->row(1);
        EXPECT_EQ(q.serial, QStringLiteral("Q\"2"));
        EXPECT_EQ(q.address, QStringLiteral("127.40.12.3"));
        EXPECT_EQ(q.record, QString::fromLatin1(odd));
        EXPECT_FALSE(q.lastBcast.isEmpty());
        // With the box clear the list file is left alone and nothing is restored next time.
        l->chkSaveList->setChecked(false);
        rig.send(rec("NEW"), 4);
        ASSERT_TRUE(rig.settled(QStringLiteral("NEW")));
        l->close();
    }
    EXPECT_EQ(folder.read("bcastlist.qsf"), file);
    EXPECT_EQ(folder.store().value("saveBcastList").toString(), QStringLiteral("0"));
    EXPECT_EQ(folder.store().value("bCastListOrder").toString(),
              QStringLiteral("2;900,1;1500,3;2000,4;2000,5;2000"));
    {
        Rig rig(12, &folder);
        auto* l = rig.open();
        EXPECT_EQ(l->rowCount(), 0);
        EXPECT_FALSE(l->chkSaveList->isChecked());
    }
}

TEST(BcastListener, UnwritableListStillCloses)
{
    ProgramFolder folder;
    QDir(folder.path()).mkdir("bcastlist.qsf");
    Rig rig(13, &folder);
    auto* l = rig.open();
    rig.send(rec("X"), 2);
    ASSERT_TRUE(rig.settled(QStringLiteral("X")));
    l->close();
    EXPECT_TRUE(pumpEventsUntil([&] { return !rig.listener(); }, 3000));
    EXPECT_FALSE(rig.main->chkListener->isChecked());
}

TEST(BcastListener, StartFailuresAreToldApart)
{
    Rig first(14);
    ASSERT_TRUE(first.open());
    Rig second(14);
    second.main->show();
    second.main->chkListener->click();
    EXPECT_FALSE(second.listener() && second.listener()->isVisible());
    EXPECT_FALSE(second.main->chkListener->isChecked());
    ASSERT_EQ(second.folder->dialogs.shown.size(), 1);
    const auto& info = second.folder->dialogs.shown[0];
    EXPECT_EQ(info.icon, MsgIcon::Information);
    EXPECT_EQ(info.title, QStringLiteral("Unable to Start Bcast Listener"));
    EXPECT_EQ(info.text, QStringLiteral("Another instance of Tk650Downloader is already listening "
                                        "for Bcasts.\rClose that one first and then try again."));

    // Someone else holds the port.
    Rig third(15);
    QUdpSocket squatter;
    ASSERT_TRUE(squatter.bind(QHostAddress(third.addr(1)), 5143));
    third.main->show();
    third.main->chkListener->click();
    EXPECT_FALSE(third.main->chkListener->isChecked());
    ASSERT_EQ(third.folder->dialogs.shown.size(), 1);
    EXPECT_EQ(third.folder->dialogs.shown[0].icon, MsgIcon::None);
    EXPECT_EQ(third.folder->dialogs.shown[0].title, QStringLiteral("Tk650Downloader"));
    EXPECT_EQ(third.folder->dialogs.shown[0].text,
              QStringLiteral("The Bcast Listener failed to start. Verify that you are connected "
                             "to the internet and that UDP port 5143 is not already open."));
    // Every daemon port above 32766 needs a listener port above 32767; the
    // message names it. A box that holds no port says so.
    const struct {
        const char* box;
        const char* says;
    } boxes[] = {{"32767", "UDP port 32768 is not"},
                 {"32768", "UDP port 32769 is not"},
                 {"65535", "UDP port 65536 is not"},
                 {"65536", "does not hold a port number"},
                 {"x", "does not hold a port number"}};
    for (const auto& box : boxes) {
        third.main->txtPort->setText(QString::fromLatin1(box.box));
        third.main->chkListener->click();
        EXPECT_THAT(third.folder->dialogs.shown.last().text.toStdString(),
                    ::testing::HasSubstr(box.says))
            << box.box;
        EXPECT_FALSE(third.main->chkListener->isChecked()) << box.box;
    }
}

TEST(BcastListener, HostileDatagramsAreJustData)
{
    Rig rig(16);
    auto* l = rig.open();
    QByteArray big = "x" + FS + "<b>BIG</b>" + FS + FS + FS;
    big += QByteArray(4096 - big.size(), '\xff'); // the largest record taken
    rig.send(big, 2);
    QByteArray binary;
    for (int i = 0; i < 4096; ++i)
        binary += static_cast<char>(i * 13);
    rig.send(binary, 3);
    rig.send(QByteArray(4000, '\x1c'), 4);
    ASSERT_TRUE(rig.settled(QString()));
    ASSERT_TRUE(rig.settled(QStringLiteral("<b>BIG</b>")));
    EXPECT_EQ(rig.rowOf(QStringLiteral("<b>BIG</b>")).record, QString::fromLatin1(big));
    EXPECT_EQ(l->table().index(l->rowOf(QStringLiteral("<b>BIG</b>")), 0).data().toString(),
              QStringLiteral("<b>BIG</b>"));
}

// What a sender can make a row of: the record rules of the core, through the
// real socket. Each case is a datagram and whether it makes a row.
TEST(BcastListener, OnlyRecordsWithinTheirBoundsMakeRows)
{
    Rig rig(30);
    auto* l = rig.open();
    sim::TerminalRecord simulated;
    simulated.serial = "SIM-1";
    simulated.discretionary = "shop 4\r\ntill 2";
    simulated.keyStatus = sim::TerminalRecord::emptyKeyStatus();
    simulated.packages = {{"app", "1.0"}, {"lib", "2.1"}};
    const auto sized = [](const QByteArray& serial, int size) {
        QByteArray r = rec(serial);
        return r + QByteArray(size - r.size(), 'x');
    };
    QByteArray random; // three FS characters in random bytes
    std::uint32_t seed = 99;
    for (int i = 0; i < 600; ++i) {
        seed = seed * 1103515245u + 12345u;
        const char c = static_cast<char>(seed >> 24);
        random += (i % 200 == 100) ? '\x1c' : (c == '\x1c' ? 'y' : c);
    }
    const struct {
        const char* what;
        QByteArray datagram;
        QString serial;
        bool row;
    } cases[] = {
        {"the simulator's record", simulated.toBytes(), "SIM-1", true},
        {"the largest record", sized("MAX", 4096), "MAX", true},
        {"one byte larger", sized("OVER", 4097), "OVER", false},
        {"a 64 KB datagram", sized("HUGE", 65000), "HUGE", false},
        {"a serial of 65 bytes", rec(QByteArray(65, 'L')), QString(65, QLatin1Char('L')), false},
        {"a control byte in the serial", rec("C\x01"), "C\x01", false},
    };
    for (const auto& c : cases)
        rig.send(c.datagram, 2);
    rig.send(random, 2);
    rig.send(rec("LAST"), 2); // datagrams are handled in order: this one comes last
    ASSERT_TRUE(rig.settled(QStringLiteral("LAST")));
    for (const auto& c : cases)
        EXPECT_EQ(l->rowOf(c.serial) >= 0, c.row) << c.what;
    EXPECT_EQ(l->rowCount(), 3); // SIM-1, MAX and LAST
    EXPECT_EQ(rig.rowOf(QStringLiteral("SIM-1")).record, QString::fromLatin1(simulated.toBytes()));
    EXPECT_EQ(l->datagramsDropped(), 2); // the two larger than any record, unread

    // A "WHO:" reply larger than any record is an answer, but no record.
    sim::DaemonConfig chatty;
    chatty.whoReply = sized("BIGREPLY", 9000);
    auto d = rig.daemon(3, chatty);
    rig.send(rec("ASKED"), 3);
    ASSERT_TRUE(rig.settled(QStringLiteral("ASKED")));
    EXPECT_EQ(rig.rowOf(QStringLiteral("ASKED")).status, QStringLiteral("Waiting for download"));
    EXPECT_EQ(rig.rowOf(QStringLiteral("ASKED")).record, QString::fromLatin1(rec("ASKED")));
    EXPECT_EQ(l->rowOf(QStringLiteral("BIGREPLY")), -1);
}

// Datagrams waiting for their rows take at most 2 MiB: a burst beyond that
// is dropped, not queued.
TEST(BcastListener, DatagramQueueIsBoundedByBytes)
{
    Rig rig(31);
    auto* l = rig.open();
    constexpr int kSize = 4000, kCount = 1000; // 4 MB, all from new serials
    // The system keeps about half its receive buffer for payload.
    const int buffer =
        l->UDPbcast->socketOption(QAbstractSocket::ReceiveBufferSizeSocketOption).toInt();
    if (buffer < 6 * 1024 * 1024)
        GTEST_SKIP() << "the system's receive buffer (" << buffer
                     << " bytes) drops the burst first";
    QList<QByteArray> burst;
    for (int i = 0; i < kCount; ++i) {
        QByteArray r = rec("Q" + QByteArray::number(i));
        burst << r + QByteArray(kSize - r.size(), 'x');
    }
    rig.sendAll(burst, 2);
    ASSERT_TRUE(pumpEventsUntil([&] { return l->rowCount() > 0 && l->probesIdle(); }, 60000));
    const int queueRows = 2 * 1024 * 1024 / kSize; // 524
    EXPECT_LE(l->rowCount(), queueRows);
    EXPECT_GE(l->rowCount(), queueRows / 2);
    EXPECT_GT(l->datagramsDropped(), 0);
    EXPECT_LE(l->rowCount() + l->datagramsDropped(), kCount); // the system may drop some too
    // Later datagrams are taken again.
    rig.send(rec("AFTER"), 2);
    EXPECT_TRUE(rig.settled(QStringLiteral("AFTER")));
}

// At most 5000 rows: at the limit the count says "(full)", new serial numbers
// are ignored and known ones still update; removing a row makes room again.
// The saved list is read and written within the same limit.
TEST(BcastListener, RowsStopAtTheLimitAndSaySo)
{
    ProgramFolder folder;
    QByteArray file;
    for (int i = 0; i < 5003; ++i)
        file += "\"R" + QByteArray::number(i) + "\x1e" + "127.40.32.2\x1et\x1e\x1er\"\r\n";
    folder.write("bcastlist.qsf", file);
    Rig rig(32, &folder);
    auto* l = rig.open();
    ASSERT_TRUE(pumpEventsUntil([&] { return !l->isRefreshing(); }, 60000));
    ASSERT_EQ(l->rowCount(), 5000);
    EXPECT_EQ(l->rowOf(QStringLiteral("R5000")), -1);
    EXPECT_EQ(l->lblDeviceCount->text(), QStringLiteral("Total Devices: 5000 (full)"));
    EXPECT_FALSE(l->lblDeviceCount->toolTip().isEmpty());

    const struct {
        const char* what;
        QByteArray serial;
        bool removeFirst;
    } steps[] = {
        {"a new serial is ignored", "NEW1", false},
        {"a known serial updates", "R7", false},
        {"a removal makes room for one", "NEW2", true},
    };
    for (const auto& step : steps) {
        if (step.removeFirst) {
            rig.folder->dialogs.answers = {MsgAnswer::Yes};
            l->lvBcast->setCurrentIndex(l->table().index(0, 0));
            l->removeSelected();
            EXPECT_EQ(l->lblDeviceCount->text(), QStringLiteral("Total Devices: 4999"));
            EXPECT_TRUE(l->lblDeviceCount->toolTip().isEmpty());
        }
        // A known row's new time tells when the step's datagram has been handled.
        const QString before = rig.rowOf(QStringLiteral("R9")).lastBcast;
        rig.clock = rig.clock.addSecs(61);
        rig.send(rec(step.serial), 3);
        rig.send(rec("R9"), 2);
        ASSERT_TRUE(pumpEventsUntil(
            [&] { return rig.rowOf(QStringLiteral("R9")).lastBcast != before && l->probesIdle(); },
            10000))
            << step.what;
        EXPECT_EQ(l->rowCount(), 5000) << step.what;
        EXPECT_EQ(l->lblDeviceCount->text(), QStringLiteral("Total Devices: 5000 (full)"))
            << step.what;
    }
    EXPECT_EQ(l->rowOf(QStringLiteral("NEW1")), -1);
    EXPECT_EQ(rig.rowOf(QStringLiteral("R7")).address, rig.addr(3));
    EXPECT_GE(l->rowOf(QStringLiteral("NEW2")), 0);

    l->close();
    const QByteArray saved = folder.read("bcastlist.qsf");
    EXPECT_EQ(saved.count("\r\n"), 5000);
}

// A stored window size of any value opens the window: each side held to a
// range an int takes and to the desktop, then raised to the minimum.
TEST(BcastListener, StoredWindowSizeOfAnyValueOpens)
{
    ProgramFolder folder;
    for (const char* stored :
         {"2147483647,1", "99999999999,1", "1,-99999999999", "-2147483648,3e38"}) {
        folder.store().setValue("frmBcastSize", stored);
        Rig rig(33, &folder);
        auto* l = rig.open();
        ASSERT_TRUE(l) << stored;
        const QSize desktop = QGuiApplication::primaryScreen()->virtualSize();
        EXPECT_GE(l->width(), twips(3600)) << stored;
        EXPECT_GE(l->height(), twips(3000)) << stored;
        EXPECT_LE(l->width(), std::max(desktop.width(), twips(3600))) << stored;
        EXPECT_LE(l->height(), std::max(desktop.height(), twips(3000))) << stored;
        l->close();
    }
}

namespace {

// A listener on 127.117.net.x with one row per terminal, every row selected
// by the keyboard, and a file in the main window's file box.
struct FleetRig : Rig {
    explicit FleetRig(int net) : Rig(QStringLiteral("127.117.%1.").arg(net)) {}

    QString status(const QString& serial) const { return rowOf(serial).status; }
    // Selects every row with Ctrl+A, then "Download To..." from the context
    // menu of a selected row (which keeps the selection).
    void downloadToAll()
    {
        auto* l = listener();
        QTest::keyClick(l->lvBcast, Qt::Key_A, Qt::ControlModifier);
        const QRect r = l->lvBcast->visualRect(l->table().index(0, 0));
        QTest::mouseClick(l->lvBcast->viewport(), Qt::RightButton, {}, r.center());
        EXPECT_EQ(l->lvBcast->selectionModel()->selectedRows().size(), l->rowCount());
        l->mnuItemContext->hide();
        l->mnuDownloadTo->trigger();
    }
    void useFile(const QByteArray& bytes)
    {
        folder->write(QStringLiteral("app.tgz"), bytes);
        main->txtfilen->setText(folder->file(QStringLiteral("app.tgz")));
    }
};

} // namespace

// Several rows: one question, then every terminal at once; each row ends with
// its own outcome and a summary follows. Rows of the download are not probed
// while it runs. The wait for an install result is the unattended limit; an
// older daemon that takes only partial downloads says so on its row when
// "Full" was chosen.
TEST(BcastListener, DownloadToSeveralShowsEachOutcome)
{
    using engine::Outcome;
    struct Case {
        const char* serial;
        std::function<void(sim::DaemonConfig&)> setup;
        Outcome outcome;
        const char* suffix = "";
    };
    const std::vector<Case> cases = {
        {"OK", [](sim::DaemonConfig&) {}, Outcome::Rebooted},
        {"FULL", [](sim::DaemonConfig& c) { c.dldReply = sim::Reply::NoSpace; }, Outcome::NoSpace},
        {"REFUSING", [](sim::DaemonConfig& c) { c.faults.refuseConnections = true; },
         Outcome::NoConnection},
        {"BROKEN", [](sim::DaemonConfig& c) { c.installResult = sim::InstallResult::Failed; },
         Outcome::InstallFailed},
        {"SLOW", [](sim::DaemonConfig& c) { c.installDelayMs = 600000; }, Outcome::NoInstallResult},
        {"OLD",
         [](sim::DaemonConfig& c) {
             const QByteArray who = c.whoReply;
             c = sim::DaemonConfig::olderDaemon();
             c.whoReply = who;
         },
         Outcome::Rebooted, " (sent as Partial)"},
    };
    qputenv("TK650_INSTALL_TIMEOUT", "1");
    const auto unset = qScopeGuard([] { qunsetenv("TK650_INSTALL_TIMEOUT"); });
    FleetRig rig(1);
    std::vector<std::unique_ptr<sim::Daemon>> daemons;
    auto* l = rig.open();
    for (std::size_t i = 0; i < cases.size(); ++i) {
        sim::DaemonConfig config;
        config.whoReply = rec(cases[i].serial);
        cases[i].setup(config);
        const int host = 2 + static_cast<int>(i);
        daemons.push_back(rig.daemon(host, config));
        rig.send(rec(cases[i].serial), host);
    }
    for (const auto& c : cases)
        ASSERT_TRUE(rig.settled(QString::fromLatin1(c.serial)));
    for (auto& d : daemons)
        d->clearRecords();
    auto& dialogs = rig.folder->dialogs;
    dialogs.shown.clear();

    // The file is checked first, with the main window's messages; no question.
    rig.main->txtfilen->setText(rig.folder->file(QStringLiteral("missing.tgz")));
    rig.downloadToAll();
    rig.useFile({});
    rig.downloadToAll();
    ASSERT_EQ(dialogs.shown.size(), 2);
    EXPECT_EQ(dialogs.shown[0].title, QStringLiteral("Unable to Send"));
    EXPECT_TRUE(
        dialogs.shown[0].text.startsWith(QStringLiteral("The selected file does not exist.")));
    EXPECT_TRUE(dialogs.shown[1].text.startsWith(
        QStringLiteral("The selected file is empty (zero bytes in size).")));

    // "No" sends nothing.
    rig.useFile(QByteArray(100000, 'x'));
    rig.main->chkSetRTC->setChecked(true);
    rig.main->chkReboot->setChecked(true);
    rig.main->optNetworkFull->setChecked(true);
    dialogs.answers = {MsgAnswer::No};
    rig.downloadToAll();
    ASSERT_EQ(dialogs.shown.size(), 3);
    EXPECT_EQ(dialogs.shown[2].title, QStringLiteral("Download To..."));
    EXPECT_EQ(dialogs.shown[2].text, QStringLiteral("Send app.tgz to the 6 selected terminals?"));
    EXPECT_EQ(dialogs.shown[2].buttons, MsgButtons::YesNo);
    EXPECT_FALSE(l->isDownloading());

    // The status texts never widen the window (nor keep it from narrowing).
    const int narrowest = l->minimumSizeHint().width();
    dialogs.answers = {MsgAnswer::Yes};
    rig.downloadToAll();
    ASSERT_TRUE(l->isDownloading());
    EXPECT_LE(l->minimumSizeHint().width(),
              narrowest + l->cmdCancelDownloads->sizeHint().width() + 20);
    EXPECT_TRUE(l->cmdCancelDownloads->isVisible());
    EXPECT_FALSE(l->cmdClear->isEnabled());
    EXPECT_FALSE(l->cmdRemoveDisconnected->isEnabled());
    EXPECT_FALSE(l->mnuRemove->isEnabled());
    // A broadcast during the download does not probe its row.
    rig.send(rec("OK"), 2);
    ASSERT_TRUE(pumpEventsUntil([&] { return !l->isDownloading(); }, 30000));
    for (const auto& c : cases)
        EXPECT_EQ(rig.status(QString::fromLatin1(c.serial)),
                  engine::outcomeText(c.outcome) + QString::fromLatin1(c.suffix))
            << c.serial;
    const QString summary = QStringLiteral("Download finished: 2 succeeded, 4 failed");
    EXPECT_EQ(dialogs.shown.last().title, QStringLiteral("Download To..."));
    EXPECT_EQ(dialogs.shown.last().text, summary);
    EXPECT_EQ(l->lblDownloads->text(), summary);
    const int withSummary = l->minimumSizeHint().width();
    EXPECT_LT(withSummary, narrowest + l->fontMetrics().horizontalAdvance(summary) / 2);
    l->lblDownloads->setText(summary + summary + summary);
    EXPECT_EQ(l->minimumSizeHint().width(), withSummary);
    l->lblDownloads->setText(summary);
    EXPECT_FALSE(l->cmdCancelDownloads->isVisible());
    EXPECT_TRUE(l->cmdClear->isEnabled());
    EXPECT_TRUE(l->mnuRemove->isEnabled());

    // The network tab's options went along.
    const auto& ok = *daemons[0];
    const QList<QByteArray> commands = ok.commands();
    EXPECT_FALSE(commands.contains("WHO:"));
    EXPECT_TRUE(std::any_of(commands.begin(), commands.end(),
                            [](const QByteArray& c) { return c.startsWith("RTC:"); }));
    EXPECT_TRUE(commands.contains("RST:"));
    ASSERT_EQ(ok.files().size(), 1);
    EXPECT_TRUE(ok.files()[0].complete);
    EXPECT_EQ(ok.files()[0].content, QByteArray(100000, 'x'));

    // Once it ended, its rows are rows like any other: a broadcast probes
    // them, and Clear Disconnected takes those that went.
    rig.send(rec("BROKEN"), 5);
    rig.send(rec("REFUSING"), 4);
    ASSERT_TRUE(pumpEventsUntil(
        [&] {
            return l->probesIdle() &&
                   rig.status(QStringLiteral("BROKEN")) == QLatin1String("Waiting for download") &&
                   rig.status(QStringLiteral("REFUSING")) == QLatin1String("Disconnected");
        },
        10000));
    dialogs.answers = {MsgAnswer::Yes};
    l->cmdRemoveDisconnected->click();
    EXPECT_EQ(l->rowOf(QStringLiteral("REFUSING")), -1);
    EXPECT_EQ(l->rowCount(), 5);
}

// Stopping terminals that have the whole file and are installing it asks
// first (Cancel, Escape, the main window's check box); "No" leaves them
// running. Stopped, they are "Delivered, install not awaited", counted apart
// in the summary. The program closing the window stops them without a word.
TEST(BcastListener, DownloadToSeveralStops)
{
    enum class How { Button, Escape, CheckBox, Program };
    const struct {
        How how;
        MsgAnswer answer;
        bool stops;
    } cases[] = {
        {How::Button, MsgAnswer::Yes, true},   {How::Button, MsgAnswer::No, false},
        {How::Escape, MsgAnswer::Yes, true},   {How::Escape, MsgAnswer::No, false},
        {How::CheckBox, MsgAnswer::Yes, true}, {How::CheckBox, MsgAnswer::No, false},
        {How::Program, MsgAnswer::No, true},
    };
    int net = 10;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << static_cast<int>(c.how) << " answer " << static_cast<int>(c.answer));
        FleetRig rig(net++);
        sim::DaemonConfig slow;
        slow.installDelayMs = 600000;
        std::vector<std::unique_ptr<sim::Daemon>> daemons;
        auto* l = rig.open();
        for (int host : {2, 3}) {
            slow.whoReply = rec("SLOW" + QByteArray::number(host));
            daemons.push_back(rig.daemon(host, slow));
            rig.send(rec("SLOW" + QByteArray::number(host)), host);
        }
        ASSERT_TRUE(rig.settled(QStringLiteral("SLOW2")));
        ASSERT_TRUE(rig.settled(QStringLiteral("SLOW3")));
        rig.useFile("payload");
        auto& dialogs = rig.folder->dialogs;
        dialogs.answers = {MsgAnswer::Yes};
        rig.downloadToAll();
        const QString installing = engine::stageText(engine::Stage::Installing, 7, 7);
        ASSERT_TRUE(pumpEventsUntil(
            [&] {
                return rig.status(QStringLiteral("SLOW2")) == installing &&
                       rig.status(QStringLiteral("SLOW3")) == installing;
            },
            10000));
        const int shown = static_cast<int>(dialogs.shown.size());
        dialogs.answers = {c.answer};
        switch (c.how) {
        case How::Button: QTest::mouseClick(l->cmdCancelDownloads, Qt::LeftButton); break;
        case How::Escape: QTest::keyClick(l->lvBcast, Qt::Key_Escape); break;
        case How::CheckBox: rig.main->chkListener->click(); break;
        case How::Program: l->close(); break;
        }
        if (c.how == How::Program) {
            EXPECT_EQ(dialogs.shown.size(), shown);
        } else {
            ASSERT_EQ(dialogs.shown.size(), shown + 1);
            EXPECT_EQ(dialogs.shown.last().title, QStringLiteral("Download To..."));
            EXPECT_EQ(dialogs.shown.last().text,
                      QStringLiteral("2 terminals have the whole file and are installing it.\r\n"
                                     "Stop the downloads without waiting for their results?"));
            EXPECT_EQ(dialogs.shown.last().buttons, MsgButtons::YesNo);
        }
        if (!c.stops) {
            // Nothing stopped: the window, the box and both connections stay.
            EXPECT_TRUE(l->isDownloading());
            EXPECT_TRUE(rig.main->chkListener->isChecked());
            EXPECT_EQ(rig.listener(), l);
            for (auto& d : daemons)
                EXPECT_EQ(d->openConnections(), 1);
            continue;
        }
        for (auto& d : daemons)
            EXPECT_TRUE(pumpEventsUntil([&] { return d->openConnections() == 0; }, 5000));
        if (c.how == How::CheckBox || c.how == How::Program) {
            EXPECT_FALSE(rig.main->chkListener->isChecked());
            EXPECT_EQ(dialogs.shown.size(), shown + (c.how == How::CheckBox ? 1 : 0));
            continue;
        }
        ASSERT_TRUE(pumpEventsUntil([&] { return !l->isDownloading(); }, 5000));
        for (const char* serial : {"SLOW2", "SLOW3"})
            EXPECT_EQ(rig.status(QString::fromLatin1(serial)),
                      QStringLiteral("Delivered, install not awaited"));
        const QString summary = QStringLiteral(
            "Download finished: 0 succeeded, 0 failed, 2 delivered, install not awaited");
        EXPECT_EQ(dialogs.shown.last().text, summary);
        EXPECT_EQ(l->lblDownloads->text(), summary);
    }
}

// The context menu of one of several selected rows keeps them all: "Details"
// is about the row clicked, "Remove" and the Delete key take every selected
// row after a question that says how many.
TEST(BcastListener, MenuOnOneOfSeveralSelectedRows)
{
    enum class Act { Details, Remove, DeleteKey };
    const struct {
        Act act;
        MsgAnswer answer;
        int rowsLeft;
    } cases[] = {
        {Act::Details, MsgAnswer::Ok, 3},
        {Act::Remove, MsgAnswer::No, 3},
        {Act::Remove, MsgAnswer::Yes, 1},
        {Act::DeleteKey, MsgAnswer::Yes, 1},
    };
    int net = 40;
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.act));
        Rig rig(net++);
        auto* l = rig.open();
        for (const char* serial : {"ONE", "TWO", "THREE"})
            rig.send(rec(serial), 2);
        ASSERT_TRUE(pumpEventsUntil([&] { return l->rowCount() == 3 && l->probesIdle(); }, 8000));
        // ONE and THREE selected (click, Ctrl+click), then a right click on THREE.
        const auto rect = [&](const char* serial) {
            return l->lvBcast->visualRect(
                l->table().index(l->rowOf(QString::fromLatin1(serial)), 0));
        };
        QTest::mouseClick(l->lvBcast->viewport(), Qt::LeftButton, {}, rect("ONE").center());
        QTest::mouseClick(l->lvBcast->viewport(), Qt::LeftButton, Qt::ControlModifier,
                          rect("THREE").center());
        QTest::mouseClick(l->lvBcast->viewport(), Qt::RightButton, {}, rect("THREE").center());
        EXPECT_TRUE(l->mnuItemContext->isVisible());
        l->mnuItemContext->hide();
        EXPECT_EQ(l->selectedSerials(), (QStringList{"ONE", "THREE"}));

        auto& dialogs = rig.folder->dialogs;
        dialogs.answers = {c.answer};
        switch (c.act) {
        case Act::Details: l->mnuDetails->trigger(); break;
        case Act::Remove: l->mnuRemove->trigger(); break;
        case Act::DeleteKey: QTest::keyClick(l->lvBcast, Qt::Key_Delete); break;
        }
        ASSERT_EQ(dialogs.shown.size(), 1);
        if (c.act == Act::Details) {
            EXPECT_EQ(dialogs.shown[0].title, QStringLiteral("Details For S/N THREE"));
        } else {
            EXPECT_EQ(dialogs.shown[0].title, QStringLiteral("Confirm Remove"));
            EXPECT_EQ(dialogs.shown[0].text,
                      QStringLiteral("Are you sure you want to remove the 2 selected S/N's from "
                                     "the list?"));
        }
        EXPECT_EQ(l->rowCount(), c.rowsLeft);
        if (c.rowsLeft == 1) {
            EXPECT_GE(l->rowOf(QStringLiteral("TWO")), 0);
            EXPECT_EQ(l->lblDeviceCount->text(), QStringLiteral("Total Devices: 1"));
        }
    }
}

// Export... writes every row, in display order, as JSON or CSV by the name's
// ending; cancelling writes nothing, and a file that cannot be written says so.
TEST(BcastListener, ExportWritesTheListAsJsonOrCsv)
{
    Rig rig(QStringLiteral("127.25.60."));
    auto* l = rig.open();
    ASSERT_TRUE(l);
    const QByteArray GS("\x1d");
    rig.send("TK" + FS + "EX-1" + FS + "650" + FS + "R1.2" + FS + "2.6.12" + FS + "app;1.0" + GS +
                 "lib;2.1" + FS + FS + "1" + GS + "0" + FS,
             2);
    rig.send("TK" + FS + "EX,2" + FS + "=HYPERLINK(1)" + FS + "R2" + FS + "3.1" + FS + FS + FS + FS,
             3);
    ASSERT_TRUE(rig.settled(QStringLiteral("EX-1")));
    ASSERT_TRUE(rig.settled(QStringLiteral("EX,2")));
    QTemporaryDir dir;
    auto& dialogs = rig.folder->dialogs;

    struct Row {
        QString chosen;     // what the file dialog gives ("" = cancelled)
        const char* expect; // "json", "csv", "none" or "error"
    };
    const QList<Row> rows = {
        {dir.filePath("list.json"), "json"},
        {dir.filePath("list.CSV"), "csv"},
        {QString(), "none"},
        {dir.filePath("missing/list.json"), "error"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.expect);
        const qsizetype messages = dialogs.shown.size();
        dialogs.files = {row.chosen};
        QTest::mouseClick(l->findChild<QPushButton*>(QStringLiteral("cmdExport")), Qt::LeftButton);
        ASSERT_FALSE(dialogs.saveRequests.isEmpty());
        EXPECT_EQ(dialogs.saveRequests.last().title, QStringLiteral("Export Device List"));
        const QString expect = QString::fromLatin1(row.expect);
        if (expect == QLatin1String("none") || expect == QLatin1String("error")) {
            EXPECT_EQ(dialogs.shown.size(), messages + (expect == QLatin1String("error") ? 1 : 0));
            if (expect == QLatin1String("error")) {
                EXPECT_THAT(dialogs.shown.last().text.toStdString(),
                            ::testing::HasSubstr("could not be written"));
            }
            continue;
        }
        EXPECT_EQ(dialogs.shown.size(), messages);
        QFile f(row.chosen);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        if (expect == QLatin1String("json")) {
            const QJsonArray list = QJsonDocument::fromJson(bytes).array();
            ASSERT_EQ(list.size(), 2);
            const QJsonObject first = list[0].toObject();
            EXPECT_EQ(first.value("serial").toString(), QStringLiteral("EX-1"));
            EXPECT_EQ(first.value("address").toString(), rig.addr(2));
            EXPECT_EQ(first.value("packages").toArray().size(), 2);
            EXPECT_EQ(first.value("keyStatus").toArray().size(), 2);
            EXPECT_TRUE(list[1].toObject().value("keyStatus").isNull()); // unknown
        } else {
            EXPECT_TRUE(bytes.startsWith("address,serial,model,"));
            EXPECT_TRUE(bytes.contains(rig.addr(2).toLatin1() +
                                       ",EX-1,650,R1.2,2.6.12,app;1.0 lib;2.1,1 0\r\n"));
            // A separator is quoted; a formula is made text.
            EXPECT_TRUE(
                bytes.contains(rig.addr(3).toLatin1() + ",\"EX,2\",'=HYPERLINK(1),R2,3.1,,\r\n"))
                << bytes.toStdString();
        }
    }
}
