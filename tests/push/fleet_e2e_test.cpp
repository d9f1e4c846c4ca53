// The real tk650push against real simulator fleets: each simulator plays a
// small fleet with one behaviour, and the report, the exit status and the
// progress lines must tell every terminal's outcome as a single run would.
#include "pushfixtures.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSocketNotifier>
#include <QTimer>
#include <QUdpSocket>
#include <csignal>
#include <fcntl.h>
#include <map>
#include <memory>
#include <unistd.h>

using namespace tk;
using namespace tk::test;

namespace {

// How many file bytes a terminal got, where that is certain.
enum class Bytes { None, Whole, Some };

struct Expected {
    const char* outcome;
    int exitCode;
    Bytes bytes;
};

std::map<QString, QJsonObject> byAddress(const QJsonDocument& doc)
{
    std::map<QString, QJsonObject> out;
    for (const QJsonValue& t : doc.object().value("terminals").toArray())
        out[t.toObject().value("address").toString()] = t.toObject();
    return out;
}

void checkReport(const QJsonDocument& doc, const std::map<QString, Expected>& want, qint64 size)
{
    const auto got = byAddress(doc);
    EXPECT_EQ(got.size(), want.size());
    EXPECT_EQ(doc.object().value("terminals").toArray().size(), qsizetype(want.size()));
    for (const auto& [address, w] : want) {
        SCOPED_TRACE(address.toStdString());
        ASSERT_EQ(got.count(address), 1u);
        const QJsonObject t = got.at(address);
        EXPECT_EQ(t.value("outcome").toString(), w.outcome)
            << t.value("detail").toString().toStdString();
        EXPECT_EQ(t.value("exitCode").toInt(), w.exitCode);
        const qint64 bytes = qint64(t.value("bytes").toDouble());
        if (w.bytes == Bytes::Whole)
            EXPECT_EQ(bytes, size);
        else if (w.bytes == Bytes::None)
            EXPECT_EQ(bytes, 0);
        else
            EXPECT_TRUE(bytes >= size / 2 && bytes <= size) << bytes;
        EXPECT_GE(t.value("seconds").toDouble(), 0.0);
    }
}

// One simulator per behaviour, its terminals on consecutive addresses from base.
struct Behaviour {
    const char* base;
    int terminals;
    QStringList flags;
    Expected expected;
};

// Starts them; adds each terminal's address to `listed` and what it must end with to `want`.
void startFleet(const QList<Behaviour>& behaviours, std::vector<std::unique_ptr<Sim>>& sims,
                std::map<QString, Expected>& want, QStringList& listed)
{
    for (const Behaviour& b : behaviours) {
        sims.push_back(std::make_unique<Sim>(QStringList{"--quiet", "--terminals",
                                                         QString::number(b.terminals), "--listen",
                                                         QString(b.base) + ":5142"}
                                             << b.flags));
        ASSERT_TRUE(sims.back()->ready()) << b.base;
        for (int i = 0; i < b.terminals; ++i) {
            const QString address = QString(b.base).chopped(1) + QString::number(1 + i);
            want[address] = b.expected;
            listed << address;
        }
    }
}

} // namespace

