// The KSYN window against the simulator's serial side on a pseudo-terminal:
// the frame as it reaches the terminal, the wait for the ACK, the time-out
// question, Cancel, and the exit codes of unattended runs.
#include "programfolder.h"
#include "serialfixtures.h"

#include "platform/comports.h"
#include "platform/wait.h"
#include "ui/frmksyn.h"
#include "ui/frmmain.h"
#include "ui/serialdownload.h"

#include <QSerialPort>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

using namespace tk;
using namespace tk::test;

namespace {

// The frame for my_app.tgz, full download, restart the device, as the
// terminal must receive it, check byte 0x09 included.
const QByteArray kMyAppFrame = QByteArray("\x02KSYN\x1cmy_app.tgz\x1c"
                                          "F\x1c"
                                          "2\x03\x09");

class KsynWindowTest : public ::testing::Test {
protected:
    KsynWindowTest() : pdt(folder.path()), com(6) { makeWindow(true); }

    void makeWindow(bool hasDisplay)
    {
        ProgramEnv env = folder.env();
        env.hasDisplay = hasDisplay;
        // Every requested end is kept: a second one would mean the program
        // ran on after the point where it really ends.
        env.exitProcess = [this](int code) { exits.push_back(code); };
        w = std::make_unique<frmmain>(env);
        w->pdtPath = pdt.path();
        w->selectComPort(6);
        w->b19200->setChecked(true);
        folder.write(QStringLiteral("my app.tgz"), "payload");
        w->txtfile->setText(folder.file(QStringLiteral("my app.tgz")));
        w->checkSendKSYN->setChecked(true);
        w->optSerialFull->setChecked(true);
        w->checkSerialRestartDevice->setChecked(true);
    }

    frmKSYN* ksyn() { return w->serialDownload()->ksynWindow(); }
    sim::SerialTerminal& terminal() { return com.terminal(); }
    void clickSend() { QTest::mouseClick(w->cmdDownload, Qt::LeftButton); }
    bool buttonsIdle() const
    {
        return w->cmdDownload->isEnabled() && w->cmdExit->text() == QLatin1String("Exit");
    }
    // The KSYN-only mode of the command line: hidden, values from setup.
    void sendKsynAlone(const QString& port, const QString& baud, const QString& timeout)
    {
        ASSERT_TRUE(ksyn()->setup(port, baud, timeout));
        ksyn()->doSend();
    }
    bool waitForExit(int ms = 5000)
    {
        return pumpEventsUntil([&] { return !exits.empty(); }, ms);
    }

    ProgramFolder folder;
    FakePdt pdt;
    PtyComPort com;
    std::vector<int> exits;
    std::unique_ptr<frmmain> w;
};

} // namespace

// --- Interactive runs: the window is shown modally over the main window ---

TEST_F(KsynWindowTest, TheFrameArrivesByteExactAtTheChosenBaudWith8N1)
{
    w->comboBaud->setCurrentIndex(w->comboBaud->findText(QStringLiteral("38400")));
    w->bOther->click();
    w->show();
    QString portShown;
    bool labelsShown = false;
    bool eightNoParity = false;
    auto look = when([&] { return ksyn()->isVisible() && !terminal().frames().isEmpty(); },
                     [&] {
                         portShown = ksyn()->lblPort->text();
                         // A pseudo-terminal always carries 8 bits without
                         // parity, so those two are read from the program's side.
                         const QSerialPort* port = ksyn()->serialPort;
                         eightNoParity = port->isOpen() && port->dataBits() == QSerialPort::Data8 &&
                                         port->parity() == QSerialPort::NoParity;
                         labelsShown = ksyn()->lblSent->isVisible() && ksyn()->lblWait->isVisible();
                     });
    clickSend();

    ASSERT_EQ(terminal().frames().size(), 1);
    const sim::KsynFrame& frame = terminal().frames()[0];
    EXPECT_EQ(frame.bytes, kMyAppFrame);
    EXPECT_TRUE(frame.valid) << frame.error.toStdString();
    EXPECT_EQ(frame.line, "38400,n,8,1");
    EXPECT_EQ(terminal().noiseBytes(), 0);
    EXPECT_EQ(portShown, "6");
    EXPECT_TRUE(eightNoParity);
    EXPECT_TRUE(labelsShown);
    EXPECT_EQ(ksyn()->windowTitle(), "Sending KSYN Command...");
    EXPECT_TRUE(pdt.ran());
    EXPECT_EQ(pdt.arguments(), (QStringList{"-p6", "-b38400", "-imy app.tgz"}));
}

