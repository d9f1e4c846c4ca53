// Terminals that report 01.02.01 but end the connection right after an
// answer: the next command must go over a new connection and reach the
// terminal, for the program's unattended runs and for tk650push alike. Ten
// runs of each at once, each against its own simulated terminal, whose
// record shows every command it received.
#include "childprogram.h"
#include "daemon.h"

#include <QTemporaryDir>
#include <memory>
#include <vector>

using namespace tk;

namespace {

struct Closing {
    const char* name;
    const char* base; // 127.x.y. + run number
    void (*configure)(sim::DaemonConfig&);
};

const Closing kClosing[] = {
    {"closes after every answer", "127.78.1.",
     [](sim::DaemonConfig& c) { c.oneCommandPerConnection = true; }},
    {"closes after the version", "127.78.2.",
     [](sim::DaemonConfig& c) {
         c.faults.strike = sim::Strike::Close;
         c.faults.strikeAt = "VER:";
     }},
};

constexpr int kRuns = 10;

} // namespace

TEST(ClosingDaemon, EveryRequestedCommandArrivesAndEveryRunEndsWithZero)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath("app.tgz");
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(20000, 'k'));
    }
    struct Program {
        const char* name;
        QString path;
        QStringList args; // the address follows
    };
    const QString bin = qEnvironmentVariable("TK_BIN_DIR");
    const Program programs[] = {
        {"Tk650Downloader", bin + "/Tk650Downloader", {"-n", file, "-kill", "-silent", "-ip"}},
        {"tk650push", bin + "/tk650push", {"--kill-apps", file}},
    };
    for (const Program& p : programs) {
        for (const Closing& kind : kClosing) {
            SCOPED_TRACE(p.name);
            SCOPED_TRACE(kind.name);
            std::vector<std::unique_ptr<sim::Daemon>> daemons;
            std::vector<std::unique_ptr<test::ChildProgram>> runs;
            test::RunOptions options;
            options.program = p.path;
            options.deadlineMs = 60000;
            for (int i = 0; i < kRuns; ++i) {
                const QString address = QString::fromLatin1(kind.base) + QString::number(i + 1);
                daemons.push_back(std::make_unique<sim::Daemon>());
                kind.configure(daemons.back()->config);
                ASSERT_TRUE(daemons.back()->listen(QHostAddress(address), 5142))
                    << daemons.back()->errorString().toStdString();
                runs.push_back(std::make_unique<test::ChildProgram>(QStringList(p.args) << address,
                                                                    dir.filePath("home"), options));
            }
            for (int i = 0; i < kRuns; ++i) {
                SCOPED_TRACE(i);
                const test::RunResult r = runs[i]->finish();
                EXPECT_TRUE(r.ended);
                EXPECT_EQ(r.exitCode, 0) << r.errors.constData();
                QStringList got;
                for (const QByteArray& c : daemons[i]->commands())
                    got << QString::fromLatin1(c.left(4));
                EXPECT_TRUE(got.contains("VER:")) << got.join(' ').toStdString();
                EXPECT_TRUE(got.contains("ASP:")) << got.join(' ').toStdString();
                ASSERT_EQ(daemons[i]->files().size(), 1) << got.join(' ').toStdString();
                EXPECT_TRUE(daemons[i]->files()[0].complete);
            }
        }
    }
}
