#include "record.h"
#include "wire.h"

#include <gtest/gtest.h>

using namespace tk::sim;

namespace {
QByteArray nul(const char* text)
{
    return QByteArray(text) + '\0';
}
} // namespace

TEST(Announcement, ReadsAllFieldsWithAndWithoutType)
{
    auto p = parseAnnouncement(nul("my_app.tgz") + nul("1234") + nul("644") + nul("usr1") +
                               nul("users") + nul("F"));
    ASSERT_TRUE(p.announcement) << p.error.toStdString();
    EXPECT_EQ(p.announcement->name, "my_app.tgz");
    EXPECT_EQ(p.announcement->size, 1234);
    EXPECT_EQ(p.announcement->permissions, "644");
    EXPECT_EQ(p.announcement->owner, "usr1");
    EXPECT_EQ(p.announcement->group, "users");
    EXPECT_TRUE(p.announcement->hasType);
    EXPECT_EQ(p.announcement->type, "F");

    p = parseAnnouncement(nul("a b.txt") + nul("0") + nul("750") + nul("root") + nul("users"));
    ASSERT_TRUE(p.announcement);
    EXPECT_EQ(p.announcement->name, "a b.txt");
    EXPECT_EQ(p.announcement->size, 0);
    // A backslash is an ordinary character of a name on the terminal.
    EXPECT_TRUE(parseAnnouncement(nul("back\\slash.tgz") + nul("1") + nul("644") + nul("usr1") +
                                  nul("users"))
                    .announcement);
    EXPECT_FALSE(p.announcement->hasType);
}

TEST(Announcement, RefusesMalformedPayloads)
{
    const QByteArray tail = nul("644") + nul("usr1") + nul("users");
    const QList<QByteArray> bad{
        QByteArray(),
        "x.tgz",                                                            // no NUL at all
        nul("x.tgz") + nul("12") + nul("644") + nul("usr1") + "users",      // last NUL missing
        nul("x.tgz") + nul("12") + nul("644") + nul("usr1"),                // four fields
        nul("x.tgz") + nul("12") + tail + nul("F") + nul("extra"),          // seven fields
        nul("") + nul("12") + tail,                                         // empty name
        nul("..") + nul("12") + tail,                                       // not a file name
        nul("../etc/passwd") + nul("12") + tail,                            // a path
        nul("x.tgz") + nul("") + tail,                                      // empty size
        nul("x.tgz") + nul("-5") + tail,                                    // signed size
        nul("x.tgz") + nul("12a") + tail,                                   // not decimal
        nul("x.tgz") + nul("99999999999999999999") + tail,                  // absurdly large
        nul("x.tgz") + nul("12") + nul("648") + nul("usr1") + nul("users"), // not octal
        nul("x.tgz") + nul("12") + nul("64") + nul("usr1") + nul("users"),  // two digits
        nul("x.tgz") + nul("12") + nul("644") + nul("") + nul("users"),     // no owner
        nul("x.tgz") + nul("12") + tail + nul("X"),                         // unknown type
        nul("x.tgz") + nul("12") + tail + nul("f"), // type is case-sensitive
    };
    for (const QByteArray& payload : bad) {
        const auto p = parseAnnouncement(payload);
        EXPECT_FALSE(p.announcement) << readable(payload).toStdString();
        EXPECT_FALSE(p.error.isEmpty());
    }
}

TEST(Clock, ReadsTheDateCommandFormAndRefusesAnythingElse)
{
    const auto t = parseClock("120608352026.07");
    ASSERT_TRUE(t);
    EXPECT_EQ(*t, QDateTime(QDate(2026, 12, 6), QTime(8, 35, 7)));

    for (const char* bad : {"", "12060835202607", "120608352026.7", "120608352026,07",
                            "130608352026.07", "023008352026.07", "120624352026.07",
                            "12060835202a.07", "120608352026.07x", "120608352026.60"})
        EXPECT_FALSE(parseClock(bad)) << bad;
}

