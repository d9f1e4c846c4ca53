#pragma once
// A main window over a temporary program folder and store, for the tests of
// start-up, settings and the window's own behaviour.
#include "programfolder.h"
#include "ui/frmmain.h"

#include <QDir>
#include <QTemporaryDir>
#include <memory>

namespace tk::test {

struct MainWindowRig {
    ProgramFolder folder;
    std::unique_ptr<frmmain> w;

    // The tool beside the program, so start-up asks nothing.
    MainWindowRig& withTool()
    {
        folder.write(QStringLiteral("pdt.exe"), "#!/bin/sh\n");
        return *this;
    }
    frmmain& start(const QString& commandLine = QString())
    {
        w = std::make_unique<frmmain>(folder.env());
        w->load(commandLine);
        return *w;
    }
    // A second start over the same folder and store (a restart).
    frmmain& restart(const QString& commandLine = QString())
    {
        w.reset();
        folder.exitCode.reset();
        return start(commandLine);
    }
};

} // namespace tk::test
