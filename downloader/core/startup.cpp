#include "core/startup.h"

#include <algorithm>
#include <cctype>

namespace tk::startup {

namespace {

bool startsWith(std::string_view text, std::string_view head)
{
    return text.substr(0, head.size()) == head;
}

} // namespace

CommandLine classify(std::string_view text)
{
    if (text.empty())
        return {Mode::Empty, {}};
    struct Switch {
        std::string_view head;
        Mode mode;
    };
    static constexpr Switch modes[] = {
        {"-s", Mode::Serial}, {"-n", Mode::Network}, {"-k", Mode::Ksyn}};
    for (const auto& m : modes) {
        if (startsWith(text, m.head))
            return {m.mode, std::string(text.substr(2))};
    }
    static constexpr std::string_view help[] = {"-h", "/h", "/?", "-help", "--help"};
    for (const auto h : help) {
        if (startsWith(text, h))
            return {Mode::Help, {}};
    }
    return {Mode::Other, {}};
}

bool isUnattended(std::string_view text)
{
    static constexpr std::string_view word = " -silent";
    if (text.size() < word.size())
        return false;
    for (std::size_t i = 0; i + word.size() <= text.size(); ++i) {
        const bool same =
            std::equal(word.begin(), word.end(), text.begin() + i, [](char a, char b) {
                return a == std::tolower(static_cast<unsigned char>(b));
            });
        if (same)
            return true;
    }
    return false;
}

int savedPort(std::string_view value)
{
    if (value == "COM1")
        return 1;
    if (value == "COM2")
        return 2;
    if (!startsWith(value, "COM"))
        return 1;
    const auto digits = value.substr(3);
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(), [](char c) {
            return std::isdigit(static_cast<unsigned char>(c));
        }))
        return 1;
    int n = 0;
    for (char c : digits) {
        n = n * 10 + (c - '0');
        if (n > 255)
            return 1;
    }
    return n >= 3 ? n : 1;
}

BaudChoice savedBaud(std::string_view value)
{
    if (value == "115200")
        return BaudChoice::B115200;
    if (value == "19200")
        return BaudChoice::B19200;
    if (value == "9600")
        return BaudChoice::B9600;
    return BaudChoice::List;
}

std::string_view fileNamePart(std::string_view path)
{
    const auto cut = path.find_last_of("\\/");
    return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

bool isToolName(std::string_view path)
{
    return fileNamePart(path) == "pdt.exe";
}

std::string folderOf(std::string_view path)
{
    const auto cut = path.find_last_of("\\/");
    return cut == std::string_view::npos ? std::string() : std::string(path.substr(0, cut + 1));
}

} // namespace tk::startup
