#pragma once
#include <string>
#include <vector>

namespace tk {

// Rebuilds the command-line text (what follows the program name) from the
// process's argument vector: arguments are joined by one blank, and an
// argument that holds a blank is put back in double quotes, so that
// `-n "C:\my files\a.tgz"` reaches the parser as it was typed.
std::string joinArguments(const std::vector<std::string>& args);

// On Windows the process receives its command line as one text: what follows
// the program name is taken from it as it stands. The name ends at its
// closing double quote when it starts with one (no escapes in the program
// name), else at the first blank or tab; the blanks after it are skipped.
std::string argumentsAfterProgram(const std::string& commandLine);

} // namespace tk
