// Far and slow terminals, through the real program run unattended: a daemon
// that answers late is still a current one (its failed install is a failure),
// and a link that keeps carrying the file does not fail its pieces, while one
// that carries nothing still does. The runs go side by side, one daemon each.
#include "childprogram.h"
#include "daemon.h"

#include <QTemporaryDir>
#include <functional>
#include <memory>

using namespace tk;

TEST(SlowLinks, UnattendedRunsEndWithWhatTheTerminalDid)
{
    using sim::DaemonConfig;
    const struct {
        const char* what;
        std::function<void(DaemonConfig&)> configure;
        qint64 size;
        int exitCode; // as the parent sees it: -6 is 250
        bool whole;   // the terminal got the whole file
    } cases[] = {
        {"a far terminal whose install fails",
         [](DaemonConfig& c) {
             c.link.replyDelayMs = 3000;
             c.installResult = sim::InstallResult::Failed;
         },
         5000, 250, true},
        {"a far terminal that installs", [](DaemonConfig& c) { c.link.replyDelayMs = 3000; }, 5000,
         0, true},
        {"a daemon that never answers the version and fails its install",
         [](DaemonConfig& c) {
             c.versionReply = sim::VersionReply::Silent;
             c.installResult = sim::InstallResult::Failed;
         },
         5000, 250, true},
        {"an older daemon that never answers the version",
         [](DaemonConfig& c) {
             c = DaemonConfig::olderDaemon();
             c.versionReply = sim::VersionReply::Silent;
         },
         5000, 0, true},
        // Once the system's send buffer is full it takes the next piece only
        // after a third of it drained: far longer than 4 s at this rate.
        {"a link slowed down by other traffic",
         [](DaemonConfig& c) {
             c.link.readRate = 100000;
             c.link.slowForMs = 6000;
         },
         5000000, 0, true},
        {"a link that stops carrying",
         [](DaemonConfig& c) { c.faults.stallAfterFileBytes = 64 * 1024; }, 5000000, 252, false},
    };
    QTemporaryDir dir;
    std::vector<std::unique_ptr<sim::Daemon>> daemons;
    std::vector<std::unique_ptr<test::ChildProgram>> runs;
    int host = 1;
    for (const auto& c : cases) {
        const QString file = dir.filePath(QStringLiteral("app%1.tgz").arg(host));
        {
            QFile f(file);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            ASSERT_TRUE(f.resize(c.size));
        }
        auto daemon = std::make_unique<sim::Daemon>();
        c.configure(daemon->config);
        daemon->config.keepContent = false;
        const QString address = QStringLiteral("127.23.1.%1").arg(host++);
        ASSERT_TRUE(daemon->listen(QHostAddress(address), 5142))
            << daemon->errorString().toStdString();
        daemons.push_back(std::move(daemon));
        test::RunOptions options;
        options.deadlineMs = 60000;
        runs.push_back(std::make_unique<test::ChildProgram>(
            QStringList{QStringLiteral("-n"), file, QStringLiteral("-ip"), address,
                        QStringLiteral("-silent")},
            dir.path(), options));
    }
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].what);
        const test::RunResult r = runs[i]->finish();
        EXPECT_TRUE(r.ended);
        EXPECT_EQ(r.exitCode, cases[i].exitCode) << r.errors.constData();
        const auto& files = daemons[i]->files();
        const bool whole =
            !files.isEmpty() && files.front().complete && files.front().received == cases[i].size;
        EXPECT_EQ(whole, cases[i].whole);
    }
}
