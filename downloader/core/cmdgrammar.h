#pragma once
// The command-line grammar of the three run modes ("-s", "-n", "-k"): a pure
// function from the argument text to what the window has to set. The window
// applies the result; nothing here touches a widget, a file or the clock.
#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tk::cli {

enum class Mode { Serial, Network, Ksyn };

// The switch table of a mode, each entry with its leading blank.
std::vector<std::string> switchTable(Mode mode);

// Index of the first entry that matches the text at 1-based position p
// (case-insensitive, by prefix), or -1.
int findSwitchAt(const std::string& text, int p, const std::vector<std::string>& table);

// Looks up a path as a file or folder (hidden ones included) and returns the
// name it is stored under, or nothing when there is no such entry.
using PathLookup = std::function<std::optional<std::string>(const std::string& path)>;

// The long (stored) name of every component of an absolute path: "X:\..." with
// backslashes, or "/..." with slashes. Empty when a component does not exist or
// the path is not absolute. A relative path is first joined to workingDir when
// one is given (on Windows the caller passes none and relative paths stay
// unresolved, which gives an empty or wrong result as there).
std::string longPathName(const std::string& shortName, const PathLookup& lookup,
                         const std::string& workingDir = {});

// What the window looks like before parsing, as far as the parsers read it.
struct StartValues {
    std::string portText = "1";      // from the selected port button
    std::string baudText = "115200"; // from the selected baud button or the list
    std::vector<std::string> baudList{"300",   "1200",  "2400",  "4800",  "9600",
                                      "19200", "38400", "57600", "115200"};
    std::vector<std::string> ownerList{"usr8", "usr7", "usr6", "usr5",
                                       "usr4", "usr3", "usr2", "usr1"};
    bool ownerHasRoot = false; // "root" appended by the advanced-options chord
};

enum class PortButton { Com1, Com2, Other };
enum class BaudButton { B115200, B19200, B9600, Other };

// Everything the parser decided, in the order a user would have set it.
// Unset optionals leave the control as it is.
struct Plan {
    Mode mode = Mode::Network;
    std::string fileName; // goes into the serial file box (copied to the network one)

    // Network
    bool invalidFileMessage = false;    // "Invalid input file in command line:" box
    bool setDefaultPermissions = false; // 7-5-5 / 6-4-4 by the file's type
    std::optional<std::array<std::string, 4>> ip;
    std::optional<bool> networkFull;
    bool kill = false, run = false, reboot = false;
    std::array<std::optional<std::string>, 3> permissions{}; // owner, group, others digit
    std::optional<std::string> owner;

    // Serial and KSYN
    bool ksyn = false;
    std::optional<PortButton> portButton;
    int comboComIndex = -1; // with PortButton::Other: list position (port - 3)
    std::optional<BaudButton> baudButton;
    std::string comboBaudText; // with BaudButton::Other
    std::optional<bool> serialFull;
    std::optional<int> restart; // 1: Restart Application, 2: Restart Device

    // Kept texts and the values derived from them (serial: port, baud, timeout)
    std::string portText, baudText, timeoutText;
    int port = 0;
    std::string baud;
    double timeout = 0;

    bool doSend = false;
    bool commandLineMode = false;

    // A failure ends the process with this code (serial and KSYN parsers;
    // network: only the early missing-file check with " -silent").
    std::optional<int> exitCode;
    // Network: a failure abandoned the rest of the parsing silently.
    bool abandoned = false;
};

struct Environment {
    PathLookup lookup;                              // for the long-path step
    std::function<bool(const std::string&)> isFile; // existing ordinary, visible file
    std::string workingDir;                         // for relative names; empty: none
    // Where the system hands a program its arguments one by one (not Windows),
    // the arguments after the program name as received, the mode first. The
    // file is then taken from them as given, quotes, backslashes and blanks
    // included; when they name no existing entry, the text rules apply as before.
    std::vector<std::string> arguments;
};

// The file name the arguments give (those after the mode, up to the first that
// begins with a switch of the mode, joined by one blank) and the text of the
// arguments after it, each behind a blank. Nothing when the first argument is
// not exactly the mode's switch or no argument comes before a switch.
struct FileArgument {
    std::string name;
    std::string rest;
};
std::optional<FileArgument> fileArgument(Mode mode, const std::vector<std::string>& arguments);

// args: the text after the mode switch; rawCommandLine: the whole text after
// the program name (the early " -silent" check looks at it).
Plan parse(Mode mode, const std::string& args, const std::string& rawCommandLine,
           const StartValues& start, const Environment& env);

} // namespace tk::cli
