// What survives a restart: the saved serial choice, the last tab and folder.
#include "mainwin_support.h"

#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>

using namespace tk;
using test::MainWindowRig;

TEST(SaveSerialChoice, Com2OtherBaudAndKeepOpenRoundTrip)
{
    MainWindowRig rig;
    auto& w = rig.withTool().start();
    w.show();
    QTest::mouseClick(w.optCom2, Qt::LeftButton);
    // Choosing 57600 in the other-baud list selects the button with it.
    w.comboBaud->setCurrentIndex(6);
    QTest::keyClick(w.comboBaud, Qt::Key_Down);
    ASSERT_EQ(w.comboBaud->currentText(), "57600");
    QTest::mouseClick(w.checkKeepOpen, Qt::LeftButton);
    EXPECT_EQ(w.port, 2);
    EXPECT_TRUE(w.bOther->isChecked());
    EXPECT_EQ(w.baud, "57600");

    QTest::mouseClick(w.cmdSave, Qt::LeftButton);
    EXPECT_EQ(rig.folder.read("savedsettings.qsf"), "COM2\r\n57600\r\nopen\r\n");
    EXPECT_EQ(w.focusWidget(), w.txtfile);

    auto& again = rig.restart();
    EXPECT_TRUE(again.optCom2->isChecked());
    EXPECT_EQ(again.port, 2);
    EXPECT_TRUE(again.bOther->isChecked());
    EXPECT_EQ(again.comboBaud->currentText(), "57600");
    EXPECT_EQ(again.baud, "57600");
    EXPECT_FALSE(again.checkKeepOpen->isChecked());
}

TEST(SaveSerialChoice, OtherPortFromTheListRoundTrips)
{
    MainWindowRig rig;
    auto& w = rig.withTool().start();
    w.show();
    // Picking an entry of the port list selects the other-port button.
    w.comboCom->setCurrentIndex(3);
    QTest::keyClick(w.comboCom, Qt::Key_Down);
    EXPECT_TRUE(w.optComOther->isChecked());
    EXPECT_EQ(w.port, 7);
    QTest::mouseClick(w.b9600, Qt::LeftButton);
    EXPECT_EQ(w.baud, "9600");
    QTest::mouseClick(w.cmdSave, Qt::LeftButton);
    EXPECT_EQ(rig.folder.read("savedsettings.qsf"), "COM7\r\n9600\r\nclose\r\n");

    auto& again = rig.restart();
    EXPECT_TRUE(again.optComOther->isChecked());
    EXPECT_EQ(again.comboCom->currentText(), "COM7");
    EXPECT_EQ(again.port, 7);
    EXPECT_TRUE(again.b9600->isChecked());
}

TEST(SaveSerialChoice, ReplacesTheFileWholeInsteadOfRewritingItInPlace)
{
    MainWindowRig rig;
    rig.folder.write("savedsettings.qsf", "COM2\r\n19200\r\nopen\r\nold extra line\r\n");
    // A second name for the old file: a rewrite in place would show through it.
    const QString previous = rig.folder.file("previous.qsf");
    ASSERT_EQ(::link(QFile::encodeName(rig.folder.file("savedsettings.qsf")).constData(),
                     QFile::encodeName(previous).constData()),
              0);
    auto& w = rig.withTool().start();
    QTest::mouseClick(w.optCom1, Qt::LeftButton);
    w.saveSerialChoice();
    EXPECT_EQ(rig.folder.read("savedsettings.qsf"), "COM1\r\n19200\r\nclose\r\n");
    EXPECT_EQ(rig.folder.read("previous.qsf"), "COM2\r\n19200\r\nopen\r\nold extra line\r\n");
    // No temporary file is left behind.
    EXPECT_EQ(QDir(rig.folder.path()).entryList({"*.qsf*"}, QDir::Files).size(), 2);
}

TEST(LastTabAndFolder, StoredAtCloseAndRestoredAtTheNextPlainStart)
{
    MainWindowRig rig;
    auto& w = rig.withTool().start();
    QDir(rig.folder.path()).mkdir("dl");
    rig.folder.write("dl/app.tgz", "x");
    w.STab->setCurrentIndex(1);
    w.txtfile->setText(rig.folder.file("dl/app.tgz"));
    w.close();
    EXPECT_EQ(rig.folder.store().value("lastTab").toString(), "1");
    EXPECT_EQ(rig.folder.store().value("lastDir").toString(), rig.folder.file("dl/"));

    auto& again = rig.restart();
    EXPECT_EQ(again.STab->currentIndex(), 1);
    EXPECT_EQ(again.fileDialogDir, rig.folder.file("dl/"));
}

TEST(LastTabAndFolder, EmptyMissingOrHiddenFileKeepsThePreviousFolder)
{
    MainWindowRig rig;
    rig.folder.write(".hidden.tgz", "x");
    const QString texts[] = {QString(), rig.folder.file("missing.tgz"),
                             rig.folder.file(".hidden.tgz"),
                             QStringLiteral("Select File to Download")};
    for (const auto& text : texts) {
        rig.folder.store().setValue("lastDir", "C:\\before\\");
        rig.folder.store().setValue("lastTab", "1");
        auto& w = rig.withTool().restart();
        w.STab->setCurrentIndex(0);
        w.txtfile->setText(text);
        w.close();
        EXPECT_EQ(rig.folder.store().value("lastTab").toString(), "0");
        EXPECT_EQ(rig.folder.store().value("lastDir").toString(), "C:\\before\\")
            << text.toStdString();
    }
}

TEST(LastTabAndFolder, AFolderCountsAsAnExistingPath)
{
    MainWindowRig rig;
    auto& w = rig.withTool().start();
    QDir(rig.folder.path()).mkdir("dl");
    w.txtfile->setText(rig.folder.file("dl"));
    w.close();
    // The text up to its last separator: the folder's own name is not kept.
    EXPECT_EQ(rig.folder.store().value("lastDir").toString(), rig.folder.path() + "/");
}

TEST(LastTabAndFolder, AnyCommandLineStopsRestoringButNotStoring)
{
    MainWindowRig rig;
    rig.folder.store().setValue("lastTab", "1");
    rig.folder.write("app.tgz", "x");
    auto& w = rig.withTool().start("-s app.tgz");
    EXPECT_EQ(w.STab->currentIndex(), 0);
    w.txtfile->setText(rig.folder.file("app.tgz"));
    w.close();
    EXPECT_EQ(rig.folder.store().value("lastTab").toString(), "0");
    EXPECT_EQ(rig.folder.store().value("lastDir").toString(), rig.folder.path() + "/");
}

TEST(LastTabAndFolder, ARunEndedByDoExitProcessStoresNothing)
{
    MainWindowRig rig;
    rig.folder.write("app.tgz", "x");
    auto& w = rig.withTool().start("-n app.tgz -silent");
    w.STab->setCurrentIndex(1);
    w.txtfile->setText(rig.folder.file("app.tgz"));
    w.doExitProcess(-2);
    EXPECT_EQ(rig.folder.exitCode, -2);
    EXPECT_FALSE(rig.folder.store().contains("lastTab"));
    EXPECT_FALSE(rig.folder.store().contains("lastDir"));
}