TEST(FleetPushProgram, MixedFleetGivesEachTerminalItsOutcomeAndTheFailedCount)
{
    Fleet fx;
    // 127.90.N.x: one simulator per behaviour, nothing at all on 127.90.7.1.
    const QList<Behaviour> behaviours = {
        {"127.90.1.1", 2, {}, {"installed", 0, Bytes::Whole}},
        {"127.90.2.1", 2, {"--dld", "nospace"}, {"no-space", -5, Bytes::None}},
        {"127.90.3.1", 1, {"--silent"}, {"timed-out", -4, Bytes::None}},
        {"127.90.4.1",
         2,
         {"--strike", "close", "--strike-at", "FILE/2"},
         {"connection-lost", -6, Bytes::Some}},
        {"127.90.5.1", 2, {"--install", "fail"}, {"install-failed", -6, Bytes::Whole}},
        {"127.90.6.1", 2, {"--older"}, {"installed", 0, Bytes::Whole}},
        {"127.90.8.1", 1, {"--install", "silent"}, {"no-install-result", -4, Bytes::Whole}},
    };
    std::vector<std::unique_ptr<Sim>> sims;
    std::map<QString, Expected> want;
    QStringList listed;
    ASSERT_NO_FATAL_FAILURE(startFleet(behaviours, sims, want, listed));
    want["127.90.7.1"] = {"no-connection", -4, Bytes::None};
    // Half of them come from a list file with comments; one is named twice.
    {
        QFile list(fx.dir.filePath("shop.txt"));
        ASSERT_TRUE(list.open(QIODevice::WriteOnly));
        list.write("# the shop\n\n");
        for (qsizetype i = 0; i < listed.size() / 2; ++i)
            list.write(listed[i].toLatin1() + "  # till\n");
    }
    const QString report = fx.dir.filePath("report.json");
    QStringList args{"--report",   report,        fx.file, "@" + fx.dir.filePath("shop.txt"),
                     "127.90.7.1", listed.first()};
    args << listed.mid(listed.size() / 2);

    // The install wait follows TK650_INSTALL_TIMEOUT as in a single run.
    test::RunOptions run = pushProgram(60000);
    run.extraEnv.insert("TK650_INSTALL_TIMEOUT", "2");
    const test::RunResult r = test::runProgram(args, fx.dir.filePath("home"), run);
    ASSERT_TRUE(r.ended);
    // 2 no space, 1 silent, 2 lost, 2 failed installs, 1 no install result, 1 refused
    EXPECT_EQ(r.exitCode, 9);
    EXPECT_TRUE(r.output.isEmpty()) << r.output.toStdString();

    QFile reportFile(report);
    ASSERT_TRUE(reportFile.open(QIODevice::ReadOnly));
    const QJsonDocument doc = QJsonDocument::fromJson(reportFile.readAll());
    checkReport(doc, want, fx.size);
    EXPECT_EQ(doc.object().value("failed").toInt(), 9);
    EXPECT_EQ(doc.object().value("succeeded").toInt(), 4);

    // Not a terminal: plain lines, one per event, each terminal's stages and
    // its result, then the summary.
    EXPECT_FALSE(r.errors.contains('\x1b'));
    const QList<QByteArray> lines = r.errors.trimmed().split('\n');
    for (const auto& [address, w] : want) {
        const QByteArray prefix = address.toLatin1() + ": ";
        QList<QByteArray> stages;
        int results = 0;
        for (const QByteArray& line : lines) {
            if (!line.startsWith(prefix))
                continue;
            if (!line.contains("(exit ")) {
                // A stage is one event: never the same line twice in a row.
                EXPECT_TRUE(stages.isEmpty() || stages.last() != line) << line.toStdString();
                stages << line;
                continue;
            }
            ++results;
            EXPECT_TRUE(line.contains("(exit " + QByteArray::number(w.exitCode) + ","));
        }
        ASSERT_FALSE(stages.isEmpty()) << address.toStdString();
        EXPECT_EQ(stages.first(), prefix + "Connecting");
        EXPECT_EQ(results, 1) << address.toStdString();
    }
    EXPECT_EQ(lines.last(), "tk650push: 13 terminals: 4 succeeded, 9 failed");
}

