// CPU cost of waiting for replies: a download session to a loopback listener
// that takes connections and never answers waits its full limits ("VER:",
// then the announcement on a new connection) before it ends. Prints the
// process's CPU time (user + system) spent over each session and its share of
// one core. Usage: reply_wait_cpu [rounds]
#include "engine/pushsession.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>

namespace {

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    auto sec = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return sec(u.ru_utime) + sec(u.ru_stime);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;

    QTcpServer silent; // takes connections, never answers
    QList<QTcpSocket*> peers;
    QObject::connect(&silent, &QTcpServer::newConnection, [&] {
        while (auto* s = silent.nextPendingConnection())
            peers << s;
    });
    if (!silent.listen(QHostAddress::LocalHost)) {
        std::fprintf(stderr, "cannot listen: %s\n", qPrintable(silent.errorString()));
        return 1;
    }
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("app.tgz")));
    if (!file.open(QIODevice::WriteOnly) || file.write(QByteArray(1000, 'x')) != 1000)
        return 1;
    file.close();

    tk::engine::PushOptions options;
    options.filePath = file.fileName();
    options.port = silent.serverPort();
    double worst = 0;
    for (int i = 0; i < rounds; ++i) {
        tk::engine::PushSession session(QStringLiteral("127.0.0.1"), options);
        QElapsedTimer wall;
        const double before = cpuSeconds();
        wall.start();
        QObject::connect(&session, &tk::engine::PushSession::finished, &app,
                         &QCoreApplication::quit);
        session.start();
        app.exec();
        const double cpu = cpuSeconds() - before;
        const double seconds = wall.elapsed() / 1000.0;
        const double share = 100.0 * cpu / seconds;
        worst = std::max(worst, share);
        std::printf("session %d: %.3f s wall waiting, %.4f s CPU, %.2f %% of a core, outcome: %s\n",
                    i + 1, seconds, cpu, share,
                    qPrintable(tk::engine::outcomeWord(session.result().outcome)));
    }
    std::printf("worst: %.2f %% of a core\n", worst);
    return 0;
}
