#include "tunnel/tunnel_thread.hpp"

#include "connections/manager.hpp"
#include "core/status.hpp"
#include "tunnel/log.hpp"
#include "tunnel/status.hpp"

namespace kelvra::tunnel {

namespace {

constexpr unsigned long quit_wait_ms = 5000;

// Makes every process-wide object that the tunnel thread uses and that is
// otherwise made on first use. The manager above all: it is a QObject, and
// one made by the first request would belong to the tunnel thread, so the
// finish handlers of the terminal programs would run there, beside the GUI
// thread's has_running(), and not at all once the tunnel thread has ended.
void make_shared_objects() {
    manager::instance();
    kelvra::status::manager_category::instance();
    status::geral_category::instance();
    status::json_category::instance();
    tunnel_log();
}

} // namespace

tunnel_thread::tunnel_thread(quint16 port, int stall_timeout_ms, std::int64_t body_budget)
    : server_(std::make_unique<tcp_server>(port)) {
    make_shared_objects();
    server_->set_stall_timeout(stall_timeout_ms);
    server_->set_body_budget(body_budget);
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
