#pragma once
// Rules of the file transfer that need no socket: the progress figure and
// the time-left text.
#include <cstdint>
#include <optional>
#include <string>

namespace tk {

// Bytes per write while streaming a file.
inline constexpr int kChunkSize = 4096;

// Percentage of the file sent, 0 to 100, fractional.
double progressPercent(std::int64_t bytesSent, std::int64_t fileSize);

// The time-left label after one tick of the 1000 ms timer: the whole seconds
// left at the rate of the last second, as "12 s". Nothing when no byte was
// sent during that second (the label keeps its previous text).
std::optional<std::string> timeLeftText(std::int64_t fileSize, std::int64_t bytesSent,
                                        std::int64_t bytesAtLastTick);

} // namespace tk
