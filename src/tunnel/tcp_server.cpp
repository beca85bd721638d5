#include "tunnel/tcp_server.hpp"

#include "tunnel/framing.hpp"
#include "tunnel/log.hpp"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace kelvra::tunnel {

namespace {

// The socket's input, offered only while the peer takes its replies: once
// too many are waiting, nothing more is read (unless the rest of the input is
// being discarded after an error reply).
class socket_source final : public byte_source {
public:
    socket_source(QTcpSocket& socket, client_state const& state) : socket_(socket), state_(state) {}
    std::int64_t available() const override {
        if (!state_.close_after_write &&
            socket_.bytesToWrite() >= tcp_server::max_queued_reply_bytes) {
            return 0;
        }
        return socket_.bytesAvailable();
    }
    std::int64_t read(char* into, std::int64_t max) override { return socket_.read(into, max); }

private:
    QTcpSocket& socket_;
    client_state const& state_;
};

// Gathers the replies of one read and hands them to the socket together, in
// order, once the read is over or the batch has grown to `batch_bytes`, so
// that the socket's count of bytes to write never lags far behind.
class socket_sink final : public reply_sink {
public:
    static constexpr int batch_bytes = 64 * 1024;

    socket_sink(tcp_server& server, QTcpSocket& socket) : server_(server), socket_(socket) {}
    ~socket_sink() override { hand_on(); }
    socket_sink(socket_sink const&) = delete;
    socket_sink& operator=(socket_sink const&) = delete;

    void reply(QByteArray frame) override {
        if (batch_.isEmpty()) {
            batch_ = std::move(frame);
        } else {
            batch_.append(frame);
        }
        if (batch_.size() >= batch_bytes) {
            hand_on();
        }
    }
    void hand_on() {
        if (!batch_.isEmpty()) {
            server_.enqueue(&socket_, batch_);
            batch_.clear();
        }
    }

private:
    tcp_server& server_;
    QTcpSocket& socket_;
    QByteArray batch_;
};

} // namespace

tcp_server::tcp_server(quint16 port, QObject* parent)
    : QObject(parent), server_(new QTcpServer(this)), port_(port) {
    connect(server_, &QTcpServer::newConnection, this, &tcp_server::on_new_connection);
}

// The sockets are children of the listening server and go with it.
tcp_server::~tcp_server() = default;

QByteArray tcp_server::error_frame(QString const& connection_id, int code, QString const& message) {
    return tunnel::error_frame(connection_id, code, message);
}

void tcp_server::listen() {
    // The forward delivers to 127.0.0.1; no other address needs to reach
    // this service.
    if (!server_->listen(QHostAddress(QHostAddress::LocalHost), port_)) {
        qCWarning(tunnel_log) << "start listen error" << port_ << server_->errorString();
        return;
    }
    qCDebug(tunnel_log) << "listening on" << server_->serverAddress() << server_->serverPort();
}

void tcp_server::on_new_connection() {
    QTcpSocket* const socket = server_->nextPendingConnection();
    if (socket == nullptr) {
        return;
    }
    if (clients_.size() >= max_clients) {
        qCDebug(tunnel_log) << "too many connections; closing the new one";
        socket->abort();
        socket->deleteLater();
        return;
    }
    auto const [it, inserted] = clients_.emplace(socket, client_state{});
    if (!inserted) {
        return;
    }
    auto* const stall_timer = new QTimer(socket);
    stall_timer->setSingleShot(true);
    stall_timer->setInterval(stall_timeout_ms_);
    connect(stall_timer, &QTimer::timeout, socket, [socket] {
        qCDebug(tunnel_log) << "peer stopped in the middle of a message; closing";
        socket->abort();
    });
    it->second.stall_timer = stall_timer;
    // Replies are small and each answers a waiting peer: no Nagle delay.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    // Input beyond this stays with the kernel, so a paused peer is held back
    // by TCP itself.
    socket->setReadBufferSize(socket_read_buffer);
    connect(socket, &QTcpSocket::readyRead, this, &tcp_server::on_ready_read);
    connect(socket, &QTcpSocket::bytesWritten, this, &tcp_server::on_bytes_written);
    connect(socket, &QTcpSocket::disconnected, this, &tcp_server::on_disconnected);
    qCDebug(tunnel_log) << "connection from port" << socket->peerPort();
}

void tcp_server::on_ready_read() {
    auto* const socket = qobject_cast<QTcpSocket*>(sender());
    auto const it = socket != nullptr ? clients_.find(socket) : clients_.end();
    if (it == clients_.end()) {
        drop_unknown(socket, "readyRead");
        return;
    }
    serve(socket, it->second);
    flush(socket);
}

void tcp_server::serve(QTcpSocket* socket, client_state& state) {
    socket_source source(*socket, state);
    socket_sink sink(*this, *socket);
    read_outcome const outcome = read_requests(state, source, sink, this);
    sink.hand_on();
    if (outcome == read_outcome::read_failed) {
        qCDebug(tunnel_log) << "read error" << socket->errorString();
        send_error(socket, socket->errorString(), 0, QString());
        return;
    }
    state.over_budget = outcome == read_outcome::over_budget;
    if (state.over_budget &&
        std::find(over_budget_.begin(), over_budget_.end(), socket) == over_budget_.end()) {
        qCDebug(tunnel_log) << "body of" << state.expected << "bytes waits for the budget";
        over_budget_.push_back(socket);
    }
    state.paused = !state.close_after_write && !state.over_budget &&
                   socket->bytesToWrite() >= max_queued_reply_bytes && socket->bytesAvailable() > 0;
    // An unfinished message must keep arriving; a paused peer, and one whose
    // body waits for the budget, is waited for.
    bool const unfinished =
        !state.close_after_write && (state.phase == 1 || !state.buffer.isEmpty());
    if (unfinished && !state.paused && !state.over_budget) {
        state.stall_timer->start();
    } else {
        state.stall_timer->stop();
    }
    if (state.paused) {
        qCDebug(tunnel_log) << "peer does not read its replies; reading paused";
    }
}

