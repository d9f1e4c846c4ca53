// Stopping a session tells what the terminal has: nothing whole yet
// (cancelled), the whole file while it installs (delivered: it will install
// it, but the result was not awaited), or its install result (installed).
#include "daemon.h"
#include "engine/pushsession.h"
#include "platform/wait.h"

#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

using namespace tk;

TEST(EngineSessions, CancelTellsWhatTheTerminalHas)
{
    using engine::Outcome;
    using engine::Stage;
    const struct {
        const char* what;
        std::function<void(sim::DaemonConfig&)> setup;
        bool reboot;
        Stage stopAt;
        Outcome outcome;
        bool wholeFile;
    } cases[] = {
        {"waiting for the version",
         [](sim::DaemonConfig& c) { c.versionReply = sim::VersionReply::Silent; }, false,
         Stage::CheckingVersion, Outcome::Cancelled, false},
        {"installing", [](sim::DaemonConfig& c) { c.installDelayMs = 600000; }, false,
         Stage::Installing, Outcome::Delivered, true},
        {"rebooting after the install",
         [](sim::DaemonConfig& c) { c.rstReply = sim::Reply::Silent; }, true, Stage::Rebooting,
         Outcome::Installed, true},
    };
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("app.tgz"));
    const QByteArray content(50000, 'z');
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    int host = 1;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        sim::DaemonConfig config;
        c.setup(config);
        sim::Daemon daemon(config);
        const QString address = QStringLiteral("127.78.0.%1").arg(host++);
        ASSERT_TRUE(daemon.listen(QHostAddress(address), 5142));
        engine::PushOptions options;
        options.filePath = path;
        options.reboot = c.reboot;
        engine::PushSession session(address, options);
        session.start();
        // Stopped once the terminal has what that stage means it has.
        ASSERT_TRUE(pumpEventsUntil(
            [&] {
                return session.stage() == c.stopAt &&
                       daemon.files().size() == (c.wholeFile ? 1 : 0);
            },
            10000));
        session.cancel();
        ASSERT_TRUE(session.isFinished());
        EXPECT_EQ(session.result().outcome, c.outcome)
            << engine::outcomeWord(session.result().outcome).toStdString();
        EXPECT_EQ(session.result().ok(), c.outcome == Outcome::Installed);
        if (c.wholeFile) {
            ASSERT_EQ(daemon.files().size(), 1);
            EXPECT_TRUE(daemon.files()[0].complete);
            EXPECT_EQ(session.result().bytes, content.size());
        }
    }
}
