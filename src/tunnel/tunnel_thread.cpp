#include "tunnel/tunnel_thread.hpp"

#include "tunnel/log.hpp"
#include "tunnel/tcp_server.hpp"

namespace kelvra::tunnel {

namespace {
constexpr unsigned long quit_wait_ms = 5000;
}

tunnel_thread::tunnel_thread(quint16 port, int stall_timeout_ms)
    : server_(std::make_unique<tcp_server>(port)) {
    server_->set_stall_timeout(stall_timeout_ms);
    thread_.setObjectName(QStringLiteral("kelvra-tunnel"));
    server_->moveToThread(&thread_);
    QObject::connect(&thread_, &QThread::started, server_.get(), &tcp_server::listen);
    QObject::connect(&thread_, &QThread::finished, server_.get(), &tcp_server::on_finished);
    thread_.start();
}

tunnel_thread::~tunnel_thread() {
    thread_.quit();
    if (!thread_.wait(quit_wait_ms)) {
        qCWarning(tunnel_log) << "tunnel thread did not end in time; terminating it";
        thread_.terminate();
        thread_.wait();
    }
}

} // namespace kelvra::tunnel
