#include "core/serialtool.h"

#include "core/exitcodes.h"

#include <charconv>

namespace tk {

std::string formatPlainDecimal(double value)
{
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, res.ptr);
}

std::vector<std::string> pdtArguments(const PdtInvocation& call)
{
    std::vector<std::string> args;
    if (call.waitSeconds)
        args.push_back("-w" + formatPlainDecimal(*call.waitSeconds));
    args.push_back("-p" + std::to_string(call.port));
    args.push_back("-b" + call.baud);
    args.push_back("-i" + call.fileName);
    return args;
}

std::string pdtArgumentText(const PdtInvocation& call)
{
    std::string text;
    const auto args = pdtArguments(call);
    for (std::size_t i = 0; i + 1 < args.size(); ++i)
        text += args[i] + " ";
    text += "-i\"" + call.fileName + "\"";
    return text;
}

std::string pdtCommandLine(const PdtInvocation& call)
{
    return "\"" + call.pdtPath + "\" " + pdtArgumentText(call);
}

FolderAndName splitFolderAndName(const std::string& path, PathStyle style)
{
    const auto sep = path.find_last_of(style == PathStyle::Windows ? "\\/" : "/");
    if (sep == std::string::npos)
        return {std::string(), path};
    FolderAndName out{path.substr(0, sep), path.substr(sep + 1)};
    if (out.folder.empty())
        out.folder = path.substr(sep, 1); // "/a.tgz" runs in "/"
    else if (style == PathStyle::Windows && out.folder.size() == 2 && out.folder[1] == ':')
        out.folder += '\\'; // "C:\a.tgz" runs in "C:\"
    return out;
}

int programExitCodeForTool(int toolExitCode)
{
    switch (toolExitCode) {
    case 0: return exitcode::Success;
    case 1: return exitcode::BadArgs;
    case 2: return exitcode::NoSpace;
    case 3: return exitcode::PortBusy;
    case 7:
    case 8: return exitcode::NoFile;
    case 10: return exitcode::NoConnect;
    default: return exitcode::Failed;
    }
}

} // namespace tk
