// Unattended network downloads of the real program, as a build job runs them:
// every outcome ends the process with its exit code, shows nothing and writes
// nothing to standard output.
#include "childprogram.h"
#include "daemon.h"

#include <QTemporaryDir>
#include <functional>

using namespace tk;

namespace {

class NetworkExitCodes : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        file = dir.filePath(QStringLiteral("app.tgz"));
        write(file, 20000);
    }

    static void write(const QString& path, qint64 size)
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(f.resize(size));
    }

    struct Case {
        const char* what;
        std::function<void(sim::DaemonConfig&)> configure;
        QStringList extraArgs;
        int exitCode; // as the parent sees it: -1 is 255
    };

    // Each case gets a fresh daemon on its own address, the terminal's port.
    void runCases(const char* firstAddress, const std::vector<Case>& cases)
    {
        QHostAddress address(QString::fromLatin1(firstAddress));
        for (const Case& c : cases) {
            SCOPED_TRACE(c.what);
            sim::Daemon daemon;
            c.configure(daemon.config);
            ASSERT_TRUE(daemon.listen(address, 5142)) << daemon.errorString().toStdString();
            const test::RunResult r =
                test::runProgram(QStringList{QStringLiteral("-n"), path, QStringLiteral("-ip"),
                                             address.toString(), QStringLiteral("-silent")} +
                                     c.extraArgs,
                                 dir.path());
            EXPECT_TRUE(r.ended);
            EXPECT_EQ(r.exitCode, c.exitCode) << r.errors.constData();
            EXPECT_TRUE(r.output.isEmpty()) << r.output.constData();
            address = QHostAddress(address.toIPv4Address() + 1);
        }
    }

    QTemporaryDir dir;
    QString file;
    QString path; // the file sent
};

} // namespace

TEST_F(NetworkExitCodes, OutcomesReportedByTheTerminal)
{
    path = file;
    runCases(
        "127.72.0.1",
        {
            {"application started", [](auto&) {}, {QStringLiteral("-run")}, 1},
            {"rebooted", [](auto&) {}, {QStringLiteral("-reboot")}, 2},
            {"closed while installing",
             [](auto& c) { c.installResult = sim::InstallResult::Close; },
             {},
             2},
            {"announcement refused", [](auto& c) { c.dldReply = sim::Reply::BadArgs; }, {}, 255},
            {"no space", [](auto& c) { c.dldReply = sim::Reply::NoSpace; }, {}, 251},
            {"install failed",
             [](auto& c) { c.installResult = sim::InstallResult::Failed; },
             {},
             250},
        });
}

TEST_F(NetworkExitCodes, LostConnectionsAndBadAddresses)
{
    // Big enough that the terminal's stall fills the buffers on both sides.
    path = dir.filePath(QStringLiteral("big.tgz"));
    write(path, 64 * 1024 * 1024);
    runCases("127.72.1.1", {
                               {"no answer to the announcement",
                                [](auto& c) { c.dldReply = sim::Reply::Silent; },
                                {},
                                252},
                               {"terminal stops reading",
                                [](auto& c) { c.faults.stallAfterFileBytes = 64 * 1024; },
                                {},
                                252},
                               {"connection dropped while sending",
                                [](auto& c) { c.faults.dropAfterFileBytes = 64 * 1024; },
                                {},
                                250},
                           });

    // An address with an empty part is no destination.
    const test::RunResult r =
        test::runProgram({QStringLiteral("-n"), path, QStringLiteral("-ip"),
                          QStringLiteral("127..1.9"), QStringLiteral("-silent")},
                         dir.path());
    EXPECT_EQ(r.exitCode, 253) << r.errors.constData();
}
