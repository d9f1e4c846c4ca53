// tk650sim: a stand-in for one or many Tk650 terminals (daemon, broadcasts,
// serial line), for trying the downloader and for its tests.
#include "options.h"
#include "simulator.h"

#include <QCoreApplication>
#include <cstdio>

namespace {
void printLine(FILE* to, const QString& line)
{
    std::fputs(line.toLocal8Bit().constData(), to);
    std::fputc('\n', to);
    std::fflush(to);
}
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const auto parsed = tk::sim::parseSimArguments(app.arguments().mid(1));
    if (const auto* error = std::get_if<QString>(&parsed)) {
        printLine(stderr, QStringLiteral("tk650sim: ") + *error);
        printLine(stderr, QStringLiteral("Try tk650sim --help."));
        return 2;
    }
    const auto& options = std::get<tk::sim::SimOptions>(parsed);
    if (options.help) {
        std::fputs(tk::sim::simHelpText().toLocal8Bit().constData(), stdout);
        return 0;
    }
    tk::sim::Simulator sim(options);
    QObject::connect(&sim, &tk::sim::Simulator::logLine,
                     [](const QString& line) { printLine(stdout, line); });
    if (!sim.start()) {
        printLine(stderr, QStringLiteral("tk650sim: ") + sim.errorString());
        return 1;
    }
    for (const QString& line : sim.readyLines())
        printLine(stdout, line);
    printLine(stdout, QStringLiteral("ready"));
    // Broadcasts alone with a fixed number of rounds end the run.
    if (sim.broadcaster() && options.broadcastRounds >= 0 && sim.daemons().isEmpty() &&
        !sim.serial()) {
        QObject::connect(sim.broadcaster(), &tk::sim::Broadcaster::finished, &app,
                         &QCoreApplication::quit, Qt::QueuedConnection);
        if (sim.broadcaster()->roundsSent() >= options.broadcastRounds)
            return 0;
    }
    return app.exec();
}
