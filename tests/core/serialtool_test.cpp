#include "core/comport.h"
#include "core/exitcodes.h"
#include "core/protocol.h"
#include "core/serialtool.h"

#include <gtest/gtest.h>

using namespace tk;
using tk::proto::GetFileName;
using tk::proto::isPackageName;

TEST(PdtCommandLine, FileInAFolderWithBlanksIsRunByNameInItsFolder)
{
    const auto where = splitFolderAndName("C:\\My Packages\\my app.tgz", PathStyle::Windows);
    EXPECT_EQ(where.folder, "C:\\My Packages");
    EXPECT_EQ(where.name, "my app.tgz");

    PdtInvocation call{"C:\\Program Files\\Tk\\pdt.exe", std::nullopt, 1, "115200", where.name};
    EXPECT_EQ(pdtCommandLine(call),
              "\"C:\\Program Files\\Tk\\pdt.exe\" -p1 -b115200 -i\"my app.tgz\"");
    EXPECT_EQ(pdtArguments(call), (std::vector<std::string>{"-p1", "-b115200", "-imy app.tgz"}));
}

TEST(PdtCommandLine, FolderSplitRunsInTheRootAndKnowsItsSeparators)
{
    constexpr auto win = PathStyle::Windows;
    constexpr auto posix = PathStyle::Posix;
    const struct {
        PathStyle style;
        const char *path, *folder, *name;
    } rows[] = {
        {win, "C:\\a.tgz", "C:\\", "a.tgz"},
        {win, "/a.tgz", "/", "a.tgz"},
        {win, "C:/x\\y/b.tgz", "C:/x\\y", "b.tgz"},
        {win, "/tmp/a\\b.tgz", "/tmp/a", "b.tgz"},
        {posix, "/a.tgz", "/", "a.tgz"},
        {posix, "/srv/x/b c.bin", "/srv/x", "b c.bin"},
        {posix, "/tmp/a\\b.tgz", "/tmp", "a\\b.tgz"}, // a backslash is part of the name
        {posix, "C:\\a.tgz", "", "C:\\a.tgz"},
        {posix, "C:/a.tgz", "C:", "a.tgz"}, // no drive rule
        {win, "plain.tgz", "", "plain.tgz"},
        {posix, "plain.tgz", "", "plain.tgz"},
    };
    for (const auto& row : rows) {
        const auto where = splitFolderAndName(row.path, row.style);
        EXPECT_EQ(where.folder, row.folder) << row.path;
        EXPECT_EQ(where.name, row.name) << row.path;
    }
}

TEST(PdtCommandLine, PortAndBaudGoInPlainAndWaitOnlyWhenUnattended)
{
    PdtInvocation call{"/opt/pdt.exe", std::nullopt, 12, "38400", "a.tgz"};
    EXPECT_EQ(pdtCommandLine(call), "\"/opt/pdt.exe\" -p12 -b38400 -i\"a.tgz\"");
    call.waitSeconds = 4;
    EXPECT_EQ(pdtCommandLine(call), "\"/opt/pdt.exe\" -w4 -p12 -b38400 -i\"a.tgz\"");
    EXPECT_EQ(pdtArgumentText(call), "-w4 -p12 -b38400 -i\"a.tgz\"");
    EXPECT_EQ(pdtArguments(call).front(), "-w4");
    call.waitSeconds = 2.5;
    EXPECT_EQ(pdtArguments(call).front(), "-w2.5");
    call.waitSeconds = 30;
    EXPECT_EQ(pdtArguments(call).front(), "-w30");
}

TEST(PdtCommandLine, FileNamesThatLookLikeShellAreJustOneArgument)
{
    PdtInvocation call{"/opt/pdt.exe", std::nullopt, 1, "9600", "x\"; rm -rf ~ ;\" $(id).tgz"};
    const auto args = pdtArguments(call);
    ASSERT_EQ(args.size(), 3u);
    EXPECT_EQ(args[2], "-ix\"; rm -rf ~ ;\" $(id).tgz");
}

TEST(PdtExitCodes, EveryRowOfTheTable)
{
    const std::pair<int, int> rows[] = {
        {0, 0},  {1, -1}, {2, -5}, {3, -7},  {7, -2},   {8, -2},  {10, -4}, {4, -6},
        {5, -6}, {6, -6}, {9, -6}, {11, -6}, {255, -6}, {-1, -6}, {-2, -6}, {-9, -6},
    };
    for (auto [tool, program] : rows)
        EXPECT_EQ(programExitCodeForTool(tool), program) << "tool exit code " << tool;
}

TEST(ComPortDevice, DefaultsOverridesAndInvalidNumbers)
{
    EXPECT_EQ(comPortOverrideVariable(3), "TK650_COM3");
    EXPECT_EQ(comPortDevice(1, std::nullopt, false), "/dev/ttyS0");
    EXPECT_EQ(comPortDevice(12, std::nullopt, false), "/dev/ttyS11");
    EXPECT_EQ(comPortDevice(12, std::nullopt, true), "COM12");
    EXPECT_EQ(comPortDevice(3, std::string("/dev/ttyUSB0"), false), "/dev/ttyUSB0");
    EXPECT_EQ(comPortDevice(3, std::string(), false), "/dev/ttyS2"); // empty override = unset
    EXPECT_EQ(comPortDevice(0, std::nullopt, false), "");
    EXPECT_EQ(comPortDevice(-4, std::string("/dev/pts/3"), false), "");
}
