#include "core/startup.h"

#include <gtest/gtest.h>

using namespace tk::startup;

TEST(CommandLineDispatch, ModeComesFromTheFirstCharactersInExactCase)
{
    struct Case {
        const char* text;
        Mode mode;
        const char* args;
    };
    const Case cases[] = {
        {"", Mode::Empty, ""},
        {"-s \"a b.tgz\" -port 3", Mode::Serial, " \"a b.tgz\" -port 3"},
        {"-n x.tgz", Mode::Network, " x.tgz"},
        {"-k", Mode::Ksyn, ""},
        {"-silent", Mode::Serial, "ilent"}, // "-s" matches first
        {"-h", Mode::Help, ""},
        {"-help", Mode::Help, ""},
        {"--help", Mode::Help, ""},
        {"/h", Mode::Help, ""},
        {"/?", Mode::Help, ""},
        {"-hx", Mode::Help, ""},
        {"-S x", Mode::Other, ""},
        {"-H", Mode::Other, ""},
        {" -s x", Mode::Other, ""},
        {"x -n y", Mode::Other, ""},
        {"-", Mode::Other, ""},
    };
    for (const auto& c : cases) {
        const auto got = classify(c.text);
        EXPECT_EQ(got.mode, c.mode) << c.text;
        EXPECT_EQ(got.args, c.args) << c.text;
    }
}

TEST(CommandLineDispatch, SilentCountsOnlyAsASwitchIsRead)
{
    // A blank, then the word in any case; a word that merely begins with it
    // counts, as for every switch. Inside a name it is no switch.
    EXPECT_TRUE(isUnattended("-n a.tgz -silent"));
    EXPECT_TRUE(isUnattended("-s a.tgz -SILENT -port 3"));
    EXPECT_TRUE(isUnattended("-n a.tgz -SiLeNtly"));
    EXPECT_FALSE(isUnattended("-n a.tgz -send"));
    EXPECT_FALSE(isUnattended("-silent"));
    EXPECT_FALSE(isUnattended("-n \"/tmp/pkg-silent.tgz\""));
    EXPECT_FALSE(isUnattended("-n /tmp/pkg-silent.tgz -ip 10.0.0.1"));
    EXPECT_FALSE(isUnattended(""));
}

TEST(SavedSerialChoice, PortLineSelectsAButtonOrFallsBackToCom1)
{
    EXPECT_EQ(savedPort("COM1"), 1);
    EXPECT_EQ(savedPort("COM2"), 2);
    EXPECT_EQ(savedPort("COM3"), 3);
    EXPECT_EQ(savedPort("COM7"), 7);
    EXPECT_EQ(savedPort("COM255"), 255);
    EXPECT_EQ(savedPort("COM007"), 7);
    // Not a port the list holds: COM1 instead of an error.
    EXPECT_EQ(savedPort("COM256"), 1);
    EXPECT_EQ(savedPort("COM99999999999"), 1);
    EXPECT_EQ(savedPort("COM0"), 1);
    EXPECT_EQ(savedPort("COMx"), 1);
    EXPECT_EQ(savedPort("COM"), 1);
    EXPECT_EQ(savedPort("COM-3"), 1);
    EXPECT_EQ(savedPort("COM 7"), 1);
    EXPECT_EQ(savedPort("com7"), 1);
    EXPECT_EQ(savedPort(""), 1);
    EXPECT_EQ(savedPort("115200"), 1);
}

TEST(SavedSerialChoice, BaudLineSelectsAButtonOrTheList)
{
    EXPECT_EQ(savedBaud("115200"), BaudChoice::B115200);
    EXPECT_EQ(savedBaud("19200"), BaudChoice::B19200);
    EXPECT_EQ(savedBaud("9600"), BaudChoice::B9600);
    EXPECT_EQ(savedBaud("57600"), BaudChoice::List);
    EXPECT_EQ(savedBaud("9600 "), BaudChoice::List);
}

TEST(PathRules, ToolNameAndLastFolder)
{
    EXPECT_TRUE(isToolName("C:\\tools\\pdt.exe"));
    EXPECT_TRUE(isToolName("/opt/tools/pdt.exe"));
    EXPECT_TRUE(isToolName("pdt.exe"));
    EXPECT_FALSE(isToolName("C:\\tools\\PDT.EXE"));
    EXPECT_FALSE(isToolName("C:\\tools\\mypdt.exe"));
    EXPECT_FALSE(isToolName("C:\\pdt.exe\\"));
    EXPECT_EQ(folderOf("C:\\dl\\app.tgz"), "C:\\dl\\");
    EXPECT_EQ(folderOf("/home/u/dl/app.tgz"), "/home/u/dl/");
    EXPECT_EQ(folderOf("C:\\dl\\"), "C:\\dl\\");
    EXPECT_EQ(folderOf("app.tgz"), "");
}
