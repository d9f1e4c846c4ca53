#include "core/ksyn.h"
#include "core/protocol.h"

#include <gtest/gtest.h>

using namespace tk;
using tk::proto::GetFileName;
using tk::proto::isPackageName;

namespace {

std::string bytes(std::initializer_list<int> list)
{
    std::string s;
    for (int b : list)
        s += static_cast<char>(b);
    return s;
}

} // namespace

TEST(KsynFrame, MatchesBothWorkedExamplesByteForByte)
{
    const auto a = buildKsynFrame(GetFileName("C:\\pkgs\\a.tgz", "\\/"), true, KsynRestart::None);
    EXPECT_EQ(a, bytes({0x02, 0x4B, 0x53, 0x59, 0x4E, 0x1C, 0x61, 0x2E, 0x74, 0x67, 0x7A, 0x1C,
                        0x50, 0x1C, 0x03}));
    EXPECT_EQ(CalculateLRC(a), static_cast<char>(0x66));

    const auto b = buildKsynFrame(GetFileName("my app.tgz"), false, KsynRestart::Device);
    EXPECT_EQ(b, bytes({0x02, 0x4B, 0x53, 0x59, 0x4E, 0x1C, 0x6D, 0x79, 0x5F, 0x61, 0x70,
                        0x70, 0x2E, 0x74, 0x67, 0x7A, 0x1C, 0x46, 0x1C, 0x32, 0x03}));
    EXPECT_EQ(CalculateLRC(b), static_cast<char>(0x09));
    EXPECT_EQ(ksynPacket(b), b + '\x09');
}

TEST(KsynFrame, LengthAndRestartFieldFollowTheOptions)
{
    // 11 + n bytes on the wire without a restart byte, 12 + n with one.
    EXPECT_EQ(ksynPacket(buildKsynFrame("abc", true, KsynRestart::None)).size(), 14u);
    EXPECT_EQ(ksynPacket(buildKsynFrame("abc", true, KsynRestart::Application)).size(), 15u);
    const auto f = buildKsynFrame("abc", false, KsynRestart::None);
    EXPECT_EQ(f.substr(f.size() - 4), bytes({0x1C, 'F', 0x1C, 0x03}));
    EXPECT_EQ(buildKsynFrame("x", true, KsynRestart::Application).substr(10), bytes({'1', 0x03}));

    EXPECT_EQ(ksynRestartFrom(true, true), KsynRestart::Application);
    EXPECT_EQ(ksynRestartFrom(false, true), KsynRestart::Device);
    EXPECT_EQ(ksynRestartFrom(false, false), KsynRestart::None);
}

TEST(KsynFrame, CheckByteCoversEtxButNotStxAndMayBeZero)
{
    EXPECT_EQ(CalculateLRC(bytes({0x02, 0x03})), '\x03');
    EXPECT_EQ(CalculateLRC(bytes({0x7F, 0x41, 0x41})), '\x00');
    EXPECT_EQ(ksynPacket(bytes({0x02, 0x41, 0x41})), bytes({0x02, 0x41, 0x41, 0x00}));
    // Bytes above 0x7F take part like any other.
    EXPECT_EQ(CalculateLRC(bytes({0x02, 0xE9, 0x03})), static_cast<char>(0xEA));
    EXPECT_EQ(CalculateLRC(""), '\0');
}

TEST(KsynFrame, PackageNamesLoseTheirBlanksOtherNamesKeepThem)
{
    const auto pkg =
        buildKsynFrame(GetFileName("C:\\x y\\my app.tgz", "\\/"), true, KsynRestart::None);
    EXPECT_NE(pkg.find("\x1Cmy_app.tgz\x1C"), std::string::npos);
    const auto txt = buildKsynFrame(GetFileName("/home/u/my notes.txt"), true, KsynRestart::None);
    EXPECT_NE(txt.find("\x1Cmy notes.txt\x1C"), std::string::npos);
}

TEST(KsynReply, OnlyAReplyStartingWithAckCounts)
{
    EXPECT_TRUE(isKsynAck("\x06"));
    EXPECT_TRUE(isKsynAck(bytes({0x06, 0x15, 'x'})));
    EXPECT_FALSE(isKsynAck("\x15"));
    EXPECT_FALSE(isKsynAck(bytes({0x15, 0x06})));
    EXPECT_FALSE(isKsynAck(""));
}

TEST(KsynWait, TimeOutCountsTenTicksPerSecondAndZeroMeansFour)
{
    auto ticksUntilTimeout = [](int setTimeout) {
        int count = 0;
        while (!ksynTick(++count, setTimeout).timedOut)
            if (count > 100000)
                return -1;
        return count;
    };
    EXPECT_EQ(ticksUntilTimeout(0), 40);
    EXPECT_EQ(ticksUntilTimeout(4), 40);
    EXPECT_EQ(ticksUntilTimeout(10), 100);
    EXPECT_EQ(ticksUntilTimeout(1), 10);
    // A negative time-out runs out on the first tick instead of never.
    EXPECT_EQ(ticksUntilTimeout(-3), 1);

    EXPECT_EQ(ksynTick(1, 0).percent, 2);   // 1 of 40
    EXPECT_EQ(ksynTick(20, 4).percent, 50); // half way
    EXPECT_EQ(ksynTick(39, 4).percent, 97);
    EXPECT_EQ(ksynTick(40, 4).percent, 100);
    EXPECT_EQ(ksynTick(32767, 32767).percent, 10); // no overflow at the top of the range
}
