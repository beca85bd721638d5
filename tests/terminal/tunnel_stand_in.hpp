#pragma once

// A minimal tunnel peer for tests of the terminal program: it listens on a
// free loopback port in a thread of its own, answers every framed request
// with a fixed reply, and records the requests. A hook runs in that thread
// when a request arrives, while the connection that carried it still runs.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kelvra::testing {

class tunnel_stand_in {
public:
    tunnel_stand_in();
    ~tunnel_stand_in();
    tunnel_stand_in(tunnel_stand_in const&) = delete;
    tunnel_stand_in& operator=(tunnel_stand_in const&) = delete;

    bool is_listening() const { return listen_fd_ >= 0; }
    std::uint16_t port() const { return port_; }

    void set_hook(std::function<void()> hook) { hook_ = std::move(hook); }
    std::vector<std::string> requests() const;

    // The reply the stand-in sends.
    static std::string reply_json();

private:
    void serve();

    int listen_fd_ = -1;
    int stop_pipe_[2] = {-1, -1};
    std::uint16_t port_ = 0;
    std::function<void()> hook_;
    mutable std::mutex lock_;
    std::vector<std::string> requests_;
    std::thread thread_;
};

} // namespace kelvra::testing
