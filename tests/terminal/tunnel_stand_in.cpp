#include "tunnel_stand_in.hpp"

#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kelvra::testing {

namespace {

bool read_exactly(int fd, char* data, std::size_t size) {
    while (size > 0) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 30000) <= 0) {
            return false;
        }
        ssize_t const n = ::read(fd, data, size);
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

std::string tunnel_stand_in::reply_json() {
    return R"({"connection_id":"stand-in","kind":"PrinterListResponse","printers":[],"version":1})";
}

tunnel_stand_in::tunnel_stand_in() {
    if (::pipe(stop_pipe_) != 0) {
        return;
    }
    int const fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 8) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        return;
    }
    listen_fd_ = fd;
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
}

tunnel_stand_in::~tunnel_stand_in() {
    if (thread_.joinable()) {
        char const stop = 'x';
        [[maybe_unused]] ssize_t const n = ::write(stop_pipe_[1], &stop, 1);
        thread_.join();
    }
    for (int const fd : {listen_fd_, stop_pipe_[0], stop_pipe_[1]}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

std::vector<std::string> tunnel_stand_in::requests() const {
    std::lock_guard<std::mutex> guard(lock_);
    return requests_;
}

void tunnel_stand_in::serve() {
    for (;;) {
        pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {stop_pipe_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[1].revents != 0) {
            return;
        }
        int const client = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            continue;
        }
        unsigned char size_field[4];
        if (read_exactly(client, reinterpret_cast<char*>(size_field), 4)) {
            std::uint32_t const size = (std::uint32_t{size_field[0]} << 24) |
                                       (std::uint32_t{size_field[1]} << 16) |
                                       (std::uint32_t{size_field[2]} << 8) | size_field[3];
            std::string body(size < 65536 ? size : 0, '\0');
            if (size < 65536 && read_exactly(client, body.data(), body.size())) {
                {
                    std::lock_guard<std::mutex> guard(lock_);
                    requests_.push_back(body);
                }
                if (hook_) {
                    hook_();
                }
                std::string const reply = reply_json();
                auto const n = static_cast<std::uint32_t>(reply.size());
                unsigned char const head[4] = {
                    static_cast<unsigned char>(n >> 24), static_cast<unsigned char>(n >> 16),
                    static_cast<unsigned char>(n >> 8), static_cast<unsigned char>(n)};
                std::string const frame =
                    std::string(reinterpret_cast<char const*>(head), 4) + reply;
                [[maybe_unused]] ssize_t const w =
                    ::send(client, frame.data(), frame.size(), MSG_NOSIGNAL);
            }
        }
        ::close(client);
    }
}

} // namespace kelvra::testing
