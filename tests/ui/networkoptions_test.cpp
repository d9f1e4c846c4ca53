#include "programfolder.h"
#include "ui/frmmain.h"
#include "ui/networkoptions.h"
#include "ui/onelinelist.h"

#include <QMimeData>
#include <QScrollBar>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

using namespace tk;

namespace {

struct OptionsWindow : ::testing::Test {
    test::ProgramFolder folder;
    frmmain w{folder.env()};

    QString shown()
    {
        QString s;
        for (auto* l : w.listNetP)
            s += l->topText();
        return s;
    }
    void scroll(OneLineList* list, int steps)
    {
        for (int i = 0; i < steps; ++i)
            list->scrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    }
    void drop(const QList<QUrl>& urls)
    {
        QMimeData mime;
        mime.setUrls(urls);
        QDragEnterEvent enter(QPoint(2, 2), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(w.txtfilen, &enter);
        QDropEvent dropEvent(QPointF(2, 2), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(w.txtfilen, &dropEvent);
    }
};

} // namespace

TEST_F(OptionsWindow, StartsWith755AndUsr1AndThePartialType)
{
    EXPECT_EQ(shown(), "755");
    EXPECT_EQ(w.netOptions->permissions(), "755");
    EXPECT_EQ(w.netOptions->owner(), "usr1");
    EXPECT_FALSE(w.netOptions->fullSelected());
    EXPECT_TRUE(w.lblFullDLType->isHidden());
    EXPECT_EQ(w.optNetworkFull->toolTip(), "Cleans /home/usr1/* and environment variables");
}

TEST_F(OptionsWindow, ScrollingSetsTipsAndTheValueIsTheEntryAtTheTop)
{
    scroll(w.listNetP[1], 2); // 5 -> 3
    EXPECT_EQ(w.listNetP[1]->topText(), "3");
    EXPECT_EQ(w.listNetP[1]->toolTip(), "write & execute");
    scroll(w.listNetP[2], 3); // 5 -> 2
    EXPECT_EQ(w.listNetP[2]->toolTip(), "write");
    scroll(w.listNetP[2], 2); // -> 0
    EXPECT_EQ(w.listNetP[2]->toolTip(), "");
    EXPECT_EQ(w.netOptions->permissions(), "730");

    w.listNetO->showEntry("usr3");
    EXPECT_EQ(w.netOptions->owner(), "usr3");
    EXPECT_EQ(w.optNetworkFull->toolTip(), "Cleans /home/usr3/* and environment variables");
}

TEST_F(OptionsWindow, FullShowsItsLabelAndPartialHidesIt)
{
    w.optNetworkFull->click();
    EXPECT_TRUE(w.netOptions->fullSelected());
    EXPECT_FALSE(w.lblFullDLType->isHidden());
    w.optNetworkPartial->click();
    EXPECT_TRUE(w.lblFullDLType->isHidden());
}

TEST_F(OptionsWindow, PostDownloadBoxesExcludeEachOther)
{
    w.chkReboot->setChecked(true);
    w.chkRunApp->setChecked(true);
    EXPECT_FALSE(w.chkReboot->isChecked());
    w.chkReboot->setChecked(true);
    EXPECT_FALSE(w.chkRunApp->isChecked());
    w.chkReboot->setChecked(false);
    EXPECT_FALSE(w.chkRunApp->isChecked());
}

TEST_F(OptionsWindow, PackagesAreAnnouncedWith644WhateverTheListsShow)
{
    w.txtfilen->setText("/tmp/app.tgz");
    EXPECT_FALSE(w.listNetP[0]->isEnabled());
    EXPECT_EQ(shown(), "755");
    EXPECT_EQ(w.netOptions->permissions(), "644");
    // Package names are compared in exact case.
    w.txtfilen->setText("/tmp/app.TGZ");
    EXPECT_TRUE(w.listNetP[2]->isEnabled());
    EXPECT_EQ(w.netOptions->permissions(), "755");
    // The serial tab names the same file.
    EXPECT_EQ(w.txtfile->text(), "/tmp/app.TGZ");
}

TEST_F(OptionsWindow, BrowseAsksWithItsTitleAndFilterAndPresetsByContent)
{
    folder.write("script", "#!/bin/sh\necho hi\n");
    folder.write("notes", "just text");
    folder.dialogs.files = {folder.file("notes")};
    QTest::mouseClick(w.cmdBrowse, Qt::LeftButton);
    ASSERT_EQ(folder.dialogs.fileRequests.size(), 1);
    const auto& req = folder.dialogs.fileRequests[0];
    EXPECT_EQ(req.title, "Select File to Download");
    EXPECT_TRUE(req.filter.startsWith("All Files (*.*)"));
    EXPECT_TRUE(req.filter.contains("TK Packages (*.tgz, *.tar, *.gz, *.ipk, *.ram)"));
    EXPECT_TRUE(req.fileName.isEmpty());
    EXPECT_EQ(w.txtfilen->text(), folder.file("notes"));
    EXPECT_EQ(shown(), "644");

    // The dialog starts on the file in the box; a "#!" file gets 7-5-5.
    folder.dialogs.files = {folder.file("script")};
    QTest::mouseClick(w.cmdBrowse, Qt::LeftButton);
    EXPECT_EQ(folder.dialogs.fileRequests[1].fileName, folder.file("notes"));
    EXPECT_EQ(shown(), "755");

    // Cancelling changes nothing.
    QTest::mouseClick(w.cmdBrowse, Qt::LeftButton);
    EXPECT_EQ(w.txtfilen->text(), folder.file("script"));
    EXPECT_EQ(shown(), "755");
}

TEST_F(OptionsWindow, ElfAndUpperCaseScriptExtensionsArePresetAsExecutables)
{
    folder.write("prog", QByteArray("\x7f"
                                    "ELF\x02\x01\x01",
                                    7));
    folder.write("RUN.SH", "echo");
    folder.write("data.bin.txt", "x");
    w.netOptions->applyPresetFor(folder.file("data.bin.txt"));
    EXPECT_EQ(shown(), "644");
    w.netOptions->applyPresetFor(folder.file("prog"));
    EXPECT_EQ(shown(), "755");
    w.netOptions->applyPresetFor(folder.file("data.bin.txt"));
    w.netOptions->applyPresetFor(folder.file("RUN.SH"));
    EXPECT_EQ(shown(), "755");
}

TEST_F(OptionsWindow, DroppingFilesTakesTheFirst)
{
    folder.write("one.txt", "1");
    folder.write("two.sh", "2");
    folder.write("three.sh", "3");
    drop({QUrl::fromLocalFile(folder.file("one.txt")), QUrl::fromLocalFile(folder.file("two.sh")),
          QUrl::fromLocalFile(folder.file("three.sh"))});
    EXPECT_EQ(w.txtfilen->text(), folder.file("one.txt"));
    EXPECT_EQ(shown(), "644");
}
