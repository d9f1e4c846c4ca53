// The serial tab's download against a fake "pdt.exe" (a real child process)
// and a pseudo-terminal standing for the COM port.
#include "programfolder.h"
#include "serialfixtures.h"

#include "platform/comports.h"
#include "platform/wait.h"
#include "ui/frmmain.h"
#include "ui/frmporterr.h"
#include "ui/frmtooloutput.h"
#include "ui/serialdownload.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSerialPort>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <optional>

using namespace tk;
using namespace tk::test;

namespace {

QWidget* shownWindow(const char* name)
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String(name) && w->isVisible())
            return w;
    return nullptr;
}

class SerialDownloadTest : public ::testing::Test {
protected:
    SerialDownloadTest() : pdt(folder.path()), com(3)
    {
        w = std::make_unique<frmmain>(folder.env());
        w->pdtPath = pdt.path();
        w->port = 3;
        w->baud = QStringLiteral("115200");
    }

    // A file to send inside a folder of its own.
    QString makeFile(const QString& folderName, const QString& name)
    {
        QDir(folder.path()).mkpath(folderName);
        const QString path = QDir(folder.file(folderName)).filePath(name);
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write("payload");
        return path;
    }

    void clickSend() { QTest::mouseClick(w->cmdDownload, Qt::LeftButton); }

    ProgramFolder folder;
    FakePdt pdt;
    PtyComPort com;
    std::unique_ptr<frmmain> w;
};

} // namespace

TEST_F(SerialDownloadTest, InteractiveRunStartsTheToolInTheFilesFolderWithoutWait)
{
    const QString file = makeFile(QStringLiteral("my packages"), QStringLiteral("my app.tgz"));
    PtyComPort com12(12);
    w->txtfile->setText(file);
    w->port = 12;
    w->baud = QStringLiteral("38400");
    clickSend();

    ASSERT_TRUE(pdt.ran());
    EXPECT_EQ(pdt.arguments(), (QStringList{"-p12", "-b38400", "-imy app.tgz"}));
    EXPECT_EQ(QDir(pdt.workingFolder()).canonicalPath(),
              QDir(folder.file(QStringLiteral("my packages"))).canonicalPath());
    EXPECT_TRUE(w->cmdDownload->isEnabled());
    EXPECT_EQ(w->cmdExit->text(), "Exit");
    EXPECT_FALSE(folder.exitCode);
    EXPECT_TRUE(folder.dialogs.shown.isEmpty());

    // The tool's result is not examined interactively.
    pdt.exitWith(9);
    clickSend();
    EXPECT_FALSE(folder.exitCode);
    EXPECT_TRUE(folder.dialogs.shown.isEmpty());

    // A backslash is part of a file's name, not a folder separator.
    w->txtfile->setText(makeFile(QStringLiteral("f"), QStringLiteral("a\\b.tgz")));
    clickSend();
    EXPECT_EQ(pdt.arguments().last(), "-ia\\b.tgz");
    EXPECT_EQ(QDir(pdt.workingFolder()).canonicalPath(),
              QDir(folder.file(QStringLiteral("f"))).canonicalPath());
}

