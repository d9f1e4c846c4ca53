#pragma once
// COM ports by number: which device a number means (core/comport.h, with the
// TK650_COM<n> override read from the environment) and opening it with the
// failure told apart the way the serial download reports it.
#include "platform/serialline.h"

#include <QString>

namespace tk {

// The device for COM<port> on this platform, empty for numbers below 1.
QString comPortDevice(int port);

enum class PortFailure {
    None,
    InUse,   // another program holds it
    Missing, // no such port
    Other,   // anything else; description says what
};

struct PortOpenResult {
    PortFailure failure = PortFailure::None;
    QString description; // for Other
    bool ok() const { return failure == PortFailure::None; }
};

// Opens COM<port> for reading and writing. With a baud text the port is then
// set to that rate, 8 data bits, no parity, 1 stop bit ("<baud>,n,8,1"); a
// baud text that is not a rate the port takes is an Other failure.
PortOpenResult openComPort(SerialLine& serial, int port, const QString& baud = QString());

// Opens COM<port> and closes it at once.
PortOpenResult testComPort(int port);

} // namespace tk
