#include "core/cmdline.h"

#include <gtest/gtest.h>

TEST(JoinArguments, QuotesArgumentsWithBlanksSoTheParserSeesTheTypedForm)
{
    EXPECT_EQ(tk::joinArguments({}), "");
    EXPECT_EQ(tk::joinArguments({"-n", "C:\\my files\\a.tgz"}), "-n \"C:\\my files\\a.tgz\"");
    EXPECT_EQ(tk::joinArguments({"-s", "a.tgz", "-port", "3"}), "-s a.tgz -port 3");
}

TEST(ArgumentsAfterProgram, TheRawTextAfterTheProgramNameAsWindowsHandsItOver)
{
    struct Case {
        const char* commandLine;
        const char* arguments;
    };
    const Case cases[] = {
        // The shell extension's form: the quoted program, the mode, the quoted file.
        {R"("C:\Program Files\Tk650\Tk650Downloader.exe" -n "C:\my files\a.tgz")",
         R"(-n "C:\my files\a.tgz")"},
        // A backslash before a quote stays: the parser, not the C runtime, reads it.
        {R"("C:\Tk\Tk650Downloader.exe" -n "C:\dir\")", R"(-n "C:\dir\")"},
        // Unquoted program; blanks and tabs after it skipped, inner spacing kept.
        {"Tk650Downloader.exe \t -s a.tgz  -port 3", "-s a.tgz  -port 3"},
        // A quoted program with no blank after it.
        {R"("C:\Tk\Tk650Downloader.exe"-h)", "-h"},
        {R"("C:\Tk\Tk650Downloader.exe")", ""},
        {"Tk650Downloader.exe", ""},
        {"Tk650Downloader.exe   ", ""},
        {R"("C:\unterminated -n x)", ""},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(tk::argumentsAfterProgram(c.commandLine), c.arguments) << c.commandLine;
}
