#include "core/downloadoptions.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace tk {

namespace {

std::string_view trim(std::string_view s)
{
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    return s;
}

} // namespace

bool hasExecutableExtension(std::string_view path)
{
    static constexpr std::array<std::string_view, 7> kExtensions{".exe", ".tkl", ".bin", ".com",
                                                                 ".bat", ".cmd", ".sh"};
    if (path.size() < 4)
        return false;
    const auto dot = path.rfind('.');
    if (dot == std::string_view::npos)
        return false;
    std::string ext(path.substr(dot));
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return std::find(kExtensions.begin(), kExtensions.end(), ext) != kExtensions.end();
}

bool hasExecutableContent(std::string_view firstBytes)
{
    if (firstBytes.substr(0, 2) == "#!")
        return true;
    return firstBytes.size() >= 4 && firstBytes.substr(1, 3) == "ELF";
}

bool isExecutableFile(std::string_view path, const std::optional<std::string>& firstBytes)
{
    if (hasExecutableExtension(path))
        return true;
    if (!firstBytes)
        return true;
    return hasExecutableContent(*firstBytes);
}

std::string permissionTip(int digit)
{
    std::string tip;
    auto add = [&tip](const char* word) {
        if (!tip.empty())
            tip += " & ";
        tip += word;
    };
    if (digit & 4)
        add("read");
    if (digit & 2)
        add("write");
    if (digit & 1)
        add("execute");
    return tip;
}

std::string fullTypeTip(std::string_view owner)
{
    return "Cleans /home/" + std::string(owner) + "/* and environment variables";
}

std::string qtFileFilter(std::string_view pipeFilter)
{
    std::string out;
    while (!pipeFilter.empty()) {
        const auto bar = pipeFilter.find('|');
        const std::string_view text = pipeFilter.substr(0, bar);
        std::string_view patterns;
        if (bar == std::string_view::npos) {
            pipeFilter = {};
        } else {
            pipeFilter.remove_prefix(bar + 1);
            const auto next = pipeFilter.find('|');
            patterns = pipeFilter.substr(0, next);
            pipeFilter.remove_prefix(next == std::string_view::npos ? pipeFilter.size() : next + 1);
        }
        std::string qtPatterns;
        while (!patterns.empty()) {
            const auto semi = patterns.find(';');
            std::string_view p = trim(patterns.substr(0, semi));
            patterns.remove_prefix(semi == std::string_view::npos ? patterns.size() : semi + 1);
            if (p.empty())
                continue;
            if (!qtPatterns.empty())
                qtPatterns += ' ';
            qtPatterns += p == "*.*" ? std::string_view("*") : p;
        }
        if (text.empty() && qtPatterns.empty())
            continue;
        if (!out.empty())
            out += ";;";
        out += std::string(text) + " (" + (qtPatterns.empty() ? "*" : qtPatterns) + ")";
    }
    return out;
}

} // namespace tk
