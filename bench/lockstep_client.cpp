// The responder's ceiling: a minimal client that keeps one STAT in flight on each of its
// connections, like a checker without pipelining, and prints the answers per second.
//   orvalis-bench-client PORT CONNECTIONS ANSWERS

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool sendStat(int fd, long number)
{
    char line[64];
    const int size = std::snprintf(line, sizeof line, "STAT <b%ld.x@bench.invalid>\r\n", number);
    return send(fd, line, size_t(size), MSG_NOSIGNAL) == size;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s PORT CONNECTIONS ANSWERS\n", argv[0]);
        return 64;
    }
    const int port = std::atoi(argv[1]);
    const int connections = std::atoi(argv[2]);
    const long answers = std::atol(argv[3]);
    const int poller = epoll_create1(0);
    std::vector<std::string> inputs(static_cast<size_t>(connections));
    std::vector<bool> greeted(static_cast<size_t>(connections), false);
    std::vector<int> fds;
    for (int i = 0; i < connections; ++i) {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(uint16_t(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
            std::perror("connect");
            return 1;
        }
        const int yes = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u32 = uint32_t(i);
        epoll_ctl(poller, EPOLL_CTL_ADD, fd, &event);
        fds.push_back(fd);
    }
    const auto started = std::chrono::steady_clock::now();
    long sent = 0, received = 0;
    epoll_event ready[64];
    char buffer[4096];
    while (received < answers) {
        const int count = epoll_wait(poller, ready, 64, -1);
        for (int r = 0; r < count; ++r) {
            const size_t i = ready[r].data.u32;
            const ssize_t size = recv(fds[i], buffer, sizeof buffer, 0);
            if (size <= 0)
                return 1;
            inputs[i].append(buffer, size_t(size));
            size_t end;
            while ((end = inputs[i].find("\r\n")) != std::string::npos) {
                if (greeted[i])
                    ++received;
                greeted[i] = true;
                inputs[i].erase(0, end + 2);
                if (sent < answers && !sendStat(fds[i], sent++))
                    return 1;
            }
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("%ld answers in %.3f s: %.0f answers/s\n", received, seconds, double(received) / seconds);
}
