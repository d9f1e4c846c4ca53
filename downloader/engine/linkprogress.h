#pragma once
// Whether a connection's bytes are moving. The system takes writes in bursts:
// once its send buffer is full it takes the next write only after a good part
// of that buffer has drained, which on a slow link takes far longer than the
// link needs for one piece of the file. The acknowledgements tell what the
// terminal really took meanwhile.
#include <QtGlobal>
#include <optional>

namespace tk {

// A figure that changes whenever the other end acknowledges bytes sent on
// the connection: on Linux the bytes in the send queue not yet acknowledged
// (SIOCOUTQ), on Windows the bytes acknowledged so far (SIO_TCP_INFO, from
// Windows 10 1703). Empty where the system does not tell.
std::optional<qint64> deliveryMark(qintptr descriptor);

} // namespace tk