TEST_F(SerialDownloadTest, InteractiveToolOutputShowsLiveInAWindowThatClosesUnlessKeptOpen)
{
    w->txtfile->setText(makeFile(QStringLiteral("f"), QStringLiteral("a.bin")));
    w->show();
    pdt.hang();
    pdt.say("Connecting COM3\r\n50%\r100%\nSent a.bin\n", "warning: slow line\n");
    for (const bool keepOpen : {false, true}) {
        SCOPED_TRACE(keepOpen);
        w->checkKeepOpen->setChecked(keepOpen);
        QString seenLive;
        const QDeadlineTimer deadline(10000); // then it is cancelled without being seen
        auto cancel = when(
            [&] {
                auto* out = w->findChild<QPlainTextEdit*>(QStringLiteral("txtOutput"));
                return deadline.hasExpired() ||
                       (shownWindow("frmToolOutput") && out &&
                        out->toPlainText().contains(QLatin1String("warning")) &&
                        out->toPlainText().contains(QLatin1String("Sent")));
            },
            [&] {
                if (auto* out = w->findChild<QPlainTextEdit*>(QStringLiteral("txtOutput")))
                    seenLive = out->toPlainText();
                QTest::mouseClick(w->cmdExit, Qt::LeftButton);
            });
        clickSend();
        // Shown while the tool ran; the progress line redrawn in place.
        EXPECT_TRUE(seenLive.contains(QLatin1String("Connecting COM3\n100%\nSent a.bin\n")))
            << seenLive.toStdString();
        EXPECT_FALSE(seenLive.contains(QLatin1String("50%")));
        EXPECT_EQ(shownWindow("frmToolOutput") != nullptr, keepOpen);
        EXPECT_TRUE(w->cmdDownload->isEnabled());
    }
    ASSERT_TRUE(shownWindow("frmToolOutput"));
    EXPECT_EQ(shownWindow("frmToolOutput")->windowTitle(),
              "\"" + pdt.path() + "\" -p3 -b115200 -i\"a.bin\"");

    // What the window keeps is bounded: the last lines, long ones broken up.
    QByteArray flood;
    for (int i = 0; i < 3 * frmToolOutput::kMaxLines; ++i)
        flood += "line " + QByteArray::number(i) + "\n";
    flood += QByteArray(5 * frmToolOutput::kMaxLineChars, 'x') + "\nlast\n";
    pdt.say(flood);
    QFile::remove(folder.file(QStringLiteral("pdt-hang")));
    clickSend();
    auto* out = w->findChild<QPlainTextEdit*>(QStringLiteral("txtOutput"));
    ASSERT_TRUE(out);
    const QString kept = out->toPlainText();
    EXPECT_TRUE(kept.endsWith(QLatin1String("last\n"))) << kept.right(40).toStdString();
    EXPECT_FALSE(kept.contains(QLatin1String("line 0\n")));
    EXPECT_LE(out->document()->blockCount(), frmToolOutput::kMaxLines);
    EXPECT_LE(kept.size(), frmToolOutput::kMaxLines * (frmToolOutput::kMaxLineChars + 1));
}

TEST_F(SerialDownloadTest, UnattendedRunAddsTheWaitAndEndsWithTheMappedCode)
{
    w->txtfile->setText(makeFile(QStringLiteral("f"), QStringLiteral("a.bin")));
    w->commandLineMode = true;
    pdt.exitWith(3);
    w->serialDownload()->cmdDownload_Click();
    EXPECT_EQ(pdt.arguments(), (QStringList{"-w4", "-p3", "-b115200", "-ia.bin"}));
    EXPECT_EQ(folder.exitCode, -7);

    folder.exitCode.reset();
    w->timeout = 12.5;
    pdt.exitWith(10);
    w->serialDownload()->cmdDownload_Click();
    EXPECT_EQ(pdt.arguments().front(), "-w12.5");
    EXPECT_EQ(folder.exitCode, -4);

    folder.exitCode.reset();
    pdt.exitWith(0);
    pdt.say("progress\n");
    w->serialDownload()->cmdDownload_Click();
    EXPECT_EQ(folder.exitCode, 0);
    EXPECT_TRUE(folder.dialogs.shown.isEmpty());
    EXPECT_FALSE(w->findChild<QWidget*>(QStringLiteral("frmToolOutput"))); // no window
}

TEST_F(SerialDownloadTest, AToolThatCannotBeStartedEndsAnUnattendedRunWithMinusSix)
{
    w->txtfile->setText(makeFile(QStringLiteral("f"), QStringLiteral("a.bin")));
    w->commandLineMode = true;
    w->pdtPath = folder.file(QStringLiteral("missing/pdt.exe"));
    w->serialDownload()->cmdDownload_Click();
    EXPECT_EQ(folder.exitCode, -6);

    // Present but not executable.
    folder.exitCode.reset();
    QFile::setPermissions(pdt.path(), QFile::ReadOwner | QFile::WriteOwner);
    w->pdtPath = pdt.path();
    w->serialDownload()->cmdDownload_Click();
    EXPECT_EQ(folder.exitCode, -6);
    EXPECT_FALSE(pdt.ran());
}

