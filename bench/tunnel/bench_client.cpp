#include "bench_client.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kelvra::bench {

namespace {

using clock = std::chrono::steady_clock;

// Counts whole frames in a byte stream that arrives in pieces.
struct frame_counter {
    unsigned char header[4] = {};
    int header_have = 0;
    std::uint64_t body_left = 0;
    std::int64_t frames = 0;

    void consume(char const* data, std::size_t size) {
        while (size > 0) {
            if (header_have < 4) {
                header[header_have++] = static_cast<unsigned char>(*data++);
                --size;
                if (header_have == 4) {
                    body_left = (std::uint64_t(header[0]) << 24) |
                                (std::uint64_t(header[1]) << 16) | (std::uint64_t(header[2]) << 8) |
                                std::uint64_t(header[3]);
                    if (body_left == 0) {
                        header_have = 0;
                        ++frames;
                    }
                }
                continue;
            }
            auto const take = static_cast<std::size_t>(std::min<std::uint64_t>(body_left, size));
            data += take;
            size -= take;
            body_left -= take;
            if (body_left == 0) {
                header_have = 0;
                ++frames;
            }
        }
    }
};

struct pipelined_connection {
    int fd = -1;
    std::int64_t queued = 0; // requests put into `out`
    QByteArray out;
    int out_sent = 0;
    frame_counter replies;
};

} // namespace

int connect_loopback(std::uint16_t port) {
    int const fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        return -1;
    }
    int const one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

bool send_all(int fd, char const* data, std::size_t size) {
    while (size > 0) {
        ssize_t const n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool recv_exact(int fd, char* into, std::size_t size) {
    while (size > 0) {
        ssize_t const n = ::recv(fd, into, size, 0);
        if (n <= 0) {
            return false;
        }
        into += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

QByteArray read_frame(int fd) {
    unsigned char header[4];
    if (!recv_exact(fd, reinterpret_cast<char*>(header), 4)) {
        return {};
    }
    std::uint32_t const length = (std::uint32_t(header[0]) << 24) |
                                 (std::uint32_t(header[1]) << 16) |
                                 (std::uint32_t(header[2]) << 8) | std::uint32_t(header[3]);
    QByteArray frame(4 + static_cast<int>(length), '\0');
    std::memcpy(frame.data(), header, 4);
    if (!recv_exact(fd, frame.data() + 4, length)) {
        return {};
    }
    return frame;
}

double pipelined_rate(std::uint16_t port, QByteArray const& request, int connections,
                      int per_connection, int window) {
    std::vector<pipelined_connection> peers(static_cast<std::size_t>(connections));
    for (auto& p : peers) {
        p.fd = connect_loopback(port);
        if (p.fd < 0) {
            return 0;
        }
        ::fcntl(p.fd, F_SETFL, ::fcntl(p.fd, F_GETFL) | O_NONBLOCK);
    }
    std::vector<pollfd> polls(peers.size());
    std::vector<char> chunk(262144);
    std::int64_t const total = std::int64_t(connections) * per_connection;
    std::int64_t answered = 0;
    auto const start = clock::now();
    bool failed = false;
    while (answered < total && !failed) {
        for (std::size_t i = 0; i < peers.size(); ++i) {
            auto& p = peers[i];
            // Top the window up.
            std::int64_t const room = std::min<std::int64_t>(window - (p.queued - p.replies.frames),
                                                             per_connection - p.queued);
            if (room > 0 && p.out_sent == p.out.size()) {
                p.out = request.repeated(static_cast<int>(room));
                p.out_sent = 0;
                p.queued += room;
            }
            polls[i] = {p.fd, short(POLLIN | (p.out_sent < p.out.size() ? POLLOUT : 0)), 0};
        }
        if (::poll(polls.data(), polls.size(), 10000) <= 0) {
            failed = true;
            break;
        }
        for (std::size_t i = 0; i < peers.size(); ++i) {
            auto& p = peers[i];
            if (polls[i].revents & POLLOUT) {
                ssize_t const n = ::send(p.fd, p.out.constData() + p.out_sent,
                                         std::size_t(p.out.size() - p.out_sent), MSG_NOSIGNAL);
                if (n > 0) {
                    p.out_sent += static_cast<int>(n);
                }
            }
            if (polls[i].revents & (POLLIN | POLLHUP | POLLERR)) {
                ssize_t const n = ::recv(p.fd, chunk.data(), chunk.size(), 0);
                if (n <= 0) {
                    failed = n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
                    continue;
                }
                std::int64_t const before = p.replies.frames;
                p.replies.consume(chunk.data(), static_cast<std::size_t>(n));
                answered += p.replies.frames - before;
            }
        }
    }
    std::chrono::duration<double> const elapsed = clock::now() - start;
    for (auto& p : peers) {
        ::close(p.fd);
    }
    return failed ? 0 : double(total) / elapsed.count();
}

std::vector<double> round_trips(std::uint16_t port, QByteArray const& request, int count) {
    std::vector<double> times;
    int const fd = connect_loopback(port);
    if (fd < 0) {
        return times;
    }
    times.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        auto const start = clock::now();
        if (!send_all(fd, request.constData(), std::size_t(request.size())) ||
            read_frame(fd).isEmpty()) {
            times.clear();
            break;
        }
        std::chrono::duration<double, std::micro> const elapsed = clock::now() - start;
        times.push_back(elapsed.count());
    }
    ::close(fd);
    std::sort(times.begin(), times.end());
    return times;
}

double percentile(std::vector<double> const& sorted, double p) {
    if (sorted.empty()) {
        return 0;
    }
    auto const index = static_cast<std::size_t>(std::ceil(p / 100.0 * double(sorted.size()))) - 1;
    return sorted[std::min(index, sorted.size() - 1)];
}

} // namespace kelvra::bench
