// The broadcast listener under a burst: the simulator broadcasts from 500
// terminals at once (each from its own loopback address, each with a daemon
// answering "WHO:"), several rounds back to back. Prints the terminals, the
// datagrams sent, the rows found and the time until every row was probed.
// Usage: bcast_500 [terminals] [rounds]
#include "broadcaster.h"
#include "daemon.h"
#include "platform/dialogs.h"
#include "platform/headless.h"
#include "platform/programenv.h"
#include "platform/wait.h"
#include "ui/frmbcastlistener.h"
#include "ui/frmmain.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

QHostAddress terminalAddress(int i)
{
    return QHostAddress(QStringLiteral("127.40.%1.%2").arg(241 + i / 250).arg(i % 250 + 1));
}

} // namespace

int main(int argc, char** argv)
{
    tk::selectPlatformForDisplay();
    QApplication app(argc, argv);
    const int terminals = argc > 1 ? std::max(1, std::atoi(argv[1])) : 500;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;

    QTemporaryDir dir;
    QSettings store(dir.filePath(QStringLiteral("store.ini")), QSettings::IniFormat);
    // A message here means the run failed; it goes to standard error.
    tk::UnattendedDialogs dialogs;
    tk::ProgramEnv env;
    env.programDir = dir.path();
    env.store = &store;
    env.dialogs = &dialogs;
    env.exitProcess = [](int code) { std::exit(code); };
    env.bcastBindAddress = QStringLiteral("127.40.240.1");
    tk::frmmain main(env);
    main.show();

    std::vector<std::unique_ptr<tk::sim::Daemon>> daemons;
    tk::sim::Broadcaster broadcaster;
    for (int i = 0; i < terminals; ++i) {
        tk::sim::TerminalRecord rec;
        rec.serial = QByteArray("BENCH-") + QByteArray::number(i);
        rec.keyStatus = tk::sim::TerminalRecord::emptyKeyStatus();
        auto daemon = std::make_unique<tk::sim::Daemon>();
        daemon->config.whoReply = rec.toBytes();
        if (!daemon->listen(terminalAddress(i), 5142) ||
            !broadcaster.addTerminal(rec, terminalAddress(i))) {
            std::fprintf(stderr, "cannot set up terminal %d\n", i);
            return 1;
        }
        daemons.push_back(std::move(daemon));
    }

    main.chkListener->click();
    auto* listener = main.findChild<tk::frmBcastListener*>(QStringLiteral("frmBcastListener"));
    if (!listener || !listener->isListening()) {
        std::fprintf(stderr, "the listener did not start\n");
        return 1;
    }
    tk::pumpEventsUntil([&] { return !listener->isRefreshing(); }, 5000);

    QElapsedTimer clock;
    clock.start();
    // The first round goes out at once, the next ones 1 ms apart.
    broadcaster.start(QHostAddress(env.bcastBindAddress), 5143, 1, rounds);
    tk::pumpEventsUntil([&] { return broadcaster.roundsSent() >= rounds; }, 10000);
    const qint64 sentMs = clock.elapsed();

    qint64 allRowsMs = -1;
    const bool done = tk::pumpEventsUntil(
        [&] {
            if (allRowsMs < 0 && listener->rowCount() >= terminals)
                allRowsMs = clock.elapsed();
            if (listener->rowCount() < terminals || !listener->probesIdle())
                return false;
            for (int i = 0; i < listener->rowCount(); ++i) {
                if (listener->row(i).status == QLatin1String("Refreshing..."))
                    return false;
            }
            return true;
        },
        120000);
    const qint64 probedMs = clock.elapsed();

    int waiting = 0;
    for (int i = 0; i < listener->rowCount(); ++i)
        waiting += listener->row(i).status == QLatin1String("Waiting for download");

    std::printf("terminals:                    %d\n", terminals);
    std::printf("datagrams sent:               %lld (%d rounds in %lld ms)\n",
                static_cast<long long>(broadcaster.datagramsSent()), rounds,
                static_cast<long long>(sentMs));
    std::printf("rows found:                   %d\n", listener->rowCount());
    std::printf("time until all rows present:  %lld ms\n", static_cast<long long>(allRowsMs));
    std::printf("time until all rows probed:   %lld ms%s\n", static_cast<long long>(probedMs),
                done ? "" : " (gave up)");
    std::printf("WHO: probes sent:             %d\n", listener->probesSent());
    std::printf("rows \"Waiting for download\": %d\n", waiting);
    listener->close();
    return listener->rowCount() == terminals ? 0 : 2;
}