TEST_F(SerialDownloadTest, AMissingFileIsReportedOrEndsWithMinusTwo)
{
    w->txtfile->setText(folder.file(QStringLiteral("nope.tgz")));
    clickSend();
    ASSERT_EQ(folder.dialogs.shown.size(), 1);
    EXPECT_EQ(folder.dialogs.shown[0].title, "Unable to Send");
    EXPECT_EQ(folder.dialogs.shown[0].text, "Please Select A Valid File to Send");
    EXPECT_EQ(folder.dialogs.shown[0].icon, MsgIcon::Critical);
    EXPECT_EQ(w->txtfile->selectedText(), w->txtfile->text());

    // A folder and a hidden file count as missing too.
    for (const QString& path : {folder.path(), makeFile(QStringLiteral("f"), ".hidden.tgz")}) {
        w->txtfile->setText(path);
        w->commandLineMode = true;
        folder.exitCode.reset();
        w->serialDownload()->cmdDownload_Click();
        EXPECT_EQ(folder.exitCode, -2) << path.toStdString();
    }
    EXPECT_FALSE(pdt.ran());
}

TEST_F(SerialDownloadTest, AMissingPortIsNamedOrEndsWithMinusSeven)
{
    w->txtfile->setText(makeFile(QStringLiteral("f"), QStringLiteral("a.bin")));
    ComPortOverride nowhere(7, folder.file(QStringLiteral("no-such-device")));
    w->port = 7;
    clickSend();
    ASSERT_EQ(folder.dialogs.shown.size(), 1);
    EXPECT_EQ(folder.dialogs.shown[0].text, "The selected com port does not exist: COM7");
    EXPECT_EQ(folder.dialogs.shown[0].icon, MsgIcon::Critical);
    EXPECT_TRUE(w->cmdDownload->isEnabled());
    EXPECT_EQ(w->cmdExit->text(), "Exit");

    w->commandLineMode = true;
    w->port = 0; // no device at all
    w->serialDownload()->cmdDownload_Click();
    EXPECT_EQ(folder.exitCode, -7);
    EXPECT_FALSE(pdt.ran());
}

TEST_F(SerialDownloadTest, OtherPortFailuresShowTheirDescriptionOrEndWithMinusSix)
{
    w->txtfile->setText(makeFile(QStringLiteral("f"), QStringLiteral("a.bin")));
    ComPortOverride regularFile(4, w->txtfile->text()); // not a serial device
    w->port = 4;
    clickSend();
    ASSERT_EQ(folder.dialogs.shown.size(), 1);
    EXPECT_EQ(folder.dialogs.shown[0].icon, MsgIcon::Critical);
    EXPECT_FALSE(folder.dialogs.shown[0].text.isEmpty());
    EXPECT_FALSE(folder.dialogs.shown[0].text.startsWith("The selected com port"));

    w->commandLineMode = true;
    w->serialDownload()->cmdDownload_Click();
    EXPECT_EQ(folder.exitCode, -6);
    EXPECT_FALSE(pdt.ran());
}

TEST_F(SerialDownloadTest, ABusyPortShowsThePortInUseDialogUntilRetrySucceeds)
{
    w->txtfile->setText(makeFile(QStringLiteral("f"), QStringLiteral("a.bin")));
    auto holder = std::make_unique<QSerialPort>();
    ASSERT_EQ(openComPort(*holder, 3).failure, PortFailure::None);
    // A second name for the same device is the same port.
    const QString alias = folder.file(QStringLiteral("com-alias"));
    ASSERT_TRUE(QFile::link(com.devicePath(), alias));
    ComPortOverride viaAlias(5, alias);
    w->port = 5;

    int shown = 0;
    QString caption, portLine;
    std::unique_ptr<QTimer> answer;
    std::function<void()> arm = [&] {
        answer = when([] { return shownWindow("frmPortErr") != nullptr; },
                      [&] {
                          auto* dlg = static_cast<frmPortErr*>(shownWindow("frmPortErr"));
                          ++shown;
                          caption = dlg->windowTitle();
                          portLine = dlg->lblPort->text();
                          if (shown == 2)
                              holder->close(); // the other program lets go
                          else
                              QTimer::singleShot(0, arm);
                          QTest::mouseClick(dlg->cmdRetry, Qt::LeftButton);
                      });
    };
    arm();
    clickSend();
    EXPECT_EQ(shown, 2);
    EXPECT_EQ(caption, "Serial Download Failed");
    EXPECT_EQ(portLine, "COM5 is already open.");
    EXPECT_TRUE(pdt.ran());
    EXPECT_EQ(pdt.arguments().front(), "-p5");

    // Cancel leaves the buttons untouched and runs nothing.
    QFile::remove(folder.file(QStringLiteral("pdt-call.txt")));
    ASSERT_EQ(openComPort(*holder, 3).failure, PortFailure::None);
    answer =
        when([] { return shownWindow("frmPortErr") != nullptr; },
             [] {
                 QTest::mouseClick(static_cast<frmPortErr*>(shownWindow("frmPortErr"))->cmdCancel,
                                   Qt::LeftButton);
             });
    clickSend();
    EXPECT_FALSE(pdt.ran());
    EXPECT_TRUE(w->cmdDownload->isEnabled());

    w->commandLineMode = true;
    w->serialDownload()->cmdDownload_Click();
    EXPECT_EQ(folder.exitCode, -7);
}