TEST_F(KsynWindowTest, AnAckFollowedByMoreBytesLetsTheToolRun)
{
    terminal().config.answerSuffix = "\x15trailing";
    terminal().config.answerDelayMs = 150; // the wait is under way first
    w->show();
    clickSend();

    ASSERT_EQ(terminal().frames().size(), 1);
    EXPECT_FALSE(ksyn()->waiting);
    EXPECT_FALSE(ksyn()->isVisible());
    EXPECT_LT(ksyn()->tickCount, 40); // acknowledged, not timed out
    EXPECT_TRUE(pdt.ran());
    EXPECT_TRUE(folder.dialogs.shown.isEmpty());
    EXPECT_FALSE(w->cancelled);
    EXPECT_TRUE(buttonsIdle());
    EXPECT_TRUE(exits.empty());
}

TEST_F(KsynWindowTest, ANakIsIgnoredUntilTheTimeOutThenNoSkipsTheToolAndYesRunsIt)
{
    terminal().config.validAnswer = sim::KsynAnswer::Nak;
    w->show();
    ASSERT_TRUE(ksyn()->setup(QString(), QString(), QStringLiteral("1")));
    int shownProgress = -1, atTick = -1;
    auto watch = when([&] { return ksyn()->isVisible() && ksyn()->tickCount >= 5; },
                      [&] {
                          atTick = ksyn()->tickCount;
                          shownProgress = ksyn()->pbTimeout->value();
                      });
    folder.dialogs.answers.push_back(MsgAnswer::No);
    clickSend();

    ASSERT_EQ(folder.dialogs.shown.size(), 1);
    EXPECT_EQ(folder.dialogs.shown[0].title, "Tk650Downloader: Serial Download");
    EXPECT_EQ(folder.dialogs.shown[0].text,
              "Failed to receive a response from the device.\rAttempt to send the file anyway?");
    EXPECT_EQ(folder.dialogs.shown[0].buttons, MsgButtons::YesNo);
    EXPECT_EQ(terminal().receivedBytes().count('\x02'), 1); // one frame, never repeated
    EXPECT_EQ(shownProgress, atTick * 10);                  // a one-second wait: 10 % a tick
    EXPECT_EQ(ksyn()->tickCount, 10);
    EXPECT_EQ(ksyn()->pbTimeout->value(), 100);
    EXPECT_FALSE(ksyn()->isVisible());
    EXPECT_FALSE(ksyn()->waiting);
    EXPECT_TRUE(w->cancelled);
    EXPECT_FALSE(pdt.ran());
    EXPECT_TRUE(buttonsIdle());

    folder.dialogs.answers.push_back(MsgAnswer::Yes);
    clickSend();
    EXPECT_EQ(folder.dialogs.shown.size(), 2);
    EXPECT_EQ(terminal().frames().size(), 2);
    EXPECT_FALSE(ksyn()->isVisible());
    EXPECT_TRUE(pdt.ran());
    EXPECT_TRUE(buttonsIdle());
    EXPECT_TRUE(exits.empty());
}

