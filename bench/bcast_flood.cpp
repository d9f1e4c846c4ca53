// The broadcast listener under a hostile sender: for 30 s (or the seconds
// given) a thread floods the listener over loopback with a mix of malformed
// datagrams (random bytes, some with three FS characters), oversized ones
// (60 KB) and well-formed records from ever new serial numbers. Prints the
// datagrams sent, the peak memory, the rows, the longest the window's event
// loop was held up, the size of the saved list and the time to close the
// window (which saves the list) and to open it again (which loads it).
// Usage: bcast_flood [seconds]
#include "listenerbench.h"
#include "platform/headless.h"
#include "platform/programenv.h"
#include "platform/wait.h"
#include "ui/frmbcastlistener.h"
#include "ui/frmmain.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTimer>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <random>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

const char* const kBind = "127.40.250.1";

// The sender: a plain socket in its own thread, so the window's thread does
// nothing but receive. At most `limit` datagrams, for at most `seconds`.
void flood(int seconds, std::atomic<long long>& sent, std::atomic<bool>& stop)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    inet_pton(AF_INET, "127.40.250.2", &from.sin_addr);
    ::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(5143);
    inet_pton(AF_INET, kBind, &to.sin_addr);

    std::mt19937 random(42);
    std::string datagram;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    constexpr long long kLimit = 100'000'000; // a bound on the loop whatever the speed
    for (long long n = 0; n < kLimit && !stop; ++n) {
        if ((n & 1023) == 0 && std::chrono::steady_clock::now() >= end)
            break;
        datagram.clear();
        switch (n % 4) {
        case 0: // random bytes
            datagram.resize(64 + random() % 1400);
            for (auto& c : datagram)
                c = static_cast<char>(random());
            break;
        case 1: // random bytes with three FS characters
            datagram.resize(200 + random() % 3800);
            for (auto& c : datagram)
                c = static_cast<char>(random());
            datagram[10] = datagram[60] = datagram[110] = '\x1c';
            break;
        case 2: // far larger than any record
            datagram.assign(60000, '\x1c');
            break;
        default: // a well-formed record from a new serial number, as large as allowed
            datagram = "TK\x1c"
                       "FLOOD-" +
                       std::to_string(n) +
                       "\x1c"
                       "650\x1cR1\x1cK\x1c\x1c";
            datagram.resize(4096, 'x');
            break;
        }
        if (::sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to),
                     sizeof to) > 0)
            ++sent;
    }
    ::close(fd);
}

} // namespace

int main(int argc, char** argv)
{
    tk::selectPlatformForDisplay();
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;

    bench::ListenerProgram program(QString::fromLatin1(kBind));
    tk::frmmain& main = *program.main;
    const auto listener = [&] { return program.listener(); };
    main.chkListener->click();
    if (!listener() || !listener()->isListening()) {
        std::fprintf(stderr, "the listener did not start\n");
        return 1;
    }

    // How long the event loop is held up: a 10 ms timer notes the longest gap.
    QElapsedTimer gap;
    gap.start();
    qint64 longestGap = 0;
    QTimer beat;
    beat.setInterval(10);
    QObject::connect(&beat, &QTimer::timeout,
                     [&] { longestGap = std::max(longestGap, gap.restart()); });
    beat.start();

    std::atomic<long long> sent{0};
    std::atomic<bool> stop{false};
    std::thread sender(flood, seconds, std::ref(sent), std::ref(stop));
    QElapsedTimer clock;
    clock.start();
    tk::pumpEventsUntil([&] { return clock.elapsed() >= seconds * 1000LL + 500; },
                        seconds * 1000 + 1000);
    stop = true;
    sender.join();
    beat.stop();

    auto* l = listener();
    const int rows = l->rowCount();
    const qint64 dropped = l->datagramsDropped();
    const double floodPeak = bench::peakMiB();

    QElapsedTimer closing;
    closing.start();
    l->close();
    tk::pumpEventsUntil([&] { return !listener(); }, 10000);
    const qint64 closeMs = closing.elapsed();
    const qint64 listBytes =
        QFileInfo(program.dir.filePath(QStringLiteral("bcastlist.qsf"))).size();
    tk::pumpPendingEvents();

    bench::resetPeak();
    QElapsedTimer restart;
    restart.start();
    main.chkListener->click();
    const qint64 restartMs = restart.elapsed();
    const int restored = listener() ? listener()->rowCount() : -1;
    const double restartPeak = bench::peakMiB();

    std::printf("flood:                        %d s, %lld datagrams sent\n", seconds,
                static_cast<long long>(sent));
    std::printf("datagrams dropped unread:     %lld\n", static_cast<long long>(dropped));
    std::printf("rows:                         %d\n", rows);
    std::printf("peak memory during the flood: %.1f MiB\n", floodPeak);
    std::printf("longest event-loop gap:       %lld ms\n", static_cast<long long>(longestGap));
    std::printf("saved list:                   %lld bytes\n", static_cast<long long>(listBytes));
    std::printf("time to close (saves):        %lld ms\n", static_cast<long long>(closeMs));
    std::printf("time to restart (loads):      %lld ms (%d rows)\n",
                static_cast<long long>(restartMs), restored);
    std::printf("peak memory of the restart:   %.1f MiB\n", restartPeak);
    if (auto* again = listener())
        again->close();
    return 0;
}