TEST_F(SerialDownloadTest, WithoutADisplayABusyPortIsReportedAndTakenAsCancel)
{
    ProgramEnv env = folder.env();
    env.hasDisplay = false;
    w = std::make_unique<frmmain>(env);
    w->pdtPath = pdt.path();
    w->port = 3;
    w->baud = QStringLiteral("115200");
    w->txtfile->setText(makeFile(QStringLiteral("f"), QStringLiteral("a.bin")));
    QSerialPort holder;
    ASSERT_EQ(openComPort(holder, 3).failure, PortFailure::None);
    clickSend(); // returns: nobody is needed to press Retry or Cancel

    ASSERT_EQ(folder.dialogs.shown.size(), 1);
    EXPECT_EQ(folder.dialogs.shown[0].text,
              "Please close any open serial connections, then click Retry.\r"
              "COM3 is already open.");
    EXPECT_EQ(shownWindow("frmPortErr"), nullptr);
    EXPECT_FALSE(w->retry);
    EXPECT_FALSE(pdt.ran());
    EXPECT_TRUE(w->cmdDownload->isEnabled());
}

TEST_F(SerialDownloadTest, CancelEndsTheToolAndItsChildrenAndRestoresTheButtons)
{
    w->txtfile->setText(makeFile(QStringLiteral("f"), QStringLiteral("a.bin")));
    w->show();
    pdt.hang();
    bool runningLook = false;
    auto* cmdExit = w->findChild<QPushButton*>(QStringLiteral("cmdExit"));
    ASSERT_NE(cmdExit, nullptr);
    auto cancel = when([&] { return pdt.childPid() > 0; },
                       [&] {
                           runningLook = !w->cmdDownload->isEnabled() &&
                                         cmdExit->text() == QLatin1String("Cancel");
                           QTest::mouseClick(cmdExit, Qt::LeftButton);
                       });
    clickSend();

    EXPECT_TRUE(runningLook);
    EXPECT_TRUE(w->cancelled);
    EXPECT_TRUE(w->cmdDownload->isEnabled());
    EXPECT_EQ(cmdExit->text(), "Exit");
    EXPECT_TRUE(folder.dialogs.shown.isEmpty());
    EXPECT_FALSE(folder.exitCode);
    EXPECT_TRUE(w->isVisible()); // Cancel is not Exit
    EXPECT_TRUE(pumpEventsUntil([&] { return !processAlive(pdt.childPid()); }, 5000))
        << "the tool's child outlived the cancel";
}

TEST(PdtToolCommand, WindowsGetsTheDocumentedCommandLineAsItStands)
{
    const struct {
        const char* pdtPath;
        std::optional<double> wait;
        int port;
        const char *baud, *name, *expected;
    } rows[] = {
        {"C:\\Program Files\\Tk\\pdt.exe", std::nullopt, 1, "115200", "my app.tgz",
         "\"C:\\Program Files\\Tk\\pdt.exe\" -p1 -b115200 -i\"my app.tgz\""},
        {"C:/Tk/pdt.exe", 4.0, 12, "38400", "a.tgz",
         "\"C:\\Tk\\pdt.exe\" -w4 -p12 -b38400 -i\"a.tgz\""},
        {"D:\\pdt.exe", 2.5, 3, "9600", "x y\\z.bin",
         "\"D:\\pdt.exe\" -w2.5 -p3 -b9600 -i\"x y\\z.bin\""},
    };
    for (const auto& row : rows) {
        const PdtInvocation call{row.pdtPath, row.wait, row.port, row.baud, row.name};
        const ToolCommand command = pdtToolCommand(QString::fromLatin1(row.pdtPath), call);
        EXPECT_EQ(windowsCommandLine(command), QString::fromLatin1(row.expected));
        // Elsewhere the same values arrive as one argument each, unquoted.
        EXPECT_EQ(command.arguments.last(), "-i" + QString::fromLatin1(row.name));
    }
}
