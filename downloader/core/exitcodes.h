#pragma once
// Exit codes of unattended runs. A POSIX shell sees -1..-7 as 255..249.

namespace tk::exitcode {

inline constexpr int Success = 0;
inline constexpr int AppStarted = 1;   // network: installed and the application started
inline constexpr int Rebooted = 2;     // network: installed and the terminal rebooted
inline constexpr int BadArgs = -1;     // "BADARGS", tool result 1, unusable argument
inline constexpr int NoFile = -2;      // file missing or empty, no file name
inline constexpr int BadAddress = -3;  // no valid destination address
inline constexpr int NoConnect = -4;   // connect failure or time-out, no acknowledgement
inline constexpr int NoSpace = -5;     // "NOSPACE", tool result 2
inline constexpr int Failed = -6;      // "DNLD_FAIL", write error, other run-time error
inline constexpr int PortBusy = -7;    // COM port in use or missing, tool result 3

} // namespace tk::exitcode
