// Start-up: locating the tool, applying the saved serial choice, handing the
// command line on, restoring the last tab and folder.
#include "mainwin_support.h"
#include "ui/onelinelist.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <gtest/gtest.h>

using namespace tk;
using test::MainWindowRig;

namespace {

// A pdt.exe outside the program folder, as a user would pick it.
struct ToolElsewhere {
    QTemporaryDir dir;
    QString path(const QString& name = QStringLiteral("pdt.exe")) const
    {
        const QString p = dir.filePath(name);
        QFile f(p);
        f.open(QIODevice::WriteOnly);
        return p;
    }
};

int checkedBaudButtons(const frmmain& w)
{
    return w.b115200->isChecked() + w.b19200->isChecked() + w.b9600->isChecked() +
           w.bOther->isChecked();
}

} // namespace

TEST(StartupTool, ToolBesideTheProgramWinsWithoutReadingTheSavedPath)
{
    MainWindowRig rig;
    rig.withTool();
    ToolElsewhere other;
    const QByteArray saved = other.path().toLocal8Bit() + "\r\n";
    rig.folder.write("pdtpath.qsf", saved);
    auto& w = rig.start();
    EXPECT_TRUE(rig.folder.dialogs.shown.isEmpty());
    EXPECT_EQ(QFileInfo(w.pdtPath).canonicalFilePath(),
              QFileInfo(rig.folder.file("pdt.exe")).canonicalFilePath());
    EXPECT_EQ(rig.folder.read("pdtpath.qsf"), saved);
}

TEST(StartupTool, SavedPathIsUsedWhenItNamesAnExistingPdtExe)
{
    MainWindowRig rig;
    ToolElsewhere other;
    const QString tool = other.path();
    rig.folder.write("pdtpath.qsf", "  " + tool.toLocal8Bit() + "\r\n");
    auto& w = rig.start("-s x.tgz");
    EXPECT_TRUE(rig.folder.dialogs.shown.isEmpty());
    EXPECT_EQ(w.pdtPath, tool);
    EXPECT_EQ(w.serialArgsGiven, " x.tgz");
}

TEST(StartupTool, SavedPathThatIsNotExactlyPdtExeCountsAsNotFound)
{
    ToolElsewhere other;
    const QString wrong[] = {other.path("PDT.EXE"), other.path("mypdt.exe"), other.dir.path()};
    for (const auto& path : wrong) {
        MainWindowRig rig;
        rig.folder.write("pdtpath.qsf", path.toLocal8Bit() + "\r\n");
        rig.folder.dialogs.answers = {MsgAnswer::Cancel};
        rig.start();
        ASSERT_EQ(rig.folder.dialogs.shown.size(), 1) << path.toStdString();
        EXPECT_EQ(rig.folder.dialogs.shown[0].title, "Could Not Find pdt.exe");
    }
}

TEST(StartupTool, SavedPathWithACommaIsCutThereAndNotFound)
{
    QTemporaryDir dir;
    QDir(dir.path()).mkdir("a,b");
    const QString tool = dir.filePath("a,b/pdt.exe");
    QFile(tool).open(QIODevice::WriteOnly);
    ASSERT_TRUE(QFileInfo(tool).isFile());

    MainWindowRig rig;
    rig.folder.write("pdtpath.qsf", tool.toLocal8Bit() + "\r\n");
    rig.folder.dialogs.answers = {MsgAnswer::Cancel};
    rig.start();
    ASSERT_EQ(rig.folder.dialogs.shown.size(), 1);
}

