#pragma once
// Serial ports the program holds open. An open port keeps a lock file
// (LCK..<device> in the system's lock folder) that only closing it removes,
// and an unattended run ends the process at once, with no destructors run:
// the exit path (exitProcessNow) closes every port held here first, so no
// lock naming a dead process is left behind for the next run or program.
class QIODevice;

namespace tk {

// Holds `port` (open) until it is closed or destroyed.
void holdOpenPort(QIODevice* port);

// Closes every port still held. Returns how many were open.
int closeOpenPorts();

} // namespace tk
