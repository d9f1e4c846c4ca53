#pragma once
// Starting the external serial download tool and waiting for it.
//
// The tool is started directly: no shell or command interpreter reads the
// file name. Tests can hand in their own launcher; the
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

// What is started: the program and the arguments it receives. On Windows the
// tool is given one exact command line instead: the program in double quotes,
// a blank and nativeArguments, taken as they stand (no quoting added).
struct ToolCommand {
    QString program;
    QStringList arguments;
    QString nativeArguments;
};

// Where an interactive run's output goes on platforms where the tool has no
// console window of its own: each piece as it arrives, standard output and
// error merged. Empty: nowhere.
using ToolOutputSink = std::function<void(const QByteArray&)>;

// The exact Windows command line of a command: the program (with "\"
// separators) in double quotes, a blank, the native arguments.
QString windowsCommandLine(const ToolCommand& command);

class ToolLauncher {
public:
    virtual ~ToolLauncher() = default;
    // Starts the command in workDir. showWindow: interactive. On Windows the
    // tool then shows its own console window; elsewhere its output goes to
    // output. Unattended runs' output goes nowhere, never to the program's
    // own standard output. Null when the tool cannot be started.
    virtual std::unique_ptr<RunningTool> start(const ToolCommand& command, const QString& workDir,
                                               bool showWindow, const ToolOutputSink& output) = 0;
};

// QProcess-based launcher.
class ProcessToolLauncher : public ToolLauncher {
public:
    std::unique_ptr<RunningTool> start(const ToolCommand& command, const QString& workDir,
                                       bool showWindow, const ToolOutputSink& output) override;
};

// The launcher the program uses unless told otherwise.
ToolLauncher& defaultToolLauncher();

// Runs the tool and waits for it, polling every 10 ms; window events run in
// between. When cancelled() turns true the tool is ended. Returns the tool's
// exit code, 0 after a cancel, -1 when it could not be started or waited for.
int ExecuteAndWait(ToolLauncher& launcher, const ToolCommand& command, const QString& changeDir,
                   bool showWindow, const std::function<bool()>& cancelled,
                   const ToolOutputSink& output = {});

} // namespace tk