TEST(StartupTool, PromptThenChosenToolIsSavedAndStartUpEndsWithSerialDefaults)
{
    MainWindowRig rig;
    rig.folder.store().setValue("lastTab", "1");
    rig.folder.write("savedsettings.qsf", "COM2\r\n9600\r\nopen\r\n");
    ToolElsewhere other;
    const QString wrongName = other.path("PDT.EXE");
    const QString tool = other.path();
    rig.folder.dialogs.files = {wrongName, tool};
    auto& w = rig.start("-n x.tgz -send");

    ASSERT_EQ(rig.folder.dialogs.shown.size(), 1);
    const auto& prompt = rig.folder.dialogs.shown[0];
    EXPECT_EQ(prompt.title, "Could Not Find pdt.exe");
    EXPECT_EQ(prompt.text, "Unable to locate 'pdt.exe', press OK to manually locate");
    EXPECT_EQ(prompt.buttons, MsgButtons::OkCancel);

    // A wrongly named choice opens the dialog again where it was left.
    ASSERT_EQ(rig.folder.dialogs.fileRequests.size(), 2);
    EXPECT_EQ(rig.folder.dialogs.fileRequests[0].title, "Select pdt.exe");
    EXPECT_EQ(rig.folder.dialogs.fileRequests[0].fileName, "pdt.exe");
    EXPECT_EQ(rig.folder.dialogs.fileRequests[1].fileName, wrongName);

    EXPECT_EQ(w.pdtPath, tool);
    EXPECT_EQ(rig.folder.read("pdtpath.qsf"), tool.toLocal8Bit() + "\r\n");
    // Saved choice, command line and last tab are all left alone on this path.
    EXPECT_TRUE(w.optCom1->isChecked());
    EXPECT_EQ(w.port, 1);
    EXPECT_TRUE(w.b115200->isChecked());
    EXPECT_EQ(w.baud, "115200");
    EXPECT_FALSE(w.checkKeepOpen->isChecked());
    EXPECT_TRUE(w.networkArgsGiven.isNull());
    EXPECT_EQ(w.STab->currentIndex(), 0);
    EXPECT_FALSE(rig.folder.exitCode);

    // The next start finds the tool through the saved path.
    rig.folder.dialogs.shown.clear();
    auto& again = rig.restart();
    EXPECT_TRUE(rig.folder.dialogs.shown.isEmpty());
    EXPECT_EQ(again.pdtPath, tool);
}

TEST(StartupTool, CancelOnThePromptEndsTheProgram)
{
    MainWindowRig rig;
    rig.folder.dialogs.answers = {MsgAnswer::Cancel};
    auto& w = rig.start("-s x.tgz");
    EXPECT_EQ(rig.folder.exitCode, 0);
    EXPECT_TRUE(rig.folder.dialogs.fileRequests.isEmpty());
    EXPECT_TRUE(w.serialArgsGiven.isNull());
    EXPECT_FALSE(rig.folder.exists("pdtpath.qsf"));
}

TEST(StartupTool, CancellingTheFileDialogLeavesSerialDefaultsAndSavesNothing)
{
    MainWindowRig rig;
    auto& w = rig.start("-s x.tgz");
    EXPECT_EQ(rig.folder.dialogs.fileRequests.size(), 1);
    EXPECT_FALSE(rig.folder.exists("pdtpath.qsf"));
    EXPECT_TRUE(w.optCom1->isChecked());
    EXPECT_TRUE(w.b115200->isChecked());
    EXPECT_TRUE(w.serialArgsGiven.isNull());
    EXPECT_FALSE(rig.folder.exitCode);
}

TEST(StartupTool, UnattendedRunSkipsThePromptAndGoesOn)
{
    ToolElsewhere other;
    const QString cases[] = {QString(), other.path("other.exe")};
    for (const auto& saved : cases) {
        MainWindowRig rig;
        if (!saved.isEmpty())
            rig.folder.write("pdtpath.qsf", saved.toLocal8Bit() + "\r\n");
        auto& w = rig.start("-s x.tgz -port 3 -SILENT");
        EXPECT_TRUE(rig.folder.dialogs.shown.isEmpty());
        EXPECT_TRUE(rig.folder.dialogs.fileRequests.isEmpty());
        // A file that failed the name check is never started.
        EXPECT_TRUE(w.pdtPath.isEmpty());
        EXPECT_EQ(w.serialArgsGiven, " x.tgz -port 3 -SILENT");
        EXPECT_TRUE(w.stayHidden);
        EXPECT_FALSE(rig.folder.exitCode);
    }
}

TEST(StartupSerialChoice, NoSavedFileGivesCom1And115200)
{
    MainWindowRig rig;
    auto& w = rig.withTool().start();
    EXPECT_TRUE(w.optCom1->isChecked());
    EXPECT_TRUE(w.b115200->isChecked());
    EXPECT_EQ(w.port, 1);
    EXPECT_EQ(w.baud, "115200");
    EXPECT_EQ(w.comboCom->count(), 253);
    EXPECT_EQ(w.comboCom->itemText(0), "COM3");
    EXPECT_EQ(w.comboCom->itemText(252), "COM255");
    EXPECT_EQ(w.comboCom->currentIndex(), 0);
    EXPECT_EQ(w.comboBaud->currentText(), "300");
}

