#pragma once
#include <string>
#include <vector>

namespace tk {

// Rebuilds the command-line text (what follows the program name) from the
// process's argument vector: arguments are joined by one blank, and an
// argument that holds a blank is put back in double quotes, so that
// `-n "C:\my files\a.tgz"` reaches the parser as it was typed.
std::string joinArguments(const std::vector<std::string>& args);

} // namespace tk
