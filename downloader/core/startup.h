#pragma once
// The decisions start-up and close take on plain text: which parser gets the
// command line, how a saved port or baud applies, which tool path counts, and
// what the last folder is. The window applies them.
#include <string>
#include <string_view>

namespace tk::startup {

// What the command line asks for, by its first characters (exact case, no
// leading blank). The help forms count only when none of the modes matched.
enum class Mode { Empty, Serial, Network, Ksyn, Help, Other };

struct CommandLine {
    Mode mode = Mode::Empty;
    std::string args; // for Serial, Network and Ksyn: the text from the third character on
};

CommandLine classify(std::string_view text);

// True when the text holds the switch "-silent" as the command-line grammar
// reads a switch: a blank followed by the word, in any case (a word that
// merely begins with it counts). Start-up looks before any parser runs, only
// so that a run meant to be unattended never stops at the missing-tool
// prompt; whether the run is unattended is decided by the parsers.
bool isUnattended(std::string_view text);

// The port line of "savedsettings.qsf": 1 for COM1, 2 for COM2, 3..255 for the
// other-port list. "COM" followed by anything but a number from 3 to 255 (and
// any other text) gives COM1.
int savedPort(std::string_view value);

// The baud line: which button takes it. List means: look the text up in the
// other-baud list (exact match); a text not in the list changes nothing.
enum class BaudChoice { B115200, B19200, B9600, List };
BaudChoice savedBaud(std::string_view value);

// The file-name part of a path ("\" and "/" both separate).
std::string_view fileNamePart(std::string_view path);

// A located tool counts only when its file name is exactly "pdt.exe".
bool isToolName(std::string_view path);

// "lastDir": the path up to and including its last separator; empty without one.
std::string folderOf(std::string_view path);

} // namespace tk::startup
