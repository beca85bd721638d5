#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

namespace kelvra::bench {

// The floors for the tunnel server: a minimal server on epoll, in one
// thread, that answers every length-prefixed frame and writes all complete
// replies of a read at once. Without a responder it echoes each frame.
class epoll_frame_server {
public:
    // Appends the whole reply frame for one request body to `out`.
    using responder =
        std::function<void(char const* body, std::size_t size, std::vector<char>& out)>;

    explicit epoll_frame_server(responder respond = {});
    ~epoll_frame_server();
    epoll_frame_server(epoll_frame_server const&) = delete;
    epoll_frame_server& operator=(epoll_frame_server const&) = delete;

    // The loopback port it listens on; 0 when it could not start.
    std::uint16_t port() const { return port_; }

private:
    void run();

    int listen_fd_ = -1;
    int epoll_fd_ = -1;
    int stop_fd_ = -1;
    std::uint16_t port_ = 0;
    responder respond_;
    std::thread thread_;
};

} // namespace kelvra::bench
