#include "platform/wait.h"
#include "serialterminal.h"

#include <QSerialPort>
#include <gtest/gtest.h>

using namespace tk;
using namespace tk::sim;

namespace {
QByteArray frame(const QByteArray& name, const QByteArray& type, const QByteArray& restart)
{
    QByteArray f = "\x02KSYN\x1c" + name + '\x1c' + type + '\x1c' + restart + '\x03';
    return f + ksynCheckByte(f);
}
} // namespace

TEST(KsynFrame, ChecksTheExamplesAndEveryKindOfDamage)
{
    const QByteArray a = frame("a.tgz", "P", "");
    EXPECT_EQ(a.right(1), "\x66");
    const QByteArray b = frame("my_app.tgz", "F", "2");
    EXPECT_EQ(b.right(1), "\x09");
    for (const QByteArray& good : {a, b, frame("x", "F", "1")}) {
        const KsynFrame f = checkKsynFrame(good);
        EXPECT_TRUE(f.valid) << f.error.toStdString();
    }
    const KsynFrame ok = checkKsynFrame(b);
    EXPECT_EQ(ok.fileName, "my_app.tgz");
    EXPECT_EQ(ok.type, "F");
    EXPECT_EQ(ok.restart, "2");

    QByteArray wrongCheck = a;
    wrongCheck.back() = char(wrongCheck.back() ^ 1);
    QByteArray flipped = a;
    flipped[7] = 'b'; // a byte changed in transit
    for (const QByteArray& bad : {wrongCheck, flipped, frame("a.tgz", "X", ""),
                                  frame("a.tgz", "P", "3"), frame("", "P", ""),
                                  frame("a.tgz", "P",
                                        "1\x1c"
                                        "extra"),
                                  QByteArray("\x02KSYM\x1c"
                                             "a\x1cP\x1c\x03") +
                                      '\0',
                                  QByteArray("\x02\x03\x03")})
        EXPECT_FALSE(checkKsynFrame(bad).valid) << bad.toHex().toStdString();
}

TEST(KsynFrame, ReaderFindsFramesSplitAnywhereAmidNoise)
{
    const QByteArray a = frame("a.tgz", "P", "");
    const QByteArray b = frame("my_app.tgz", "F", "2");
    const QByteArray stream = "zz" + a + b;
    for (qsizetype cut = 0; cut <= stream.size(); ++cut) {
        KsynReader r;
        QList<KsynFrame> got = r.feed(stream.left(cut));
        got += r.feed(stream.mid(cut));
        ASSERT_EQ(got.size(), 2) << cut;
        EXPECT_EQ(got[0].bytes, a);
        EXPECT_EQ(got[1].bytes, b);
        EXPECT_TRUE(got[0].valid && got[1].valid);
        EXPECT_EQ(r.noiseBytes(), 2);
    }
    KsynReader r;
    const QList<KsynFrame> got = r.feed("\x02KSYN\x1c"
                                        "a" +
                                        b);
    ASSERT_EQ(got.size(), 2);
    EXPECT_FALSE(got[0].valid); // cut short by the next frame's STX
    EXPECT_TRUE(got[1].valid);
}

namespace {
struct Line {
    Line()
    {
        EXPECT_TRUE(terminal.createPseudoTerminal()) << terminal.errorString().toStdString();
        open();
    }
    void open()
    {
        port.setPortName(terminal.devicePath());
        port.setBaudRate(115200);
        EXPECT_TRUE(port.open(QIODevice::ReadWrite)) << port.errorString().toStdString();
    }
    QByteArray exchange(const QByteArray& bytes, qsizetype expect, int maxMs = 2000)
    {
        QByteArray got;
        auto c = QObject::connect(&port, &QSerialPort::readyRead, [&] { got += port.readAll(); });
        port.write(bytes);
        pumpEventsUntil([&] { return got.size() >= expect; }, maxMs);
        QObject::disconnect(c);
        return got;
    }
    SerialTerminal terminal;
    QSerialPort port;
};
} // namespace

TEST(SerialTerminal, AnswersFramesOnAPseudoTerminalAsConfigured)
{
    Line line;
    const QByteArray good = frame("a.tgz", "P", "");
    EXPECT_EQ(line.exchange(good, 1), "\x06");
    QByteArray bad = good;
    bad.back() = 0;
    EXPECT_EQ(line.exchange(bad, 1), "\x15");
    ASSERT_EQ(line.terminal.frames().size(), 2);
    EXPECT_TRUE(line.terminal.frames()[0].valid);
    EXPECT_EQ(line.terminal.frames()[0].fileName, "a.tgz");
    EXPECT_FALSE(line.terminal.frames()[1].valid);

    // Every byte value passes the line unchanged.
    const QByteArray binary = frame(QByteArray("\x00\x0d\x0a\x11\x13\x7f\xff", 7), "F", "1");
    line.terminal.config.answerSuffix = "more";
    EXPECT_EQ(line.exchange(binary, 5), "\x06more");
    EXPECT_EQ(line.terminal.frames().last().bytes, binary);

    line.terminal.config.validAnswer = KsynAnswer::Silent;
    EXPECT_EQ(line.exchange(good, 1, 200), "");
    EXPECT_EQ(line.terminal.frames().size(), 4);

    // The line stays usable after the downloader closes and opens the port again.
    line.port.close();
    line.open();
    line.terminal.config = SerialConfig();
    line.terminal.config.answerDelayMs = 50;
    EXPECT_EQ(line.exchange(good, 1), "\x06");
}

TEST(SerialTerminal, SeesTheLineSettingsTheDownloaderChose)
{
    Line line;
    EXPECT_EQ(line.terminal.lineSettings(), "115200,n,8,1");
    line.exchange(frame("a.tgz", "P", ""), 1);
    EXPECT_EQ(line.terminal.frames().last().line, "115200,n,8,1");

    line.port.setBaudRate(1200);
    line.port.setStopBits(QSerialPort::TwoStop);
    EXPECT_EQ(line.terminal.lineSettings(), "1200,n,8,2");
    // A pseudo-terminal always carries 8 bits without parity, whatever was asked.
    line.port.setParity(QSerialPort::EvenParity);
    EXPECT_EQ(line.terminal.lineSettings(), "1200,n,8,2");

    SerialTerminal unopened;
    EXPECT_EQ(unopened.lineSettings(), "");
}
