// The real program started as a child process, as a build job or the shell
// extension starts it: unattended runs end with their exit codes and never
// wait for a person.
#include "childprogram.h"
#include "daemon.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using tk::test::runProgram;
using tk::test::RunResult;

class CommandLine : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        file = dir.filePath(QStringLiteral("my app.tgz"));
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(10000, 'x'));
    }
    QTemporaryDir dir;
    QString file;
};

} // namespace

TEST_F(CommandLine, SilentNetworkRunSendsTheFileAndEndsWithZero)
{
    tk::sim::Daemon daemon;
    ASSERT_TRUE(daemon.listen(QHostAddress(QStringLiteral("127.70.0.1")), 5142));
    const RunResult r =
        runProgram({QStringLiteral("-n"), file, QStringLiteral("-ip"), QStringLiteral("127.70.0.1"),
                    QStringLiteral("-type"), QStringLiteral("f"), QStringLiteral("-silent")},
                   dir.path());
    EXPECT_EQ(r.exitCode, 0) << r.errors.constData();
    ASSERT_EQ(daemon.files().size(), 1);
    EXPECT_EQ(daemon.files()[0].announcement.name, QByteArray("my_app.tgz"));
    EXPECT_EQ(daemon.files()[0].announcement.type, QByteArray("F"));
    EXPECT_EQ(daemon.files()[0].content.size(), 10000);
}

// Each argument reaches the program whole: any name a Linux user can make is
// sent under its own name (only package names get "_" for blanks), and the
// quoted form typed for the Windows rules still works.
TEST_F(CommandLine, FileNamesArriveWholeWhateverTheyHold)
{
    tk::sim::Daemon daemon;
    ASSERT_TRUE(daemon.listen(QHostAddress(QStringLiteral("127.70.0.3")), 5142));
    struct Case {
        QString name;     // as stored in the folder
        QString argument; // as given after -n (empty: the full path)
        QByteArray announced;
    };
    const QList<Case> cases{
        {QStringLiteral("dq\"x.tgz"), {}, "dq\"x.tgz"},
        {QStringLiteral("a \"b\" c.tgz"), {}, "a_\"b\"_c.tgz"},
        {QStringLiteral("trail.tgz "), {}, "trail.tgz "},
        {QStringLiteral("back\\slash.tgz"), {}, "back\\slash.tgz"},
        {QStringLiteral("it's  two.tgz"), {}, "it's__two.tgz"},
        {QStringLiteral("a -ip b.bin"), {}, "a -ip b.bin"},
        {QStringLiteral("quoted.tgz"), QStringLiteral("\"%1\""), "quoted.tgz"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        const QString path = dir.filePath(c.name);
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(3000, 'y'));
        f.close();
        const QString argument = c.argument.isEmpty() ? path : c.argument.arg(path);
        const int before = int(daemon.files().size());
        const RunResult r = runProgram({QStringLiteral("-n"), argument, QStringLiteral("-ip"),
                                        QStringLiteral("127.70.0.3"), QStringLiteral("-silent")},
                                       dir.path());
        EXPECT_EQ(r.exitCode, 0) << r.errors.constData();
        ASSERT_EQ(int(daemon.files().size()), before + 1);
        EXPECT_EQ(daemon.files().back().announcement.name, c.announced);
        EXPECT_EQ(daemon.files().back().content.size(), 3000);
    }
}

TEST_F(CommandLine, SilentRunsEndWithTheirFailureCodes)
{
    const QString missing = dir.filePath(QStringLiteral("gone.tgz"));
    // A missing network file: -2 at once, before anything is shown.
    RunResult r =
        runProgram({QStringLiteral("-n"), missing, QStringLiteral("-silent")}, dir.path());
    EXPECT_EQ(r.exitCode, 254);
    EXPECT_FALSE(r.errors.contains("Invalid input file")) << r.errors.constData();

    // "-SILENT" is honoured, but the early check wants the exact case: the
    // message comes first (to standard error: nobody is there to answer it).
    r = runProgram({QStringLiteral("-n"), missing, QStringLiteral("-SILENT")}, dir.path());
    EXPECT_EQ(r.exitCode, 254);
    EXPECT_TRUE(r.errors.contains("Invalid input file in command line:")) << r.errors.constData();

    // A serial port that is not a number: -1.
    r = runProgram({QStringLiteral("-s"), file, QStringLiteral("-port"), QStringLiteral("x"),
                    QStringLiteral("-silent")},
                   dir.path());
    EXPECT_EQ(r.exitCode, 255);

    // Nobody listening: -4.
    r = runProgram({QStringLiteral("-n"), file, QStringLiteral("-ip"), QStringLiteral("127.70.0.2"),
                    QStringLiteral("-silent")},
                   dir.path());
    EXPECT_EQ(r.exitCode, 252);
}

TEST_F(CommandLine, SilentThatStartsNoDownloadEndsWithMinusOne)
{
    // "-silent" taken by no parser, or taken by one that then gave up: no
    // download is set going, so the run ends instead of idling hidden.
    const QString s = QStringLiteral("-silent");
    const QList<QStringList> lines = {
        {file, s},
        {QStringLiteral("-N"), file, s},
        {QStringLiteral("-n"), file, s, QStringLiteral("-ip"), QStringLiteral("-send")},
    };
    for (const QStringList& args : lines) {
        SCOPED_TRACE(args.join(QLatin1Char(' ')).toStdString());
        const RunResult r = runProgram(args, dir.path());
        EXPECT_TRUE(r.ended);
        EXPECT_EQ(r.exitCode, 255) << r.errors.constData();
        EXPECT_TRUE(r.output.isEmpty());
    }
}
