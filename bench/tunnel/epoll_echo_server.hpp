#pragma once

#include <cstdint>
#include <thread>

namespace kelvra::bench {

// The floor for the tunnel server: a minimal server on epoll that answers
// every length-prefixed frame with the same frame, in one thread, writing
// all complete replies of a read at once.
class epoll_echo_server {
public:
    epoll_echo_server();
    ~epoll_echo_server();
    epoll_echo_server(epoll_echo_server const&) = delete;
    epoll_echo_server& operator=(epoll_echo_server const&) = delete;

    // The loopback port it listens on; 0 when it could not start.
    std::uint16_t port() const { return port_; }

private:
    void run();

    int listen_fd_ = -1;
    int epoll_fd_ = -1;
    int stop_fd_ = -1;
    std::uint16_t port_ = 0;
    std::thread thread_;
};

} // namespace kelvra::bench