// Splits a stream of commands the way the daemon does, given bytes in pieces.
static QList<QByteArray> splitStream(const QList<QByteArray>& pieces)
{
    QList<QByteArray> out;
    QByteArray buf;
    for (const QByteArray& piece : pieces) {
        buf += piece;
        while (qsizetype n = commandLength(buf, false)) {
            out.append(buf.left(n));
            buf.remove(0, n);
        }
    }
    if (qsizetype n = commandLength(buf, true))
        out.append(buf.left(n));
    return out;
}

TEST(CommandStream, FindsEveryCommandWhetherSplitAtAnyByteOrCoalesced)
{
    const QByteArray dld = QByteArray("DLD:") + nul("a.tgz") + nul("5") + nul("644") + nul("usr1") +
                           nul("users") + nul("P");
    const QList<QByteArray> expected{
        "VER:", "RTC:120608352026.07", "ASP:", dld, "WHO:", "ART:", "RST:"};
    const QByteArray stream = expected.join();
    EXPECT_EQ(splitStream({stream}), expected);
    for (qsizetype cut = 1; cut < stream.size(); ++cut)
        EXPECT_EQ(splitStream({stream.left(cut), stream.mid(cut)}), expected) << cut;
    QList<QByteArray> bytes;
    for (char c : stream)
        bytes.append(QByteArray(1, c));
    EXPECT_EQ(splitStream(bytes), expected);
}

TEST(CommandStream, WaitsForAPauseWhereTheBytesDoNotTellTheEnd)
{
    const QByteArray older =
        QByteArray("DLD:") + nul("a.tgz") + nul("5") + nul("644") + nul("usr1") + nul("users");
    EXPECT_EQ(commandLength(older, false), 0);
    EXPECT_EQ(commandLength(older, true), older.size());
    EXPECT_EQ(commandLength("MSG:hello", false), 0);
    EXPECT_EQ(commandLength("MSG:hello", true), 9);
    EXPECT_EQ(commandLength("VE", false), 0);
    EXPECT_EQ(commandLength("VE", true), 2);
    EXPECT_EQ(commandLength("RTC:1206", false), 0);
    EXPECT_EQ(commandLength(QByteArray("\0\0\0\0\0", 5), true), 5);
    EXPECT_EQ(commandLength(QByteArray(), true), 0);
}

TEST(Readable, ShowsNulAsBarAndOtherControlBytesInHex)
{
    EXPECT_EQ(readable(QByteArray("DLD:a\0"
                                  "5\0",
                                  8)),
              "DLD:a|5|");
    EXPECT_EQ(readable("01.02.01\n"), "01.02.01<0A>");
    EXPECT_EQ(readable("\x1c\xff"), "<1C><FF>");
}

TEST(Record, JoinsNineFieldsWithPackageAndKeyLists)
{
    TerminalRecord r;
    r.serial = "111-222-333";
    r.packages = TerminalRecord::splitPackageText("app;1.0,lib;2.1,bare");
    r.discretionary = "a\r\nb";
    r.keyStatus = TerminalRecord::emptyKeyStatus();
    r.keyStatus[0] = "1";
    const QList<QByteArray> fields = r.toBytes().split('\x1c');
    ASSERT_EQ(fields.size(), 9);
    EXPECT_EQ(fields[1], "111-222-333");
    EXPECT_EQ(fields[2], "650");
    EXPECT_EQ(fields[5], "app;1.0\x1dlib;2.1\x1d"
                         "bare;");
    EXPECT_EQ(fields[6], "a\r\nb");
    const QList<QByteArray> keys = fields[7].split('\x1d');
    ASSERT_EQ(keys.size(), 26);
    EXPECT_EQ(keys[0], "1");
    EXPECT_EQ(keys[25], "");

    r.packages.clear();
    r.keyStatus.clear();
    const QList<QByteArray> empty = r.toBytes().split('\x1c');
    ASSERT_EQ(empty.size(), 9);
    EXPECT_EQ(empty[5], "");
    EXPECT_EQ(empty[7], "");
}
