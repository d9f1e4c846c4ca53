// Streams a large file into the tk650sim daemon (a separate process, as in
// real use) and prints the rate, for comparing the downloader's transfer with
// a plain socket copy. Usage: sim_stream [MiB, default 200]
#include "platform/wait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <cstdio>

namespace {

// One transfer: announce, stream `size` bytes in writes of `chunk` bytes with
// at most `inFlight` writes not yet taken by the network layer, wait for the
// install result. Returns seconds, or a negative value on failure.
double streamOnce(quint16 port, qint64 size, qint64 chunk, int inFlight)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress(QStringLiteral("127.10.200.1")), port);
    if (!socket.waitForConnected(5000))
        return -1;
    QByteArray reply;
    QObject::connect(&socket, &QTcpSocket::readyRead, [&] { reply += socket.readAll(); });
    QByteArray dld = "DLD:";
    for (const QByteArray& field :
         {QByteArray("bench.tgz"), QByteArray::number(size), QByteArray("644"), QByteArray("root"),
          QByteArray("users"), QByteArray("F")})
        dld += field + '\0';
    socket.write(dld);
    if (!tk::pumpEventsUntil([&] { return reply.startsWith("OK"); }, 5000))
        return -1;
    reply.clear();

    const QByteArray block(chunk, 'x');
    qint64 written = 0;
    qint64 acknowledged = 0;
    QElapsedTimer timer;
    timer.start();
    auto fill = [&] {
        while (written < size && written - acknowledged < chunk * inFlight) {
            const qint64 n = std::min(chunk, size - written);
            socket.write(block.constData(), n);
            written += n;
        }
    };
    QObject::connect(&socket, &QTcpSocket::bytesWritten, [&](qint64 n) {
        acknowledged += n;
        fill();
    });
    fill();
    const bool done = tk::pumpEventsUntil(
        [&] {
            return reply.startsWith("DNLD_") || socket.state() != QAbstractSocket::ConnectedState;
        },
        600000);
    const double seconds = timer.nsecsElapsed() / 1e9;
    return done && reply.startsWith("DNLD_DONE") ? seconds : -1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const qint64 mib = argc > 1 ? QByteArray(argv[1]).toLongLong() : 200;
    const qint64 size = std::max<qint64>(1, mib) * 1024 * 1024;

    QProcess sim;
    QByteArray out;
    QObject::connect(&sim, &QProcess::readyReadStandardOutput,
                     [&] { out += sim.readAllStandardOutput(); });
    sim.start(QCoreApplication::applicationDirPath() + QStringLiteral("/tk650sim"),
              {"--listen", "127.10.200.1:0", "--quiet"});
    tk::pumpEventsUntil(
        [&] { return out.contains("ready\n") || sim.state() == QProcess::NotRunning; }, 10000);
    const auto m = QRegularExpression(QStringLiteral("listening on [0-9.]+:(\\d+)"))
                       .match(QString::fromLatin1(out));
    if (!m.hasMatch()) {
        std::fprintf(stderr, "sim_stream: tk650sim did not start: %s\n", out.constData());
        return 1;
    }
    const quint16 port = quint16(m.captured(1).toUInt());

    struct Way {
        const char* name;
        qint64 chunk;
        int inFlight;
    };
    int rc = 0;
    for (const Way& w : {Way{"4096-byte writes, one at a time (the downloader's way)", 4096, 1},
                         Way{"64 KiB writes, 4 in flight (plain socket copy)", 65536, 4}}) {
        const double s = streamOnce(port, size, w.chunk, w.inFlight);
        if (s < 0) {
            std::printf("sim_stream: %s: FAILED\n", w.name);
            rc = 1;
            continue;
        }
        std::printf("sim_stream: %lld MiB, %s: %.2f s, %.1f MiB/s\n", static_cast<long long>(mib),
                    w.name, s, double(size) / (1024.0 * 1024.0) / s);
        std::fflush(stdout);
    }
    sim.kill();
    sim.waitForFinished(3000);
    return rc;
}