TEST(StartupSerialChoice, SavedValuesSelectTheirButtons)
{
    struct Case {
        QByteArray file;
        const char* button; // port button
        int port;
        const char* baudButton; // nullptr: none selected
        const char* baud;
    };
    const Case cases[] = {
        {"COM7\r\n57600\r\nopen\r\n", "optComOther", 7, "bOther", "57600"},
        {"COM2\r\n19200\r\nclose\r\n", "optCom2", 2, "b19200", "19200"},
        {"COM1,9600", "optCom1", 1, "b9600", "9600"},
        {"COM255\r\n300\r\n", "optComOther", 255, "bOther", "300"},
        {"COM3\r\n110\r\nclose\r\n", "optComOther", 3, nullptr, "115200"},
        // A port the window cannot apply falls back to COM1.
        {"COMx\r\n115200\r\n", "optCom1", 1, "b115200", "115200"},
        {"COM256\r\n115200\r\n", "optCom1", 1, "b115200", "115200"},
        {"LPT1\r\n115200\r\n", "optCom1", 1, "b115200", "115200"},
        // Values missing from a short file stay empty: COM1, no baud button.
        {"", "optCom1", 1, nullptr, "115200"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file.toStdString());
        MainWindowRig rig;
        rig.folder.write("savedsettings.qsf", c.file);
        auto& w = rig.withTool().start();
        EXPECT_TRUE(rig.folder.dialogs.shown.isEmpty());
        EXPECT_TRUE(w.findChild<QRadioButton*>(c.button)->isChecked());
        EXPECT_EQ(w.port, c.port);
        if (c.port >= 3) {
            EXPECT_EQ(w.comboCom->currentText(), QStringLiteral("COM%1").arg(c.port));
        }
        if (c.baudButton)
            EXPECT_TRUE(w.findChild<QRadioButton*>(c.baudButton)->isChecked());
        else
            EXPECT_EQ(checkedBaudButtons(w), 0);
        EXPECT_EQ(w.baud, c.baud);
        EXPECT_FALSE(w.checkKeepOpen->isChecked());
    }
}

TEST(StartupSerialChoice, UnreadableSavedFileGivesDefaultsAndEndsInteractiveStartUp)
{
    // A folder by that name exists but cannot be read as a file.
    MainWindowRig rig;
    QDir(rig.folder.path()).mkdir("savedsettings.qsf");
    rig.folder.store().setValue("lastTab", "1");
    auto& w = rig.withTool().start("-n x.tgz");
    EXPECT_TRUE(w.optCom1->isChecked());
    EXPECT_TRUE(w.b115200->isChecked());
    EXPECT_TRUE(w.networkArgsGiven.isNull());

    // An unattended run goes on with the defaults instead of idling hidden.
    auto& unattended = rig.restart("-n x.tgz -silent");
    EXPECT_TRUE(unattended.optCom1->isChecked());
    EXPECT_EQ(unattended.networkArgsGiven, " x.tgz -silent");
    EXPECT_TRUE(unattended.stayHidden);
}

TEST(StartupCommandLine, EachModeReachesItsParserWithTheRestOfTheText)
{
    struct Case {
        const char* line;
        QString frmmain::*given;
        const char* args;
        bool hidden;
        int tab; // the parser's tab; the saved "lastTab" is never restored
    };
    const Case cases[] = {
        {"-s \"C:\\a b\\x.tgz\" -port 3", &frmmain::serialArgsGiven, " \"C:\\a b\\x.tgz\" -port 3",
         false, 0},
        {"-n x.tgz -ip 10.1.2.3", &frmmain::networkArgsGiven, " x.tgz -ip 10.1.2.3", false, 1},
        {"-k x.tgz", &frmmain::ksynArgsGiven, " x.tgz", true, 0},
        {"-n", &frmmain::networkArgsGiven, "", false, 1},
    };
    for (const auto& c : cases) {
        MainWindowRig rig;
        rig.folder.store().setValue("lastTab", "1");
        auto& w = rig.withTool().start(c.line);
        EXPECT_EQ(w.*c.given, c.args) << c.line;
        int called =
            !w.serialArgsGiven.isNull() + !w.networkArgsGiven.isNull() + !w.ksynArgsGiven.isNull();
        EXPECT_EQ(called, 1) << c.line;
        EXPECT_EQ(w.stayHidden, c.hidden) << c.line;
        EXPECT_EQ(w.STab->currentIndex(), c.tab) << c.line;
    }
}

