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

} // namespace tk
