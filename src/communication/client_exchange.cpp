#include "communication/client_exchange.hpp"

#include "communication/log.hpp"
#include "communication/services.hpp"
#include "communication/socket_path.hpp"

#include <QEventLoop>
#include <QLocalSocket>
#include <QTimer>

namespace kelvra::communication {

namespace services = protocol::services;

namespace {

constexpr int connect_timeout_ms = 500;
constexpr int write_timeout_ms = 500;
constexpr int reply_timeout_ms = 1000;
// Far above any reply an instance sends; a peer cannot make us hold more.
constexpr qint64 reply_size_limit = 1 << 20;

void log_failure(services::failure const& response) {
    for (auto const& entry : response.entries) {
        qCDebug(communication_log).noquote() << entry.category_name << entry.message;
    }
}

// Logs a failure reply and tells whether the reply was the success form.
template <class Response> bool acknowledged(std::optional<services::reply<Response>> const& reply) {
    if (!reply) {
        qCDebug(communication_log, "malformed reply");
        return false;
    }
    if (auto const* failed = std::get_if<services::failure>(&*reply)) {
        log_failure(*failed);
        return false;
    }
    return true;
}

} // namespace

namespace detail {

std::optional<QByteArray> client_exchange(QString const& socket_path, QByteArray const& request) {
    if (socket_path.isEmpty()) {
        return std::nullopt;
    }
    switch (inspect_socket(socket_path)) {
    case socket_state::absent:
        qCDebug(communication_log, "no instance is listening");
        return std::nullopt;
    case socket_state::foreign:
        // Not a socket of this user: whoever listens there gets nothing.
        qCDebug(communication_log, "the local server name is not a socket of this user");
        return std::nullopt;
    case socket_state::ours:
        break;
    }

    QLocalSocket socket;
    socket.setReadBufferSize(reply_size_limit);
    socket.connectToServer(socket_path, QIODevice::ReadWrite);
    if (!socket.waitForConnected(connect_timeout_ms)) {
        qCDebug(communication_log).noquote() << "not connected:" << socket.errorString();
        return std::nullopt;
    }

    socket.write(request);
    if (socket.bytesToWrite() > 0 && !socket.waitForBytesWritten(write_timeout_ms)) {
        qCDebug(communication_log, "request not written");
        return std::nullopt;
    }

    if (socket.bytesAvailable() == 0) {
        if (socket.state() != QLocalSocket::ConnectedState) {
            qCDebug(communication_log, "closed without a reply");
            return std::nullopt;
        }
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        QObject::connect(&socket, &QLocalSocket::readyRead, &loop, &QEventLoop::quit);
        QObject::connect(&socket, &QLocalSocket::disconnected, &loop, &QEventLoop::quit);
        QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        timer.start(reply_timeout_ms);
        loop.exec();
        if (socket.bytesAvailable() == 0) {
            if (timer.isActive()) {
                qCDebug(communication_log, "closed without a reply");
            } else {
                qCDebug(communication_log, "timeout");
            }
            return std::nullopt;
        }
    }

    // One read: a reply is small and is written at once.
    QByteArray reply = socket.readAll();
    socket.disconnectFromServer();
    return reply;
}

std::optional<bool> query_is_running(QString const& socket_path) {
    auto const bytes =
        client_exchange(socket_path, services::encode(services::is_running::request{}));
    if (!bytes) {
        return std::nullopt;
    }
    auto const reply = services::decode_is_running_reply(*bytes);
    if (!acknowledged(reply)) {
        return std::nullopt;
    }
    return std::get<services::is_running::response>(*reply).running;
}

bool send_open_application(QString const& socket_path) {
    auto const bytes =
        client_exchange(socket_path, services::encode(services::open_application::request{}));
    return bytes && acknowledged(services::decode_open_application_reply(*bytes));
}

bool send_open_connection(QString const& socket_path, QString const& connection_name) {
    auto const bytes = client_exchange(
        socket_path, services::encode(services::open_connection::request{connection_name}));
    return bytes && acknowledged(services::decode_open_connection_reply(*bytes));
}

} // namespace detail

std::optional<QByteArray> client_exchange(QByteArray const& request) {
    return detail::client_exchange(socket_path(), request);
}

std::optional<bool> query_is_running() {
    return detail::query_is_running(socket_path());
}

bool probe_is_running() {
    return query_is_running().value_or(false);
}

bool send_open_application() {
    return detail::send_open_application(socket_path());
}

bool send_open_connection(QString const& connection_name) {
    return detail::send_open_connection(socket_path(), connection_name);
}

} // namespace kelvra::communication
