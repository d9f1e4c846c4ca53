#include "core/addresses.h"

#include <gtest/gtest.h>

using tk::getDestinationIP;
using tk::recentAddresses;
using tk::rememberAddress;
using tk::splitAddress;
using Boxes = std::array<std::string, 4>;

TEST(DestinationIP, DropsLeadingZerosButKeepsAZeroOctet)
{
    EXPECT_EQ(getDestinationIP(Boxes{"192", "168", "001", "020"}), "192.168.1.20");
    EXPECT_EQ(getDestinationIP(Boxes{"000", "0", "00", "100"}), "0.0.0.100");
    EXPECT_EQ(getDestinationIP(Boxes{"10", "0", "0", "010"}), "10.0.0.10");
}

TEST(DestinationIP, IsEmptyWhenAnyBoxIsEmpty)
{
    for (std::size_t i = 0; i < 4; ++i) {
        Boxes b{"1", "2", "3", "4"};
        b[i].clear();
        EXPECT_EQ(getDestinationIP(b), "") << "box " << i;
    }
}

TEST(DestinationIP, MakesNoRangeCheck)
{
    EXPECT_EQ(getDestinationIP(Boxes{"999", "300", "256", "1"}), "999.300.256.1");
}

TEST(StoredAddress, KeepsTheBoxTextsAsTyped)
{
    EXPECT_EQ(tk::joinAddressBoxes(Boxes{"192", "168", "001", "020"}), "192.168.001.020");
}

TEST(SplitAddress, NeedsExactlyFourParts)
{
    EXPECT_EQ(splitAddress("10.0.0.7"), (Boxes{"10", "0", "0", "7"}));
    EXPECT_EQ(splitAddress("192.168.001.020"), (Boxes{"192", "168", "001", "020"}));
    EXPECT_EQ(splitAddress("1..2.3"), (Boxes{"1", "", "2", "3"}));
    EXPECT_FALSE(splitAddress("10.1.2"));
    EXPECT_FALSE(splitAddress("1.2.3.4.5"));
    EXPECT_FALSE(splitAddress("1.2.3.4."));
    EXPECT_FALSE(splitAddress(""));
    EXPECT_FALSE(splitAddress("none"));
}

TEST(RecentList, SplitsAtBarsAndSkipsEmptyEntries)
{
    using V = std::vector<std::string>;
    EXPECT_EQ(recentAddresses(""), V{});
    EXPECT_EQ(recentAddresses("|"), V{});
    EXPECT_EQ(recentAddresses("192.168.1.20|10.0.0.7"), (V{"192.168.1.20", "10.0.0.7"}));
    EXPECT_EQ(recentAddresses("|a||b|"), (V{"a", "b"}));
    // a hand-edited list longer than the menu keeps its five most recent entries
    EXPECT_EQ(recentAddresses("a|b|c|d|e|f|g"), (V{"a", "b", "c", "d", "e"}));
}

TEST(RecentList, NewAddressGoesInFrontAndTheSixthDropsTheOldest)
{
    EXPECT_EQ(rememberAddress("", "10.0.0.1"), "10.0.0.1");
    EXPECT_EQ(rememberAddress("a|b|c|d", "n"), "n|a|b|c|d");
    EXPECT_EQ(rememberAddress("a|b|c|d|e", "n"), "n|a|b|c|d");
}

TEST(RecentList, ReusedAddressMovesToTheFrontWithoutGrowingTheList)
{
    EXPECT_EQ(rememberAddress("a|b|c|d|e", "c"), "c|a|b|d|e");
    EXPECT_EQ(rememberAddress("a|b|c|d|e", "e"), "e|a|b|c|d");
    EXPECT_EQ(rememberAddress("a|b|c|d|e", "a"), "a|b|c|d|e");
    EXPECT_EQ(rememberAddress("a|b", "b"), "b|a");
}

TEST(RecentList, MatchesWholeEntriesOnly)
{
    EXPECT_EQ(rememberAddress("10.0.0.12", "10.0.0.1"), "10.0.0.1|10.0.0.12");
    EXPECT_EQ(rememberAddress("10.0.0.1", "10.0.0.12"), "10.0.0.12|10.0.0.1");
    EXPECT_EQ(rememberAddress("110.0.0.1|10.0.0.1", "10.0.0.1"), "10.0.0.1|110.0.0.1");
    // leading zeros make a different entry: the list keeps what was typed
    EXPECT_EQ(rememberAddress("10.0.0.1", "10.0.0.001"), "10.0.0.001|10.0.0.1");
}

TEST(RecentList, RepairsADamagedStoredList)
{
    EXPECT_EQ(rememberAddress("||a|||b|", "n"), "n|a|b");
    EXPECT_EQ(rememberAddress("a|a|b", "a"), "a|b");
    EXPECT_EQ(rememberAddress("a|b|c|d|e|f|g", "f"), "f|a|b|c|d");
}
