#include "core/qsf.h"

#include <gtest/gtest.h>

using tk::qsf::readValues;
using tk::qsf::writeLines;
using V = std::vector<std::string>;

TEST(QsfReader, ValuesEndAtCommasAndLineEndsOfEveryKind)
{
    EXPECT_EQ(readValues("COM2\r\n57600\r\nopen\r\n"), (V{"COM2", "57600", "open"}));
    EXPECT_EQ(readValues("COM1,9600"), (V{"COM1", "9600"}));
    EXPECT_EQ(readValues("COM1,9600\r\nclose\r\n"), (V{"COM1", "9600", "close"}));
    EXPECT_EQ(readValues("a\nb\rc\r\nd"), (V{"a", "b", "c", "d"}));
    // An empty line is an empty value; the last line end starts nothing.
    EXPECT_EQ(readValues("a\r\n\r\nb\r\n"), (V{"a", "", "b"}));
    EXPECT_EQ(readValues("a,\r\n"), (V{"a", ""}));
    EXPECT_EQ(readValues(""), V{});
}

TEST(QsfReader, LeadingBlanksAreSkippedTrailingOnesKept)
{
    EXPECT_EQ(readValues("  COM1,\t 9600 \r\n"), (V{"COM1", "9600 "}));
    EXPECT_EQ(readValues("   \r\nx"), (V{"", "x"}));
}

TEST(QsfReader, AnUnquotedPathIsCutAtItsComma)
{
    EXPECT_EQ(readValues("C:\\tools,old\\pdt.exe\r\n", 1), (V{"C:\\tools"}));
}

TEST(QsfReader, QuotedValuesLoseTheirQuotesAndKeepCommasAndLineBreaks)
{
    EXPECT_EQ(readValues("\"C:\\a,b\\pdt.exe\"\r\n"), (V{"C:\\a,b\\pdt.exe"}));
    EXPECT_EQ(readValues(" \"x\" , y"), (V{"x", "y"}));
    // Saved device rows: quoted, fields joined by RS, one per line.
    const std::string rows = "\"1\x1e"
                             "10.0.0.1\x1e"
                             "a,b\r\nc\"\r\n\"2\"\r\n";
    EXPECT_EQ(readValues(rows), (V{"1\x1e"
                                   "10.0.0.1\x1e"
                                   "a,b\r\nc",
                                   "2"}));
    // Text after the closing quote up to the separator is dropped.
    EXPECT_EQ(readValues("\"ab\"cd,e"), (V{"ab", "e"}));
    // A quote that never closes runs to the end of the text.
    EXPECT_EQ(readValues("\"open,ended\r\nline"), (V{"open,ended\r\nline"}));
    EXPECT_EQ(readValues("\"\"\r\n"), (V{""}));
}

TEST(QsfReader, ReadsValueByValueAndStopsWhenAsked)
{
    tk::qsf::Reader reader("one,two");
    std::string v;
    ASSERT_TRUE(reader.next(v));
    EXPECT_EQ(v, "one");
    ASSERT_TRUE(reader.next(v));
    EXPECT_EQ(v, "two");
    EXPECT_TRUE(reader.atEnd());
    EXPECT_FALSE(reader.next(v));
    EXPECT_EQ(v, "");
    EXPECT_EQ(readValues("a\r\nb\r\nc\r\nd\r\n", 3), (V{"a", "b", "c"}));
    EXPECT_EQ(readValues("a", 0), V{});
}

TEST(QsfWriter, WritesOneCrLfLinePerValueAndReadsBackEveryByte)
{
    EXPECT_EQ(writeLines({"COM3", "115200", "close"}), "COM3\r\n115200\r\nclose\r\n");
    EXPECT_EQ(writeLines({}), "");
    std::string high;
    for (int c = 0x80; c <= 0xff; ++c)
        high += static_cast<char>(c);
    const V values{"/opt/t\xe4ls/pdt.exe", high, "", "with \"inner\" quote", "trailing "};
    EXPECT_EQ(readValues(writeLines(values)), values);
}
