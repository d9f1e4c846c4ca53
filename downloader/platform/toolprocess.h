#pragma once
// Starting the external serial download tool and waiting for it.
//
// The tool is started directly with an argument vector: no shell or command
// interpreter reads the file name. Tests can hand in their own launcher; the
// real one is a QProcess in a process group of its own, so that ending it
// also ends whatever it started.
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

namespace tk {

class RunningTool {
public:
    virtual ~RunningTool() = default;
    // Waits at most ms for the tool to end, letting window events run.
    // True once it has ended.
    virtual bool waitForEnd(int ms) = 0;
    // Ends the tool and everything it started; its exit code is then 0.
    virtual void terminate() = 0;
    // The exit code once ended; -1 when it did not end normally.
    virtual int exitCode() const = 0;
};

class ToolLauncher {
public:
    virtual ~ToolLauncher() = default;
    // Starts program with args in workDir. showWindow: the tool's output may
    // be seen (interactive); otherwise it goes nowhere. Null when the tool
    // cannot be started.
    virtual std::unique_ptr<RunningTool> start(const QString& program, const QStringList& args,
                                               const QString& workDir, bool showWindow) = 0;
};

// QProcess-based launcher.
class ProcessToolLauncher : public ToolLauncher {
public:
    std::unique_ptr<RunningTool> start(const QString& program, const QStringList& args,
                                       const QString& workDir, bool showWindow) override;
};

// The launcher the program uses unless told otherwise.
ToolLauncher& defaultToolLauncher();

// Runs the tool and waits for it, polling every 10 ms; window events run in
// between. When cancelled() turns true the tool is ended. Returns the tool's
// exit code, 0 after a cancel, -1 when it could not be started or waited for.
int ExecuteAndWait(ToolLauncher& launcher, const QString& program, const QStringList& args,
                   const QString& changeDir, bool showWindow,
                   const std::function<bool()>& cancelled);

} // namespace tk
