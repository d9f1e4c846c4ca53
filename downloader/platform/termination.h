#pragma once
// A polite end on request: the handler runs on the window thread instead of
// the process being killed, so the program can close the way a user closing
// the window would.
// - Unix: SIGTERM and SIGINT (a service manager stopping the program, Ctrl+C
//   in its terminal).
// - Windows: the console's control events (Ctrl+C, Ctrl+Break, its window
//   closed, log-off, shut-down). A second Ctrl+C or Ctrl+Break ends the
//   process the ordinary way. After a close, log-off or shut-down Windows
//   ends the process a few seconds later whatever happens: the handler has
//   until then (kConsoleCloseGraceMs) to finish.
#include <functional>

namespace tk {

// Windows allows about 5 s after a console close before it ends the process.
inline constexpr unsigned long kConsoleCloseGraceMs = 4500;

// Installs the handler for the rest of the process's life; a later call
// replaces it. Returns false when the signals could not be caught (they then
// keep their default action).
bool onTerminationRequest(std::function<void()> handler);

} // namespace tk
