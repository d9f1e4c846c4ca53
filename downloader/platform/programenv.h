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
    QString programDir;         // folder of the executable, no trailing separator
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
};

// The real process exit: flushes nothing, runs no destructors.
[[noreturn]] void exitProcessNow(int code);

// The per-user store of this program: organisation "Quillon".
std::unique_ptr<QSettings> openUserStore();

// Program title, also the section of the per-user store.
inline constexpr const char* kProgramTitle = "Tk650Downloader";

} // namespace tk
