#pragma once
// A listening TCP port whose accept queue is already full, so that a new
// connection attempt neither succeeds nor fails: the system drops its SYN and
// the connect waits (Linux).
#include <QString>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace tk::test {

class HangingPort {
public:
    HangingPort(const QString& address, quint16 port)
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        inet_pton(AF_INET, address.toLatin1().constData(), &a.sin_addr);
        m_server = ::socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        ::setsockopt(m_server, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        m_ok = ::bind(m_server, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
               ::listen(m_server, 0) == 0;
        for (int i = 0; m_ok && i < 2; ++i) {
            const int c = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            ::connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a);
            m_fillers.push_back(c);
        }
    }
    ~HangingPort()
    {
        for (int c : m_fillers)
            ::close(c);
        ::close(m_server);
    }
    HangingPort(const HangingPort&) = delete;
    HangingPort& operator=(const HangingPort&) = delete;

    bool ok() const { return m_ok; }

private:
    int m_server = -1;
    bool m_ok = false;
    std::vector<int> m_fillers;
};

} // namespace tk::test
