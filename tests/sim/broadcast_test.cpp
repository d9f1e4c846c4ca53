#include "broadcaster.h"
#include "platform/wait.h"
#include "simclient.h"
#include "simulator.h"

#include <QNetworkDatagram>
#include <QSet>
#include <QUdpSocket>
#include <gtest/gtest.h>

using namespace tk;
using namespace tk::sim;

namespace {
struct Listener {
    explicit Listener(const char* address)
    {
        EXPECT_TRUE(socket.bind(QHostAddress(address), 0));
        socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 8 << 20);
        QObject::connect(&socket, &QUdpSocket::readyRead, [this] {
            while (socket.hasPendingDatagrams())
                datagrams.append(socket.receiveDatagram());
        });
    }
    QUdpSocket socket;
    QList<QNetworkDatagram> datagrams;
};
} // namespace

TEST(Broadcaster, SendsEachTerminalsRecordFromItsOwnAddressEveryRound)
{
    Listener listener("127.10.1.1");
    Broadcaster b;
    TerminalRecord r;
    for (int i = 0; i < 3; ++i) {
        r.serial = "SN" + QByteArray::number(i);
        ASSERT_TRUE(b.addTerminal(r, QHostAddress(QStringLiteral("127.10.1.%1").arg(11 + i))));
    }
    bool finished = false;
    QObject::connect(&b, &Broadcaster::finished, [&] { finished = true; });
    b.start(QHostAddress("127.10.1.1"), listener.socket.localPort(), 30, 2);
    ASSERT_TRUE(pumpEventsUntil([&] { return listener.datagrams.size() == 6; }, 3000));
    EXPECT_TRUE(pumpEventsUntil([&] { return finished; }, 1000));
    EXPECT_EQ(b.roundsSent(), 2);
    EXPECT_EQ(b.datagramsSent(), 6);
    for (int i = 0; i < 6; ++i) {
        const QNetworkDatagram& d = listener.datagrams[i];
        EXPECT_EQ(d.senderAddress(), QHostAddress(QStringLiteral("127.10.1.%1").arg(11 + i % 3)));
        const QList<QByteArray> fields = d.data().split('\x1c');
        ASSERT_EQ(fields.size(), 9);
        EXPECT_EQ(fields[1], "SN" + QByteArray::number(i % 3));
    }
    // No more rounds after the last one.
    pumpEventsUntil([] { return false; }, 100);
    EXPECT_EQ(listener.datagrams.size(), 6);
}

TEST(Simulator, FleetOfTerminalsWithDistinctSerialsAddressesAndDaemons)
{
    Listener listener("127.10.2.250");
    SimOptions o;
    o.listenAddress = QHostAddress("127.10.3.1");
    o.listenPort = 0;
    o.terminals = 300;
    o.quiet = true;
    o.broadcast = true;
    o.broadcastTarget = QHostAddress("127.10.2.250");
    o.broadcastPort = listener.socket.localPort();
    o.broadcastRounds = 1;
    o.record.serial = "FLEET";
    Simulator sim(o);
    ASSERT_TRUE(sim.start()) << sim.errorString().toStdString();
    EXPECT_TRUE(sim.readyLines().first().startsWith("listening on 127.10.3.1:"));
    ASSERT_TRUE(pumpEventsUntil([&] { return listener.datagrams.size() == 300; }, 5000));
    QSet<QByteArray> serials;
    QSet<QString> senders;
    for (const QNetworkDatagram& d : listener.datagrams) {
        serials.insert(d.data().split('\x1c')[1]);
        senders.insert(d.senderAddress().toString());
    }
    EXPECT_EQ(serials.size(), 300);
    EXPECT_EQ(senders.size(), 300);
    EXPECT_TRUE(serials.contains("FLEET-300"));

    // The last terminal's daemon answers "WHO:" with its own record.
    Daemon* last = sim.daemons().last();
    EXPECT_EQ(last->serverAddress(), QHostAddress("127.10.4.44"));
    test::SimClient client;
    ASSERT_TRUE(client.connectTo(last->serverAddress(), last->serverPort()));
    const QByteArray who = client.ask("WHO:", 20);
    EXPECT_EQ(who.split('\x1c').value(1), "FLEET-300");
}

TEST(Simulator, RefusesAFleetWithoutAStartAddress)
{
    SimOptions o;
    o.terminals = 2;
    Simulator sim(o);
    EXPECT_FALSE(sim.start());
    EXPECT_TRUE(sim.errorString().contains("--listen"));
}
