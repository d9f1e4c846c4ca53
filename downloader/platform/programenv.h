#pragma once
// What main() hands to the main window: where the program lives, the
// per-user settings store, the dialogs, the clock and the way the process
// ends. Tests pass temporary folders, a temporary store and scripted dialogs.
#include "platform/dialogs.h"

#include <QDateTime>
#include <QSettings>
#include <QString>
#include <functional>
#include <memory>

namespace tk {

struct ProgramEnv {
    QString programDir; // folder of the executable, no trailing separator
    // The settings files ("savedsettings.qsf", "pdtpath.qsf", "bcastlist.qsf")
    // live beside the program while its folder can be written. An installed
    // program's folder (/usr/bin) cannot: they are then written to userDir and
    // read from there first, then from the program's folder.
    bool programDirWritable = true;
    QString userDir; // per-user configuration folder, see userFilesDir()
    // The package's data folder (<prefix>/share/tk650downloader): "usage.txt"
    // and "pdt.exe" are looked for there after the program's folder.
    QString dataDir;
    QSettings* store = nullptr; // per-user store: organisation "Quillon", application = section
                                // "Tk650Downloader"; keys at its top level
    Dialogs* dialogs = nullptr;
    std::function<QDateTime()> now = [] { return QDateTime::currentDateTime(); };
    // Ends the process at once with the code; nothing is saved or unloaded.
    std::function<void(int)> exitProcess;
    // Local address the broadcast listener binds; empty = all local IPv4
    // addresses. Tests bind their own loopback address.
    QString bcastBindAddress;
    // False when nobody can see a window (the offscreen platform of a build
    // machine): the help start then prints "usage.txt" instead of showing it.
    bool hasDisplay = true;

    // Where a settings file is read: beside the program when its folder is
    // writable; otherwise the per-user copy when there is one, else the one
    // beside the program.
    QString settingsFileToRead(const QString& name) const;
    // Where a settings file is written (the per-user folder is created when
    // it is the one).
    QString settingsFileToWrite(const QString& name) const;
    // A file shipped with the program ("usage.txt", "pdt.exe"): beside the
    // program, else in the data folder; the path beside the program when it
    // is in neither.
    QString shippedFile(const QString& name) const;
};

// True when a file can be created in the folder: found out by creating (and
// removing) one, since permission bits tell nothing about a read-only file
// system, and nothing at all for root.
bool canCreateFilesIn(const QString& dir);

// The per-user configuration folder of this program: the folder of the same
// names as the per-user store (organisation "Quillon", application
// "Tk650Downloader") under the user's configuration folder ($XDG_CONFIG_HOME,
// else ~/.config).
QString userFilesDir();

// The package's data folder for a program in <prefix>/bin:
// <prefix>/share/tk650downloader.
QString packageDataDir(const QString& programDir);

// The real process exit: flushes nothing, runs no destructors.
[[noreturn]] void exitProcessNow(int code);

// The per-user store of this program: organisation "Quillon".
std::unique_ptr<QSettings> openUserStore();

// Program title, also the section of the per-user store.
inline constexpr const char* kProgramTitle = "Tk650Downloader";

} // namespace tk