// Options reach the terminals (a reboot), "--report -" is the only thing on
// standard output; a stop signal cancels what runs and still reports.
TEST(FleetPushProgram, ReportOnStandardOutputAndStopSignal)
{
    Fleet fx;
    Sim ok({"--quiet", "--terminals", "2", "--listen", "127.90.10.1:5142"});
    ASSERT_TRUE(ok.ready());
    const test::RunResult r =
        test::runProgram({"--reboot", "--report", "-", fx.file, "127.90.10.1", "127.90.10.2"},
                         fx.dir.filePath("home"), pushProgram(30000));
    ASSERT_TRUE(r.ended);
    EXPECT_EQ(r.exitCode, 0);
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(r.output, &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << r.output.toStdString();
    checkReport(doc,
                {{"127.90.10.1", {"rebooted", 2, Bytes::Whole}},
                 {"127.90.10.2", {"rebooted", 2, Bytes::Whole}}},
                fx.size);

    // A stop signal: what each terminal has decides its outcome. Three
    // silent terminals, one at a time: the first waits for its version, none
    // has the file. Two slow installers: both have the whole file and will
    // install it, which is neither success nor a plain cancel.
    const struct {
        const char* what;
        QStringList sim;
        QStringList terminals;
        QByteArray stopWhen; // in the simulator's log, or tk650push's progress lines
        int stopWhenCount;
        int status;
        Expected each;
        int delivered;
        QByteArray summary;
    } stops[] = {
        {"before the file",
         {"--terminals", "3", "--silent", "--listen", "127.90.11.1:5142"},
         {"127.90.11.1", "127.90.11.2", "127.90.11.3"},
         "<- VER:",
         1,
         3,
         {"cancelled", -6, Bytes::None},
         0,
         "tk650push: 3 terminals: 0 succeeded, 3 failed"},
        {"while installing",
         {"--terminals", "2", "--install-delay", "600000", "--listen", "127.90.12.1:5142"},
         {"127.90.12.1", "127.90.12.2"},
         ": Installing\n",
         2,
         2,
         {"delivered", -6, Bytes::Whole},
         2,
         "tk650push: 2 terminals: 0 succeeded, 0 failed, 2 delivered (install not awaited)"},
    };
    for (const auto& stop : stops) {
        SCOPED_TRACE(stop.what);
        Sim sim(stop.sim);
        ASSERT_TRUE(sim.ready());
        const QString report = fx.dir.filePath("stopped.json");
        QFile::remove(report);
        // One at a time before the file, all at once while installing.
        const QString jobs = stop.delivered > 0 ? QStringLiteral("8") : QStringLiteral("1");
        test::ChildProgram push(QStringList{"--jobs", jobs, "--report", report, fx.file} +
                                    stop.terminals,
                                fx.dir.filePath("home"), pushProgram(20000));
        ASSERT_TRUE(pumpEventsUntil(
            [&] {
                return sim.log().count(stop.stopWhen) + push.errorsSoFar().count(stop.stopWhen) >=
                       stop.stopWhenCount;
            },
            10000));
        ASSERT_EQ(::kill(pid_t(push.pid()), SIGTERM), 0);
        const test::RunResult stopped = push.finish();
        ASSERT_TRUE(stopped.ended);
        EXPECT_FALSE(stopped.killedBySignal);
        EXPECT_EQ(stopped.exitCode, stop.status);
        EXPECT_EQ(stopped.errors.trimmed().split('\n').last(), stop.summary);
        QFile file(report);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QJsonDocument stoppedDoc = QJsonDocument::fromJson(file.readAll());
        EXPECT_TRUE(stoppedDoc.object().value("cancelled").toBool());
        EXPECT_EQ(stoppedDoc.object().value("delivered").toInt(), stop.delivered);
        EXPECT_EQ(stoppedDoc.object().value("succeeded").toInt(), 0);
        std::map<QString, Expected> want;
        for (const QString& t : stop.terminals)
            want[t] = stop.each;
        checkReport(stoppedDoc, want, fx.size);
    }
}

// Terminals found by their broadcasts (the sender's address), junk and
// oversized datagrams left out, alongside one named on the command line.
TEST(FleetPushProgram, DiscoverPushesToEveryTerminalThatBroadcasts)
{
    Fleet fx;
    Sim fleet({"--quiet", "--terminals", "3", "--listen", "127.90.20.1:5142", "--broadcast",
               "127.90.20.200:5143", "--interval", "100"});
    ASSERT_TRUE(fleet.ready());
    Sim named({"--quiet", "--listen", "127.90.21.1:5142"});
    ASSERT_TRUE(named.ready());

    test::ChildProgram push({"--discover", "2", "--discover-address", "127.90.20.200:5143",
                             "--report", "-", fx.file, "127.90.21.1"},
                            fx.dir.filePath("home"), pushProgram(30000));
    // Datagrams that are no terminal's record, from addresses of their own.
    QUdpSocket junk;
    ASSERT_TRUE(junk.bind(QHostAddress("127.90.20.50"), 0));
    QUdpSocket huge;
    ASSERT_TRUE(huge.bind(QHostAddress("127.90.20.51"), 0));
    QByteArray big(8000, 'a');
    big[1] = '\x1c', big[3] = '\x1c', big[5] = '\x1c';
    QTimer sender;
    QObject::connect(&sender, &QTimer::timeout, [&] {
        junk.writeDatagram("no record here", QHostAddress("127.90.20.200"), 5143);
        huge.writeDatagram(big, QHostAddress("127.90.20.200"), 5143);
    });
    sender.start(100);
    const test::RunResult r = push.finish();
    ASSERT_TRUE(r.ended);
    EXPECT_EQ(r.exitCode, 0) << r.errors.toStdString();
    const QJsonDocument doc = QJsonDocument::fromJson(r.output);
    checkReport(doc,
                {{"127.90.21.1", {"installed", 0, Bytes::Whole}},
                 {"127.90.20.1", {"installed", 0, Bytes::Whole}},
                 {"127.90.20.2", {"installed", 0, Bytes::Whole}},
                 {"127.90.20.3", {"installed", 0, Bytes::Whole}}},
                fx.size);
    EXPECT_TRUE(r.errors.contains("3 terminals found by their broadcasts"));
}

// On a terminal the progress is a live table redrawn in place, the results
// scrolling above it; the outcome is the same.
TEST(FleetPushProgram, ProgressOnATerminalIsALiveTable)
{
    Fleet fx;
    Sim ok({"--quiet", "--terminals", "2", "--listen", "127.90.30.1:5142"});
    ASSERT_TRUE(ok.ready());
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    QByteArray screen;
    QSocketNotifier reader(master, QSocketNotifier::Read);
    QObject::connect(&reader, &QSocketNotifier::activated, [&] {
        char buffer[4096];
        for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;)
            screen.append(buffer, n);
    });
    QProcess push;
    push.setStandardErrorFile(QString::fromLatin1(::ptsname(master)));
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert("TERM", "xterm");
    push.setProcessEnvironment(env);
    push.start(qEnvironmentVariable("TK_BIN_DIR") + "/tk650push",
               {"--jobs", "1", fx.file, "127.90.30.1", "127.90.30.2"});
    ASSERT_TRUE(push.waitForStarted(5000));
    const bool ended = pumpEventsUntil([&] { return push.state() == QProcess::NotRunning; }, 20000);
    pumpEventsUntil([&] { return screen.contains("2 succeeded"); }, 2000);
    ::close(master);
    ASSERT_TRUE(ended);
    EXPECT_EQ(push.exitCode(), 0);
    EXPECT_TRUE(push.readAllStandardOutput().isEmpty());
    EXPECT_TRUE(screen.contains("\x1b[")) << screen.toStdString(); // redrawn in place
    EXPECT_TRUE(screen.contains("done, 0 failed, 1 running"));
    for (const char* address : {"127.90.30.1", "127.90.30.2"})
        EXPECT_TRUE(screen.contains(QByteArray(address) + ": Installed (exit 0"));
    EXPECT_TRUE(screen.contains("tk650push: 2 terminals: 2 succeeded, 0 failed"));
}

