// The real program from the outside: the help start, the shell extension's
// way of opening a file, unattended serial runs through the tool, and file
// names relative to the folder the program is started in. Each run uses a
// copy of the program in a folder of its own, so the test decides what lies
// beside it ("pdt.exe", "usage.txt").
#include "childprogram.h"
#include "daemon.h"
#include "serialterminal.h"

#include <QSettings>
#include <csignal>
#include <gtest/gtest.h>

using namespace tk::test;

namespace {

// Records its working folder and arguments (one per line) in "pdt-call.txt"
// beside itself, talks on both its outputs and exits with $PDT_EXIT (0 when
// unset).
const QByteArray kFakeTool = R"(#!/bin/sh
here=$(dirname "$0")
{ pwd; for a in "$@"; do printf '%s\n' "$a"; done; } > "$here/pdt-call.txt"
echo "tool output"
echo "tool error" >&2
exit "${PDT_EXIT:-0}"
)";

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// True once the process catches SIGTERM: the program installs its handler
// only after start-up has ended and its window is shown.
bool catchesTermination(qint64 pid)
{
    const QByteArray status = readAll(QStringLiteral("/proc/%1/status").arg(pid));
    for (const QByteArray& line : status.split('\n')) {
        if (line.startsWith("SigCgt:")) {
            bool ok = false;
            const qulonglong mask = line.mid(7).trimmed().toULongLong(&ok, 16);
            return ok && (mask & (1ULL << (SIGTERM - 1))) != 0;
        }
    }
    return false;
}

class ProgramRuns : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(program.valid());
        ASSERT_TRUE(QDir().mkpath(program.file(QStringLiteral("my files"))));
        file = program.file(QStringLiteral("my files/my app.tgz"));
        program.write(QStringLiteral("my files/my app.tgz"), QByteArray(5000, 'x'));
    }

    void putTool() { program.write(QStringLiteral("pdt.exe"), kFakeTool, true); }
    QString toolCall() const
    {
        return QString::fromLocal8Bit(readAll(program.file("pdt-call.txt")));
    }
    QVariant stored(const QString& key) const
    {
        return QSettings(program.storePath(), QSettings::IniFormat).value(key);
    }

    ProgramCopy program;
    QString file;
};

} // namespace

// ---- Help start -----------------------------------------------------------

TEST_F(ProgramRuns, EveryHelpFormWithoutTheUsageFileReportsItAndEndsWithZero)
{
    putTool(); // else the start asks for the tool first
    for (const char* form : {"-h", "/h", "/?", "-help", "--help"}) {
        SCOPED_TRACE(form);
        const RunResult r = program.run({QString::fromLatin1(form)});
        ASSERT_TRUE(r.ended);
        EXPECT_EQ(r.exitCode, 0);
        // Nobody can see a message box here: it is written to standard error.
        EXPECT_TRUE(r.errors.contains("Tk650Downloader: Error: Unable to open usage file. / " +
                                      QFile::encodeName(program.file(QStringLiteral("usage.txt")))))
            << r.errors.constData();
        EXPECT_TRUE(r.output.isEmpty());
    }
}

TEST_F(ProgramRuns, HelpWithoutDisplayPrintsTheUsageFileAndEndsWithZero)
{
    putTool();
    // Mixed line breaks and a last line without one: every line comes out
    // whole, ended by a line break.
    program.write(QStringLiteral("usage.txt"),
                  "Usage:\r\n  -n <file>  network\n\n  -s <file>\rlast");
    for (const char* form : {"-h", "/?", "--help"}) {
        SCOPED_TRACE(form);
        const RunResult r = program.run({QString::fromLatin1(form)});
        ASSERT_TRUE(r.ended);
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.output, QByteArray("Usage:\n  -n <file>  network\n\n  -s <file>\nlast\n"));
        EXPECT_TRUE(r.errors.isEmpty()) << r.errors.constData();
    }
}

