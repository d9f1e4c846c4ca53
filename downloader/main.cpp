// Tk650Downloader: puts packages and files onto Tk650 terminals over the
// network or a serial line; with "-silent" it runs without a window and
// reports through its exit code.
#include "core/cmdline.h"
#include "core/startup.h"
#include "platform/dialogs.h"
#include "platform/headless.h"
#include "platform/programenv.h"
#include "platform/termination.h"
#include "ui/frmmain.h"

#include <QApplication>
#include <QIcon>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

int main(int argc, char* argv[])
{
#ifdef Q_OS_WIN
    // The command line as Windows hands it over, in full Unicode: the parsers
    // read its raw text after the program name (argv holds the arguments in
    // the ANSI code page, with their quotes already taken apart).
    const QString commandLine = QString::fromStdString(
        tk::argumentsAfterProgram(QString::fromWCharArray(GetCommandLineW()).toStdString()));
#else
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.emplace_back(QString::fromLocal8Bit(argv[i]).toStdString());
    const QString commandLine = QString::fromStdString(tk::joinArguments(args));
#endif
    // Standard error is kept for the program's own messages, in a window as
    // unattended: Qt's notices (about the runtime folder, fonts, the platform,
    // shown whenever cron or su leave XDG_RUNTIME_DIR unset) are dropped.
    const bool unattended = tk::startup::isUnattended(commandLine.toStdString());
    tk::dropQtMessages();

    tk::selectPlatformForDisplay();
    QApplication app(argc, argv);
    // The menu entry's icon, in every size it is drawn in; the desktop entry
    // name lets the desktop match the window to its menu entry.
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/tk650downloader-%1.png").arg(size), QSize(size, size));
    QApplication::setWindowIcon(icon);
    QGuiApplication::setDesktopFileName(QStringLiteral("tk650downloader"));

    auto store = tk::openUserStore();
    // Start-up must never wait for a person in a run meant to be unattended,
    // whatever reaches a dialog; nor without a display, where nobody could
    // answer one.
    const bool hasDisplay = tk::hasDisplay();
    tk::QtDialogs windowDialogs;
    tk::UnattendedDialogs unattendedDialogs;
    tk::Dialogs& dialogs =
        unattended || !hasDisplay ? static_cast<tk::Dialogs&>(unattendedDialogs) : windowDialogs;
    tk::ProgramEnv env;
    env.hasDisplay = hasDisplay;
    env.programDir = QCoreApplication::applicationDirPath();
    // Installed, the program's folder (/usr/bin) is not the user's to write:
    // the settings files then go to the per-user configuration folder.
    env.programDirWritable = tk::canCreateFilesIn(env.programDir);
    env.userDir = tk::userFilesDir();
    env.dataDir = tk::packageDataDir(env.programDir);
    env.store = store.get();
    env.dialogs = &dialogs;
    env.exitProcess = [](int code) { tk::exitProcessNow(code); };

    tk::frmmain w(env);
#ifndef Q_OS_WIN
    w.commandArguments = args;
#endif
    w.load(commandLine);
    // From here on the parsers' decision counts: only a run they made
    // unattended keeps its messages off the screen.
    if (hasDisplay && !w.commandLineMode)
        w.useDialogs(&windowDialogs);
    if (!w.stayHidden) {
        w.show();
        // Asked to end (SIGTERM, Ctrl+C), a window a person uses closes as if
        // they had closed it, so its choices are kept. Runs without the main
        // window (unattended, help, KSYN only) keep the default: a killed
        // build job must never end as if it had succeeded.
        tk::onTerminationRequest([&w] { w.close(); });
    }
    return app.exec();
}
