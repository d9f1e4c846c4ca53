#include "core/bcastlist.h"

#include <gmock/gmock.h>

using namespace tk::bcast;

TEST(BcastList, OrdinaryRowsKeepTheFileLayout)
{
    const std::vector<SavedRow> rows{{"123-456-789", "10.0.0.5", "06/12/2026 08:35:07", "",
                                      "T\x1c"
                                      "123-456-789\x1c\x1c"},
                                     {"SN2", "10.0.0.6", "", "shop 4, till 2", "x"}};
    EXPECT_EQ(writeSavedRows(rows), "\"123-456-789\x1e"
                                    "10.0.0.5\x1e"
                                    "06/12/2026 08:35:07\x1e\x1eT\x1c"
                                    "123-456-789\x1c\x1c\"\r\n"
                                    "\"SN2\x1e"
                                    "10.0.0.6\x1e\x1eshop 4, till 2\x1ex\"\r\n");
    EXPECT_EQ(savedRowsFromValues({"SN2\x1e"
                                   "10.0.0.6\x1e\x1eshop 4, till 2\x1ex"}),
              std::vector<SavedRow>{rows[1]});
}

TEST(BcastList, AwkwardTextsRoundTrip)
{
    std::string all;
    for (int i = 0; i < 256; ++i)
        all += static_cast<char>(i);
    const std::vector<SavedRow> rows{
        {"S\"N", "1.2.3.4", "d t", "a\nb\r\nc\"", std::string("\x1e\x10q\x10") + "\r"},
        {all, all, all, all, all},
        {"", "", "", "", ""}};
    const std::string file = writeSavedRows(rows);
    // Each row stays one quoted line: no raw quote, CR, LF or RS inside a value.
    std::size_t lines = 0;
    for (std::size_t at = file.find("\r\n"); at != std::string::npos;
         at = file.find("\r\n", at + 2))
        ++lines;
    EXPECT_EQ(lines, rows.size());
    for (const auto& row : rows) {
        for (const auto* f :
             {&row.serial, &row.address, &row.lastBcast, &row.discretionary, &row.record})
            EXPECT_EQ(unescapeField(escapeField(*f)), *f);
    }
}

TEST(BcastList, ValuesThatAreNotRowsAreSkipped)
{
    const auto rows = savedRowsFromValues({"",
                                           "a\x1e"
                                           "b\x1e"
                                           "c\x1e"
                                           "d",
                                           "a\x1e"
                                           "b\x1e"
                                           "c\x1e"
                                           "d\x1e"
                                           "e\x1e"
                                           "f",
                                           "s\x1e"
                                           "ip\x1e"
                                           "t\x1e"
                                           "d\x1e"
                                           "r"});
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], (SavedRow{"s", "ip", "t", "d", "r"}));
    // A DLE the writer did not produce is kept as it stands.
    EXPECT_EQ(unescapeField("a\x10z\x10"), "a\x10z\x10");
}

TEST(BcastList, WindowSize)
{
    auto s = parseWindowSize("6600,4995.5");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->width, 6600);
    EXPECT_EQ(s->height, 4995.5);
    s = parseWindowSize("abc, 100");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->width, 0); // then raised to the minimum by the window
    EXPECT_EQ(s->height, 100);
    EXPECT_FALSE(parseWindowSize(""));
    EXPECT_FALSE(parseWindowSize("1,2,3"));
    EXPECT_EQ(formatWindowSize(6600, 4995.5), "6600,4995.5");
    // Round sizes are written in plain digits too, so they read back the same.
    EXPECT_EQ(formatWindowSize(300000, 100000), "300000,100000");
}

TEST(BcastList, ColumnOrder)
{
    const std::vector<ColumnLayout> design{{1, 1300}, {2, 1200}, {3, 2000}, {4, 2000}, {5, 2000}};
    const std::string text = formatColumnOrder(design);
    EXPECT_EQ(text, "1;1300,2;1200,3;2000,4;2000,5;2000");
    const auto back = parseColumnOrder(text, 5);
    ASSERT_EQ(back.size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) {
        ASSERT_TRUE(back[i]);
        EXPECT_EQ(back[i]->position, design[i].position);
        EXPECT_EQ(back[i]->width, design[i].width);
    }
    const auto odd = parseColumnOrder("2;900,junk,9;100,1;-5,3;700,4;1,5;1,1;1", 5);
    ASSERT_EQ(odd.size(), 5u); // entries beyond the columns have no effect
    EXPECT_EQ(odd[0]->position, 2);
    EXPECT_FALSE(odd[1]);
    EXPECT_FALSE(odd[2]); // no column 9
    EXPECT_FALSE(odd[3]); // negative width
    EXPECT_EQ(odd[4]->width, 700);
    EXPECT_TRUE(parseColumnOrder("", 5).empty());
}

