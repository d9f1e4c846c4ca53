// "Download To..." on 500 rows of the listener: every row selected, the main
// window's file sent to all of them by the listener (16 at a time), against
// simulated daemons in this process, each on its own loopback address.
// Prints the time until the summary, the outcomes, how often the Status
// cells changed (in all, and the most one row changed within any second),
// the longest pause of the event loop, and the peak memory.
// Usage: listener_fleet [terminals, default 500] [KiB, default 1024]
#include "daemon.h"
#include "listenerbench.h"
#include "platform/headless.h"
#include "platform/wait.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QTimer>
#include <QTreeView>
#include <cstdio>
#include <deque>
#include <memory>
#include <vector>

namespace {

QString terminalAddress(int i)
{
    return QStringLiteral("127.118.%1.%2").arg(1 + i / 250).arg(i % 250 + 1);
}

// Questions are answered Yes; the summary is kept.
class YesDialogs : public tk::Dialogs {
public:
    tk::MsgAnswer message(tk::MsgIcon, const QString&, const QString& text,
                          tk::MsgButtons buttons) override
    {
        if (buttons == tk::MsgButtons::YesNo)
            return tk::MsgAnswer::Yes;
        last = text;
        return tk::MsgAnswer::Ok;
    }
    QString openFile(const tk::FileDialogRequest&) override { return {}; }
    QString saveFile(const tk::FileDialogRequest&) override { return {}; }
    QString last;
};

} // namespace

int main(int argc, char** argv)
{
    tk::selectPlatformForDisplay();
    QApplication app(argc, argv);
    const int terminals = argc > 1 ? std::max(2, std::atoi(argv[1])) : 500;
    const int kib = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1024;

    YesDialogs dialogs;
    bench::ListenerProgram program(QStringLiteral("127.118.0.1"), &dialogs);
    tk::frmmain& main = *program.main;

    // The rows come from the saved list; every daemon answers the probe.
    QByteArray list;
    std::vector<std::unique_ptr<tk::sim::Daemon>> daemons;
    for (int i = 0; i < terminals; ++i) {
        const QByteArray serial = "FLEET-" + QByteArray::number(i);
        list += "\"" + serial + "\x1e" + terminalAddress(i).toLatin1() + "\x1e\x1e\x1e\"\r\n";
        auto daemon = std::make_unique<tk::sim::Daemon>();
        daemon->config.whoReply = "OK";
        daemon->config.keepContent = false;
        if (!daemon->listen(QHostAddress(terminalAddress(i)), 5142)) {
            std::fprintf(stderr, "cannot set up terminal %d\n", i);
            return 1;
        }
        daemons.push_back(std::move(daemon));
    }
    QFile saved(program.dir.filePath(QStringLiteral("bcastlist.qsf")));
    QFile file(program.dir.filePath(QStringLiteral("app.tgz")));
    if (!saved.open(QIODevice::WriteOnly) || saved.write(list) != list.size() ||
        !file.open(QIODevice::WriteOnly) ||
        file.write(QByteArray(kib * 1024, 'x')) != qint64(kib) * 1024) {
        std::fprintf(stderr, "cannot write the saved list or the file\n");
        return 1;
    }
    saved.close();
    file.close();
    main.txtfilen->setText(file.fileName());

    main.chkListener->click();
    auto* listener = program.listener();
    if (!listener || !listener->isListening()) {
        std::fprintf(stderr, "the listener did not start\n");
        return 1;
    }
    tk::pumpEventsUntil(
        [&] { return !listener->isRefreshing() && listener->rowCount() == terminals; }, 60000);

    // Status cell changes: in all, and the most of one row within a second.
    std::vector<std::deque<qint64>> changes(static_cast<std::size_t>(terminals));
    long long totalChanges = 0;
    std::size_t mostPerSecond = 0;
    QElapsedTimer clock;
    QObject::connect(listener->lvBcast->model(), &QAbstractItemModel::dataChanged, listener,
                     [&](const QModelIndex& from, const QModelIndex& to) {
                         if (from.column() > 2 || to.column() < 2)
                             return; // not the Status column
                         for (int row = from.row(); row <= to.row() && row < terminals; ++row) {
                             auto& times = changes[static_cast<std::size_t>(row)];
                             times.push_back(clock.elapsed());
                             while (times.front() <= times.back() - 1000)
                                 times.pop_front();
                             mostPerSecond = std::max(mostPerSecond, times.size());
                             ++totalChanges;
                         }
                     });
    // The longest pause between two ticks of a 10 ms timer.
    qint64 lastTick = 0, longestGap = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        longestGap = std::max(longestGap, now - lastTick);
        lastTick = now;
    });

    bench::resetPeak();
    clock.start();
    ticker.start(10);
    listener->lvBcast->selectAll();
    listener->downloadToSelected();
    const bool ended = tk::pumpEventsUntil([&] { return !dialogs.last.isEmpty(); }, 3'600'000);
    const qint64 ms = clock.elapsed();
    ticker.stop();

    int installed = 0;
    for (int i = 0; i < listener->rowCount(); ++i)
        installed += listener->row(i).status == QLatin1String("Installed");

    std::printf("terminals:                     %d (file %d KiB)\n", terminals, kib);
    std::printf("time until the summary:        %lld ms%s\n", static_cast<long long>(ms),
                ended ? "" : " (gave up)");
    std::printf("summary:                       %s\n", qPrintable(dialogs.last));
    std::printf("rows showing Installed:        %d\n", installed);
    std::printf("Status cell changes:           %lld (%.1f a row)\n", totalChanges,
                double(totalChanges) / terminals);
    std::printf("most changes of a row in 1 s:  %zu\n", mostPerSecond);
    std::printf("longest event-loop pause:      %lld ms\n", static_cast<long long>(longestGap));
    std::printf("peak memory:                   %.1f MiB\n", bench::peakMiB());
    listener->close();
    return ended && installed == terminals ? 0 : 2;
}
