// tk650shots WINDOW: opens the program's main window over a scratch program
// folder and store, brings up WINDOW in the state a technician would see it,
// and prints "ready <window id>" once it is on the screen, for
// scripts/screenshots.sh to capture. Runs until it is ended.
//
// WINDOW: serial, network (More open, advanced options shown, a real
// transfer to a simulated terminal that has stopped reading half-way, so its
// progress and time left show), log (the lines of a real download to a
// simulated terminal), debug, listener (three simulated terminals), details,
// fleet (the listener sending to six terminals: some done, some still
// sending), fleetdone (the same finished, with its summary in the status
// bar), ksyn, porterr, about, usage.
#include "daemon.h"
#include "platform/dialogs.h"
#include "platform/programenv.h"
#include "record.h"
#include "serialterminal.h"
#include "ui/frmbcastlistener.h"
#include "ui/frmksyn.h"
#include "ui/frmlog.h"
#include "ui/frmmain.h"
#include "ui/frmporterr.h"
#include "ui/serialdownload.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QUdpSocket>
#include <cstdio>
#include <functional>

using namespace tk;

namespace {

// Prints the id of the window once it has been shown for a moment.
void announce(const std::function<QWidget*()>& window, int afterMs = 1500)
{
    QTimer::singleShot(afterMs, [window] {
        QWidget* w = window();
        if (!w) {
            std::fprintf(stderr, "no window\n");
            QCoreApplication::exit(2);
            return;
        }
        std::printf("ready 0x%llx\n", static_cast<unsigned long long>(w->winId()));
        std::fflush(stdout);
    });
}

QByteArray record(const QByteArray& serial, const QByteArray& discretionary)
{
    sim::TerminalRecord r;
    r.serial = serial;
    r.discretionary = discretionary;
    return r.toBytes();
}

// The real dialogs, but a question is answered Yes without being shown, and
// messages are left out while `quiet` (the window behind them is the shot).
class YesDialogs : public QtDialogs {
public:
    MsgAnswer message(MsgIcon icon, const QString& title, const QString& text,
                      MsgButtons buttons) override
    {
        if (buttons == MsgButtons::YesNo)
            return MsgAnswer::Yes;
        if (quiet)
            return MsgAnswer::Ok;
        return QtDialogs::message(icon, title, text, buttons);
    }
    bool quiet = false;
};

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QString which = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("serial");

    QTemporaryDir dir;
    QFile tool(dir.filePath(QStringLiteral("pdt.exe")));
    tool.open(QIODevice::WriteOnly);
    tool.close();
    QFile::copy(QCoreApplication::applicationDirPath() + QStringLiteral("/usage.txt"),
                dir.filePath(QStringLiteral("usage.txt")));
    QSettings store(dir.filePath(QStringLiteral("store.ini")), QSettings::IniFormat);
    YesDialogs dialogs;
    ProgramEnv env;
    env.programDir = dir.path();
    env.store = &store;
    env.dialogs = &dialogs;
    env.bcastBindAddress = QStringLiteral("127.43.0.1");
    env.exitProcess = [](int code) { std::_Exit(code); };

    frmmain w(env);
    w.load(QString());
    w.move(40, 40);
    w.show();
    const auto modal = [] { return QApplication::activeModalWidget(); };
    const auto named = [&w](const char* name) {
        return
            [&w, name]() -> QWidget* { return w.findChild<QWidget*>(QString::fromLatin1(name)); };
    };

