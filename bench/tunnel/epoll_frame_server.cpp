#include "epoll_frame_server.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

namespace kelvra::bench {

namespace {

struct connection {
    std::vector<char> in;
    std::vector<char> out;
    std::size_t out_sent = 0;
    bool watching_out = false;
};

constexpr std::uint32_t max_frame = 104857600;

// Writes what it can; true when everything queued went out.
bool flush(int fd, connection& c) {
    while (c.out_sent < c.out.size()) {
        ssize_t const n =
            ::send(fd, c.out.data() + c.out_sent, c.out.size() - c.out_sent, MSG_NOSIGNAL);
        if (n < 0) {
            return false;
        }
        c.out_sent += static_cast<std::size_t>(n);
    }
    c.out.clear();
    c.out_sent = 0;
    return true;
}

} // namespace

epoll_frame_server::epoll_frame_server(responder respond) : respond_(std::move(respond)) {
    listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listen_fd_ < 0 ||
        ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listen_fd_, 128) != 0 ||
        ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return;
    }
    epoll_fd_ = ::epoll_create1(EPOLL_CLOEXEC);
    stop_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = listen_fd_;
    ::epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, listen_fd_, &event);
    event.data.fd = stop_fd_;
    ::epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, stop_fd_, &event);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { run(); });
}

epoll_frame_server::~epoll_frame_server() {
    if (thread_.joinable()) {
        std::uint64_t const one = 1;
        [[maybe_unused]] ssize_t const n = ::write(stop_fd_, &one, sizeof one);
        thread_.join();
    }
    for (int fd : {listen_fd_, epoll_fd_, stop_fd_}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

void epoll_frame_server::run() {
    std::map<int, connection> connections;
    std::vector<char> chunk(65536);
    epoll_event events[64];
    auto drop = [&](int fd) {
        ::epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, fd, nullptr);
        ::close(fd);
        connections.erase(fd);
    };
    for (;;) {
        int const ready = ::epoll_wait(epoll_fd_, events, 64, -1);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        for (int i = 0; i < ready; ++i) {
            int const fd = events[i].data.fd;
            if (fd == stop_fd_) {
                for (auto& entry : connections) {
                    ::close(entry.first);
                }
                return;
            }
            if (fd == listen_fd_) {
                for (;;) {
                    int const client =
                        ::accept4(listen_fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                    if (client < 0) {
                        break;
                    }
                    int const one = 1;
                    ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                    epoll_event event{};
                    event.events = EPOLLIN;
                    event.data.fd = client;
                    ::epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, client, &event);
                    connections[client];
                }
                continue;
            }
            connection& c = connections[fd];
            bool closed = false;
            if (events[i].events & (EPOLLIN | EPOLLHUP | EPOLLERR)) {
                for (;;) {
                    ssize_t const n = ::recv(fd, chunk.data(), chunk.size(), 0);
                    if (n > 0) {
                        c.in.insert(c.in.end(), chunk.data(), chunk.data() + n);
                        continue;
                    }
                    closed = n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
                    break;
                }
                // Answer every complete frame.
                std::size_t used = 0;
                while (c.in.size() - used >= 4) {
                    std::uint32_t length = 0;
                    std::memcpy(&length, c.in.data() + used, 4);
                    length = ntohl(length);
                    if (length > max_frame) {
                        closed = true;
                        break;
                    }
                    if (c.in.size() - used < 4 + std::size_t(length)) {
                        break;
                    }
                    if (respond_) {
                        respond_(c.in.data() + used + 4, length, c.out);
                    } else {
                        c.out.insert(c.out.end(), c.in.begin() + std::ptrdiff_t(used),
                                     c.in.begin() + std::ptrdiff_t(used + 4 + length));
                    }
                    used += 4 + length;
                }
                c.in.erase(c.in.begin(), c.in.begin() + std::ptrdiff_t(used));
            }
            if (closed) {
                drop(fd);
                continue;
            }
            bool const done = flush(fd, c);
            if (!done && errno != EAGAIN && errno != EWOULDBLOCK) {
                drop(fd);
                continue;
            }
            if (c.watching_out == done) {
                c.watching_out = !done;
                epoll_event event{};
                event.events = EPOLLIN | (done ? 0u : static_cast<std::uint32_t>(EPOLLOUT));
                event.data.fd = fd;
                ::epoll_ctl(epoll_fd_, EPOLL_CTL_MOD, fd, &event);
            }
        }
    }
}

} // namespace kelvra::bench
