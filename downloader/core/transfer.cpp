#include "core/transfer.h"

#include <algorithm>

namespace tk {

double progressPercent(std::int64_t bytesSent, std::int64_t fileSize)
{
    if (fileSize <= 0)
        return 0;
    const double p = static_cast<double>(bytesSent) / static_cast<double>(fileSize) * 100.0;
    return std::clamp(p, 0.0, 100.0);
}

std::optional<std::string> timeLeftText(std::int64_t fileSize, std::int64_t bytesSent,
                                        std::int64_t bytesAtLastTick)
{
    const std::int64_t delta = bytesSent - bytesAtLastTick;
    if (delta <= 0)
        return std::nullopt;
    const std::int64_t remaining = std::max<std::int64_t>(0, fileSize - bytesSent);
    return std::to_string(remaining / delta) + " s";
}

} // namespace tk
