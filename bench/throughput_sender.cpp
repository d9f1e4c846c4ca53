// Streams a file to a listening receiver with the downloader's own transfer
// code (NetworkDownload::streamFile over the main window's socket) and prints
// the seconds the chunk loop took. Used by throughput.sh.
//   throughput_sender FILE ADDRESS PORT
#include "platform/dialogs.h"
#include "platform/headless.h"
#include "platform/wait.h"
#include "ui/frmmain.h"
#include "ui/networkdownload.h"
#include "ui/networksession.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <cstdio>

int main(int argc, char* argv[])
{
    tk::selectPlatformForDisplay();
    QApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s FILE ADDRESS PORT\n", argv[0]);
        return 2;
    }
    const QString path = QString::fromLocal8Bit(argv[1]);
    const QStringList octets = QString::fromLatin1(argv[2]).split('.');
    if (octets.size() != 4)
        return 2;

    // A message here means the run failed; it goes to standard error.
    tk::UnattendedDialogs dialogs;
    tk::ProgramEnv env;
    env.dialogs = &dialogs;
    env.exitProcess = [](int code) { std::exit(code); };
    tk::frmmain w(env);
    for (int i = 0; i < 4; ++i)
        w.txtIP[static_cast<size_t>(i)]->setText(octets[i]);
    w.txtPort->setText(QString::fromLatin1(argv[3]));
    w.timeout = 5000;
    if (!w.net->connectToHost())
        return 1;

    const qint64 size = QFileInfo(path).size();
    QElapsedTimer clock;
    clock.start();
    const auto outcome = w.netDownload->streamFile(path, size);
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    w.tcpClient->disconnectFromHost();
    tk::pumpEventsUntil([&] { return w.tcpClient->state() == QAbstractSocket::UnconnectedState; },
                        5000);
    if (outcome != tk::NetworkDownload::Stream::Done || w.netDownload->bytesSent != size) {
        std::fprintf(stderr, "transfer did not complete\n");
        return 1;
    }
    std::printf("%.6f\n", seconds);
    return 0;
}
