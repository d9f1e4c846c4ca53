#pragma once
// What the listener benchmarks share: a main window over a temporary program
// folder whose listener binds one loopback address, and the peak memory.
#include "platform/dialogs.h"
#include "platform/programenv.h"
#include "ui/frmbcastlistener.h"
#include "ui/frmmain.h"

#include <QSettings>
#include <QTemporaryDir>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

namespace bench {

// Peak resident memory of this process so far, in MiB (VmHWM).
inline double peakMiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;
    }
    return -1;
}

// Starts the peak memory count again from the current size.
inline void resetPeak()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

struct ListenerProgram {
    // `answering` takes the questions and messages instead of `dialogs`.
    explicit ListenerProgram(const QString& bindAddress, tk::Dialogs* answering = nullptr)
        : store(dir.filePath(QStringLiteral("store.ini")), QSettings::IniFormat)
    {
        env.programDir = dir.path();
        env.store = &store;
        // A message here means the run failed: standard error.
        env.dialogs = answering ? answering : &dialogs;
        env.exitProcess = [](int code) { std::exit(code); };
        env.bcastBindAddress = bindAddress;
        main = std::make_unique<tk::frmmain>(env);
        main->show();
    }
    // The open listener window, if any (a closed one may wait to be deleted).
    tk::frmBcastListener* listener() const
    {
        for (auto* l : main->findChildren<tk::frmBcastListener*>()) {
            if (!l->isClosed())
                return l;
        }
        return nullptr;
    }

    QTemporaryDir dir;
    QSettings store;
    tk::UnattendedDialogs dialogs;
    tk::ProgramEnv env;
    std::unique_ptr<tk::frmmain> main;
};

} // namespace bench
