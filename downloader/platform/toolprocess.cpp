#include "platform/toolprocess.h"

#include "platform/wait.h"

#include <QProcess>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <csignal>
#include <sys/types.h>
#include <unistd.h>
#endif

namespace tk {

namespace {

constexpr int kPollMs = 10;

class ProcessTool : public RunningTool {
public:
    ProcessTool(std::unique_ptr<QProcess> process, ToolOutputSink output)
        : m_process(std::move(process)), m_output(std::move(output))
    {
        QObject::connect(m_process.get(), &QProcess::finished, [this] {
            passOutput(); // what came with the end
            m_ended = true;
        });
        if (m_output)
            QObject::connect(m_process.get(), &QProcess::readyReadStandardOutput,
                             [this] { passOutput(); });
    }

    ~ProcessTool() override
    {
        if (!m_ended)
            terminate();
        m_process->disconnect(); // nothing reaches this object once it is gone
    }

    bool waitForEnd(int ms) override
    {
        return pumpEventsUntil([this] { return m_ended; }, ms);
    }

    void terminate() override
    {
        m_terminated = true;
        if (m_ended)
            return;
#ifndef Q_OS_WIN
        const qint64 pid = m_process->processId();
        if (pid > 0)
            ::kill(-static_cast<pid_t>(pid), SIGKILL); // the tool's whole group
#endif
        m_process->kill();
        m_process->waitForFinished(2000);
        m_ended = true;
    }

    int exitCode() const override
    {
        if (m_terminated)
            return 0;
        if (m_process->exitStatus() != QProcess::NormalExit)
            return -1;
        return m_process->exitCode();
    }

private:
    void passOutput()
    {
        if (!m_output)
            return;
        const QByteArray piece = m_process->readAllStandardOutput();
        if (!piece.isEmpty())
            m_output(piece);
    }

    std::unique_ptr<QProcess> m_process;
    ToolOutputSink m_output;
    bool m_ended = false;
    bool m_terminated = false;
};

} // namespace

QString windowsCommandLine(const ToolCommand& command)
{
    // The program in the system's own separators, as Qt would pass it.
    QString program = command.program;
    program.replace(QLatin1Char('/'), QLatin1Char('\\'));
    return QLatin1Char('"') + program + QStringLiteral("\" ") + command.nativeArguments;
}

std::unique_ptr<RunningTool> ProcessToolLauncher::start(const ToolCommand& command,
                                                        const QString& workDir, bool showWindow,
                                                        const ToolOutputSink& output)
{
    auto process = std::make_unique<QProcess>();
    process->setProgram(command.program);
    process->setWorkingDirectory(workDir);
    process->setStandardInputFile(QProcess::nullDevice());
#ifdef Q_OS_WIN
    Q_UNUSED(output);
    // The tool reads its own command line: it gets exactly the documented
    // text, not an argument vector quoted by Qt. Qt puts the program in front
    // of the native arguments itself (quoted only when it holds a blank), so
    // the whole line is set once more where the process is created.
    process->setNativeArguments(command.nativeArguments);
    const QString commandLine = windowsCommandLine(command);
    if (showWindow) {
        process->setProcessChannelMode(QProcess::ForwardedChannels);
    } else {
        process->setStandardOutputFile(QProcess::nullDevice());
        process->setStandardErrorFile(QProcess::nullDevice());
    }
    // The tool is a console program: interactive runs show its console window
    // (show state normal) with its own input and output, unattended runs keep
    // it hidden. Qt would start it without any console window at all.
    // CreateProcessW may write into the command line it is given: the
    // modifier hands it a buffer of its own, which lives as long as the
    // process object.
    process->setCreateProcessArgumentsModifier([showWindow, line = commandLine.toStdWString()](
                                                   QProcess::CreateProcessArguments* call) mutable {
        call->arguments = line.data();
        call->startupInfo->dwFlags |= STARTF_USESHOWWINDOW;
        call->startupInfo->wShowWindow = showWindow ? SW_SHOWNORMAL : SW_HIDE;
        if (showWindow) {
            call->flags &= ~static_cast<unsigned long>(CREATE_NO_WINDOW);
            call->startupInfo->dwFlags &= ~static_cast<DWORD>(STARTF_USESTDHANDLES);
        }
    });
    const ToolOutputSink sink{}; // the console window shows the output
#else
    process->setArguments(command.arguments);
    // Interactive: the output is read and handed on as it comes (the caller
    // shows it); otherwise it goes nowhere. Never to the program's own output.
    const ToolOutputSink sink = showWindow ? output : ToolOutputSink();
    if (sink) {
        process->setProcessChannelMode(QProcess::MergedChannels);
    } else {
        process->setStandardOutputFile(QProcess::nullDevice());
        process->setStandardErrorFile(QProcess::nullDevice());
    }
    // A group of its own, so Cancel can end the tool and its children.
    process->setChildProcessModifier([] { ::setpgid(0, 0); });
#endif
    process->start();
    // A start that failed reports exit code 255 as a normal exit: look at
    // the error and the state, never at that code.
    if (!process->waitForStarted(-1) || process->error() == QProcess::FailedToStart)
        return nullptr;
    return std::make_unique<ProcessTool>(std::move(process), sink);
}

ToolLauncher& defaultToolLauncher()
{
    static ProcessToolLauncher launcher;
    return launcher;
}

int ExecuteAndWait(ToolLauncher& launcher, const ToolCommand& command, const QString& changeDir,
                   bool showWindow, const std::function<bool()>& cancelled,
                   const ToolOutputSink& output)
{
    const auto tool = launcher.start(command, changeDir, showWindow, output);
    if (!tool)
        return -1;
    while (!tool->waitForEnd(kPollMs)) {
        pumpPendingEvents();
        if (cancelled())
            tool->terminate();
    }
    return tool->exitCode();
}

} // namespace tk
