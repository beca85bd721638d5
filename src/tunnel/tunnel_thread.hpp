#pragma once

#include "tunnel/tcp_server.hpp"

#include <QThread>

#include <cstdint>
#include <memory>

namespace kelvra::tunnel {

// Owns the tunnel server and the thread it runs in. Construction starts the
// thread, which starts listening; destruction stops listening, asks the
// thread to quit, waits up to 5000 ms and terminates it if it is still
// running. The program creates it with tunnel_port; if that port is taken
// the server does not serve and the program runs without it.
//
// Create it on the GUI thread: the process-wide objects the server and its
// handlers use are made by the constructor, so that none of them is made on
// (and, for the connection manager, belongs to) the tunnel thread.
class tunnel_thread {
public:
    explicit tunnel_thread(quint16 port,
                           int stall_timeout_ms = tcp_server::default_stall_timeout_ms,
                           std::int64_t body_budget = tcp_server::default_body_budget);
    ~tunnel_thread();
    tunnel_thread(tunnel_thread const&) = delete;
    tunnel_thread& operator=(tunnel_thread const&) = delete;

    // The server lives in thread(); call it only from there (for example
    // through QMetaObject::invokeMethod).
    tcp_server* server() const { return server_.get(); }
    QThread* thread() { return &thread_; }

private:
    // Declared before the thread: destroyed after it has ended.
    std::unique_ptr<tcp_server> server_;
    QThread thread_;
};

} // namespace kelvra::tunnel