TEST_F(KsynWindowTest, EachSendStartsItsBarFromZero)
{
    terminal().config.validAnswer = sim::KsynAnswer::Silent;
    w->show();
    ASSERT_TRUE(ksyn()->setup(QString(), QString(), QStringLiteral("1")));
    folder.dialogs.answers = {MsgAnswer::No, MsgAnswer::No};
    clickSend();
    ASSERT_EQ(ksyn()->pbTimeout->value(), 100); // timed out

    // The next wait shows only its own ticks.
    int progress = -1, atTick = -1;
    auto look = when([&] { return ksyn()->isVisible() && terminal().frames().size() == 2; },
                     [&] {
                         atTick = ksyn()->tickCount;
                         progress = ksyn()->pbTimeout->value();
                     });
    clickSend();
    ASSERT_EQ(terminal().frames().size(), 2);
    EXPECT_EQ(progress, atTick * 10);
    EXPECT_EQ(ksyn()->pbTimeout->value(), 100);

    // A port failure starts no wait: nothing of it is used up.
    ComPortOverride nowhere(8, folder.file(QStringLiteral("no-device")));
    ASSERT_TRUE(ksyn()->setup(QStringLiteral("8"), QString(), QString()));
    progress = -1;
    auto cancel = when([&] { return ksyn()->isVisible() && folder.dialogs.shown.size() == 3; },
                       [&] {
                           progress = ksyn()->pbTimeout->value();
                           QTest::mouseClick(ksyn()->cmdCancel, Qt::LeftButton);
                       });
    clickSend();
    EXPECT_EQ(progress, 0);
    EXPECT_FALSE(pdt.ran());
}

TEST_F(KsynWindowTest, CancelDuringTheWaitRestoresTheButtonsAndSkipsTheTool)
{
    terminal().config.validAnswer = sim::KsynAnswer::Silent;
    w->show();
    bool runningLook = false;
    auto cancel = when([&] { return ksyn()->isVisible() && !terminal().frames().isEmpty(); },
                       [&] {
                           runningLook = !w->cmdDownload->isEnabled() &&
                                         w->cmdExit->text() == QLatin1String("Cancel");
                           QTest::mouseClick(ksyn()->cmdCancel, Qt::LeftButton);
                       });
    clickSend();

    EXPECT_TRUE(runningLook);
    EXPECT_TRUE(w->cancelled);
    EXPECT_FALSE(ksyn()->waiting);
    EXPECT_FALSE(ksyn()->isVisible());
    EXPECT_FALSE(ksyn()->tmrTimeout->isActive());
    EXPECT_FALSE(ksyn()->serialPort->isOpen());
    EXPECT_FALSE(pdt.ran());
    EXPECT_TRUE(buttonsIdle());
    EXPECT_TRUE(folder.dialogs.shown.isEmpty());
    EXPECT_TRUE(w->isVisible());

    // The port was let go: the next download opens it again.
    terminal().config.validAnswer = sim::KsynAnswer::Ack;
    clickSend();
    EXPECT_TRUE(pdt.ran());
}

TEST_F(KsynWindowTest, AFailureToOpenThePortLeavesTheWindowOpenUntilCancel)
{
    ComPortOverride nowhere(8, folder.file(QStringLiteral("no-device")));
    w->show();
    ASSERT_TRUE(ksyn()->setup(QStringLiteral("8"), QString(), QString()));
    bool labelsHidden = false;
    auto cancel = when([&] { return ksyn()->isVisible() && !folder.dialogs.shown.isEmpty(); },
                       [&] {
                           labelsHidden = !ksyn()->lblSent->isVisible() &&
                                          !ksyn()->lblWait->isVisible() &&
                                          !ksyn()->tmrTimeout->isActive();
                           QTest::mouseClick(ksyn()->cmdCancel, Qt::LeftButton);
                       });
    clickSend();

    ASSERT_EQ(folder.dialogs.shown.size(), 1);
    EXPECT_EQ(folder.dialogs.shown[0].icon, MsgIcon::Critical);
    EXPECT_TRUE(
        folder.dialogs.shown[0].text.startsWith("The selected com port does not exist: COM"));
    EXPECT_TRUE(labelsHidden);
    EXPECT_TRUE(terminal().frames().isEmpty());
    EXPECT_FALSE(pdt.ran());
    EXPECT_TRUE(buttonsIdle());
    EXPECT_TRUE(exits.empty());
}