TEST(StartupCommandLine, HelpSwitchesShowOnlyTheUsageWindow)
{
    for (const char* line : {"-h", "/h", "/?", "-help", "--help"}) {
        MainWindowRig rig;
        rig.folder.write("usage.txt", "Usage\r\n");
        auto& w = rig.withTool().start(line);
        auto* usage = w.findChild<QWidget*>("frmUsage");
        ASSERT_TRUE(usage) << line;
        EXPECT_TRUE(usage->isVisible()) << line;
        EXPECT_TRUE(w.stayHidden) << line;
        EXPECT_TRUE(w.serialArgsGiven.isNull() && w.networkArgsGiven.isNull() &&
                    w.ksynArgsGiven.isNull());
    }
}

TEST(StartupCommandLine, UnknownTextIsIgnoredAndNothingIsRestored)
{
    for (const char* line : {"-S x.tgz", " -n x.tgz", "x.tgz", "-H"}) {
        MainWindowRig rig;
        rig.folder.store().setValue("lastTab", "1");
        rig.folder.store().setValue("lastDir", "C:\\dl\\");
        auto& w = rig.withTool().start(line);
        EXPECT_TRUE(w.serialArgsGiven.isNull() && w.networkArgsGiven.isNull() &&
                    w.ksynArgsGiven.isNull())
            << line;
        EXPECT_EQ(w.STab->currentIndex(), 0) << line;
        EXPECT_TRUE(w.fileDialogDir.isEmpty()) << line;
        EXPECT_FALSE(w.stayHidden) << line;
        EXPECT_FALSE(w.findChild<QWidget*>("frmUsage")) << line;
    }
}

TEST(StartupLastTabAndFolder, RestoredOnlyWithoutACommandLine)
{
    MainWindowRig rig;
    rig.folder.store().setValue("lastTab", "1");
    rig.folder.store().setValue("lastDir", "C:\\dl\\");
    auto& w = rig.withTool().start();
    EXPECT_EQ(w.STab->currentIndex(), 1);
    EXPECT_EQ(w.fileDialogDir, "C:\\dl\\");

    // It is where both tabs' Browse dialogs open, until the file box names a
    // file: then they open at that file.
    QDir(rig.folder.path()).mkdir("dl");
    rig.folder.write("dl/a.tgz", "x");
    for (const QString& file : {QString(), rig.folder.file("dl/a.tgz")}) {
        w.txtfile->setText(file);
        for (QPushButton* browse : {w.cmdfile, w.cmdBrowse}) {
            rig.folder.dialogs.fileRequests.clear();
            browse->click();
            ASSERT_EQ(rig.folder.dialogs.fileRequests.size(), 1);
            EXPECT_EQ(rig.folder.dialogs.fileRequests[0].initialDir,
                      file.isEmpty() ? QStringLiteral("C:\\dl\\") : rig.folder.file("dl"))
                << browse->objectName().toStdString();
        }
    }
}

TEST(StartupLastTabAndFolder, MissingOrUnusableValuesLeaveTheDesign)
{
    const char* tabs[] = {nullptr, "", "abc", "7", "-1"};
    for (const char* tab : tabs) {
        MainWindowRig rig;
        if (tab)
            rig.folder.store().setValue("lastTab", tab);
        auto& w = rig.withTool().start();
        EXPECT_EQ(w.STab->currentIndex(), 0) << (tab ? tab : "(missing)");
        EXPECT_TRUE(w.fileDialogDir.isEmpty());
    }
}

TEST(StartupDefaults, PermissionsOwnerAndFlags)
{
    MainWindowRig rig;
    auto& w = rig.withTool().start();
    EXPECT_EQ(w.listNetP[0]->topText(), "7");
    EXPECT_EQ(w.listNetP[1]->topText(), "5");
    EXPECT_EQ(w.listNetP[2]->topText(), "5");
    EXPECT_EQ(w.listNetO->topText(), "usr1");
    EXPECT_FALSE(w.doSend);
    EXPECT_FALSE(w.commandLineMode);
    EXPECT_FALSE(w.advancedShown);
    EXPECT_FALSE(w.stayHidden);
}