    std::vector<std::unique_ptr<sim::Daemon>> daemons;
    std::unique_ptr<sim::SerialTerminal> terminal;
    if (which == QLatin1String("serial")) {
        w.STab->setCurrentIndex(0);
        announce([&w] { return &w; });
    } else if (which == QLatin1String("network") || which == QLatin1String("log")) {
        // A real download, as a technician starts it, to a simulated terminal
        // on 127.43.0.2. For "network" the terminal stops reading after a
        // third of the file, so the shot shows the transfer under way.
        const bool midway = which == QLatin1String("network");
        const QString file = dir.filePath(QStringLiteral("app-1.2.tgz"));
        QFile payload(file);
        payload.open(QIODevice::WriteOnly);
        payload.write(QByteArray((midway ? 48 : 1) * 1024 * 1024, 'x'));
        payload.close();
        sim::DaemonConfig config;
        config.keepContent = false;
        if (midway)
            config.faults.stallAfterFileBytes = 16 * 1024 * 1024;
        daemons.push_back(std::make_unique<sim::Daemon>(config));
        daemons.back()->listen(QHostAddress(QStringLiteral("127.43.0.2")), 5142);

        w.STab->setCurrentIndex(1);
        if (!midway)
            QTest::keyClick(w.STab, Qt::Key_L, Qt::ControlModifier);
        w.txtfilen->setText(file);
        const char* const parts[] = {"127", "43", "0", "2"};
        for (int i = 0; i < 4; ++i)
            w.txtIP[i]->setText(QString::fromLatin1(parts[i]));
        if (midway) {
            QTest::mouseClick(w.cmdMore, Qt::LeftButton);
            QTest::keyClick(w.txtfilen, Qt::Key_F12, Qt::ControlModifier | Qt::ShiftModifier);
        }
        QTimer::singleShot(300, &w, [&w] { QTest::mouseClick(w.cmdSend, Qt::LeftButton); });
        if (midway) {
            // The time left is shown from the first second of the transfer on.
            announce([&w] { return &w; }, 2600);
        } else {
            // Once the download has ended and the window is idle again.
            auto* poll = new QTimer(&w);
            QObject::connect(poll, &QTimer::timeout, &w, [&w, poll, named] {
                if (!w.cmdSend->isEnabled() || !w.logWindow()->isVisible() ||
                    w.logWindow()->logLineCount == 0)
                    return;
                poll->stop();
                announce(named("frmLog"), 500);
            });
            poll->start(100);
        }
    } else if (which == QLatin1String("debug")) {
        QTest::keyClick(w.STab, Qt::Key_D, Qt::ControlModifier);
        announce(named("frmDebug"));
    } else if (which == QLatin1String("listener") || which == QLatin1String("details") ||
               which == QLatin1String("fleet") || which == QLatin1String("fleetdone")) {
        // Three simulated terminals, one with a two-line discretionary text.
        // For "fleet" six, sent the main window's file from the list: two
        // install, one is full, one refuses, two take the file slowly.
        const bool done = which == QLatin1String("fleetdone");
        const bool fleet = done || which == QLatin1String("fleet");
        dialogs.quiet = done;
        const int lastHost = fleet ? 7 : 4;
        if (fleet) {
            const QString file = dir.filePath(QStringLiteral("app-1.2.tgz"));
            QFile payload(file);
            payload.open(QIODevice::WriteOnly);
            payload.write(QByteArray(32 * 1024 * 1024, 'x'));
            payload.close();
            w.STab->setCurrentIndex(1);
            w.txtfilen->setText(file);
        }
        for (int host = 2; host <= lastHost; ++host) {
            sim::DaemonConfig config;
            config.whoReply = record("650-100-200-00" + QByteArray::number(host),
                                     host == 3 && !fleet ? "Shop 12\r\nTill 3\r\n" : "");
            if (fleet) {
                config.keepContent = false;
                if (host == 4)
                    config.dldReply = sim::Reply::NoSpace;
                if (host == 5)
                    config.faults.refuseConnections = true;
                if (host >= 6)
                    config.faults.stallAfterFileBytes = (host == 6 ? 4 : 12) * 1024 * 1024;
                if (host == 7)
                    config.installResult = sim::InstallResult::Failed;
                if (done)
                    config.faults.stallMs = 500;
            }
            daemons.push_back(std::make_unique<sim::Daemon>(config));
            daemons.back()->listen(QHostAddress(QStringLiteral("127.43.0.%1").arg(host)), 5142);
        }
        w.chkListener->click();
        for (int host = 2; host <= lastHost; ++host) {
            QUdpSocket s;
            s.bind(QHostAddress(QStringLiteral("127.43.0.%1").arg(host)), 0);
            s.writeDatagram(record("650-100-200-00" + QByteArray::number(host), ""),
                            QHostAddress(env.bcastBindAddress), 5143);
        }
        auto* l = w.findChild<frmBcastListener*>(QStringLiteral("frmBcastListener"));
        if (which == QLatin1String("details")) {
            QTimer::singleShot(1000, l, [l] {
                if (const int row = l->rowOf(QStringLiteral("650-100-200-003")); row >= 0)
                    l->lvBcast->setCurrentIndex(l->table().index(row, 0));
                l->showDeviceDetails();
            });
            announce(modal);
        } else if (fleet) {
            QTimer::singleShot(1000, l, [l] {
                l->lvBcast->selectAll();
                l->downloadToSelected();
            });
            announce(named("frmBcastListener"), 4000);
        } else {
            announce(named("frmBcastListener"));
        }
    } else if (which == QLatin1String("ksyn")) {
        // A real serial download with "Send KSYN Command" on COM3, here a
        // simulated terminal's serial line that does not answer: the shot
        // shows the wait running out.
        terminal = std::make_unique<sim::SerialTerminal>();
        terminal->config.validAnswer = sim::KsynAnswer::Silent;
        if (!terminal->createPseudoTerminal()) {
            std::fprintf(stderr, "no pseudo-terminal\n");
            return 2;
        }
        qputenv("TK650_COM3", terminal->devicePath().toLocal8Bit());
        const QString file = dir.filePath(QStringLiteral("app-1.2.tgz"));
        QFile payload(file);
        payload.open(QIODevice::WriteOnly);
        payload.write(QByteArray(1024, 'x'));
        payload.close();
        w.STab->setCurrentIndex(0);
        w.txtfile->setText(file);
        w.optComOther->click();
        w.comboCom->setCurrentIndex(0);
        w.checkSendKSYN->click();
        QTimer::singleShot(300, &w, [&w] { QTest::mouseClick(w.cmdDownload, Qt::LeftButton); });
        announce(named("frmKSYN"), 1800);
    } else if (which == QLatin1String("porterr")) {
        QTimer::singleShot(0, &w, [&w] { w.serialDownload()->portErrWindow()->showFor(3); });
        announce(modal);
    } else if (which == QLatin1String("about")) {
        QTimer::singleShot(0, &w, [&w] { w.showAbout(); });
        announce(modal);
    } else if (which == QLatin1String("usage")) {
        w.showUsage();
        announce(named("frmUsage"));
    } else {
        std::fprintf(stderr, "unknown window %s\n", argv[1]);
        return 2;
    }
    return app.exec();
}
