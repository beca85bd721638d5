#include "communication/server.hpp"

#include "communication/log.hpp"
#include "communication/socket_path.hpp"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QPointer>
#include <QThread>
#include <QTimer>

namespace kelvra::communication {

namespace result = brano::core::v6::result;
namespace services = protocol::services;

namespace {

constexpr int request_timeout_ms = 1000;
constexpr int write_timeout_ms = 500;
constexpr int probe_timeout_ms = 500;
constexpr int lock_timeout_ms = 2000;
constexpr unsigned long lock_retry_ms = 5;
// A request is a tag and at most a session name.
constexpr qint64 request_size_limit = 64 * 1024;

// Whether nobody listens on the socket at `path` any more: connecting is
// refused (the instance that made it died) or the name just went away.
bool nobody_listens(QString const& path) {
    QLocalSocket probe;
    probe.connectToServer(path, QIODevice::ReadWrite);
    if (probe.waitForConnected(probe_timeout_ms)) {
        probe.abort();
        return false;
    }
    auto const error = probe.error();
    return error == QLocalSocket::ConnectionRefusedError ||
           error == QLocalSocket::ServerNotFoundError;
}

// QLockFile::tryLock(timeout) doubles its pause between attempts from 100 ms
// on, so a few starts at once would keep one another waiting for seconds.
// The lock is held for a moment only: try again every few milliseconds.
bool acquire(QLockFile& lock, int timeout_ms) {
    QElapsedTimer clock;
    clock.start();
    while (!lock.tryLock(0)) {
        if (lock.error() != QLockFile::LockFailedError || clock.elapsed() > timeout_ms) {
            return false;
        }
        QThread::msleep(lock_retry_ms);
    }
    return true;
}

} // namespace

server& server::instance() {
    static server object;
    return object;
}

server::server() : local_server_(new QLocalServer(this)) {
    qRegisterMetaType<result::stack>("brano::core::result::stack");
    // The socket file gets mode 0700: only this user can connect.
    local_server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(local_server_, &QLocalServer::newConnection, this, &server::on_new_connection);
}

server::~server() {
    stop_listening();
}

bool server::start_listening() {
    return start_listening(socket_path());
}

bool server::start_listening(QString const& path) {
    if (local_server_->isListening()) {
        return true;
    }
    bool const listening = !path.isEmpty() && take_name(path);
    if (!listening) {
        qCDebug(communication_log, "start listen error");
    }
    return listening;
}

// With the user access option Qt binds the socket under a temporary name and
// renames it into place, which would silently replace the socket of an
// instance that is still running. So the name is checked first, and starts
// that race for it take turns through a lock file beside the socket.
bool server::take_name(QString const& path) {
    QLockFile lock(path + QStringLiteral(".lock"));
    if (!acquire(lock, lock_timeout_ms)) {
        qCDebug(communication_log, "the local server name is locked by another start");
        return false;
    }
    switch (detail::inspect_socket(path)) {
    case detail::socket_state::absent:
        break;
    case detail::socket_state::foreign:
        qCDebug(communication_log, "the local server name is not a socket of this user");
        return false;
    case detail::socket_state::ours:
        if (!nobody_listens(path)) {
            qCDebug(communication_log, "another instance is listening");
            return false;
        }
        qCDebug(communication_log, "taking over the socket of an instance that ended");
        if (!QLocalServer::removeServer(path)) {
            qCDebug(communication_log, "the stale socket could not be removed");
            return false;
        }
        break;
    }
    if (!local_server_->listen(path)) {
        qCDebug(communication_log).noquote() << local_server_->errorString();
        return false;
    }
    return true;
}

bool server::is_listening() const {
    return local_server_->isListening();
}

QString server::listening_path() const {
    return local_server_->isListening() ? local_server_->fullServerName() : QString();
}

void server::stop_listening() {
    if (local_server_->isListening()) {
        local_server_->close();
    }
}

void server::on_new_connection() {
    // Each connection waits for its request in a nested event loop, so a
    // connection that arrives meanwhile enters here again and is served at
    // once; a silent client holds up nobody but itself.
    while (QLocalSocket* socket = local_server_->nextPendingConnection()) {
        socket->setReadBufferSize(request_size_limit);
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        serve(socket);
    }
}

void server::serve(QLocalSocket* socket) {
    // The socket can go away in any event loop run from here (its client
    // left, or a slot of ours ran a loop of its own).
    QPointer<QLocalSocket> const guard(socket);
    // Mostly the request is there already: take it without an event loop.
    if (socket->bytesAvailable() == 0 && !socket->waitForReadyRead(0)) {
        if (socket->state() != QLocalSocket::ConnectedState) {
            return; // it left without a word
        }
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        connect(socket, &QLocalSocket::readyRead, &loop, &QEventLoop::quit);
        connect(socket, &QLocalSocket::disconnected, &loop, &QEventLoop::quit);
        connect(socket, &QObject::destroyed, &loop, &QEventLoop::quit);
        connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        timer.start(request_timeout_ms);
        loop.exec();
        if (!guard) {
            return;
        }
        if (socket->bytesAvailable() == 0) {
            if (!timer.isActive()) {
                qCDebug(communication_log, "timeout");
                // A client that said nothing gets nothing more.
                socket->abort();
            }
            return;
        }
    }

    // One read, one request; anything sent after it on this connection is
    // never answered.
    QByteArray const request = socket->readAll();
    auto const response = answer(request);
    if (!response || !guard) {
        return;
    }
    socket->write(*response);
    if (socket->bytesToWrite() > 0 && !socket->waitForBytesWritten(write_timeout_ms)) {
        qCDebug(communication_log, "response not written");
    }
}

std::optional<QByteArray> server::answer(QByteArray const& request) {
    auto const decoded = services::decode_request(request);
    if (!decoded) {
        qCDebug(communication_log, "request not understood, left unanswered");
        return std::nullopt;
    }
    return std::visit(
        [this](auto const& typed) {
            result::stack status;
            auto const response = handle(typed, status);
            if (status.has_failed()) {
                return services::encode(services::failure{services::error_entries(status)});
            }
            return services::encode(response);
        },
        *decoded);
}

services::is_running::response server::handle(services::is_running::request const&,
                                              result::stack&) {
    return services::is_running::response{true};
}

services::open_application::response server::handle(services::open_application::request const&,
                                                    result::stack&) {
    emit open_application();
    return {};
}

services::open_connection::response
server::handle(services::open_connection::request const& request, result::stack&) {
    emit open_connection(request.connection_name);
    return {};
}

} // namespace kelvra::communication
