// The serial tab's controls: KSYN options, the file box and Browse.
#include "programfolder.h"

#include "platform/wait.h"
#include "ui/frmmain.h"

#include <QMimeData>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

using namespace tk;
using namespace tk::test;

namespace {

class SerialTab : public ::testing::Test {
protected:
    ProgramFolder folder;
    frmmain w{folder.env()};
};

} // namespace

TEST_F(SerialTab, KsynOptionsAreOnlyUsableWithKsynAndRestartsExcludeEachOther)
{
    EXPECT_FALSE(w.frameMode->isEnabled());
    w.checkSendKSYN->setChecked(true);
    EXPECT_TRUE(w.frameMode->isEnabled());
    w.checkSendKSYN->setChecked(false);
    EXPECT_FALSE(w.frameMode->isEnabled());

    w.checkSerialRestartApp->setChecked(true);
    w.checkSerialRestartDevice->setChecked(true);
    EXPECT_FALSE(w.checkSerialRestartApp->isChecked());
    w.checkSerialRestartApp->setChecked(true);
    EXPECT_FALSE(w.checkSerialRestartDevice->isChecked());
    w.checkSerialRestartApp->setChecked(false);
    EXPECT_FALSE(w.checkSerialRestartDevice->isChecked()); // clearing one ticks nothing
}

TEST_F(SerialTab, FileBoxSelectsThePromptOnClickEverythingOnDoubleClickAndFeedsTheNetworkTab)
{
    w.show();
    QTest::mouseClick(w.txtfile, Qt::LeftButton, {}, QPoint(5, 5));
    pumpPendingEvents();
    EXPECT_EQ(w.txtfile->selectedText(), "Select File to Download");

    w.txtfile->setText(QStringLiteral("/srv/some file.tgz"));
    EXPECT_EQ(w.txtfilen->text(), "/srv/some file.tgz");
    QTest::mouseClick(w.txtfile, Qt::LeftButton, {}, QPoint(5, 5));
    pumpPendingEvents();
    EXPECT_TRUE(w.txtfile->selectedText().isEmpty());
    QTest::mouseDClick(w.txtfile, Qt::LeftButton, {}, QPoint(5, 5));
    pumpPendingEvents();
    EXPECT_EQ(w.txtfile->selectedText(), "/srv/some file.tgz");
}

TEST_F(SerialTab, DroppingFilesTakesTheFirst)
{
    folder.write("one.tgz", "1");
    folder.write("two.tgz", "2");
    QMimeData mime;
    mime.setUrls(
        {QUrl::fromLocalFile(folder.file("one.tgz")), QUrl::fromLocalFile(folder.file("two.tgz"))});
    QDragEnterEvent enter(QPoint(2, 2), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w.txtfile, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(2, 2), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w.txtfile, &drop);
    EXPECT_EQ(w.txtfile->text(), folder.file("one.tgz"));
    EXPECT_EQ(w.txtfilen->text(), folder.file("one.tgz"));
}

TEST_F(SerialTab, BrowseOffersTheCurrentFileAndTakesTheChoice)
{
    w.show();
    folder.write("current.tgz", "c");
    w.txtfile->setText(folder.file("current.tgz"));
    folder.dialogs.files.push_back(folder.file("chosen.tgz"));
    QTest::mouseClick(w.cmdfile, Qt::LeftButton);
    ASSERT_EQ(folder.dialogs.fileRequests.size(), 1);
    const FileDialogRequest& asked = folder.dialogs.fileRequests[0];
    EXPECT_EQ(asked.title, "Select File to Download");
    EXPECT_TRUE(asked.filter.startsWith("All Files")) << asked.filter.toStdString();
    EXPECT_TRUE(asked.filter.contains("*.bz2")) << asked.filter.toStdString();
    EXPECT_EQ(asked.fileName, folder.file("current.tgz"));
    EXPECT_EQ(w.txtfile->text(), folder.file("chosen.tgz"));
    EXPECT_EQ(w.focusWidget(), w.cmdDownload);

    // Cancelled: nothing changes; a missing file is not offered.
    w.txtfile->setText(folder.file("gone.tgz"));
    QTest::mouseClick(w.cmdfile, Qt::LeftButton);
    ASSERT_EQ(folder.dialogs.fileRequests.size(), 2);
    EXPECT_TRUE(folder.dialogs.fileRequests[1].fileName.isEmpty());
    EXPECT_EQ(w.txtfile->text(), folder.file("gone.tgz"));
}
