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

std::string pdtCommandLine(const PdtInvocation& call)
{
    std::string cmd = "\"" + call.pdtPath + "\"";
    const auto args = pdtArguments(call);
    for (std::size_t i = 0; i + 1 < args.size(); ++i)
        cmd += " " + args[i];
    cmd += " -i\"" + call.fileName + "\"";
    return cmd;
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
