// Where the program keeps its settings files: beside it while its folder can
// be written, else in the per-user configuration folder (an installed program
// in /usr/bin); where it finds the files shipped with it.
#include "mainwin_support.h"
#include "platform/wait.h"
#include "ui/frmbcastlistener.h"

#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace tk;
using test::MainWindowRig;

namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Opens the listener on a loopback address of its own and closes it again,
// which saves the device list.
void openAndCloseListener(ProgramEnv env, int net)
{
    env.bcastBindAddress = QStringLiteral("127.76.%1.1").arg(net);
    frmmain w(env);
    w.show();
    w.chkListener->click();
    auto* l = w.findChild<frmBcastListener*>(QStringLiteral("frmBcastListener"));
    ASSERT_TRUE(l);
    ASSERT_TRUE(pumpEventsUntil([l] { return !l->isRefreshing(); }, 10000));
    l->close();
    ASSERT_TRUE(pumpEventsUntil(
        [&] { return !w.findChild<frmBcastListener*>(QStringLiteral("frmBcastListener")); }, 3000));
}

} // namespace

// Everything the program writes lands in one folder and is read back from it.
TEST(SettingsFilesPlace, WritableFolderKeepsThemBesideTheProgramElseThePerUserFolder)
{
    const QStringList names{"pdtpath.qsf", "savedsettings.qsf", "bcastlist.qsf"};
    for (const bool writable : {true, false}) {
        SCOPED_TRACE(writable ? "writable program folder" : "read-only program folder");
        MainWindowRig rig;
        rig.folder.writable = writable;
        QTemporaryDir elsewhere;
        const QString tool = elsewhere.filePath("pdt.exe");
        QFile(tool).open(QIODevice::WriteOnly);
        rig.folder.dialogs.files = {tool};
        rig.start(); // asks for the tool and saves its place

        auto& w = rig.restart();
        EXPECT_EQ(w.pdtPath, tool);
        QTest::mouseClick(w.optCom2, Qt::LeftButton);
        QTest::mouseClick(w.cmdSave, Qt::LeftButton);
        openAndCloseListener(rig.folder.env(), writable ? 1 : 2);

        for (const QString& name : names) {
            const QString kept = writable ? rig.folder.file(name) : rig.folder.userFile(name);
            const QString other = writable ? rig.folder.userFile(name) : rig.folder.file(name);
            EXPECT_TRUE(QFile::exists(kept)) << name.toStdString();
            EXPECT_FALSE(QFile::exists(other)) << name.toStdString();
        }
        EXPECT_EQ(readAll(writable ? rig.folder.file("savedsettings.qsf")
                                   : rig.folder.userFile("savedsettings.qsf")),
                  "COM2\r\n115200\r\nclose\r\n");
        auto& again = rig.restart();
        EXPECT_TRUE(again.optCom2->isChecked());
        EXPECT_EQ(again.pdtPath, tool);
    }
}

// With a read-only program folder the per-user copy comes first; the one
// beside the program is still read when there is no per-user copy.
TEST(SettingsFilesPlace, ReadOrder)
{
    struct Row {
        bool writable;
        bool besideProgram;
        bool perUser;
        int port; // selected at start-up: COM2 from beside the program, COM3 per user
    };
    for (const Row& row :
         {Row{true, true, true, 2}, Row{true, false, true, 1}, Row{false, true, true, 3},
          Row{false, true, false, 2}, Row{false, false, true, 3}}) {
        SCOPED_TRACE(testing::Message() << row.writable << row.besideProgram << row.perUser);
        MainWindowRig rig;
        rig.folder.writable = row.writable;
        if (row.besideProgram)
            rig.folder.write("savedsettings.qsf", "COM2\r\n9600\r\nclose\r\n");
        if (row.perUser) {
            QDir().mkpath(rig.folder.userDir());
            QFile f(rig.folder.userFile("savedsettings.qsf"));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write("COM3\r\n9600\r\nclose\r\n");
        }
        EXPECT_EQ(rig.withTool().start().port, row.port);
    }
}

// "usage.txt" and "pdt.exe" are looked for beside the program, then in the
// package's data folder.
TEST(ShippedFiles, FoundBesideTheProgramElseInTheDataFolder)
{
    for (const bool beside : {true, false}) {
        MainWindowRig rig;
        QTemporaryDir data;
        rig.folder.dataDir = data.path();
        const QString home = beside ? rig.folder.path() : data.path();
        for (const char* name : {"pdt.exe", "usage.txt"}) {
            QFile f(QDir(home).filePath(name));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(beside ? "beside" : "data");
        }
        auto& w = rig.start("-h");
        EXPECT_EQ(w.pdtPath, QDir(home).filePath("pdt.exe"));
        auto* usage = w.findChild<QPlainTextEdit*>(QStringLiteral("txtUsage"));
        ASSERT_TRUE(usage);
        EXPECT_EQ(usage->toPlainText().trimmed(), beside ? "beside" : "data");
    }
}

// The write probe answers for what a save will meet, also for root, whom
// permission bits do not stop.
TEST(SettingsFilesPlace, WriteProbe)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("plain-file");
    QFile(file).open(QIODevice::WriteOnly);
    struct Row {
        QString folder;
        bool writable;
    };
    std::vector<Row> rows{{dir.path(), true},
                          {dir.filePath("missing"), false},
                          {file, false},
                          {QStringLiteral("/proc/self"), false}}; // no new files, not even for root
    QDir(dir.path()).mkdir("locked");
    QFile::setPermissions(dir.filePath("locked"), QFile::ReadOwner | QFile::ExeOwner);
    if (::geteuid() != 0)
        rows.push_back({dir.filePath("locked"), false});
    for (const Row& row : rows) {
        EXPECT_EQ(canCreateFilesIn(row.folder), row.writable) << row.folder.toStdString();
    }
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size() == 1);
}
