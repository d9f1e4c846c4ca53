#pragma once
// The real program started as a child process, the way a build job, a shell
// or the shell extension starts it, while this thread keeps serving any
// simulator the test runs. Every run has a deadline; one that does not end
// in time is killed and reported as not ended.
#include "platform/wait.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <unistd.h>

namespace tk::test {

struct RunResult {
    bool ended = false;
    bool killedBySignal = false;
    int exitCode = -1000; // -1000 when killed by a signal
    QByteArray output;    // standard output
    QByteArray errors;    // standard error
};

struct RunOptions {
    QString program = qEnvironmentVariable("TK_BIN_DIR") + QStringLiteral("/Tk650Downloader");
    QString workingDir; // empty: this process's
    QProcessEnvironment extraEnv;
    int deadlineMs = 30000;
};

// A started child; the destructor kills it when it is still running.
class ChildProgram {
public:
    // home becomes XDG_CONFIG_HOME, so the per-user store is the test's own.
    ChildProgram(const QStringList& args, const QString& home, const RunOptions& options = {})
        : m_deadlineMs(options.deadlineMs)
    {
        m_process.setProgram(options.program);
        m_process.setArguments(args);
        if (!options.workingDir.isEmpty())
            m_process.setWorkingDirectory(options.workingDir);
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        // As under cron or su: Qt would complain about it on standard error.
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        env.insert(options.extraEnv);
        m_process.setProcessEnvironment(env);
        m_process.start();
        m_started = m_process.waitForStarted(10000);
    }

    ~ChildProgram()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    qint64 pid() const { return m_process.processId(); }
    bool running() const { return m_process.state() != QProcess::NotRunning; }

    // Waits for the end within the run's deadline.
    RunResult finish()
    {
        RunResult r;
        if (!m_started)
            return r;
        r.ended = pumpEventsUntil([&] { return !running(); }, m_deadlineMs);
        if (!r.ended) {
            m_process.kill();
            m_process.waitForFinished(5000);
            return r;
        }
        r.killedBySignal = m_process.exitStatus() == QProcess::CrashExit;
        r.exitCode = r.killedBySignal ? -1000 : m_process.exitCode();
        r.output = m_process.readAllStandardOutput();
        r.errors = errorsSoFar();
        return r;
    }

    // What the program wrote to standard error so far.
    const QByteArray& errorsSoFar()
    {
        m_errors += m_process.readAllStandardError();
        return m_errors;
    }

private:
    QProcess m_process;
    QByteArray m_errors;
    bool m_started = false;
    int m_deadlineMs;
};

inline RunResult runProgram(const QStringList& args, const QString& home,
                            const RunOptions& options = {})
{
    ChildProgram child(args, home, options);
    return child.finish();
}

// The program in a folder of its own, so the files it looks for beside itself
// ("pdt.exe", "usage.txt", the settings files) are the test's. The folder
// also holds the child's per-user store under "home".
class ProgramCopy {
public:
    ProgramCopy()
    {
        const QString original = RunOptions().program;
        m_options.program = QDir(m_dir.path()).filePath(QStringLiteral("Tk650Downloader"));
        // A hard link where the file system allows it (the program finds its
        // folder through the resolved executable, so a symbolic link would
        // not do); else a copy.
        if (::link(QFile::encodeName(original).constData(),
                   QFile::encodeName(m_options.program).constData()) != 0)
            QFile::copy(original, m_options.program);
    }

    bool valid() const { return m_dir.isValid() && QFile::exists(m_options.program); }
    QString folder() const { return m_dir.path(); }
    QString file(const QString& name) const { return QDir(m_dir.path()).filePath(name); }
    QString home() const { return file(QStringLiteral("home")); }
    QString storePath() const { return home() + QStringLiteral("/Quillon/Tk650Downloader.conf"); }
    RunOptions& options() { return m_options; }

    void write(const QString& name, const QByteArray& bytes, bool executable = false) const
    {
        QFile f(file(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
        f.close();
        if (executable)
            f.setPermissions(f.permissions() | QFile::ExeOwner);
    }

    RunResult run(const QStringList& args) const { return runProgram(args, home(), m_options); }

private:
    QTemporaryDir m_dir;
    RunOptions m_options;
};

} // namespace tk::test