void tcp_server::flush(QTcpSocket* socket) {
    if (socket->bytesToWrite() > 0) {
        socket->flush();
    }
}

void tcp_server::on_bytes_written(qint64 bytes) {
    auto* const socket = qobject_cast<QTcpSocket*>(sender());
    auto const it = socket != nullptr ? clients_.find(socket) : clients_.end();
    if (it == clients_.end()) {
        drop_unknown(socket, "bytesWritten");
        return;
    }
    client_state& state = it->second;
    if (bytes < 0) {
        send_error(socket, socket->errorString(), 0, QString());
        return;
    }
    if (socket->bytesToWrite() == 0 && state.close_after_write) {
        qCDebug(tunnel_log) << "closing after error reply";
        socket->disconnectFromHost();
        return;
    }
    if (state.paused && socket->bytesToWrite() < max_queued_reply_bytes) {
        serve(socket, state); // the peer took its replies: go on reading
    }
}

bool tcp_server::fits(std::int64_t bytes) const {
    // A body alone always goes ahead, so that every body can be read
    // whatever the budget.
    return budget_used_ == 0 || bytes <= body_budget_ - budget_used_;
}

bool tcp_server::take(std::int64_t bytes) {
    if (!fits(bytes)) {
        return false;
    }
    budget_used_ += bytes;
    return true;
}

void tcp_server::give(std::int64_t bytes) {
    budget_used_ -= bytes;
    // The waiting peers are served from the event loop, not from within the
    // reader that gave its share back.
    if (!over_budget_.empty() && !resume_queued_) {
        resume_queued_ = true;
        QMetaObject::invokeMethod(this, &tcp_server::resume_over_budget, Qt::QueuedConnection);
    }
}

void tcp_server::resume_over_budget() {
    resume_queued_ = false;
    // In the order they came, each peer whose body fits now; the others wait
    // for the next share given back.
    for (std::size_t i = 0; i < over_budget_.size();) {
        QTcpSocket* const socket = over_budget_[i];
        auto const it = clients_.find(socket);
        if (it == clients_.end()) {
            over_budget_.erase(over_budget_.begin() + std::ptrdiff_t(i));
            continue;
        }
        if (!fits(body_cost(it->second.expected))) {
            ++i;
            continue;
        }
        over_budget_.erase(over_budget_.begin() + std::ptrdiff_t(i));
        serve(socket, it->second);
        flush(socket);
        // Serving may have queued this peer again, or closed others; start
        // over from the first that still waits.
        i = 0;
    }
}

void tcp_server::on_disconnected() {
    auto* const socket = qobject_cast<QTcpSocket*>(sender());
    if (socket == nullptr) {
        return;
    }
    auto const it = clients_.find(socket);
    if (it != clients_.end()) {
        over_budget_.erase(std::remove(over_budget_.begin(), over_budget_.end(), socket),
                           over_budget_.end());
        std::int64_t const reserved = std::max<std::int64_t>(it->second.reserved, 0);
        clients_.erase(it);
        if (reserved > 0) {
            give(reserved);
        }
    }
    socket->deleteLater();
}

void tcp_server::on_finished() {
    server_->close();
    // The server is destroyed outside its thread once the thread has ended;
    // timers must be stopped here, in the thread they run in.
    for (auto& entry : clients_) {
        entry.second.stall_timer->stop();
    }
}

void tcp_server::enqueue(QTcpSocket* socket, QByteArray const& frame) {
    auto const it = clients_.find(socket);
    if (it == clients_.end()) {
        return;
    }
    // The socket keeps the bytes in order until the system takes them, and
    // hands on what it holds in one write.
    if (socket->write(frame) != frame.size()) {
        // Only a socket that is already closing refuses bytes.
        qCDebug(tunnel_log) << "reply not taken by the socket" << socket->errorString();
    }
}

void tcp_server::send_error(QTcpSocket* socket, QString const& message, int code,
                            QString const& connection_id) {
    auto const it = clients_.find(socket);
    if (it == clients_.end()) {
        return;
    }
    socket_sink sink(*this, *socket);
    tunnel::send_error(it->second, sink, connection_id, code, message);
}

tcp_server::usage tcp_server::current_usage() const {
    usage u;
    u.clients = clients_.size();
    for (auto const& entry : clients_) {
        u.buffered_bytes += entry.second.buffer.size();
        u.buffered_capacity += entry.second.buffer.capacity();
        u.queued_reply_bytes += entry.first->bytesToWrite();
        u.paused_clients += entry.second.paused ? 1 : 0;
        u.over_budget_clients += entry.second.over_budget ? 1 : 0;
    }
    u.budget_used = budget_used_;
    return u;
}

quint16 tcp_server::listening_port() const {
    return server_->isListening() ? server_->serverPort() : quint16(0);
}

void tcp_server::drop_unknown(QTcpSocket* socket, char const* notice) {
    // Without state there is nowhere to queue a reply; the socket is closed
    // unanswered.
    qCDebug(tunnel_log) << notice << "from a socket without state; closing it";
    if (socket != nullptr) {
        socket->abort();
    }
}

} // namespace kelvra::tunnel
