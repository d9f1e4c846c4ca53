// Deployments through the real tk650push against simulated fleets: tries
// again only what may pass, skips terminals that already list the package,
// stops a staged rollout, and lists what broadcasts. Every simulator keeps a
// log of the files its terminals received, so a test can tell what was sent
// and how often.
#include "pushfixtures.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <map>
#include <memory>

using namespace tk;
using namespace tk::test;

namespace {

// A push run with short waits between tries.
RunResult push(const Fleet& fx, const QStringList& args, int deadlineMs = 60000)
{
    RunOptions run = pushProgram(deadlineMs);
    run.extraEnv.insert("TK650_RETRY_BASE_MS", "20");
    run.extraEnv.insert("TK650_INSTALL_TIMEOUT", "2");
    return runProgram(args, fx.dir.filePath("home"), run);
}

std::map<QString, QJsonObject> terminals(const QByteArray& json)
{
    std::map<QString, QJsonObject> out;
    const auto doc = QJsonDocument::fromJson(json);
    for (const QJsonValue& t : doc.object().value("terminals").toArray())
        out[t.toObject().value("address").toString()] = t.toObject();
    return out;
}

QStringList words(const QJsonValue& array)
{
    QStringList out;
    for (const QJsonValue& v : array.toArray())
        out << v.toString();
    return out;
}

// Per address, "complete" or "partial" for each file the terminal received.
std::map<QString, QStringList> received(const QString& log)
{
    std::map<QString, QStringList> out;
    QFile f(log);
    if (!f.open(QIODevice::ReadOnly))
        return out;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (const auto parts = line.split(' '); parts.size() == 4)
            out[QString::fromLatin1(parts[0])] << QString::fromLatin1(parts[3]);
    return out;
}

QStringList simArgs(const QString& base, int terminals, const QString& log)
{
    return {"--quiet",  "--terminals",  QString::number(terminals),
            "--listen", base + ":5142", "--received-log",
            log};
}

QString nth(const QString& base, int i) // base ends in ".1"
{
    return base.chopped(1) + QString::number(1 + i);
}

} // namespace

