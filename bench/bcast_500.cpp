// The broadcast listener under a burst: the simulator broadcasts from 500
// terminals at once (each from its own loopback address), several rounds back
// to back. Most terminals' daemons answer "WHO:"; 50 accept the probe and
// never answer, 25 refuse the connection. Prints the terminals, the datagrams
// sent, the rows found, the time until every row was probed, then the time
// from a Refresh until every row shows its final status, and the peak memory.
// Usage: bcast_500 [terminals] [rounds] [silent] [refusing]
#include "broadcaster.h"
#include "daemon.h"
#include "listenerbench.h"
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
#include <QPushButton>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

QHostAddress terminalAddress(int i)
{
    return QHostAddress(QStringLiteral("127.40.%1.%2").arg(241 + i / 250).arg(i % 250 + 1));
}

// Every row present and none waiting for or under a probe.
bool allFinal(tk::frmBcastListener* listener, int terminals)
{
    if (listener->rowCount() < terminals || !listener->probesIdle())
        return false;
    for (int i = 0; i < listener->rowCount(); ++i) {
        if (listener->row(i).status == QLatin1String("Refreshing..."))
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    tk::selectPlatformForDisplay();
    QApplication app(argc, argv);
    const int terminals = argc > 1 ? std::max(1, std::atoi(argv[1])) : 500;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const int silent = argc > 3 ? std::max(0, std::atoi(argv[3])) : 50;
    const int refusing = argc > 4 ? std::max(0, std::atoi(argv[4])) : 25;

    bench::ListenerProgram program(QStringLiteral("127.40.240.1"));
    tk::frmmain& main = *program.main;
    const tk::ProgramEnv& env = program.env;

    std::vector<std::unique_ptr<tk::sim::Daemon>> daemons;
    tk::sim::Broadcaster broadcaster;
    for (int i = 0; i < terminals; ++i) {
        tk::sim::TerminalRecord rec;
        rec.serial = QByteArray("BENCH-") + QByteArray::number(i);
        rec.keyStatus = tk::sim::TerminalRecord::emptyKeyStatus();
        auto daemon = std::make_unique<tk::sim::Daemon>();
        // The first `silent` terminals accept and never answer, the next
        // `refusing` ones have no daemon listening.
        daemon->config.whoReply = i < silent ? QByteArray() : rec.toBytes();
        const bool refuses = i >= silent && i < silent + refusing;
        if ((!refuses && !daemon->listen(terminalAddress(i), 5142)) ||
            !broadcaster.addTerminal(rec, terminalAddress(i))) {
            std::fprintf(stderr, "cannot set up terminal %d\n", i);
            return 1;
        }
        daemons.push_back(std::move(daemon));
    }

    main.chkListener->click();
    auto* listener = program.listener();
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
            return allFinal(listener, terminals);
        },
        120000);
    const qint64 probedMs = clock.elapsed();
    const double peakAfterBurst = bench::peakMiB();

    // A Refresh: every row is probed again.
    const int probesBefore = listener->probesSent();
    clock.restart();
    listener->cmdRefresh->click();
    const bool refreshed = tk::pumpEventsUntil(
        [&] { return !listener->isRefreshing() && allFinal(listener, terminals); }, 120000);
    const qint64 refreshMs = clock.elapsed();

    int waiting = 0, busy = 0, disconnected = 0;
    for (int i = 0; i < listener->rowCount(); ++i) {
        const QString status = listener->row(i).status;
        waiting += status == QLatin1String("Waiting for download");
        busy += status == QLatin1String("Busy");
        disconnected += status == QLatin1String("Disconnected");
    }

    std::printf("terminals:                    %d\n", terminals);
    std::printf("datagrams sent:               %lld (%d rounds in %lld ms)\n",
                static_cast<long long>(broadcaster.datagramsSent()), rounds,
                static_cast<long long>(sentMs));
    std::printf("rows found:                   %d\n", listener->rowCount());
    std::printf("time until all rows present:  %lld ms\n", static_cast<long long>(allRowsMs));
    std::printf("time until all rows probed:   %lld ms%s\n", static_cast<long long>(probedMs),
                done ? "" : " (gave up)");
    std::printf("silent / refusing terminals:  %d / %d\n", silent, refusing);
    std::printf("peak memory after the burst:  %.1f MiB\n", peakAfterBurst);
    std::printf("Refresh until all rows final: %lld ms%s\n", static_cast<long long>(refreshMs),
                refreshed ? "" : " (gave up)");
    std::printf("WHO: probes sent:             %d (Refresh: %d)\n", listener->probesSent(),
                listener->probesSent() - probesBefore);
    std::printf("rows waiting / busy / disc.:  %d / %d / %d\n", waiting, busy, disconnected);
    std::printf("peak memory:                  %.1f MiB\n", bench::peakMiB());
    listener->close();
    return listener->rowCount() == terminals ? 0 : 2;
}
