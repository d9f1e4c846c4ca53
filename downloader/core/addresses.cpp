#include "core/addresses.h"

#include <algorithm>

namespace tk {

std::string getDestinationIP(const std::array<std::string, 4>& boxes)
{
    std::string ip;
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        const std::string& box = boxes[i];
        if (box.empty())
            return {};
        const auto firstKept = box.find_first_not_of('0');
        if (i > 0)
            ip += '.';
        ip += firstKept == std::string::npos ? std::string("0") : box.substr(firstKept);
    }
    return ip;
}

std::string joinAddressBoxes(const std::array<std::string, 4>& boxes)
{
    return boxes[0] + '.' + boxes[1] + '.' + boxes[2] + '.' + boxes[3];
}

std::optional<std::array<std::string, 4>> splitAddress(std::string_view text)
{
    std::array<std::string, 4> parts;
    std::size_t count = 0;
    std::size_t start = 0;
    while (true) {
        const auto dot = text.find('.', start);
        if (count == parts.size())
            return std::nullopt;
        parts[count++] = std::string(text.substr(start, dot - start));
        if (dot == std::string_view::npos)
            break;
        start = dot + 1;
    }
    if (count != parts.size())
        return std::nullopt;
    return parts;
}

std::vector<std::string> recentAddresses(std::string_view stored)
{
    std::vector<std::string> entries;
    std::size_t start = 0;
    while (start <= stored.size() && entries.size() < kMaxRecentAddresses) {
        auto bar = stored.find('|', start);
        if (bar == std::string_view::npos)
            bar = stored.size();
        if (bar > start)
            entries.emplace_back(stored.substr(start, bar - start));
        start = bar + 1;
    }
    return entries;
}

std::string rememberAddress(std::string_view stored, const std::string& address)
{
    std::vector<std::string> entries = recentAddresses(stored);
    std::erase(entries, address);
    entries.insert(entries.begin(), address);
    if (entries.size() > kMaxRecentAddresses)
        entries.resize(kMaxRecentAddresses);

    std::string list;
    for (const auto& entry : entries) {
        if (!list.empty())
            list += '|';
        list += entry;
    }
    return list;
}

} // namespace tk
