#include "core/cmdline.h"

namespace tk {

std::string joinArguments(const std::vector<std::string>& args)
{
    std::string text;
    for (const auto& a : args) {
        if (!text.empty())
            text += ' ';
        if (a.find(' ') != std::string::npos || a.find('\t') != std::string::npos)
            text += '"' + a + '"';
        else
            text += a;
    }
    return text;
}

std::string argumentsAfterProgram(const std::string& commandLine)
{
    std::size_t end = 0;
    if (!commandLine.empty() && commandLine[0] == '"') {
        end = commandLine.find('"', 1);
        end = end == std::string::npos ? commandLine.size() : end + 1;
    } else {
        end = commandLine.find_first_of(" \t");
        if (end == std::string::npos)
            end = commandLine.size();
    }
    const std::size_t start = commandLine.find_first_not_of(" \t", end);
    return start == std::string::npos ? std::string() : commandLine.substr(start);
}

} // namespace tk
