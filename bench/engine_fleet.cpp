// The download engine alone, in this process, against the tk650sim executable
// playing a fleet: one push of a file to one terminal, then the same file to
// every terminal of the fleet at once. Prints both times, their ratio and the
// peak memory of this process.
// Usage: engine_fleet [terminals, default 50] [MB, default 20] [jobs, default terminals]
#include "engine/fleetpush.h"
#include "platform/wait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <sys/resource.h>

namespace {

double push(const QStringList& addresses, const tk::engine::PushOptions& o, int jobs, int& failed)
{
    tk::engine::FleetPush fleet(addresses, o, jobs);
    QElapsedTimer t;
    t.start();
    fleet.start();
    tk::pumpEventsUntil([&] { return fleet.isFinished(); }, 3'600'000);
    failed = fleet.failedCount() + (fleet.count() - fleet.finishedCount());
    for (const auto& r : fleet.results())
        if (!r.ok())
            std::fprintf(stderr, "engine_fleet: %s: %s %s\n", qPrintable(r.address),
                         qPrintable(tk::engine::outcomeText(r.outcome)), qPrintable(r.detail));
    return t.nsecsElapsed() / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int terminals = argc > 1 ? std::max(1, atoi(argv[1])) : 50;
    const qint64 mb = argc > 2 ? std::max(1, atoi(argv[2])) : 20;
    const int jobs = argc > 3 ? std::max(1, atoi(argv[3])) : terminals;

    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("fleet.tgz"));
    {
        QFile f(file);
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        const QByteArray block(1'000'000, 'x');
        for (qint64 i = 0; i < mb; ++i)
            f.write(block);
    }

    const QString first = QStringLiteral("127.10.210.1");
    QProcess sim;
    QByteArray out;
    QObject::connect(&sim, &QProcess::readyReadStandardOutput,
                     [&] { out += sim.readAllStandardOutput(); });
    sim.start(QCoreApplication::applicationDirPath() + QStringLiteral("/tk650sim"),
              {"--listen", first + ":5142", "--terminals", QString::number(terminals), "--quiet"});
    tk::pumpEventsUntil(
        [&] { return out.contains("ready\n") || sim.state() == QProcess::NotRunning; }, 30000);
    if (!out.contains("ready\n")) {
        std::fprintf(stderr, "engine_fleet: tk650sim did not start: %s\n", out.constData());
        return 1;
    }
    QStringList addresses;
    const quint32 base = QHostAddress(first).toIPv4Address();
    for (int i = 0; i < terminals; ++i)
        addresses << QHostAddress(base + quint32(i)).toString();

    tk::engine::PushOptions o;
    o.filePath = file;
    int failedOne = 0;
    int failedAll = 0;
    const double one = push({addresses.first()}, o, 1, failedOne);
    const double all = push(addresses, o, jobs, failedAll);
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    std::printf("engine_fleet: %lld MB to 1 terminal: %.2f s%s\n", static_cast<long long>(mb), one,
                failedOne ? " (FAILED)" : "");
    std::printf("engine_fleet: %lld MB to %d terminals, %d at once: %.2f s, %d failed\n",
                static_cast<long long>(mb), terminals, jobs, all, failedAll);
    std::printf("engine_fleet: ratio %.2f (target at most 3), peak memory %.1f MB\n", all / one,
                ru.ru_maxrss / 1024.0);
    sim.kill();
    sim.waitForFinished(3000);
    return failedOne || failedAll ? 1 : 0;
}