TEST_F(KsynWindowTest, WithoutADisplayAPortFailureIsReportedAndTakenAsCancel)
{
    makeWindow(false);
    ComPortOverride nowhere(8, folder.file(QStringLiteral("no-device")));
    w->show();
    ASSERT_TRUE(ksyn()->setup(QStringLiteral("8"), QString(), QString()));
    clickSend(); // returns: nobody is needed to press Cancel

    ASSERT_EQ(folder.dialogs.shown.size(), 1);
    EXPECT_TRUE(
        folder.dialogs.shown[0].text.startsWith("The selected com port does not exist: COM"));
    EXPECT_FALSE(ksyn()->isVisible());
    EXPECT_FALSE(pdt.ran());
    EXPECT_TRUE(buttonsIdle());
    EXPECT_TRUE(exits.empty());
}

// --- Unattended: the window stays hidden and the program ends with a code ---

TEST_F(KsynWindowTest, KsynAloneEndsWithZeroOnAnAckAndMinusFourWithoutOne)
{
    bool everShown = false;
    auto watch = when([&] { return ksyn()->isVisible(); }, [&] { everShown = true; });
    sendKsynAlone(QStringLiteral("6"), QStringLiteral("9600"), QString());
    ASSERT_TRUE(waitForExit());
    EXPECT_EQ(exits, std::vector<int>{0});
    ASSERT_EQ(terminal().frames().size(), 1);
    EXPECT_EQ(terminal().frames()[0].line, "9600,n,8,1");

    // A time-out of 0 waits the default 4 seconds: 40 ticks.
    exits.clear();
    terminal().config.validAnswer = sim::KsynAnswer::Nak;
    sendKsynAlone(QString(), QString(), QStringLiteral("0"));
    EXPECT_EQ(ksyn()->setTimeout, 4);
    ASSERT_TRUE(waitForExit(10000));
    EXPECT_EQ(exits, std::vector<int>{-4});
    EXPECT_EQ(ksyn()->tickCount, 40);
    EXPECT_EQ(terminal().frames().size(), 2);

    EXPECT_FALSE(everShown);
    EXPECT_TRUE(folder.dialogs.shown.isEmpty());
    EXPECT_FALSE(pdt.ran());
}

TEST_F(KsynWindowTest, KsynAlonePortFailuresEndWithMinusSevenOrMinusSix)
{
    {
        ComPortOverride nowhere(8, folder.file(QStringLiteral("no-device")));
        sendKsynAlone(QStringLiteral("8"), QString(), QString());
        EXPECT_EQ(exits, std::vector<int>{-7}) << "missing port";
    }
    {
        exits.clear();
        QSerialPort holder;
        ASSERT_TRUE(openComPort(holder, 6).ok());
        sendKsynAlone(QStringLiteral("6"), QString(), QString());
        EXPECT_EQ(exits, std::vector<int>{-7}) << "port in use";
    }
    {
        exits.clear();
        ComPortOverride regularFile(9, folder.file(QStringLiteral("my app.tgz")));
        sendKsynAlone(QStringLiteral("9"), QString(), QString());
        EXPECT_EQ(exits, std::vector<int>{-6}) << "not a serial device";
    }
    exits.clear();
    sendKsynAlone(QStringLiteral("6"), QStringLiteral("fast"), QString());
    EXPECT_EQ(exits, std::vector<int>{-6}) << "baud rate that is no number";

    EXPECT_FALSE(ksyn()->waiting);
    EXPECT_TRUE(terminal().frames().isEmpty());
    EXPECT_TRUE(folder.dialogs.shown.isEmpty());
    // Nothing ticks on after the end.
    EXPECT_FALSE(ksyn()->tmrTimeout->isActive());
    EXPECT_FALSE(ksyn()->tmrUnload->isActive());
}