// A terminal is tried again only while nothing went out whole and the cause
// may pass; each try's outcome is reported, and no terminal gets a file it
// already received whole.
TEST(Deployment, RetriesOnlyWhatIsTransient)
{
    Fleet fx;
    const QString log = fx.dir.filePath("received.log");
    struct Row {
        const char* base;
        QStringList flags;
        const char* outcome;
        QStringList tries;
        QStringList files; // what the terminal received, in order
    };
    // A connection reset at once fails one try (the session opens a second
    // one itself, which is reset as well).
    const QList<Row> rows = {
        {"127.25.1.1",
         {"--refuse-first", "4"},
         "installed",
         {"connection-lost", "connection-lost", "installed"},
         {"complete"}},
        {"127.25.2.1",
         {"--refuse-first", "6"},
         "connection-lost",
         {"connection-lost", "connection-lost", "connection-lost"},
         {}},
        // The announcement answered by a reset, twice (the session announces
        // once more itself): nothing went out, so it is tried again.
        {"127.25.3.1",
         {"--drop-first", "2"},
         "installed",
         {"connection-lost", "installed"},
         {"complete"}},
        {"127.25.4.1", {"--dld", "nospace"}, "no-space", {"no-space"}, {}},
        {"127.25.5.1", {"--install", "fail"}, "install-failed", {"install-failed"}, {"complete"}},
        // The whole file went out, then the connection was reset: never sent again.
        {"127.25.6.1",
         {"--strike", "reset", "--strike-at", "FILE", "--strike-before-answer"},
         "connection-lost",
         {"connection-lost"},
         {"complete"}},
        {"127.25.7.1",
         {"--no-daemon", "--broadcast", "127.25.7.200"},
         "no-connection",
         {"no-connection", "no-connection", "no-connection"},
         {}},
    };
    std::vector<std::unique_ptr<Sim>> sims;
    QStringList addresses;
    for (const Row& r : rows) {
        sims.push_back(std::make_unique<Sim>(simArgs(r.base, 1, log) << r.flags));
        ASSERT_TRUE(sims.back()->ready()) << r.base;
        addresses << r.base;
    }
    const RunResult run =
        push(fx, QStringList{"--retry", "2", "--report", "-", fx.file} + addresses);
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, 5) << run.errors.toStdString();
    const auto report = terminals(run.output);
    const auto files = received(log);
    for (const Row& r : rows) {
        SCOPED_TRACE(r.base);
        ASSERT_EQ(report.count(r.base), 1u);
        const QJsonObject t = report.at(r.base);
        EXPECT_EQ(t.value("outcome").toString(), r.outcome);
        EXPECT_EQ(t.value("attempts").toInt(), r.tries.size());
        EXPECT_EQ(words(t.value("attemptOutcomes")), r.tries);
        EXPECT_EQ(files.count(r.base) ? files.at(r.base) : QStringList(), r.files);
    }
    EXPECT_FALSE(terminals(run.output).at("127.25.1.1").contains("record"));

    // A terminal waiting for its next try holds no job slot: with one job,
    // the next terminal runs during the wait.
    Sim flaky(simArgs("127.25.8.1", 1, log) << "--refuse-first"
                                            << "2");
    Sim steady(simArgs("127.25.8.2", 1, log));
    ASSERT_TRUE(flaky.ready() && steady.ready());
    const RunResult oneJob =
        push(fx, {"--jobs", "1", "--retry", "1", fx.file, "127.25.8.1", "127.25.8.2"});
    EXPECT_EQ(oneJob.exitCode, 0) << oneJob.errors.toStdString();
    const QByteArray& e = oneJob.errors;
    const qsizetype waiting = e.indexOf("127.25.8.1: Failed: connection lost, trying again in");
    const qsizetype steadyDone = e.indexOf("127.25.8.2: Installed");
    const qsizetype flakyAgain = e.indexOf("127.25.8.1: Connecting", waiting);
    ASSERT_GE(waiting, 0) << e.toStdString();
    EXPECT_LT(waiting, steadyDone);
    EXPECT_LT(steadyDone, flakyAgain);
}

