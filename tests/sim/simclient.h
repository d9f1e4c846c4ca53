#pragma once
// A plain TCP client for driving the simulated daemon byte by byte in tests.
#include "platform/wait.h"

#include <QHostAddress>
#include <QList>
#include <QTcpSocket>

namespace tk::test {

class SimClient {
public:
    SimClient()
    {
        QObject::connect(&socket, &QTcpSocket::readyRead, [this] {
            const QByteArray data = socket.readAll();
            if (!data.isEmpty())
                arrivals.append(data);
        });
    }

    bool connectTo(const QHostAddress& address, quint16 port, int maxMs = 3000)
    {
        socket.connectToHost(address, port);
        pumpEventsUntil(
            [this] {
                return socket.state() == QAbstractSocket::ConnectedState ||
                       socket.state() == QAbstractSocket::UnconnectedState;
            },
            maxMs);
        return socket.state() == QAbstractSocket::ConnectedState;
    }

    void send(const QByteArray& bytes)
    {
        socket.write(bytes);
        socket.flush();
    }

    // Everything received so far, as one text.
    QByteArray received() const
    {
        QByteArray all;
        for (const QByteArray& a : arrivals)
            all += a;
        return all;
    }

    // Waits until the received text has at least n bytes.
    bool waitBytes(qsizetype n, int maxMs = 3000)
    {
        return pumpEventsUntil([&] { return received().size() >= n; }, maxMs);
    }

    // Sends a command and waits for an answer of the expected length.
    QByteArray ask(const QByteArray& command, qsizetype replyLength, int maxMs = 3000)
    {
        const qsizetype before = received().size();
        send(command);
        waitBytes(before + replyLength, maxMs);
        return received().mid(before);
    }

    bool waitClosed(int maxMs = 3000)
    {
        return pumpEventsUntil(
            [this] { return socket.state() == QAbstractSocket::UnconnectedState; }, maxMs);
    }

    QTcpSocket socket;
    QList<QByteArray> arrivals; // one entry per data arrival
};

} // namespace tk::test
