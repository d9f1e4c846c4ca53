#include "programfolder.h"
#include "ui/fixedfont.h"
#include "ui/frmabout.h"
#include "ui/frmmain.h"
#include "ui/frmusage.h"

#include <QApplication>
#include <QDir>
#include <QFontDatabase>
#include <QFontInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <gtest/gtest.h>

using namespace tk;

TEST(AboutWindow, OpensModallyFromTheMakersLabelWithTitleVersionAndDescription)
{
    test::ProgramFolder folder;
    frmmain w(folder.env());
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));

    QStringList seen;
    bool wasModal = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* about = qobject_cast<frmAbout*>(QApplication::activeModalWidget());
        if (!about)
            return;
        poll.stop();
        wasModal = about->isModal();
        seen << about->windowTitle() << about->findChild<QLabel*>("lblTitle")->text()
             << about->findChild<QLabel*>("lblVersion")->text()
             << about->findChild<QLabel*>("lblDisclaimer")->text();
        QTest::mouseClick(about->findChild<QPushButton*>("cmdOK"), Qt::LeftButton);
    });
    poll.start(5);
    QTest::mouseClick(w.findChild<QLabel*>("lblQuillon"), Qt::LeftButton); // returns when closed

    EXPECT_TRUE(wasModal);
    EXPECT_EQ(seen, (QStringList{"About Tk650Downloader", "Tk650Downloader", "Version 2.6.3 ",
                                 "The Tk650 Downloader provides serial and ethernet file transfer "
                                 "support for Quillon's Tk650 series units."}));
    EXPECT_FALSE(QApplication::activeModalWidget());
}

namespace {

bool anyFixedPitchFamily()
{
    const QStringList families = QFontDatabase::families();
    return std::any_of(families.begin(), families.end(), [](const QString& family) {
        return QFontDatabase::isFixedPitch(family) && QFontInfo(QFont(family)).fixedPitch();
    });
}

class UsageWindow : public ::testing::Test {
protected:
    // Help start in a program folder holding usage.txt (when given).
    void start(const std::optional<QByteArray>& usage)
    {
        if (usage)
            folder.write("usage.txt", *usage);
        w = std::make_unique<frmmain>(folder.env());
        w->show();
        w->showUsage();
    }
    frmUsage* usage() { return w->findChild<frmUsage*>("frmUsage"); }
    QString boxText() { return usage()->findChild<QPlainTextEdit*>("txtUsage")->toPlainText(); }

    test::ProgramFolder folder;
    std::unique_ptr<frmmain> w;
};

} // namespace

TEST_F(UsageWindow, ShowsTheFileInsteadOfTheMainWindow)
{
    start(QByteArray("Usage:\r\n  -n \"file\" [-ip a.b.c.d]\r\n"));
    ASSERT_TRUE(usage());
    EXPECT_TRUE(usage()->isVisible());
    EXPECT_FALSE(w->isVisible());
    EXPECT_TRUE(w->stayHidden);
    EXPECT_EQ(usage()->windowTitle(), "Tk650Downloader");
    EXPECT_EQ(boxText(), "Usage:\n  -n \"file\" [-ip a.b.c.d]\n");
    if (anyFixedPitchFamily()) {
        EXPECT_TRUE(
            QFontInfo(usage()->findChild<QPlainTextEdit*>("txtUsage")->font()).fixedPitch());
    }
    EXPECT_TRUE(folder.dialogs.shown.isEmpty());
    EXPECT_FALSE(folder.exitCode);
}