// --package reads each terminal's record first: one that lists the package at
// that version gets nothing; one whose record cannot be read is pushed to as
// usual. Running the same deployment again sends nothing twice.
TEST(Deployment, PackageAlreadyListedIsNotSentAgain)
{
    Fleet fx;
    const QString log = fx.dir.filePath("received.log");
    const QString package = "app.bin;2.0";
    struct Row {
        const char* base;
        QStringList flags;
        const char* record;
        const char* first;  // outcome of the first run
        const char* second; // and of the same run again
    };
    const QList<Row> rows = {
        {"127.25.20.1", {"--holding", package}, "listed", "already-installed", "already-installed"},
        {"127.25.21.1",
         {"--packages", "app.bin;1.0,lib;2.1"},
         "not-listed",
         "installed",
         "already-installed"},
        // "WHO:" answered with no record: pushed both times, and the report says why.
        {"127.25.22.1", {"--who", "no record"}, "unread", "installed", "installed"},
        // The record comes from its broadcast ("WHO:" gives none).
        {"127.25.23.1",
         {"--who", "no record", "--holding", package, "--broadcast", "127.25.23.200:5143",
          "--interval", "50"},
         "listed",
         "already-installed",
         "already-installed"},
    };
    std::vector<std::unique_ptr<Sim>> sims;
    QStringList named;
    for (const Row& r : rows) {
        sims.push_back(
            std::make_unique<Sim>(simArgs(r.base, 1, log) << r.flags << "--installs" << package));
        ASSERT_TRUE(sims.back()->ready()) << r.base;
        if (QString(r.base) != "127.25.23.1")
            named << r.base;
    }
    const QStringList args =
        QStringList{"--package",          package,    "--discover", "1",    "--discover-address",
                    "127.25.23.200:5143", "--report", "-",          fx.file} +
        named;
    for (const bool again : {false, true}) {
        SCOPED_TRACE(again ? "second run" : "first run");
        const RunResult run = push(fx, args);
        ASSERT_TRUE(run.ended);
        EXPECT_EQ(run.exitCode, 0) << run.errors.toStdString();
        EXPECT_EQ(QJsonDocument::fromJson(run.output).object().value("package").toString(),
                  package);
        const auto report = terminals(run.output);
        for (const Row& r : rows) {
            SCOPED_TRACE(r.base);
            ASSERT_EQ(report.count(r.base), 1u);
            const QJsonObject t = report.at(r.base);
            const QString outcome = again ? r.second : r.first;
            EXPECT_EQ(t.value("outcome").toString(), outcome);
            EXPECT_EQ(t.value("exitCode").toInt(), 0);
            if (!again) {
                EXPECT_EQ(t.value("record").toString(), r.record);
            }
            if (outcome == "already-installed") {
                EXPECT_EQ(t.value("bytes").toDouble(), 0.0);
                EXPECT_EQ(t.value("attempts").toInt(), 0);
            }
        }
    }
    const auto files = received(log);
    EXPECT_EQ(files.count("127.25.20.1"), 0u);
    EXPECT_EQ(files.count("127.25.23.1"), 0u);
    EXPECT_EQ(files.at("127.25.21.1"), QStringList{"complete"});
    EXPECT_EQ(files.at("127.25.22.1"), QStringList({"complete", "complete"}));
}

// A staged rollout: the canary group first, the rest only when all of them
// succeeded; once more than K failed no terminal starts. Those left out are
// "not-attempted" and count as failed in the exit status.
TEST(Deployment, StagedRolloutStopsEarly)
{
    Fleet fx;
    struct Row {
        const char* name;
        QStringList pushFlags;
        int good; // the first `good` terminals install, the others answer NOSPACE
        int installed;
        int noSpace;
        int notAttempted;
    };
    const QList<Row> rows = {
        {"canary fails", {"--canary", "3"}, 0, 0, 3, 9},
        {"canary passes", {"--canary", "3"}, 12, 12, 0, 0},
        {"one job, more than 2 failed", {"--max-failures", "2", "--jobs", "1"}, 0, 0, 3, 9},
        {"canary passes, then bound",
         {"--canary", "4", "--max-failures", "1", "--jobs", "1"},
         4,
         4,
         2,
         6},
        {"no bound", {"--jobs", "4"}, 6, 6, 6, 0},
    };
    int n = 0;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const QString good = QString("127.25.%1.1").arg(30 + 2 * n);
        const QString bad = QString("127.25.%1.1").arg(31 + 2 * n);
        ++n;
        const QString log = fx.dir.filePath(QString("received-%1.log").arg(n));
        QStringList addresses;
        std::unique_ptr<Sim> goodSim, badSim;
        if (r.good > 0) {
            goodSim = std::make_unique<Sim>(simArgs(good, r.good, log));
            ASSERT_TRUE(goodSim->ready());
        }
        if (r.good < 12) {
            badSim = std::make_unique<Sim>(simArgs(bad, 12 - r.good, log) << "--dld"
                                                                          << "nospace");
            ASSERT_TRUE(badSim->ready());
        }
        for (int i = 0; i < r.good; ++i)
            addresses << nth(good, i);
        for (int i = 0; i < 12 - r.good; ++i)
            addresses << nth(bad, i);
        const RunResult run =
            push(fx, r.pushFlags + QStringList{"--report", "-", fx.file} + addresses);
        ASSERT_TRUE(run.ended);
        EXPECT_EQ(run.exitCode, r.noSpace + r.notAttempted) << run.errors.toStdString();
        std::map<QString, int> counts;
        const auto report = terminals(run.output);
        for (const auto& [address, t] : report)
            ++counts[t.value("outcome").toString()];
        EXPECT_EQ(counts["installed"], r.installed);
        EXPECT_EQ(counts["no-space"], r.noSpace);
        EXPECT_EQ(counts["not-attempted"], r.notAttempted);
        // Those left out are the last of the list, never tried.
        for (int i = 12 - r.notAttempted; i < 12; ++i) {
            const QJsonObject t = report.at(addresses[i]);
            EXPECT_EQ(t.value("outcome").toString(), "not-attempted") << i;
            EXPECT_EQ(t.value("attempts").toInt(), 0);
            EXPECT_EQ(t.value("exitCode").toInt(), -6);
        }
        EXPECT_EQ(QJsonDocument::fromJson(run.output).object().value("failed").toInt(),
                  r.noSpace + r.notAttempted);
    }
}

