// The fleet's retry policy in the engine itself: the waits between tries
// double (with at most a quarter more), and a stop during a wait ends the
// terminal at once with the tries it had.
#include "daemon.h"
#include "engine/fleetpush.h"
#include "platform/wait.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tk;

TEST(FleetPolicy, RetryWaitsDoubleAndAStopEndsTheWait)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("app.bin"));
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(20000, 'a'));
    }
    struct Case {
        const char* what;
        int refused; // connections reset at once (two per try)
        int baseMs;
        bool stopInWait;
        engine::Outcome outcome;
        int tries;
    };
    const Case cases[] = {
        {"three waits, then installed", 6, 40, false, engine::Outcome::Installed, 4},
        {"stopped while waiting", 2, 60000, true, engine::Outcome::Cancelled, 1},
    };
    int host = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sim::DaemonConfig config;
        config.firstTries.refuse = c.refused;
        sim::Daemon daemon(config);
        const QString address = QStringLiteral("127.25.90.%1").arg(host++);
        ASSERT_TRUE(daemon.listen(QHostAddress(address), 5142));
        engine::PushOptions options;
        options.filePath = path;
        engine::FleetPush fleet({address}, options, 1);
        engine::FleetPolicy policy;
        policy.retries = 3;
        policy.retryBaseMs = c.baseMs;
        fleet.setPolicy(policy);
        QList<int> waits;
        bool all = false;
        QObject::connect(&fleet, &engine::FleetPush::retryScheduled,
                         [&](int, const engine::PushResult&, int ms) { waits << ms; });
        QObject::connect(&fleet, &engine::FleetPush::allFinished, [&] { all = true; });
        fleet.start();
        if (c.stopInWait) {
            ASSERT_TRUE(pumpEventsUntil([&] { return !waits.isEmpty(); }, 10000));
            fleet.cancel();
        }
        ASSERT_TRUE(pumpEventsUntil([&] { return all; }, 20000));
        EXPECT_EQ(fleet.results()[0].outcome, c.outcome);
        ASSERT_EQ(int(fleet.attempts(0).size()), c.tries);
        EXPECT_EQ(fleet.attempts(0).front(), engine::Outcome::ConnectionLost);
        for (int i = 0; i < waits.size(); ++i) {
            const int least = c.baseMs << i;
            EXPECT_GE(waits[i], least) << i;
            EXPECT_LE(waits[i], least + least / 4) << i;
        }
        EXPECT_EQ(waits.size(), c.stopInWait ? 1 : 3);
        EXPECT_EQ(daemon.files().size(), c.stopInWait ? 0 : 1);
    }
}
