// The command line of tk650push: what each good one asks for, and that each
// bad one ends the real program with 101 (102 for a report that cannot be
// written), one clear line and the help hint.
#include "../e2e/childprogram.h"
#include "pushargs.h"

#include <QTemporaryDir>
#include <functional>

using namespace tk;
using namespace tk::push;

namespace {

// A folder with a package, an executable script, a plain file and a shell
// script to push.
struct Fixture {
    Fixture()
    {
        write("app.tgz", "package bytes");
        write("tool", "#!/bin/sh\n");
        write("plain.txt", "text");
        write("setup.sh", "echo");
    }
    QTemporaryDir dir;
    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    void write(const char* name, const QByteArray& bytes) const
    {
        QFile f(path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
};

QByteArray manyAddresses(int n)
{
    QByteArray out;
    for (int i = 0; i < n; ++i)
        out += "t" + QByteArray::number(i) + "\n";
    return out;
}

} // namespace

TEST(PushArguments, GoodAndBadCommandLines)
{
    Fixture fx;
    fx.write("empty.bin", "");
    fx.write("list.txt", "# shop 12\n\n10.0.0.1\r\n  10.0.0.2   # back office\n010.0.0.1\n"
                         "Till-3.Shop.example\n#10.0.0.9\n");
    fx.write("badline.txt", "10.0.0.1\n# fine\n10.0.0.256\n");
    fx.write("escape.txt", "\x1b[2Jhost\n");
    fx.write("huge.txt", QByteArray(kMaxListBytes + 1, '#'));
    fx.write("many.txt", manyAddresses(kMaxTerminals + 1));
    const QString app = fx.path("app.tgz");
    const QString list = "@" + fx.path("list.txt");

    using Check = std::function<void(const PushArgs&)>;
    struct Case {
        QStringList args;
        QString error; // empty: the arguments are good
        Check check;
    };
    const QList<Case> cases = {
        {{app, "10.0.0.1"},
         {},
         [&](const PushArgs& a) {
             EXPECT_EQ(a.file, app);
             EXPECT_EQ(a.terminals, QStringList{"10.0.0.1"});
             EXPECT_EQ(a.port, 5142);
             EXPECT_EQ(a.jobs, 16);
             EXPECT_EQ(a.owner, "usr1");
             EXPECT_TRUE(a.permissions.isEmpty());
             EXPECT_FALSE(a.full || a.setTime || a.killApps || a.reboot || a.run);
             EXPECT_TRUE(a.report.isEmpty());
             EXPECT_EQ(a.discoverSeconds, 0);
         }},
        // Options anywhere, both value forms, "--" ending the options.
        {{"--full", app, "--set-time", "--kill-apps", "--reboot", "--permissions", "750",
          "--owner=root", "--port", "6000", "-j", "4", "10.0.0.1", "--report=r.json", "--",
          "10.0.0.2"},
         {},
         [](const PushArgs& a) {
             EXPECT_TRUE(a.full && a.setTime && a.killApps && a.reboot && !a.run);
             EXPECT_EQ(a.permissions, "750");
             EXPECT_EQ(a.owner, "root");
             EXPECT_EQ(a.port, 6000);
             EXPECT_EQ(a.jobs, 4);
             EXPECT_EQ(a.report, "r.json");
             EXPECT_EQ(a.terminals, (QStringList{"10.0.0.1", "10.0.0.2"}));
         }},
        // A list with comments, blank lines and CR LF; duplicates (also in
        // another written form) once, in the order first given.
        {{"--run", "-j1000", app, "10.0.0.2", list, "10.0.0.1"},
         {},
         [](const PushArgs& a) {
             EXPECT_TRUE(a.run);
             EXPECT_EQ(a.jobs, 1000);
             EXPECT_EQ(a.terminals, (QStringList{"10.0.0.2", "10.0.0.1", "till-3.shop.example"}));
         }},
        {{"--discover", "5", "--discover-address", "127.0.0.5:6001", app},
         {},
         [](const PushArgs& a) {
             EXPECT_EQ(a.discoverSeconds, 5);
             EXPECT_EQ(a.discoverAddress, QHostAddress("127.0.0.5"));
             EXPECT_EQ(a.discoverPort, 6001);
             EXPECT_TRUE(a.terminals.isEmpty());
         }},
        {{"--retry", "3", "--canary", "5", "--max-failures", "0", "--package", "app.tgz;1.2-3", app,
          "10.0.0.1"},
         {},
         [](const PushArgs& a) {
             const engine::FleetPolicy p = fleetPolicyFor(a);
             EXPECT_EQ(p.retries, 3);
             EXPECT_EQ(p.canary, 5);
             EXPECT_EQ(p.maxFailures, 0);
             EXPECT_EQ(p.package, "app.tgz;1.2-3");
         }},
        {{app, "10.0.0.1"},
         {},
         [](const PushArgs& a) {
             EXPECT_EQ(fleetPolicyFor(a).maxFailures, -1); // no bound unless given
             EXPECT_EQ(fleetPolicyFor(a).retries, 0);
         }},
        {{"--discover", "2", "--inventory", fx.path("inv.csv"), "--inventory-format", "CSV"},
         {},
         [&](const PushArgs& a) {
             EXPECT_EQ(a.inventory, fx.path("inv.csv"));
             EXPECT_EQ(a.inventoryFormat, InventoryFormat::Csv);
             EXPECT_TRUE(a.file.isEmpty() && a.terminals.isEmpty());
         }},
        {{"--report", "-", "--help"}, {}, [](const PushArgs& a) { EXPECT_TRUE(a.help); }},
        {{"--version"}, {}, [](const PushArgs& a) { EXPECT_TRUE(a.version); }},
        {{"-h"}, {}, [](const PushArgs& a) { EXPECT_TRUE(a.help); }},

        {{}, "no file to push given", {}},
        {{app}, "no terminal given", {}},
        {{"--bogus", app, "10.0.0.1"}, "unrecognised option '--bogus'", {}},
        {{"-x", app, "10.0.0.1"}, "unrecognised option '-x'", {}},
        {{app, "10.0.0.1", "--port"}, "option '--port' needs a value", {}},
        {{"--full=yes", app, "10.0.0.1"}, "option '--full' takes no value", {}},
        {{"--reboot", "--run", app, "10.0.0.1"}, "--reboot and --run cannot be used together", {}},
        {{"--port", "0", app, "10.0.0.1"}, "--port: '0' is not a port", {}},
        {{"--port", "65536", app, "10.0.0.1"}, "--port: '65536' is not a port", {}},
        {{"--jobs", "1001", app, "10.0.0.1"}, "--jobs: '1001' is not a number from 1 to 1000", {}},
        {{"--jobs", "-3", app, "10.0.0.1"}, "--jobs: '-3'", {}},
        {{"--permissions", "355", app, "10.0.0.1"}, "--permissions: '355'", {}},
        {{"--permissions", "7555", app, "10.0.0.1"}, "--permissions: '7555'", {}},
        {{"--owner", "usr9", app, "10.0.0.1"}, "--owner: 'usr9' is not root or usr1 to usr8", {}},
        {{"--discover", "0", app}, "--discover: '0'", {}},
        {{"--discover", "1", "--port", "65535", app}, "--discover: no broadcast port", {}},
        {{"--discover", "1", "--discover-address", "here", app}, "--discover-address: 'here'", {}},
        {{"--retry", "11", app, "10.0.0.1"}, "--retry: '11' is not a number from 0 to 10", {}},
        {{"--canary", "0", app, "10.0.0.1"}, "--canary: '0'", {}},
        {{"--max-failures", "-1", app, "10.0.0.1"}, "--max-failures: '-1'", {}},
        {{"--package", "app.tgz", app, "10.0.0.1"}, "--package: 'app.tgz' is not NAME;VERSION", {}},
        {{"--package", "a;b;c", app, "10.0.0.1"}, "--package: 'a;b;c'", {}},
        {{"--package", "a;\x1d", app, "10.0.0.1"}, "--package: 'a;", {}},
        {{"--inventory", fx.path("i.json")}, "--inventory needs --discover SECONDS", {}},
        {{"--discover", "1", "--inventory", fx.path("i.json"), app},
         "--inventory sends nothing",
         {}},
        {{"--discover", "1", "--inventory", fx.path("i.json"), "--inventory-format", "xml"},
         "--inventory-format: 'xml' is not json or csv",
         {}},
        {{"--discover", "1", "--inventory", fx.path("nofolder/i.json")},
         "--inventory: no folder",
         {}},
        // Sound arguments, but a report that cannot be written: 102.
        {{"--report", fx.path("nofolder/r.json"), app, "10.0.0.1"}, "--report: no folder", {}},
        {{"--report", fx.dir.path(), app, "10.0.0.1"}, "is a folder", {}},
        {{fx.path("missing.bin"), "10.0.0.1"}, "missing.bin': no such file", {}},
        {{fx.path("empty.bin"), "10.0.0.1"}, "empty.bin': the file is empty", {}},
        {{fx.dir.path(), "10.0.0.1"}, "': not an ordinary file", {}},
        {{app, "10.0.0"}, "'10.0.0' is not a terminal address", {}},
        {{app, "bad host"}, "'bad host' is not a terminal address", {}},
        {{app, "@" + fx.path("badline.txt")},
         "badline.txt:3: not a terminal address: '10.0.0.256'",
         {}},
        {{app, "@" + fx.path("escape.txt")},
         "escape.txt:1: not a terminal address: '?[2Jhost'",
         {}},
        {{app, "@" + fx.path("none.txt")}, "none.txt: cannot read the address list", {}},
        {{app, "@" + fx.path("huge.txt")}, "huge.txt: the address list is larger than 1 MiB", {}},
        {{app, "@" + fx.path("many.txt")},
         QStringLiteral("many.txt:%1: more than 100000 terminals").arg(kMaxTerminals + 1),
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').left(200).toStdString());
        const auto parsed = parsePushArguments(c.args);
        if (c.error.isEmpty()) {
            ASSERT_TRUE(std::holds_alternative<PushArgs>(parsed))
                << std::get<ArgError>(parsed).message.toStdString();
            c.check(std::get<PushArgs>(parsed));
            continue;
        }
        ASSERT_TRUE(std::holds_alternative<ArgError>(parsed));
        EXPECT_TRUE(std::get<ArgError>(parsed).message.contains(c.error))
            << std::get<ArgError>(parsed).message.toStdString();
        // The real program: 101, the message on one line, the hint, nothing on
        // standard output, and no terminal contacted.
        test::RunOptions run;
        run.program = qEnvironmentVariable("TK_BIN_DIR") + QStringLiteral("/tk650push");
        run.deadlineMs = 10000;
        const test::RunResult r = test::runProgram(c.args, fx.path("home"), run);
        ASSERT_TRUE(r.ended);
        const QString& message = std::get<ArgError>(parsed).message;
        const int status = message.contains(QLatin1String(": no folder")) ||
                                   message.contains(QLatin1String("is a folder"))
                               ? kExitCannotRun
                               : kExitBadArguments;
        EXPECT_EQ(std::get<ArgError>(parsed).status, status);
        EXPECT_EQ(r.exitCode, status);
        EXPECT_TRUE(r.output.isEmpty());
        const QList<QByteArray> lines = r.errors.trimmed().split('\n');
        ASSERT_EQ(lines.size(), 2) << r.errors.toStdString();
        EXPECT_TRUE(lines[0].startsWith("tk650push: "));
        EXPECT_TRUE(QString::fromUtf8(lines[0]).contains(c.error));
        EXPECT_TRUE(lines[1].contains("Try 'tk650push --help'"));
    }
}

TEST(PushArguments, SessionOptionsFollowTheFileAndTheInstallLimit)
{
    Fixture fx;
    struct Case {
        const char* file;
        QStringList options;
        const char* installLimit; // TK650_INSTALL_TIMEOUT, null: unset
        const char* permissions;
        int installLimitMs;
    };
    const Case cases[] = {
        {"plain.txt", {}, nullptr, "644", 600000},
        {"tool", {}, "30", "755", 30000},
        {"setup.sh", {}, "junk", "755", 600000},
        {"plain.txt", {"--permissions", "700"}, "0", "700", 600000},
        {"app.tgz", {"--permissions", "755"}, nullptr, "644", 600000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        if (c.installLimit)
            qputenv("TK650_INSTALL_TIMEOUT", c.installLimit);
        else
            qunsetenv("TK650_INSTALL_TIMEOUT");
        const auto parsed = parsePushArguments(QStringList(c.options) << fx.path(c.file) << "--full"
                                                                      << "10.0.0.1");
        ASSERT_TRUE(std::holds_alternative<PushArgs>(parsed));
        const engine::PushOptions o = pushOptionsFor(std::get<PushArgs>(parsed));
        EXPECT_EQ(o.permissions, c.permissions);
        EXPECT_EQ(o.installLimitMs, c.installLimitMs);
        EXPECT_EQ(o.filePath, fx.path(c.file));
        EXPECT_EQ(o.owner, "usr1");
        EXPECT_TRUE(o.full);
    }
    qunsetenv("TK650_INSTALL_TIMEOUT");
}
