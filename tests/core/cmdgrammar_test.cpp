#include "core/cmdgrammar.h"

#include <gtest/gtest.h>
#include <map>

using namespace tk::cli;

namespace {

// A small file system: path -> stored name (case as stored).
struct FakeFs {
    std::map<std::string, std::string> entries{
        {"C:\\Data", "Data"},
        {"C:\\Data\\app.tgz", "app.tgz"},
        {"C:\\Data\\my files", "My Files"},
        {"C:\\Data\\my files\\a b.tgz", "a b.tgz"},
        {"/home", "home"},
        {"/home/tech", "tech"},
        {"/home/tech/app.tgz", "app.tgz"},
        {"/home/tech/pkgs", "pkgs"},
    };
    std::map<std::string, bool> files{{"C:\\Data\\app.tgz", true},
                                      {"C:\\Data\\My Files\\a b.tgz", true},
                                      {"/home/tech/app.tgz", true}};

    Environment env(std::string cwd = {})
    {
        Environment e;
        e.lookup = [this](const std::string& p) -> std::optional<std::string> {
            auto it = entries.find(p);
            if (it == entries.end())
                return std::nullopt;
            return it->second;
        };
        e.isFile = [this](const std::string& p) { return files.count(p) > 0; };
        e.workingDir = std::move(cwd);
        return e;
    }
};

Plan net(const std::string& args, FakeFs& fs)
{
    return parse(Mode::Network, args, "-n" + args, StartValues{}, fs.env());
}

Plan ser(const std::string& args, FakeFs& fs)
{
    return parse(Mode::Serial, args, "-s" + args, StartValues{}, fs.env());
}

} // namespace

TEST(FindSwitchAt, MatchesLowerCasedPrefixAtThePositionOnly)
{
    const auto t = switchTable(Mode::Network);
    EXPECT_EQ(findSwitchAt("a -IP 1", 2, t), 0);
    EXPECT_EQ(findSwitchAt("a -sendnow", 2, t), 5); // a word that begins with -send counts
    EXPECT_EQ(findSwitchAt("a -ip", 1, t), -1);
    EXPECT_EQ(findSwitchAt("-ip", 1, t), -1); // no blank, no switch
    EXPECT_EQ(findSwitchAt("x", 5, t), -1);
}

TEST(LongPathName, GivesStoredNamesOrNothing)
{
    FakeFs fs;
    const auto e = fs.env();
    EXPECT_EQ(longPathName("C:\\Data\\my files\\a b.tgz", e.lookup), "C:\\Data\\My Files\\a b.tgz");
    EXPECT_EQ(longPathName("C:\\Data\\app.tgz\\", e.lookup), "C:\\Data\\app.tgz");
    EXPECT_EQ(longPathName("C:\\Data\\missing.tgz", e.lookup), "");
    EXPECT_EQ(longPathName("", e.lookup), "");
    EXPECT_EQ(longPathName("/home/tech/app.tgz", e.lookup), "/home/tech/app.tgz");
    // Relative names: unresolved without a working folder, joined to it with one.
    EXPECT_EQ(longPathName("app.tgz", e.lookup), "");
    EXPECT_EQ(longPathName("app.tgz", e.lookup, "/home/tech"), "/home/tech/app.tgz");
    EXPECT_EQ(longPathName("pkgs/../app.tgz", e.lookup, "/home/tech"), "");
}

TEST(NetworkArgs, ShellExtensionFormFillsTheFileAndSendsNothing)
{
    FakeFs fs;
    const auto p = net(" \"C:\\Data\\app.tgz\"", fs);
    EXPECT_EQ(p.fileName, "C:\\Data\\app.tgz");
    EXPECT_FALSE(p.invalidFileMessage);
    EXPECT_TRUE(p.setDefaultPermissions);
    EXPECT_FALSE(p.doSend);
    EXPECT_FALSE(p.commandLineMode);
    EXPECT_FALSE(p.exitCode);
}

TEST(NetworkArgs, SwitchesAfterAQuotedNameAndCaseInsensitiveWords)
{
    FakeFs fs;
    auto p = net(" \"C:\\Data\\app.tgz\" -ip 10.1.2.3 -silent", fs);
    ASSERT_TRUE(p.ip);
    EXPECT_EQ((*p.ip)[0], "10");
    EXPECT_EQ((*p.ip)[3], "3");
    EXPECT_TRUE(p.commandLineMode);
    EXPECT_TRUE(p.doSend);

    p = net(" C:\\Data\\app.tgz -IP 10.1.2.3 -Send", fs);
    EXPECT_EQ(p.fileName, "C:\\Data\\app.tgz"); // name ends before the blank of -IP
    ASSERT_TRUE(p.ip);
    EXPECT_EQ((*p.ip)[3], "3");
    EXPECT_TRUE(p.doSend);
    EXPECT_FALSE(p.commandLineMode);
}

TEST(NetworkArgs, ValuesFollowTheirRules)
{
    FakeFs fs;
    auto p = net(" C:\\Data\\app.tgz -ip 10.1.2 -type full -owner USR3 -permissions 750 -kill "
                 "-run -reboot",
                 fs);
    EXPECT_FALSE(p.ip); // three parts leave the boxes alone
    ASSERT_TRUE(p.networkFull);
    EXPECT_TRUE(*p.networkFull); // only the first character counts
    EXPECT_EQ(p.owner, "usr3");
    EXPECT_EQ(p.permissions[0], "7");
    EXPECT_EQ(p.permissions[1], "5");
    EXPECT_EQ(p.permissions[2], "0");
    EXPECT_TRUE(p.kill && p.run && p.reboot);

    p = net(" C:\\Data\\app.tgz -owner root -permissions 9", fs);
    EXPECT_FALSE(p.owner); // "root" only after the advanced-options chord
    EXPECT_FALSE(p.permissions[0]);
}

