#include "core/protocol.h"

#include <gtest/gtest.h>

using namespace tk;
using tk::proto::GetFileName;
using tk::proto::isPackageName;

TEST(GetFileName, TakesThePartAfterTheLastSeparator)
{
    EXPECT_EQ(GetFileName("C:\\dir\\sub\\a.bin"), "a.bin");
    EXPECT_EQ(GetFileName("/home/u/a.bin"), "a.bin");
    EXPECT_EQ(GetFileName("C:\\mixed/dir\\b.bin"), "b.bin");
    EXPECT_EQ(GetFileName("noseparator.bin"), "noseparator.bin");
    EXPECT_EQ(GetFileName("C:\\dir\\"), "");
}

TEST(GetFileName, BlanksBecomeUnderscoresInPackageNamesOnly)
{
    for (const char* ext : {".tgz", ".tar", ".gz", ".bz2", ".ipk"})
        EXPECT_EQ(GetFileName(std::string("C:\\a b\\my app v2") + ext),
                  std::string("my_app_v2") + ext);
    EXPECT_EQ(GetFileName("C:\\a b\\my app.txt"), "my app.txt");
    EXPECT_EQ(GetFileName("my app.TGZ"), "my app.TGZ"); // exact case
    EXPECT_EQ(GetFileName("my app.tgz.bak"), "my app.tgz.bak");
    EXPECT_TRUE(isPackageName("x.ipk"));
    EXPECT_FALSE(isPackageName("x.ram"));
    EXPECT_FALSE(isPackageName("tgz"));
}
