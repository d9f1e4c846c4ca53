#pragma once
// What the tk650push tests share: simulator fleets as child processes, the
// program's run options and a file to push.
#include "../e2e/childprogram.h"
#include "platform/wait.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace tk::test {

// One tk650sim process; ready once it printed "ready".
class Sim {
public:
    explicit Sim(const QStringList& args)
    {
        m_process.setProgram(qEnvironmentVariable("TK_BIN_DIR") + QStringLiteral("/tk650sim"));
        m_process.setArguments(args);
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput,
                         [this] { m_log += m_process.readAllStandardOutput(); });
        m_process.start();
        m_ready = m_process.waitForStarted(5000) &&
                  pumpEventsUntil([this] { return m_log.contains("ready\n"); }, 10000);
    }
    ~Sim()
    {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
    bool ready() const { return m_ready; }
    const QByteArray& log() const { return m_log; }

private:
    QProcess m_process;
    QByteArray m_log;
    bool m_ready = false;
};

inline RunOptions pushProgram(int deadlineMs)
{
    RunOptions o;
    o.program = qEnvironmentVariable("TK_BIN_DIR") + QStringLiteral("/tk650push");
    o.deadlineMs = deadlineMs;
    return o;
}

struct Fleet {
    QTemporaryDir dir;
    QString file = dir.filePath("app.bin");
    qint64 size;
    explicit Fleet(qint64 bytes = 300 * 1024) : size(bytes)
    {
        QFile f(file);
        f.open(QIODevice::WriteOnly);
        QByteArray chunk(4096, 'x');
        for (qint64 i = 0; i < size; i += chunk.size())
            f.write(chunk);
    }
};

} // namespace tk::test
