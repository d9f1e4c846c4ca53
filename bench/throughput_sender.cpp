// Sends a file to a terminal (the simulator) with the download engine and
// prints the seconds from the first file byte to the last one handed to the
// system. Used by throughput.sh and flat_memory.sh.
//   throughput_sender FILE ADDRESS PORT
#include "engine/pushsession.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s FILE ADDRESS PORT\n", argv[0]);
        return 2;
    }
    tk::engine::PushOptions options;
    options.filePath = QString::fromLocal8Bit(argv[1]);
    options.port = static_cast<quint16>(QString::fromLatin1(argv[3]).toUInt());
    tk::engine::PushSession session(QString::fromLatin1(argv[2]), options);

    QElapsedTimer clock;
    double seconds = -1;
    QObject::connect(&session, &tk::engine::PushSession::stageChanged,
                     [&](tk::engine::Stage stage) {
                         if (stage == tk::engine::Stage::Sending)
                             clock.start();
                     });
    QObject::connect(&session, &tk::engine::PushSession::progress, [&](qint64 sent, qint64 total) {
        if (sent == total && seconds < 0 && clock.isValid())
            seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    });
    QObject::connect(&session, &tk::engine::PushSession::finished, &app, &QCoreApplication::quit);
    session.start();
    app.exec();
    if (!session.result().ok() || seconds < 0) {
        std::fprintf(stderr, "transfer did not complete: %s\n",
                     qPrintable(session.result().detail));
        return 1;
    }
    std::printf("%.6f\n", seconds);
    return 0;
}
