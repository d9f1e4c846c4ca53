// The command line: argument vector to text (joinArguments) and the grammar
// of all three modes over that text. The input is the argument vector, one
// argument per NUL-separated piece; its first byte picks the mode and which
// paths exist.
#include "core/cmdline.h"
#include "check.h"
#include "core/cmdgrammar.h"

using namespace tk;

namespace {

std::size_t textBytes(const cli::Plan& p)
{
    std::size_t n = p.fileName.size() + p.portText.size() + p.baudText.size() +
                    p.timeoutText.size() + p.baud.size() + p.comboBaudText.size();
    if (p.ip)
        for (const auto& part : *p.ip)
            n += part.size();
    for (const auto& d : p.permissions)
        n += d ? d->size() : 0;
    n += p.owner ? p.owner->size() : 0;
    return n;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0 || size > 4096)
        return 0;
    const std::uint8_t pick = data[0];
    auto args = fuzz::pieces(fuzz::bytes(data + 1, size - 1), '\0');

    const std::string text = joinArguments(args);
    std::size_t argBytes = 0;
    for (const auto& a : args)
        argBytes += a.size();
    // One blank between arguments, two quotes around one that holds a blank.
    FUZZ_CHECK(text.size() <= argBytes + 3 * args.size());
    FUZZ_CHECK(text.size() >= argBytes);

    cli::Environment env;
    // Every entry exists (unless it holds "?") and is stored under the name it was asked by.
    env.lookup = [pick](const std::string& path) -> std::optional<std::string> {
        if ((pick & 1) && path.find('?') != std::string::npos)
            return std::nullopt;
        const auto cut = path.find_last_of("/\\");
        return cut == std::string::npos ? path : path.substr(cut + 1);
    };
    env.isFile = [pick](const std::string& path) { return ((pick >> 1) & 1) || path.size() % 2; };
    env.workingDir = (pick & 4) ? "/work" : "";
    const cli::Mode modes[] = {cli::Mode::Serial, cli::Mode::Network, cli::Mode::Ksyn};
    const cli::StartValues start;
    for (const cli::Mode mode : modes) {
        const cli::Plan plan = cli::parse(mode, text, text, start, env);
        // Everything the plan holds comes from the text (and the working folder).
        FUZZ_CHECK(textBytes(plan) <= 6 * (text.size() + env.workingDir.size()) + 64);
        if (plan.exitCode)
            FUZZ_CHECK(*plan.exitCode >= -7 && *plan.exitCode <= 2);
        if (plan.ip)
            for (const auto& part : *plan.ip)
                FUZZ_CHECK(part.size() <= text.size());
    }
    return 0;
}
