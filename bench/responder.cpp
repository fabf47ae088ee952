// A fast NNTP responder for the check benchmarks, on loopback: greets with "200 ", answers every
// STAT with "223 0 <id>", every BODY with a small yEnc body, QUIT with "205 " and anything else
// with "500 ". One thread, epoll.
// With a delay it sends each reply that long after its command arrived, however many commands
// are in flight, as a server far away would.
//   orvalis-bench-responder [PORT [DELAY_MS]]     (port 0 or none: any free port; printed first)

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <string>
#include <unordered_map>

namespace {

using Clock = std::chrono::steady_clock;

struct Client {
    std::string input;
    std::string output;
};

// A reply waiting for its time; with one delay for all, they fall due in the order they came.
struct Delayed {
    Clock::time_point due;
    int fd;
    std::string reply;
};

void answer(Client &client, std::string &replies)
{
    size_t start = 0, end;
    while ((end = client.input.find("\r\n", start)) != std::string::npos) {
        const std::string_view line(client.input.data() + start, end - start);
        if (line.substr(0, 5) == "STAT ")
            replies.append("223 0 ").append(line.substr(5)).append("\r\n");
        else if (line.substr(0, 5) == "BODY ")
            replies.append("222 0 ").append(line.substr(5)).append("\r\n=ybegin line=128 size=3 name=x\r\n\x8b\x8c\x8d\r\n=yend size=3 crc32=352441c2\r\n.\r\n");
        else if (line == "QUIT")
            replies.append("205 bye\r\n");
        else
            replies.append("500 what?\r\n");
        start = end + 2;
    }
    client.input.erase(0, start);
}

bool flush(int fd, Client &client)
{
    while (!client.output.empty()) {
        const ssize_t sent = send(fd, client.output.data(), client.output.size(), MSG_NOSIGNAL);
        if (sent < 0)
            return errno == EAGAIN;
        client.output.erase(0, size_t(sent));
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    const int port = argc > 1 ? std::atoi(argv[1]) : 0;
    const auto delay = std::chrono::milliseconds(argc > 2 ? std::atoi(argv[2]) : 0);
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    const int yes = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || listen(listener, 64) != 0
        || getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        std::perror("orvalis-bench-responder");
        return 1;
    }
    std::printf("%d\n", ntohs(address.sin_port));
    std::fflush(stdout);

    const int poller = epoll_create1(0);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = listener;
    epoll_ctl(poller, EPOLL_CTL_ADD, listener, &event);
    std::unordered_map<int, Client> clients;
    std::deque<Delayed> delayed;
    epoll_event ready[64];
    char buffer[65536];
    for (;;) {
        while (!delayed.empty() && delayed.front().due <= Clock::now()) {
            const auto open = clients.find(delayed.front().fd);
            if (open != clients.end()) {
                open->second.output += delayed.front().reply;
                flush(open->first, open->second);
            }
            delayed.pop_front();
        }
        int wait = -1;
        if (!delayed.empty()) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(delayed.front().due - Clock::now());
            wait = int(std::max<long long>(0, left.count()));
        }
        const int count = epoll_wait(poller, ready, 64, wait);
        for (int i = 0; i < count; ++i) {
            const int fd = ready[i].data.fd;
            if (fd == listener) {
                int client;
                while ((client = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK)) >= 0) {
                    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
                    epoll_event in{};
                    in.events = EPOLLIN;
                    in.data.fd = client;
                    epoll_ctl(poller, EPOLL_CTL_ADD, client, &in);
                    clients[client].output = "200 responder ready\r\n";
                    flush(client, clients[client]);
                }
                continue;
            }
            Client &client = clients[fd];
            ssize_t received;
            bool open = true;
            while ((received = recv(fd, buffer, sizeof buffer, 0)) > 0)
                client.input.append(buffer, size_t(received));
            if (received == 0 || (received < 0 && errno != EAGAIN))
                open = false;
            std::string replies;
            answer(client, replies);
            if (delay.count() > 0 && !replies.empty())
                delayed.push_back({Clock::now() + delay, fd, std::move(replies)});
            else
                client.output += replies;
            if (!flush(fd, client) || !open) {
                close(fd);
                clients.erase(fd);
            }
        }
    }
}