TEST(NetworkArgs, MissingFileAndTheEarlySilentCheck)
{
    FakeFs fs;
    auto p = parse(Mode::Network, " \"C:\\Data\\gone.tgz\" -silent",
                   "-n \"C:\\Data\\gone.tgz\" -silent", {}, fs.env());
    EXPECT_EQ(p.exitCode, -2);

    // The early check wants " -silent" in exact case: capitals get the message first.
    p = parse(Mode::Network, " \"C:\\Data\\gone.tgz\" -SILENT", "-n \"C:\\Data\\gone.tgz\" -SILENT",
              {}, fs.env());
    EXPECT_FALSE(p.exitCode);
    EXPECT_TRUE(p.invalidFileMessage);
    EXPECT_TRUE(p.commandLineMode); // the switch itself is honoured

    p = net(" \"C:\\Data", fs); // missing closing quote
    EXPECT_TRUE(p.abandoned);
    EXPECT_FALSE(p.exitCode);
}

TEST(NetworkArgs, AValueSwitchWithNoRoomForItsValueAbandonsTheRest)
{
    FakeFs fs;
    const auto p = net(" C:\\Data\\app.tgz -ip -send", fs);
    EXPECT_TRUE(p.abandoned);
    EXPECT_FALSE(p.doSend);
}

TEST(SerialArgs, PortsBaudsAndTheirTexts)
{
    FakeFs fs;
    auto p = ser(" C:\\Data\\app.tgz -port 7 -baud 38400 -ksyn -timeout 10", fs);
    EXPECT_FALSE(p.exitCode);
    EXPECT_EQ(p.portButton, PortButton::Other);
    EXPECT_EQ(p.comboComIndex, 4);
    EXPECT_EQ(p.port, 7);
    EXPECT_EQ(p.baudButton, BaudButton::Other);
    EXPECT_EQ(p.comboBaudText, "38400");
    EXPECT_EQ(p.baud, "38400");
    EXPECT_TRUE(p.ksyn);
    EXPECT_DOUBLE_EQ(p.timeout, 10);

    p = ser(" C:\\Data\\app.tgz -port 300", fs);
    EXPECT_FALSE(p.portButton);
    EXPECT_EQ(p.port, 300);

    p = ser(" C:\\Data\\app.tgz -port 2 -baud 9600", fs);
    EXPECT_EQ(p.portButton, PortButton::Com2);
    EXPECT_EQ(p.baudButton, BaudButton::B9600);
    EXPECT_DOUBLE_EQ(p.timeout, 4); // default time-out text

    p = ser(" C:\\Data\\app.tgz", fs); // start values come from the buttons
    EXPECT_EQ(p.port, 1);
    EXPECT_EQ(p.baud, "115200");
}

TEST(SerialArgs, FailuresEndWithMinusOne)
{
    FakeFs fs;
    for (const char* args : {" C:\\Data\\app.tgz -port x", " C:\\Data\\app.tgz -timeout soon",
                             " C:\\Data\\app.tgz -port", " \"C:\\Data\\app.tgz",
                             " C:\\Data\\app.tgz -port 99999", " C:\\Data\\app.tgz -baud 12345"})
        EXPECT_EQ(ser(args, fs).exitCode, -1) << args;
}

TEST(SerialArgs, TypeAndRestartValues)
{
    FakeFs fs;
    auto p = ser(" C:\\Data\\app.tgz -type full -restart 2", fs);
    EXPECT_EQ(p.serialFull, false); // serial wants exactly "f"
    EXPECT_EQ(p.restart, 2);
    p = ser(" C:\\Data\\app.tgz -type F -restart 3", fs);
    EXPECT_EQ(p.serialFull, true);
    EXPECT_FALSE(p.restart);
    // Serial never checks the file here: the Send action does.
    p = ser(" C:\\Data\\nothing.tgz", fs);
    EXPECT_FALSE(p.exitCode);
    EXPECT_EQ(p.fileName, "");
}

TEST(KsynArgs, KeepsTextsOnlyAndNeedsAName)
{
    FakeFs fs;
    auto p = parse(Mode::Ksyn, " C:\\Data\\app.tgz -port 7 -baud 38400 -timeout 0 -type f", "", {},
                   fs.env());
    EXPECT_FALSE(p.exitCode);
    EXPECT_EQ(p.portText, "7");
    EXPECT_EQ(p.baudText, "38400");
    EXPECT_EQ(p.timeoutText, "0");
    EXPECT_FALSE(p.portButton);
    EXPECT_EQ(p.serialFull, true);

    p = parse(Mode::Ksyn, " C:\\Data\\app.tgz", "", {}, fs.env());
    EXPECT_EQ(p.portText, "");
    EXPECT_EQ(p.timeoutText, "");

    // "-k -port 1": the trimmed text starts with -port, which is no switch
    // without its blank, so it all becomes a file name that does not exist.
    p = parse(Mode::Ksyn, " -port 1", "-k -port 1", {}, fs.env());
    EXPECT_EQ(p.exitCode, -2);

    p = parse(Mode::Ksyn, " C:\\Data\\app.tgz -port one", "", {}, fs.env());
    EXPECT_EQ(p.exitCode, -1);
}

TEST(Grammar, RelativeNamesResolveAgainstTheWorkingFolder)
{
    FakeFs fs;
    const auto p =
        parse(Mode::Network, " app.tgz -send", "-n app.tgz -send", {}, fs.env("/home/tech"));
    EXPECT_EQ(p.fileName, "/home/tech/app.tgz");
    EXPECT_FALSE(p.invalidFileMessage);
    EXPECT_TRUE(p.doSend);
}