TEST(FixedPitchFont, FoundWhateverThePreferredAndTheSystemFontResolveTo)
{
    // A missing family and an installed proportional one as the preferred
    // family, and a platform whose fixed font is not fixed-pitch (offscreen
    // gives its ordinary font), whichever fonts this machine has: the result
    // is still fixed-pitch when any installed family is.
    if (!anyFixedPitchFamily())
        GTEST_SKIP() << "no fixed-pitch family installed";
    QString proportional = QStringLiteral("No Such Family 7f3a");
    for (const QString& family : QFontDatabase::families()) {
        if (!QFontDatabase::isFixedPitch(family) && !QFontInfo(QFont(family)).fixedPitch()) {
            proportional = family;
            break;
        }
    }
    const QFont systems[] = {QFontDatabase::systemFont(QFontDatabase::FixedFont),
                             QFont(proportional)};
    for (const QString& preferred :
         {QStringLiteral("Courier New"), QStringLiteral("No Such Family 7f3a"), proportional}) {
        for (const QFont& system : systems) {
            EXPECT_TRUE(QFontInfo(fixedPitchFont(preferred, system)).fixedPitch())
                << preferred.toStdString() << " / " << system.family().toStdString();
        }
    }
}

TEST_F(UsageWindow, EveryLineEndsWithALineBreakWhateverTheFileUsed)
{
    start(QByteArray("one\ntwo\rthree\r\n\r\nlast without break"));
    EXPECT_EQ(boxText(), "one\ntwo\nthree\n\nlast without break\n");
}

TEST_F(UsageWindow, EmptyFileGivesAnEmptyBox)
{
    start(QByteArray());
    ASSERT_TRUE(usage());
    EXPECT_TRUE(usage()->isVisible());
    EXPECT_EQ(boxText(), "");
}

TEST_F(UsageWindow, MissingFileGivesOneMessageAndExitCodeZero)
{
    start(std::nullopt);
    ASSERT_EQ(folder.dialogs.shown.size(), 1);
    const auto& msg = folder.dialogs.shown.front();
    EXPECT_EQ(msg.icon, MsgIcon::Critical);
    EXPECT_EQ(msg.title, "Tk650Downloader");
    EXPECT_EQ(msg.text, "Error: Unable to open usage file.\r\n" +
                            QDir::toNativeSeparators(folder.path() + "/usage.txt"));
    EXPECT_EQ(folder.exitCode, 0);
    EXPECT_FALSE(w->isVisible());
    EXPECT_TRUE(!usage() || !usage()->isVisible());
}

TEST_F(UsageWindow, CloseButtonEndsTheProgram)
{
    start(QByteArray("help\r\n"));
    QTest::mouseClick(usage()->findChild<QPushButton*>("cmdClose"), Qt::LeftButton);
    EXPECT_EQ(folder.exitCode, 0);
}

TEST_F(UsageWindow, ClosingTheWindowAnyOtherWayEndsTheProgram)
{
    start(QByteArray("help\r\n"));
    usage()->close(); // the title bar's close box
    EXPECT_EQ(folder.exitCode, 0);
}

TEST_F(UsageWindow, EscapeAndEnterCloseItFromItsTextBox)
{
    for (const Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
        folder.exitCode.reset();
        start(QByteArray("help\r\n"));
        QTest::keyClick(usage()->findChild<QPlainTextEdit*>("txtUsage"), key);
        EXPECT_EQ(folder.exitCode, 0) << key;
    }
}

// The usage.txt shipped beside the program explains every switch and what
// the exit codes look like to a POSIX shell.
TEST(ShippedUsageText, ListsEverySwitchAndExitCode)
{
    QFile file(qEnvironmentVariable("TK_BIN_DIR") + "/usage.txt");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << file.fileName().toStdString();
    const QString text = QString::fromUtf8(file.readAll());
    const QStringList words =
        QStringLiteral("-s -n -k -h /h /? -help --help -ip -type -kill -run -reboot -send -silent "
                       "-permissions -owner -ksyn -port -baud -timeout -restart")
            .split(' ');
    for (const QString& word : words)
        EXPECT_TRUE(text.contains(" " + word)) << word.toStdString();
    EXPECT_TRUE(text.contains("Keep cmd Window Open"));
    for (int code = -7; code <= -1; ++code)
        EXPECT_TRUE(text.contains(QStringLiteral("%1").arg(code)) &&
                    text.contains(QString::number(256 + code)))
            << code;
}
