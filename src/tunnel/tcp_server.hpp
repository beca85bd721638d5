#pragma once

#include "tunnel/client_state.hpp"
#include "tunnel/framing.hpp"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <deque>
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
class tcp_server : public QObject, private body_budget {
    Q_OBJECT

public:
    explicit tcp_server(quint16 port, QObject* parent = nullptr);
    ~tcp_server() override;

    // The framed error reply for a connection id, a code and a message: the
    // frame that framing.hpp builds for every error reply.
    static QByteArray error_frame(QString const& connection_id, int code, QString const& message);

    // Hands a reply frame whole to the socket, behind the ones not yet
    // written. Replies that wait together leave in one write.
    void enqueue(QTcpSocket* socket, QByteArray const& frame);
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
        std::int64_t budget_used = 0;        // of the body budget, by the bodies being read
        std::size_t over_budget_clients = 0; // peers whose next body waits for the budget
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
    // What the bodies of all clients may take together (see body_cost). A
    // body that does not fit waits, with the rest of its peer's input, until
    // others have been answered; one body of the largest size always fits.
    static constexpr std::int64_t default_body_budget = 256 * 1024 * 1024;

    // Before the server moves to its thread.
    void set_stall_timeout(int milliseconds) { stall_timeout_ms_ = milliseconds; }
    void set_body_budget(std::int64_t bytes) { body_budget_ = bytes; }
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
    // Reads and answers what the peer sent, while it takes its replies and
    // its bodies fit in the budget.
    void serve(QTcpSocket* socket, client_state& state);
    // Hands the replies waiting in the socket to the system now rather than
    // at the next pass of the event loop. The socket may report them written
    // and close from within: its state may be gone afterwards.
    void flush(QTcpSocket* socket);
    // Serves the peers waiting for the budget whose bodies now fit.
    void resume_over_budget();
    // A notice from a socket the server keeps no state for.
    void drop_unknown(QTcpSocket* socket, char const* notice);

    bool fits(std::int64_t bytes) const;
    bool take(std::int64_t bytes) override;
    void give(std::int64_t bytes) override;

    QTcpServer* server_;
    std::map<QTcpSocket*, client_state> clients_;
    quint16 port_;
    int stall_timeout_ms_ = default_stall_timeout_ms;
    std::int64_t body_budget_ = default_body_budget;
    std::int64_t budget_used_ = 0;
    // Peers whose next body waits for the budget, in the order they came.
    std::deque<QTcpSocket*> over_budget_;
    bool resume_queued_ = false;
};

} // namespace kelvra::tunnel