TEST_F(KsynWindowTest, ALongTimeOutStillRunsOutPastTheSixteenBitTickRange)
{
    terminal().config.validAnswer = sim::KsynAnswer::Silent;
    sendKsynAlone(QString(), QString(), QStringLiteral("3300")); // 33000 ticks
    ksyn()->tickCount = 32990;
    ASSERT_TRUE(waitForExit(10000));
    EXPECT_EQ(exits, std::vector<int>{-4});
    EXPECT_EQ(ksyn()->tickCount, 33000);
}

TEST_F(KsynWindowTest, KsynAloneReallyEndsTheProcess)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto run = [this](sim::KsynAnswer answer, const char* timeout) {
        terminal().config.validAnswer = answer;
        // The real process end, not the recording one.
        frmmain real{[this] {
            ProgramEnv env = folder.env();
            env.exitProcess = nullptr;
            return env;
        }()};
        real.port = 6;
        real.baud = QStringLiteral("19200");
        real.txtfile->setText(folder.file(QStringLiteral("my app.tgz")));
        auto* k = real.serialDownload()->ksynWindow();
        k->setup(QString(), QString(), QString::fromLatin1(timeout));
        k->doSend();
        pumpEventsUntil([] { return false; }, 10000);
    };
    EXPECT_EXIT(run(sim::KsynAnswer::Ack, ""), ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(run(sim::KsynAnswer::Silent, "1"), ::testing::ExitedWithCode(256 - 4), "");
}

TEST_F(KsynWindowTest, UnattendedSerialDownloadRunsTheToolOnlyAfterTheAck)
{
    w->commandLineMode = true;
    w->doSend = true;
    pdt.exitWith(2);
    terminal().config.answerDelayMs = 300;
    bool toolRanBeforeAck = true;
    QObject::connect(&terminal(), &sim::SerialTerminal::logLine, [&](const QString& line) {
        if (line.startsWith(QLatin1String("serial -> ")))
            toolRanBeforeAck = pdt.ran();
    });
    w->serialDownload()->cmdDownload_Click();
    ASSERT_EQ(terminal().frames().size(), 1);
    EXPECT_FALSE(toolRanBeforeAck);
    EXPECT_EQ(terminal().frames()[0].bytes, kMyAppFrame);
    EXPECT_EQ(pdt.arguments(), (QStringList{"-w4", "-p6", "-b19200", "-imy app.tgz"}));
    EXPECT_EQ(exits, std::vector<int>{-5});
    EXPECT_FALSE(ksyn()->isVisible());
    EXPECT_TRUE(folder.dialogs.shown.isEmpty());
}

TEST_F(KsynWindowTest, UnattendedSerialDownloadEndsAtTheKsynFailureWithoutTheTool)
{
    w->commandLineMode = true;
    w->doSend = true;
    terminal().config.validAnswer = sim::KsynAnswer::Silent;
    ASSERT_TRUE(ksyn()->setup(QString(), QString(), QStringLiteral("1")));
    w->serialDownload()->cmdDownload_Click();
    EXPECT_EQ(exits, std::vector<int>{-4});
    EXPECT_FALSE(pdt.ran());

    exits.clear();
    ComPortOverride nowhere(8, folder.file(QStringLiteral("no-device")));
    ASSERT_TRUE(ksyn()->setup(QStringLiteral("8"), QString(), QString()));
    w->serialDownload()->cmdDownload_Click();
    EXPECT_EQ(exits, std::vector<int>{-7});
    EXPECT_FALSE(pdt.ran());
    EXPECT_TRUE(folder.dialogs.shown.isEmpty());
}
