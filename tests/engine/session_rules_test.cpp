// Rules every download session keeps, whoever starts it: one session per
// terminal at a time in the process, the install wait with and without a
// limit, and the caller's answers to the two questions. Against the
// simulated daemon on loopback addresses 127.79.x.x.
#include "daemon.h"
#include "engine/pushsession.h"
#include "platform/wait.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

using namespace tk;
using namespace tk::engine;

namespace {

class SessionRules : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        QFile f(file());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(9000, 'z'));
    }
    QString file() const { return dir.filePath("app.tgz"); }
    void serve(sim::Daemon& d, const char* ip)
    {
        ASSERT_TRUE(d.listen(QHostAddress(QString::fromLatin1(ip)), 5142))
            << d.errorString().toStdString();
    }
    PushOptions options() const
    {
        PushOptions o;
        o.filePath = file();
        return o;
    }
    static bool finish(PushSession& s, int ms = 15000)
    {
        return pumpEventsUntil([&] { return s.isFinished(); }, ms);
    }
    QTemporaryDir dir;
};

TEST_F(SessionRules, OneSessionPerTerminalAtATime)
{
    sim::Daemon d;
    d.config.installDelayMs = 60000;
    serve(d, "127.79.1.1");
    auto first = std::make_unique<PushSession>("127.79.1.1", options());
    first->start();
    ASSERT_TRUE(pumpEventsUntil([&] { return first->stage() == Stage::Installing; }, 10000));
    EXPECT_TRUE(PushSession::runningTo("127.79.1.1"));
    EXPECT_FALSE(PushSession::runningTo("127.79.1.2"));

    // The same terminal however it is written, while the first runs; then
    // free again once the first ended, whether it finished, was cancelled or
    // was dropped while running.
    for (const char* address : {"127.79.1.1", " 127.79.1.1 "}) {
        SCOPED_TRACE(address);
        PushSession second(QString::fromLatin1(address), options());
        second.start();
        ASSERT_TRUE(finish(second));
        EXPECT_EQ(second.result().outcome, Outcome::AlreadyRunning);
        EXPECT_EQ(second.result().exitCode, -6);
        EXPECT_EQ(second.result().bytes, 0);
        EXPECT_EQ(outcomeWord(second.result().outcome), "already-running");
    }
    EXPECT_EQ(d.connectionCount(), 1);
    EXPECT_EQ(d.commands().size(), 2); // VER: and DLD: of the first
    first.reset();
    EXPECT_FALSE(PushSession::runningTo("127.79.1.1"));

    d.config.installDelayMs = 0;
    PushSession third("127.79.1.1", options());
    third.start();
    ASSERT_TRUE(finish(third));
    EXPECT_EQ(third.result().outcome, Outcome::Installed);
    EXPECT_FALSE(PushSession::runningTo("127.79.1.1"));
}

TEST_F(SessionRules, InstallWaitHasALimitOnlyWhenGivenOne)
{
    sim::Daemon d;
    d.config.installResult = sim::InstallResult::Silent;
    serve(d, "127.79.2.1");
    struct Case {
        int limitMs;
        bool endsByItself;
    };
    for (const Case c : {Case{300, true}, Case{-1, false}}) {
        SCOPED_TRACE(c.limitMs);
        PushOptions o = options();
        o.installLimitMs = c.limitMs;
        PushSession s("127.79.2.1", o);
        s.start();
        ASSERT_TRUE(pumpEventsUntil([&] { return s.stage() == Stage::Installing; }, 10000));
        // Far beyond the limit of the first case.
        EXPECT_EQ(finish(s, 3000), c.endsByItself);
        if (c.endsByItself) {
            EXPECT_EQ(s.result().outcome, Outcome::NoInstallResult);
        } else {
            // The whole file is there: stopped now, it is delivered.
            s.cancel();
            EXPECT_EQ(s.result().outcome, Outcome::Delivered);
        }
    }
}

TEST_F(SessionRules, TheCallersAnswersDecideTheQuestions)
{
    sim::Daemon d;
    d.config = sim::DaemonConfig::olderDaemon();
    serve(d, "127.79.3.1");
    struct Case {
        bool full, kill;
        bool answer;
        Outcome outcome;
        QStringList commands;
    };
    const Case cases[] = {
        // "Full" to a daemon without a version: No stops before the announcement.
        {true, false, false, Outcome::Cancelled, {"VER:"}},
        {true, false, true, Outcome::Installed, {"VER:", "DLD:"}},
        // "ASP:" refused: No stops, Yes sends the file without a pause.
        {false, true, false, Outcome::Cancelled, {"VER:", "ASP:"}},
        {false, true, true, Outcome::Installed, {"VER:", "ASP:", "DLD:"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.commands.join(' ').toStdString() + (c.answer ? " yes" : " no"));
        d.clearRecords();
        int asked = 0;
        PushOptions o = options();
        o.full = c.full;
        o.killApps = c.kill;
        o.fullAsPartial = [&] { return ++asked, c.answer; };
        o.continueUnsupported = [&] { return ++asked, c.answer; };
        PushSession s("127.79.3.1", o);
        QStringList log;
        QObject::connect(&s, &PushSession::logLine, [&](const QString& l) { log << l; });
        s.start();
        ASSERT_TRUE(finish(s));
        EXPECT_EQ(asked, 1);
        EXPECT_EQ(s.result().outcome, c.outcome);
        QStringList got;
        for (const QByteArray& cmd : d.commands())
            got << QString::fromLatin1(cmd.left(4));
        EXPECT_EQ(got, c.commands);
        if (c.outcome == Outcome::Installed && c.full) {
            ASSERT_TRUE(pumpEventsUntil([&] { return d.files().size() == 1; }, 3000));
            EXPECT_EQ(d.files()[0].announcement.type, "");
        }
        if (c.kill && c.answer) {
            EXPECT_TRUE(log.contains("Killed running applications on host device"));
        }
    }
}

} // namespace
