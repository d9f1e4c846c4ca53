// CPU cost of the reply wait: connects to a loopback listener that never
// answers, sends "VER:" and waits the full 2500 ms for a reply. Prints the
// process's CPU time (user + system) spent in the wait and its share of one
// core. Usage: reply_wait_cpu [rounds]
#include "core/protocol.h"
#include "platform/dialogs.h"
#include "platform/headless.h"
#include "platform/programenv.h"
#include "ui/frmmain.h"
#include "ui/networksession.h"

#include <QApplication>
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
    tk::selectPlatformForDisplay();
    QApplication app(argc, argv);
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
    QSettings store(dir.filePath(QStringLiteral("store.ini")), QSettings::IniFormat);
    tk::UnattendedDialogs dialogs; // a message would go to standard error
    tk::ProgramEnv env;
    env.programDir = dir.path();
    env.store = &store;
    env.dialogs = &dialogs;
    env.exitProcess = [](int code) { std::exit(code); };
    tk::frmmain w(env);
    w.txtIP[0]->setText(QStringLiteral("127"));
    w.txtIP[1]->setText(QStringLiteral("0"));
    w.txtIP[2]->setText(QStringLiteral("0"));
    w.txtIP[3]->setText(QStringLiteral("1"));
    w.txtPort->setText(QString::number(silent.serverPort()));
    w.timeout = tk::proto::kConnectLimitMs;
    tk::NetworkSession& net = *w.net;
    if (!net.connectToHost()) {
        std::fprintf(stderr, "cannot connect\n");
        return 1;
    }

    double worst = 0;
    for (int i = 0; i < rounds; ++i) {
        net.sessionState = tk::proto::SessionState::CheckingVersion;
        QElapsedTimer wall;
        const double before = cpuSeconds();
        wall.start();
        net.sendAndAwaitReply("VER:", tk::proto::kVersionWaitMs);
        const double cpu = cpuSeconds() - before;
        const double seconds = wall.elapsed() / 1000.0;
        const double share = 100.0 * cpu / seconds;
        worst = std::max(worst, share);
        std::printf("reply wait %d: %.3f s wall, %.4f s CPU, %.2f %% of a core, timed out: %s\n",
                    i + 1, seconds, cpu, share, w.gotTimeout ? "yes" : "no");
    }
    std::printf("worst: %.2f %% of a core\n", worst);
    return 0;
}
