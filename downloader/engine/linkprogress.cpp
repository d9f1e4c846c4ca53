#ifdef _WIN32
// SIO_TCP_INFO comes with Windows 10 1703; the headers offer it only when
// built for that version, and older systems refuse the request.
#undef NTDDI_VERSION
#define NTDDI_VERSION 0x0A000003
#endif

#include "engine/linkprogress.h"

#ifdef Q_OS_WIN
#include <winsock2.h>
// after winsock2.h, whose types it uses
#include <mstcpip.h>
#elif defined(Q_OS_LINUX)
#include <linux/sockios.h>
#include <sys/ioctl.h>
#endif

namespace tk {

std::optional<qint64> deliveryMark(qintptr descriptor)
{
    if (descriptor < 0)
        return std::nullopt;
#ifdef Q_OS_WIN
    DWORD version = 0;
    TCP_INFO_v0 info{};
    DWORD got = 0;
    if (::WSAIoctl(static_cast<SOCKET>(descriptor), SIO_TCP_INFO, &version, sizeof version, &info,
                   sizeof info, &got, nullptr, nullptr) != 0 ||
        got < sizeof info)
        return std::nullopt;
    return static_cast<qint64>(info.BytesOut - info.BytesInFlight);
#elif defined(Q_OS_LINUX)
    int queued = 0;
    if (::ioctl(static_cast<int>(descriptor), SIOCOUTQ, &queued) != 0)
        return std::nullopt;
    return queued;
#else
    return std::nullopt;
#endif
}

} // namespace tk
