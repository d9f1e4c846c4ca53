#include "core/cmdline.h"

#include <gtest/gtest.h>

TEST(JoinArguments, QuotesArgumentsWithBlanksSoTheParserSeesTheTypedForm)
{
    EXPECT_EQ(tk::joinArguments({}), "");
    EXPECT_EQ(tk::joinArguments({"-n", "C:\\my files\\a.tgz"}), "-n \"C:\\my files\\a.tgz\"");
    EXPECT_EQ(tk::joinArguments({"-s", "a.tgz", "-port", "3"}), "-s a.tgz -port 3");
}