TEST(BcastList, HeaderClicksCycleAndMoveTheMarker)
{
    SortState s;
    const std::string ip = "IP Address", st = "Status";
    s = nextSortState(s, 1);
    EXPECT_EQ(sortCaption(ip, 1, s), "IP Address >");
    s = nextSortState(s, 1);
    EXPECT_EQ(sortCaption(ip, 1, s), "IP Address <");
    const SortState desc = s;
    s = nextSortState(s, 2);
    EXPECT_EQ(sortCaption(ip, 1, s), "IP Address");
    EXPECT_EQ(sortCaption(st, 2, s), "Status >");
    // Three clicks on one header: ascending, descending, unsorted.
    s = nextSortState(nextSortState(desc, 1), 1);
    EXPECT_TRUE(s.sorted);
    s = nextSortState(desc, 1);
    EXPECT_FALSE(s.sorted);
    EXPECT_EQ(sortCaption(ip, 1, s), "IP Address");
}

TEST(BcastList, SavedListIsBounded)
{
    const SavedRow ordinary{"SN", "10.0.0.5", "06/12/2026 08:35:07", "d", "r"};
    SavedRow big = ordinary;
    big.record = std::string(kMaxRecordBytes, '"'); // every byte escaped
    big.discretionary = std::string(kMaxRecordBytes, '\n');
    SavedRow tooBig = ordinary;
    tooBig.record += std::string(kMaxRecordBytes, 'x');
    const auto many = [](std::size_t n, const SavedRow& row) {
        std::vector<SavedRow> rows;
        for (std::size_t i = 0; i < n; ++i) {
            rows.push_back(row);
            rows.back().serial = "S" + std::to_string(i);
        }
        return rows;
    };
    struct Case {
        const char* what;
        std::vector<SavedRow> written;
        std::size_t read;
    };
    const Case cases[] = {
        {"rows up to the limit", many(kMaxRows, ordinary), kMaxRows},
        {"rows beyond it", many(kMaxRows + 7, ordinary), kMaxRows},
        {"the largest rows, every byte escaped", many(3, big), 3},
        {"a field beyond the record size", {tooBig, ordinary}, 1},
    };
    for (const auto& c : cases) {
        const std::string file = writeSavedRows(c.written);
        EXPECT_EQ(readSavedRows(file).size(), c.read) << c.what;
        std::vector<std::string> values;
        for (const auto& r : c.written) {
            const std::string line = writeSavedRows({r});
            values.push_back(line.substr(1, line.size() - 4)); // without quotes and CR LF
        }
        EXPECT_EQ(savedRowsFromValues(values).size(), c.read) << c.what;
    }
    // A full list of the largest rows the window writes is read whole ...
    SavedRow largest = big;
    largest.serial = std::string(kMaxSerialBytes, '"');
    largest.address = largest.lastBcast = largest.serial;
    EXPECT_LE(writeSavedRows({largest}).size() * kMaxRows, kMaxSavedListBytes);
    // ... and bytes beyond the read limit are not looked at.
    std::string huge = writeSavedRows({ordinary});
    huge += '"' + std::string(kMaxSavedListBytes, 'x') + "\"\r\n";
    huge += writeSavedRows({SavedRow{"LATE", "", "", "", ""}});
    EXPECT_EQ(readSavedRows(huge).size(), 1u);
}

TEST(BcastList, StoredWindowSizeIsHeldToItsRange)
{
    const struct {
        const char* text;
        double width, height;
    } cases[] = {
        {"2147483647,1", kMaxWindowTwips, 1},
        {"99999999999,1", kMaxWindowTwips, 1},
        {"1,99999999999999999999999999", 1, kMaxWindowTwips},
        {"-2147483649,-1", 0, 0},
        {"6480,4380", 6480, 4380},
    };
    for (const auto& c : cases) {
        const auto s = parseWindowSize(c.text);
        ASSERT_TRUE(s) << c.text;
        EXPECT_EQ(s->width, c.width) << c.text;
        EXPECT_EQ(s->height, c.height) << c.text;
    }
}
