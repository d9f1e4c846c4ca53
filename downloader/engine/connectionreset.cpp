#include "engine/connectionreset.h"

#ifdef Q_OS_WIN
#include <winsock2.h>
#else
#include <cerrno>
#include <sys/socket.h>
#endif

namespace tk {

bool connectionWasReset(qintptr descriptor)
{
    if (descriptor < 0)
        return false;
    char byte = 0;
#ifdef Q_OS_WIN
    const int got = ::recv(static_cast<SOCKET>(descriptor), &byte, 1, MSG_PEEK);
    return got == SOCKET_ERROR && WSAGetLastError() == WSAECONNRESET;
#else
    const ssize_t got = ::recv(static_cast<int>(descriptor), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    // After the other end's orderly close a reset shows as EPIPE.
    return got < 0 && (errno == ECONNRESET || errno == EPIPE);
#endif
}

bool connectionEnded(qintptr descriptor)
{
    if (descriptor < 0)
        return true;
    char byte = 0;
#ifdef Q_OS_WIN
    const int got = ::recv(static_cast<SOCKET>(descriptor), &byte, 1, MSG_PEEK);
    return got == 0 || (got == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK);
#else
    const ssize_t got = ::recv(static_cast<int>(descriptor), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
#endif
}

} // namespace tk
