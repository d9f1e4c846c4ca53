#pragma once
// Whether the other end reset a TCP connection rather than closing it. A
// terminal that reboots after installing closes its connection in order; a
// reset means the connection broke (the other end dropped it with bytes it
// had not read), which Qt reports like an ordinary close.
#include <QtGlobal>

namespace tk {

// True when the socket's pending error is a reset (also one that came after
// the other end's close). Looks without taking any
// data; call before reading what a readiness notification announced.
bool connectionWasReset(qintptr descriptor);

// True when nothing more can come on the connection: the other end closed
// or reset it and every byte it sent has been read. Looks without taking any
// data. An open connection with unread bytes is not ended yet.
bool connectionEnded(qintptr descriptor);

} // namespace tk
