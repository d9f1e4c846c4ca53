#include "core/downloadoptions.h"
#include "core/transfer.h"

#include <gtest/gtest.h>

using namespace tk;

TEST(ExecutableExtension, ComparesTheLastDotSuffixInLowerCase)
{
    for (const char* p : {"a.exe", "A.EXE", "run.SH", "x.tkl", "C:\\d\\app.Bin", "f.com", "g.bat",
                          "h.cmd", "dir.v2/tool.sh"})
        EXPECT_TRUE(hasExecutableExtension(p)) << p;
    // The extension runs from the last "." to the end of the whole path.
    for (const char* p : {"", ".sh", "a.s", "abc", "noext", "a.exe.txt", "archive.sh.tgz",
                          "dir.sh\\file", "a.exes"})
        EXPECT_FALSE(hasExecutableExtension(p)) << p;
}

TEST(ExecutableFile, ExtensionFirstThenContentAndAMissingFileCountsAsExecutable)
{
    EXPECT_TRUE(isExecutableFile("tool.exe", std::string("plain text")));
    EXPECT_TRUE(isExecutableFile("script", std::string("#!/bin/sh\n")));
    EXPECT_TRUE(isExecutableFile("prog", std::string("\x7f"
                                                     "ELF\x02\x01",
                                                     6)));
    EXPECT_FALSE(isExecutableFile("prog", std::string("ELF at the start")));
    EXPECT_FALSE(isExecutableFile("notes", std::string("hello #!")));
    EXPECT_FALSE(isExecutableFile("short", std::string("#")));
    EXPECT_FALSE(isExecutableFile("empty", std::string()));
    EXPECT_FALSE(isExecutableFile("a.tgz", std::string("\x1f\x8b", 2)));
    EXPECT_TRUE(isExecutableFile("missing.txt", std::nullopt));
}

TEST(Permissions, PresetsAndTipsForEveryDigit)
{
    EXPECT_EQ(permissionPreset(true), (PermissionDigits{7, 5, 5}));
    EXPECT_EQ(permissionPreset(false), (PermissionDigits{6, 4, 4}));
    const char* tips[] = {"",     "execute",        "write",        "write & execute",
                          "read", "read & execute", "read & write", "read & write & execute"};
    for (int d = 0; d < 8; ++d)
        EXPECT_EQ(permissionTip(d), tips[d]) << d;
    EXPECT_EQ(fullTypeTip("usr3"), "Cleans /home/usr3/* and environment variables");
}

TEST(FileFilter, PipeFormBecomesQtFormWithTheSameTexts)
{
    EXPECT_EQ(qtFileFilter(kSelectFileFilter),
              "All Files (*.*) (*);;TK Packages (*.tgz, *.tar, *.gz, *.ipk, *.ram) (*.tgz *.tar "
              "*.gz *.bz2 *.ipk *.ram)");
    EXPECT_EQ(qtFileFilter("Tool|pdt.exe"), "Tool (pdt.exe)");
    EXPECT_EQ(qtFileFilter(""), "");
}

TEST(TransferProgress, PercentAndTimeLeftAtTheLastSecondsRate)
{
    EXPECT_DOUBLE_EQ(progressPercent(0, 100), 0);
    EXPECT_DOUBLE_EQ(progressPercent(4096, 8192), 50);
    EXPECT_DOUBLE_EQ(progressPercent(1, 3), 100.0 / 3);
    EXPECT_DOUBLE_EQ(progressPercent(5, 0), 0);
    // 100000 bytes at 20000 bytes per second: 4 s after the first second.
    EXPECT_EQ(timeLeftText(100000, 20000, 0), "4 s");
    EXPECT_EQ(timeLeftText(100000, 50000, 20000), "1 s");
    EXPECT_EQ(timeLeftText(100000, 100000, 90000), "0 s");
    // Nothing sent in the last second: the label keeps its text.
    EXPECT_EQ(timeLeftText(100000, 20000, 20000), std::nullopt);
    // Sizes beyond 32 bits.
    EXPECT_EQ(timeLeftText(6'000'000'000LL, 1'000'000'000LL, 0), "5 s");
}
