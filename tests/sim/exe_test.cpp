// The tk650sim program itself, as scripts and users run it.
#include "platform/wait.h"
#include "simclient.h"

#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace tk;

namespace {
QString simPath()
{
    return qEnvironmentVariable("TK_BIN_DIR") + QStringLiteral("/tk650sim");
}

struct Running {
    explicit Running(const QStringList& args)
    {
        process.start(simPath(), args);
        EXPECT_TRUE(process.waitForStarted(5000));
        QObject::connect(&process, &QProcess::readyReadStandardOutput,
                         [this] { out += process.readAllStandardOutput(); });
        pumpEventsUntil(
            [this] { return out.contains("ready\n") || process.state() == QProcess::NotRunning; },
            5000);
    }
    ~Running()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(3000);
        }
    }
    QProcess process;
    QByteArray out;
};
} // namespace

TEST(Tk650simProgram, PrintsWhereItListensThenServesAndLogsTheExchange)
{
    Running sim({"--listen", "127.10.6.1:0", "--version-text", "1.02.01"});
    const auto m = QRegularExpression(QStringLiteral("listening on 127\\.10\\.6\\.1:(\\d+)\\n"))
                       .match(QString::fromLatin1(sim.out));
    ASSERT_TRUE(m.hasMatch()) << sim.out.toStdString();
    test::SimClient client;
    ASSERT_TRUE(client.connectTo(QHostAddress("127.10.6.1"), quint16(m.captured(1).toUInt())));
    EXPECT_EQ(client.ask("VER:", 8), "1.02.01\n");
    const char dld[] = "DLD:a b\0"
                       "1\0"
                       "644\0"
                       "root\0"
                       "users\0";
    client.send(QByteArray(dld, sizeof dld - 1));
    ASSERT_TRUE(
        pumpEventsUntil([&] { return sim.out.contains("DLD:a b|1|644|root|users|"); }, 3000));
    EXPECT_TRUE(sim.out.contains("-> 1.02.01<0A>"));
}

TEST(Tk650simProgram, HelpAndBadArguments)
{
    QProcess help;
    help.start(simPath(), {"--help"});
    ASSERT_TRUE(help.waitForFinished(5000));
    EXPECT_EQ(help.exitCode(), 0);
    const QByteArray text = help.readAllStandardOutput();
    for (const char* flag : {"--listen", "--store", "--stall-after", "--broadcast", "--pty",
                             "--terminals", "--scenario"})
        EXPECT_TRUE(text.contains(flag)) << flag;

    QProcess bad;
    bad.start(simPath(), {"--listen", "nowhere"});
    ASSERT_TRUE(bad.waitForFinished(5000));
    EXPECT_EQ(bad.exitCode(), 2);
    EXPECT_TRUE(bad.readAllStandardError().contains("--listen"));

    // A port already taken is a clear failure, not a silent hang.
    Running first({"--listen", "127.10.6.2:0"});
    const auto m =
        QRegularExpression(QStringLiteral(":(\\d+)\\n")).match(QString::fromLatin1(first.out));
    ASSERT_TRUE(m.hasMatch());
    QProcess second;
    second.start(simPath(), {"--listen", "127.10.6.2:" + m.captured(1)});
    ASSERT_TRUE(second.waitForFinished(5000));
    EXPECT_EQ(second.exitCode(), 1);
    EXPECT_TRUE(second.readAllStandardError().contains("cannot listen"));
}
