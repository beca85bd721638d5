#pragma once

// A minimal tunnel peer: it listens on a free loopback port in a thread of
// its own and answers every framed request with a fixed reply.

#include <cstdint>
#include <string>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kelvra::testing {

class tunnel_stand_in {
public:
    tunnel_stand_in() {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        auto* const a = reinterpret_cast<sockaddr*>(&address);
        if (fd_ < 0 || ::bind(fd_, a, size) != 0 || ::listen(fd_, 8) != 0 ||
            ::getsockname(fd_, a, &size) != 0) {
            return;
        }
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~tunnel_stand_in() {
        ::shutdown(fd_, SHUT_RDWR); // ends the thread's accept()
        if (thread_.joinable()) {
            thread_.join();
        }
        ::close(fd_);
    }
    tunnel_stand_in(tunnel_stand_in const&) = delete;
    tunnel_stand_in& operator=(tunnel_stand_in const&) = delete;

    std::uint16_t port() const { return port_; }

private:
    void serve() {
        std::string const reply =
            R"({"connection_id":"stand-in","kind":"PrinterListResponse","printers":[],"version":1})";
        std::uint32_t const n = htonl(static_cast<std::uint32_t>(reply.size()));
        std::string const frame = std::string(reinterpret_cast<char const*>(&n), 4) + reply;
        for (int client; (client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
            timeval const limit{30, 0};
            ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
            std::uint32_t size = 0;
            char body[4096];
            if (::recv(client, &size, 4, MSG_WAITALL) == 4 && ntohl(size) <= sizeof body &&
                ::recv(client, body, ntohl(size), MSG_WAITALL) == ssize_t(ntohl(size))) {
                ::send(client, frame.data(), frame.size(), MSG_NOSIGNAL);
            }
            ::close(client);
        }
    }

    int const fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    std::uint16_t port_ = 0;
    std::thread thread_;
};

} // namespace kelvra::testing
