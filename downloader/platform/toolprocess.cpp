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
    explicit ProcessTool(std::unique_ptr<QProcess> process) : m_process(std::move(process))
    {
        QObject::connect(m_process.get(), &QProcess::finished, [this] { m_ended = true; });
    }

    ~ProcessTool() override
    {
        if (!m_ended)
            terminate();
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
    std::unique_ptr<QProcess> m_process;
    bool m_ended = false;
    bool m_terminated = false;
};

} // namespace

std::unique_ptr<RunningTool> ProcessToolLauncher::start(const QString& program,
                                                        const QStringList& args,
                                                        const QString& workDir, bool showWindow)
{
    auto process = std::make_unique<QProcess>();
    process->setProgram(program);
    process->setArguments(args);
    process->setWorkingDirectory(workDir);
    process->setStandardInputFile(QProcess::nullDevice());
    if (showWindow) {
        process->setProcessChannelMode(QProcess::ForwardedChannels);
    } else {
        process->setStandardOutputFile(QProcess::nullDevice());
        process->setStandardErrorFile(QProcess::nullDevice());
    }
#ifdef Q_OS_WIN
    // The tool is a console program: interactive runs show its console window
    // (show state normal) with its own input and output, unattended runs keep
    // it hidden. Qt would start it without any console window at all.
    process->setCreateProcessArgumentsModifier(
        [showWindow](QProcess::CreateProcessArguments* call) {
            call->startupInfo->dwFlags |= STARTF_USESHOWWINDOW;
            call->startupInfo->wShowWindow = showWindow ? SW_SHOWNORMAL : SW_HIDE;
            if (showWindow) {
                call->flags &= ~static_cast<unsigned long>(CREATE_NO_WINDOW);
                call->startupInfo->dwFlags &= ~static_cast<DWORD>(STARTF_USESTDHANDLES);
            }
        });
#else
    // A group of its own, so Cancel can end the tool and its children.
    process->setChildProcessModifier([] { ::setpgid(0, 0); });
#endif
    process->start();
    // A start that failed reports exit code 255 as a normal exit: look at
    // the error and the state, never at that code.
    if (!process->waitForStarted(-1) || process->error() == QProcess::FailedToStart)
        return nullptr;
    return std::make_unique<ProcessTool>(std::move(process));
}

ToolLauncher& defaultToolLauncher()
{
    static ProcessToolLauncher launcher;
    return launcher;
}

int ExecuteAndWait(ToolLauncher& launcher, const QString& program, const QStringList& args,
                   const QString& changeDir, bool showWindow,
                   const std::function<bool()>& cancelled)
{
    const auto tool = launcher.start(program, args, changeDir, showWindow);
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
