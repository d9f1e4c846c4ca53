#pragma once
// The one way this program waits: the window thread sleeps until a socket,
// timer or user event arrives, runs it, and checks the caller's condition
// again. Never a busy loop.
#include <functional>

namespace tk {

// Runs window events until done() returns true, or until maxMs (when >= 0)
// has passed. Returns done()'s last value. done() is checked before the first
// pass and after every event, so flags set by handlers end the wait at once.
bool pumpEventsUntil(const std::function<bool()>& done, int maxMs = -1);

// Runs the events that are already pending, once, without waiting.
void pumpPendingEvents();

// Milliseconds from a monotonic clock (the tick count).
long long tickCountMs();

} // namespace tk
