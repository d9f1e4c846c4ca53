#pragma once

namespace tk {

inline constexpr int kVersionMajor = 2;
inline constexpr int kVersionMinor = 6;
inline constexpr int kVersionRevision = 3;
inline constexpr const char* kVersionComments = ""; // empty in this release

} // namespace tk
