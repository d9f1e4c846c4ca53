#pragma once
// A polite end on request: on Unix, SIGTERM and SIGINT (a service manager
// stopping the program, Ctrl+C in its terminal) run a handler on the window
// thread instead of killing the process, so the program can close the way a
// user closing the window would. Elsewhere it does nothing.
#include <functional>

namespace tk {

// Installs the handler for the rest of the process's life; a later call
// replaces it. Returns false when the signals could not be caught (they then
// keep their default action).
bool onTerminationRequest(std::function<void()> handler);

} // namespace tk