// --inventory lists every terminal heard, as JSON or CSV, and sends nothing.
TEST(Deployment, InventoryListsWhatBroadcastsAndSendsNothing)
{
    Fleet fx;
    const QString log = fx.dir.filePath("received.log");
    // Not quiet: every connection made to a terminal would be in its log.
    Sim fleet(simArgs("127.25.50.1", 2, log).mid(1) << "--broadcast"
                                                    << "127.25.50.200:5143"
                                                    << "--interval"
                                                    << "50"
                                                    << "--serial-number"
                                                    << "SN-7"
                                                    << "--model"
                                                    << "660"
                                                    << "--packages"
                                                    << "app;1.0,lib;2.1"
                                                    << "--keys"
                                                    << "=cmd(),0,1");
    ASSERT_TRUE(fleet.ready());
    struct Row {
        const char* format;
        const char* file;
    };
    for (const Row& row : {Row{"json", "inv.json"}, Row{"csv", "inv.csv"}}) {
        SCOPED_TRACE(row.format);
        const QString out = fx.dir.filePath(row.file);
        const RunResult run =
            push(fx, {"--discover", "1", "--discover-address", "127.25.50.200:5143", "--inventory",
                      out, "--inventory-format", row.format});
        ASSERT_TRUE(run.ended);
        EXPECT_EQ(run.exitCode, 0) << run.errors.toStdString();
        QFile f(out);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        if (QString(row.format) == "json") {
            const QJsonArray list = QJsonDocument::fromJson(bytes).array();
            ASSERT_EQ(list.size(), 2);
            std::map<QString, QJsonObject> byAddress;
            for (const QJsonValue& v : list)
                byAddress[v.toObject().value("address").toString()] = v.toObject();
            const QJsonObject t = byAddress.at("127.25.50.2");
            EXPECT_EQ(t.value("serial").toString(), "SN-7-2");
            EXPECT_EQ(t.value("model").toString(), "660");
            EXPECT_EQ(t.value("rootFileSystem").toString(), "R1.2");
            EXPECT_EQ(t.value("kernel").toString(), "2.6.12");
            EXPECT_EQ(words(t.value("packages")), QStringList({"app;1.0", "lib;2.1"}));
            EXPECT_EQ(words(t.value("keyStatus")), QStringList({"=cmd()", "0", "1"}));
        } else {
            const QList<QByteArray> lines = bytes.split('\n');
            EXPECT_EQ(lines[0], "address,serial,model,rootFileSystem,kernel,packages,keyStatus\r");
            // A cell a spreadsheet would run as a formula is made text.
            EXPECT_TRUE(bytes.contains(",app;1.0 lib;2.1,'=cmd() 0 1\r\n")) << bytes.toStdString();
            EXPECT_EQ(bytes.count("127.25.50."), 2);
        }
    }
    EXPECT_TRUE(received(log).empty());
    EXPECT_FALSE(fleet.log().contains("connection from"));
}
