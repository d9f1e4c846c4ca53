// The floor for the transfer's throughput on this machine: the same 4096-byte
// sends as the downloader, straight on the system's sockets with no event loop
// and no Qt, reading the file in 16 KiB blocks as QFile does. Used by
// throughput.sh to tell the cost of the chunk size from the cost of our code.
//   send_loop_floor FILE ADDRESS PORT
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

int main(int argc, char* argv[])
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s FILE ADDRESS PORT\n", argv[0]);
        return 2;
    }
    const int file = ::open(argv[1], O_RDONLY);
    const int sock = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[3])));
    if (file < 0 || sock < 0 || ::inet_pton(AF_INET, argv[2], &to.sin_addr) != 1 ||
        ::connect(sock, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        std::perror("send_loop_floor");
        return 1;
    }
    std::vector<char> block(16 * 1024);
    const auto start = std::chrono::steady_clock::now();
    ssize_t got;
    while ((got = ::read(file, block.data(), block.size())) > 0) {
        for (ssize_t at = 0; at < got; at += 4096) {
            const ssize_t n = std::min<ssize_t>(4096, got - at);
            if (::send(sock, block.data() + at, static_cast<size_t>(n), MSG_NOSIGNAL) != n) {
                std::perror("send_loop_floor");
                return 1;
            }
        }
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    ::close(sock);
    std::printf("%.6f\n", took.count());
    return got == 0 ? 0 : 1;
}