// Far and slow terminals: a daemon that answers late is still a current one,
// so its failed install is reported as a failure, and a link that keeps
// carrying the file is not failed by the piece limit.
TEST(FleetPushProgram, FarAndSlowTerminalsGetTheirTrueOutcome)
{
    Fleet fx(1221 * 4096); // about 5 MB
    // The system's send buffer takes about 4 MB at once; after that it takes
    // the next piece only once a third of it drained, at 100000 bytes/s far
    // longer than the piece limit.
    const QList<Behaviour> behaviours = {
        {"127.23.3.1",
         2,
         {"--reply-delay", "3000", "--install", "fail"},
         {"install-failed", -6, Bytes::Whole}},
        {"127.23.4.1", 2, {"--reply-delay", "3000"}, {"installed", 0, Bytes::Whole}},
        {"127.23.5.1",
         2,
         {"--read-rate", "100000", "--slow-for", "6000"},
         {"installed", 0, Bytes::Whole}},
        {"127.23.6.1",
         1,
         {"--ver", "silent", "--install", "fail"},
         {"install-failed", -6, Bytes::Whole}},
    };
    std::vector<std::unique_ptr<Sim>> sims;
    std::map<QString, Expected> want;
    QStringList listed;
    ASSERT_NO_FATAL_FAILURE(startFleet(behaviours, sims, want, listed));
    const QStringList args =
        QStringList{"--report", fx.dir.filePath("report.json"), fx.file} + listed;
    const test::RunResult r = test::runProgram(args, fx.dir.filePath("home"), pushProgram(60000));
    ASSERT_TRUE(r.ended);
    EXPECT_EQ(r.exitCode, 3) << r.errors.toStdString();
    QFile reportFile(fx.dir.filePath("report.json"));
    ASSERT_TRUE(reportFile.open(QIODevice::ReadOnly));
    checkReport(QJsonDocument::fromJson(reportFile.readAll()), want, fx.size);
}
