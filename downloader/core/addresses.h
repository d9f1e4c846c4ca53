#pragma once
// Destination addresses: the dotted address built from the four octet boxes,
// and the list of recently used addresses kept in the per-user store under
// "lastIP" (most recent first, separated by "|", five at most).
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tk {

inline constexpr std::size_t kMaxRecentAddresses = 5;

// The address used for connecting: each octet without its leading zeros (an
// octet of zeros only is "0"), joined by ".". Empty when any box is empty.
// No range check: 999 stays 999.
std::string getDestinationIP(const std::array<std::string, 4>& boxes);

// The address as stored: the four box texts joined by ".", exactly as typed.
std::string joinAddressBoxes(const std::array<std::string, 4>& boxes);

// The four parts of a dotted text, or nothing when it does not split at "."
// into exactly four parts.
std::optional<std::array<std::string, 4>> splitAddress(std::string_view text);

// The entries of a stored list, in order. Empty entries (from "||", a
// leading or a trailing "|") are dropped, and at most five are kept.
std::vector<std::string> recentAddresses(std::string_view stored);

// The stored list after a use of address: the address goes in front; an
// entry equal to it (exact match only) is moved rather than repeated, and
// the oldest entries beyond five fall off.
std::string rememberAddress(std::string_view stored, const std::string& address);

} // namespace tk
