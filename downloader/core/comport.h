#pragma once
// Which device a COM port number means.
//
// On Windows the name stays "COM" + number. Elsewhere COMn is the device
// "/dev/ttyS<n-1>" (COM1 = /dev/ttyS0, as the serial driver numbers the
// on-board ports), unless the environment variable TK650_COM<n> names another
// device, e.g. TK650_COM3=/dev/ttyUSB0 for a USB adapter or a pseudo-terminal
// path in tests. A number below 1 names no device.
#include <optional>
#include <string>

namespace tk {

// "TK650_COM" + number.
std::string comPortOverrideVariable(int port);

// The device for COM<port>: the override when it is set and not empty, else
// the platform's default. Empty for numbers below 1.
std::string comPortDevice(int port, const std::optional<std::string>& override, bool windows);

} // namespace tk