TEST_F(ProgramRuns, ShippedUsageFileIsPrintedWhole)
{
    putTool();
    const QByteArray shipped = readAll(qEnvironmentVariable("TK_BIN_DIR") + "/usage.txt");
    ASSERT_FALSE(shipped.isEmpty()) << "usage.txt is not beside the built program";
    program.write(QStringLiteral("usage.txt"), shipped);
    const RunResult r = program.run({QStringLiteral("-help")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.output, QByteArray(shipped).replace("\r\n", "\n"));
    for (const char* code : {"255", "249"})
        EXPECT_TRUE(r.output.contains(code)) << code;
}

// ---- The shell extension's form: window open, nothing sent ------------------

// Starts an interactive run, waits until its window is up, lets the one-shot
// starter's time pass, and closes the window the way a service manager asks
// a program to end (SIGTERM), which saves the tab and folder like a user's close.
class ShellForm : public ProgramRuns {
protected:
    struct Closed {
        RunResult result;
        bool sentSomething = false;
    };

    Closed openAndClose(const QStringList& args, const std::function<bool()>& sentSomething)
    {
        Closed closed;
        ChildProgram child(args, program.home(), program.options());
        const bool up = tk::pumpEventsUntil(
            [&] { return !child.running() || catchesTermination(child.pid()); }, 20000);
        EXPECT_TRUE(up && child.running()) << "the window never came up";
        // The starter would fire 200 ms after start-up; nothing happening in
        // a generous multiple of that is the only sign of "nothing sent".
        closed.sentSomething = tk::pumpEventsUntil(sentSomething, 1000);
        if (child.running())
            ::kill(static_cast<pid_t>(child.pid()), SIGTERM);
        closed.result = child.finish();
        return closed;
    }
};

TEST_F(ShellForm, NetworkOpensOnTheNetworkTabWithTheFileAndSendsNothing)
{
    putTool();
    tk::sim::Daemon daemon;
    ASSERT_TRUE(daemon.listen(QHostAddress(QStringLiteral("127.71.0.1")), 5142));
    // The last address used fills the address boxes: a send would reach the daemon.
    QSettings(program.storePath(), QSettings::IniFormat)
        .setValue(QStringLiteral("lastIP"), QStringLiteral("127.71.0.1"));

    const Closed c =
        openAndClose({QStringLiteral("-n"), file}, [&] { return daemon.connectionCount() > 0; });
    EXPECT_FALSE(c.sentSomething);
    ASSERT_TRUE(c.result.ended);
    EXPECT_EQ(c.result.exitCode, 0);
    EXPECT_FALSE(c.result.errors.contains("Invalid input file")) << c.result.errors.constData();
    EXPECT_EQ(stored(QStringLiteral("lastTab")).toString(), QStringLiteral("1"));
    EXPECT_EQ(stored(QStringLiteral("lastDir")).toString(),
              program.file(QStringLiteral("my files/")));
}

TEST_F(ShellForm, SerialOpensOnTheSerialTabWithTheFileAndStartsNoTool)
{
    putTool();
    QSettings(program.storePath(), QSettings::IniFormat)
        .setValue(QStringLiteral("lastTab"), QStringLiteral("1"));
    const Closed c = openAndClose({QStringLiteral("-s"), file},
                                  [&] { return QFile::exists(program.file("pdt-call.txt")); });
    EXPECT_FALSE(c.sentSomething);
    ASSERT_TRUE(c.result.ended);
    EXPECT_EQ(c.result.exitCode, 0);
    EXPECT_EQ(stored(QStringLiteral("lastTab")).toString(), QStringLiteral("0"));
    EXPECT_EQ(stored(QStringLiteral("lastDir")).toString(),
              program.file(QStringLiteral("my files/")));
}

TEST_F(ShellForm, MissingNetworkFileIsReportedAndTheWindowStillOpens)
{
    putTool();
    const QString missing = program.file(QStringLiteral("my files/gone.tgz"));
    const Closed c = openAndClose({QStringLiteral("-n"), missing}, [] { return false; });
    ASSERT_TRUE(c.result.ended);
    EXPECT_EQ(c.result.exitCode, 0);
    // The raw command line as rebuilt from the arguments: the name with its
    // blank is quoted, as the shell extension passes it.
    EXPECT_TRUE(c.result.errors.contains("Invalid input file in command line: / -n \"" +
                                         QFile::encodeName(missing) + "\""))
        << c.result.errors.constData();
    EXPECT_EQ(stored(QStringLiteral("lastTab")).toString(), QStringLiteral("1"));
}

// A launcher's action started with no file (a dock's "-n"): the window opens
// on its tab with an empty file box and no message.
TEST_F(ShellForm, ModeWithoutAFileOpensItsTabWithoutAMessage)
{
    putTool();
    const Closed c = openAndClose({QStringLiteral("-n")}, [] { return false; });
    ASSERT_TRUE(c.result.ended);
    EXPECT_EQ(c.result.exitCode, 0);
    EXPECT_TRUE(c.result.errors.isEmpty()) << c.result.errors.constData();
    EXPECT_EQ(stored(QStringLiteral("lastTab")).toString(), QStringLiteral("1"));
}

// A run that was asked to send is no window a person closes: SIGTERM keeps
// its default, so a killed build job never ends as a success.
TEST_F(ProgramRuns, UnattendedRunKilledBySigtermDoesNotEndWithZero)
{
    putTool();
    tk::sim::Daemon daemon;
    daemon.config.dldReply = tk::sim::Reply::Silent;
    ASSERT_TRUE(daemon.listen(QHostAddress(QStringLiteral("127.71.0.3")), 5142));
    ChildProgram child({QStringLiteral("-n"), file, QStringLiteral("-ip"),
                        QStringLiteral("127.71.0.3"), QStringLiteral("-silent")},
                       program.home(), program.options());
    ASSERT_TRUE(tk::pumpEventsUntil([&] { return daemon.commands().size() >= 2; }, 20000));
    ::kill(static_cast<pid_t>(child.pid()), SIGTERM);
    const RunResult r = child.finish();
    ASSERT_TRUE(r.ended);
    EXPECT_TRUE(r.killedBySignal) << r.exitCode;
}

// ---- Unattended serial runs through the tool --------------------------------

class SilentSerial : public ProgramRuns {
protected:
    void SetUp() override
    {
        ProgramRuns::SetUp();
        ASSERT_TRUE(terminal.createPseudoTerminal()) << terminal.errorString().toStdString();
        program.options().extraEnv.insert(QStringLiteral("TK650_COM3"), terminal.devicePath());
    }

    RunResult runWithToolExit(int toolExit, const QStringList& extra = {})
    {
        program.options().extraEnv.insert(QStringLiteral("PDT_EXIT"), QString::number(toolExit));
        return program.run(
            QStringList{QStringLiteral("-s"), file, QStringLiteral("-port"), QStringLiteral("3")} +
            extra + QStringList{QStringLiteral("-silent")});
    }

    tk::sim::SerialTerminal terminal;
};

TEST_F(SilentSerial, ToolRunsInTheFilesFolderWithItsCommandLine)
{
    putTool();
    const RunResult r = runWithToolExit(0, {QStringLiteral("-baud"), QStringLiteral("38400"),
                                            QStringLiteral("-timeout"), QStringLiteral("9")});
    EXPECT_EQ(r.exitCode, 0) << r.errors.constData();
    EXPECT_EQ(toolCall(), program.file(QStringLiteral("my files")) +
                              QStringLiteral("\n-w9\n-p3\n-b38400\n-imy app.tgz\n"));
    EXPECT_TRUE(r.output.isEmpty()) << r.output.constData(); // never the program's output

    // Without -timeout the tool still gets a wait, the default 4.
    const RunResult again = runWithToolExit(0);
    EXPECT_EQ(again.exitCode, 0);
    EXPECT_TRUE(toolCall().contains(QStringLiteral("\n-w4\n-p3\n-b115200\n")));
}

TEST_F(SilentSerial, ToolExitCodesBecomeTheProgramsExitCodes)
{
    putTool();
    // The tool's code, and the program's as a POSIX shell sees it.
    const std::pair<int, int> table[] = {{0, 0},   {1, 255}, {2, 251},  {3, 249},
                                         {7, 254}, {9, 250}, {10, 252}, {11, 250}};
    for (const auto& [tool, expected] : table) {
        SCOPED_TRACE(tool);
        QFile::remove(program.file("pdt-call.txt"));
        const RunResult r = runWithToolExit(tool);
        EXPECT_EQ(r.exitCode, expected) << r.errors.constData();
        EXPECT_FALSE(toolCall().isEmpty());
    }
}

TEST_F(SilentSerial, ToolThatCannotRunEndsWithMinusSix)
{
    // No tool at all: the unattended start does not ask for it.
    RunResult r = runWithToolExit(0);
    EXPECT_EQ(r.exitCode, 250) << r.errors.constData();

    // A "pdt.exe" that is no program.
    program.write(QStringLiteral("pdt.exe"), kFakeTool, false);
    r = runWithToolExit(0);
    EXPECT_EQ(r.exitCode, 250) << r.errors.constData();
    EXPECT_TRUE(toolCall().isEmpty());
}

TEST_F(SilentSerial, PortFailuresEndBeforeTheTool)
{
    putTool();
    // A port with no device behind it: -7.
    program.options().extraEnv.insert(QStringLiteral("TK650_COM3"),
                                      program.file(QStringLiteral("no-such-tty")));
    RunResult r = runWithToolExit(0);
    EXPECT_EQ(r.exitCode, 249) << r.errors.constData();

    // A regular file is no serial port: another failure, -6.
    program.options().extraEnv.insert(QStringLiteral("TK650_COM3"), file);
    r = runWithToolExit(0);
    EXPECT_EQ(r.exitCode, 250) << r.errors.constData();

    // A missing file is found before the port is tried: -2.
    program.options().extraEnv.insert(QStringLiteral("TK650_COM3"), terminal.devicePath());
    r = program.run({QStringLiteral("-s"), program.file(QStringLiteral("gone.tgz")),
                     QStringLiteral("-port"), QStringLiteral("3"), QStringLiteral("-silent")});
    EXPECT_EQ(r.exitCode, 254) << r.errors.constData();
    EXPECT_TRUE(toolCall().isEmpty());
}

// ---- Relative file names ----------------------------------------------------

TEST_F(ProgramRuns, RelativeFileNamesAreTakenFromTheStartingFolder)
{
    putTool();
    program.options().workingDir = program.file(QStringLiteral("my files"));

    tk::sim::Daemon daemon;
    ASSERT_TRUE(daemon.listen(QHostAddress(QStringLiteral("127.71.0.2")), 5142));
    RunResult r =
        program.run({QStringLiteral("-n"), QStringLiteral("my app.tgz"), QStringLiteral("-ip"),
                     QStringLiteral("127.71.0.2"), QStringLiteral("-silent")});
    EXPECT_EQ(r.exitCode, 0) << r.errors.constData();
    ASSERT_EQ(daemon.files().size(), 1);
    EXPECT_EQ(daemon.files()[0].announcement.name, QByteArray("my_app.tgz"));
    EXPECT_EQ(daemon.files()[0].received, 5000);

    // Serial: the tool runs in the file's folder, here reached through "..".
    tk::sim::SerialTerminal terminal;
    ASSERT_TRUE(terminal.createPseudoTerminal());
    program.options().extraEnv.insert(QStringLiteral("TK650_COM3"), terminal.devicePath());
    program.options().workingDir = program.file(QStringLiteral("home"));
    QDir().mkpath(program.options().workingDir);
    r = program.run({QStringLiteral("-s"), QStringLiteral("../my files/my app.tgz"),
                     QStringLiteral("-port"), QStringLiteral("3"), QStringLiteral("-silent")});
    EXPECT_EQ(r.exitCode, 0) << r.errors.constData();
    EXPECT_TRUE(toolCall().startsWith(program.file(QStringLiteral("my files")) + "\n"))
        << toolCall().toStdString();
    EXPECT_TRUE(toolCall().endsWith(QStringLiteral("\n-imy app.tgz\n")));
}

// ---- KSYN only --------------------------------------------------------------

TEST_F(SilentSerial, KsynOnlyEndsWithTheTerminalsAnswer)
{
    putTool();
    // Acknowledged: 0, with the frame naming the file, Full, restart device.
    RunResult r = program.run({QStringLiteral("-k"), file, QStringLiteral("-port"),
                               QStringLiteral("3"), QStringLiteral("-type"), QStringLiteral("f"),
                               QStringLiteral("-restart"), QStringLiteral("2")});
    EXPECT_EQ(r.exitCode, 0) << r.errors.constData();
    ASSERT_EQ(terminal.frames().size(), 1);
    EXPECT_TRUE(terminal.frames()[0].valid);
    EXPECT_EQ(terminal.frames()[0].fileName, QByteArray("my_app.tgz"));
    EXPECT_EQ(terminal.frames()[0].type, QByteArray("F"));
    EXPECT_EQ(terminal.frames()[0].restart, QByteArray("2"));
    EXPECT_TRUE(toolCall().isEmpty()); // KSYN only never starts the tool

    // No answer within the one-second wait: -4.
    terminal.config.validAnswer = tk::sim::KsynAnswer::Silent;
    r = program.run({QStringLiteral("-k"), file, QStringLiteral("-port"), QStringLiteral("3"),
                     QStringLiteral("-timeout"), QStringLiteral("1")});
    EXPECT_EQ(r.exitCode, 252) << r.errors.constData();
    EXPECT_EQ(terminal.frames().size(), 2);
}

TEST_F(SilentSerial, KsynOnlyWithoutToolOrDisplayStillSendsTheCommand)
{
    // Nobody can be asked for the missing tool, and KSYN alone needs none: the
    // run goes on and ends with the terminal's answer, not with a silent 0.
    terminal.config.validAnswer = tk::sim::KsynAnswer::Silent;
    const RunResult r =
        program.run({QStringLiteral("-k"), file, QStringLiteral("-port"), QStringLiteral("3"),
                     QStringLiteral("-timeout"), QStringLiteral("1")});
    EXPECT_EQ(r.exitCode, 252) << r.errors.constData();
    EXPECT_EQ(terminal.frames().size(), 1);
    EXPECT_FALSE(r.errors.contains("pdt.exe")) << r.errors.constData();
}

TEST_F(SilentSerial, KsynOnlyArgumentFailures)
{
    putTool();
    // "-port" right after the mode is no switch: the whole text is the file
    // name, which names nothing.
    RunResult r = program.run({QStringLiteral("-k"), QStringLiteral("-port"), QStringLiteral("3")});
    EXPECT_EQ(r.exitCode, 254) << r.errors.constData();
    // A port that is not a number.
    r = program.run({QStringLiteral("-k"), file, QStringLiteral("-port"), QStringLiteral("x")});
    EXPECT_EQ(r.exitCode, 255) << r.errors.constData();
    // A port with no device.
    program.options().extraEnv.insert(QStringLiteral("TK650_COM4"),
                                      program.file(QStringLiteral("no-such-tty")));
    r = program.run({QStringLiteral("-k"), file, QStringLiteral("-port"), QStringLiteral("4")});
    EXPECT_EQ(r.exitCode, 249) << r.errors.constData();
    EXPECT_TRUE(terminal.frames().isEmpty());
}

// The lock files a serial port may have left for the pseudo-terminal, in
// every folder such locks are made in ("LCK.." + the device below /dev, "/"
// as "_").
QStringList locksOf(const QString& device)
{
    QString name = QFileInfo(device).canonicalFilePath();
    name.remove(0, name.startsWith(QStringLiteral("/dev/")) ? 5 : 0);
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    QStringList found;
    for (const char* folder : {"/var/lock", "/run/lock", "/etc/locks", "/var/spool/locks",
                               "/var/spool/uucp", "/tmp", "/var/tmp", "/var/lock/lockdev"}) {
        const QString path = QString::fromLatin1(folder) + QStringLiteral("/LCK..") + name;
        if (QFile::exists(path))
            found << path + QStringLiteral(": ") + QString::fromLatin1(readAll(path).simplified());
    }
    return found;
}

// However an unattended KSYN run ends (acknowledged, or no answer with the
// port still open), its port is closed first and no lock file is left.
TEST_F(SilentSerial, UnattendedKsynRunsLeaveNoLockFile)
{
    putTool();
    // A pseudo-terminal's name is used again once freed: a lock an earlier
    // program left for this name names a process that is gone.
    const auto removeLocks = [this] {
        for (const QString& lock : locksOf(terminal.devicePath()))
            QFile::remove(lock.section(QStringLiteral(": "), 0, 0));
    };
    removeLocks();
    ASSERT_EQ(locksOf(terminal.devicePath()), QStringList());
    struct Case {
        const char* what;
        tk::sim::KsynAnswer answer;
        QStringList args;
        int exitCode;
    };
    const QStringList k{QStringLiteral("-k"), file, QStringLiteral("-port"), QStringLiteral("3")};
    const QStringList s{QStringLiteral("-s"), file, QStringLiteral("-port"), QStringLiteral("3"),
                        QStringLiteral("-ksyn")};
    const QStringList oneSecond{QStringLiteral("-timeout"), QStringLiteral("1")};
    const Case cases[] = {
        {"KSYN only, acknowledged", tk::sim::KsynAnswer::Ack, k, 0},
        {"KSYN only, no answer", tk::sim::KsynAnswer::Silent, k + oneSecond, 252},
        {"before the tool, no answer", tk::sim::KsynAnswer::Silent,
         s + oneSecond + QStringList{QStringLiteral("-silent")}, 252},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        terminal.config.validAnswer = c.answer;
        const RunResult r = program.run(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.errors.constData();
        EXPECT_EQ(locksOf(terminal.devicePath()), QStringList());
        removeLocks();
    }
}

TEST_F(SilentSerial, KsynBeforeTheToolInAnUnattendedSerialRun)
{
    putTool();
    RunResult r = runWithToolExit(0, {QStringLiteral("-ksyn")});
    EXPECT_EQ(r.exitCode, 0) << r.errors.constData();
    EXPECT_EQ(terminal.frames().size(), 1);
    EXPECT_FALSE(toolCall().isEmpty());

    // Not acknowledged: the tool is never started.
    QFile::remove(program.file("pdt-call.txt"));
    terminal.config.validAnswer = tk::sim::KsynAnswer::Silent;
    r = runWithToolExit(0,
                        {QStringLiteral("-ksyn"), QStringLiteral("-timeout"), QStringLiteral("1")});
    EXPECT_EQ(r.exitCode, 252) << r.errors.constData();
    EXPECT_TRUE(toolCall().isEmpty());
}
