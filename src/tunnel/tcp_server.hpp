#pragma once

#include "tunnel/client_state.hpp"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <map>

class QTcpServer;
class QTcpSocket;

namespace kelvra::tunnel {

// The server the remote system reaches through the SSH forward. It accepts
// connections on the loopback address, cuts each byte stream into framed
// JSON requests and writes one reply per request, in request order.
//
// All of it runs in the thread the object lives in; the creator moves it to
// its own thread and starts listening from there (see tunnel_thread).
class tcp_server : public QObject {
    Q_OBJECT

public:
    explicit tcp_server(quint16 port, QObject* parent = nullptr);
    ~tcp_server() override;

    // The framed error reply for a connection id, a code and a message: the
    // frame that framing.hpp builds for every error reply.
    static QByteArray error_frame(QString const& connection_id, int code, QString const& message);

    // Queues a reply frame for the socket and starts writing it when no
    // other frame is being written.
    void enqueue(QTcpSocket* socket, QByteArray frame);
    // Queues an error reply; the connection is closed once it is written.
    void send_error(QTcpSocket* socket, QString const& message, int code,
                    QString const& connection_id);

    // For diagnostics, from the server's own thread.
    struct usage {
        std::size_t clients = 0;
        std::int64_t buffered_bytes = 0;     // bytes of partial messages held
        std::int64_t buffered_capacity = 0;  // memory reserved for them
        std::int64_t queued_reply_bytes = 0; // replies not yet written
        std::size_t paused_clients = 0;      // peers not read until they take replies
    };

    // Replies a peer may leave unread before the server stops reading its
    // requests; TCP flow control then holds the peer back.
    static constexpr std::int64_t max_queued_reply_bytes = 4 * 1024 * 1024;
    // What the socket itself buffers of a peer's input.
    static constexpr std::int64_t socket_read_buffer = 1024 * 1024;
    // Connections served at once; more are closed when they arrive. The port
    // is reachable by every local user, not only through the forward.
    static constexpr std::size_t max_clients = 32;
    // How long a peer may leave a message unfinished without sending more.
    static constexpr int default_stall_timeout_ms = 30000;

    // Before the server moves to its thread.
    void set_stall_timeout(int milliseconds) { stall_timeout_ms_ = milliseconds; }
    usage current_usage() const;
    // The port actually listened on (the given one, or the one the system
    // chose for port 0); 0 when not listening.
    quint16 listening_port() const;

public slots:
    void listen();
    void on_new_connection();
    void on_ready_read();
    void on_bytes_written(qint64 bytes);
    void on_disconnected();
    void on_finished();

private:
    // Reads and answers what the peer sent, while it takes its replies.
    void serve(QTcpSocket* socket, client_state& state);
    // Writes the first queued frame whole.
    void write_first(QTcpSocket* socket, client_state& state);
    // A notice from a socket the server keeps no state for.
    void drop_unknown(QTcpSocket* socket, char const* notice);

    QTcpServer* server_;
    std::map<QTcpSocket*, client_state> clients_;
    quint16 port_;
    int stall_timeout_ms_ = default_stall_timeout_ms;
};

} // namespace kelvra::tunnel
