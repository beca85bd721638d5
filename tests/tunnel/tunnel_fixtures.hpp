#pragma once

// Frames and requests for the tunnel tests, written out by hand so that the
// tests never check the server against its own encoder.

#include "connections/connection.hpp"

#include <QByteArray>
#include <QHostAddress>
#include <QTcpSocket>

#include <memory>
#include <optional>

namespace kelvra::testing::tunnel {

// `n` as 4 big-endian bytes.
QByteArray be32(quint32 n);
// `json` behind its length.
QByteArray frame_of(QByteArray const& json);
// The compact error reply, keys in the order the reply is written.
QByteArray error_json(QByteArray const& connection_id, int code, QByteArray const& message);
QByteArray error_reply(QByteArray const& connection_id, int code, QByteArray const& message);

// A request body with "connection_id", "kind" and, when not empty, the
// members in `extra` (already written as JSON, without braces).
QByteArray request_json(QByteArray const& connection_id, QByteArray const& kind,
                        QByteArray const& extra = "\"version\":1");
QByteArray printer_list_request(QString const& connection_id);

// A connection whose session offers three printers, one with a non-ASCII
// name and one with quotes and a backslash in its identifier.
kelvra::connection three_printer_connection();
// The "PrinterListResponse" for three_printer_connection(), as a frame.
QByteArray three_printer_reply(QString const& connection_id);
// A connection with `count` printers named "P<n>", identifier "id-<n>",
// type n % 5; and the matching reply frame.
kelvra::connection numbered_printer_connection(int count);
QByteArray numbered_printer_reply(QString const& connection_id, int count);

// Messages of the categories the replies carry, byte for byte.
extern QByteArray const json_not_parsed;    // json 1
extern QByteArray const json_not_object;    // json 2
extern QByteArray const element_missing;    // json 3
extern QByteArray const kind_invalid;       // json 4
extern QByteArray const version_invalid;    // json 5
extern QByteArray const value_unexpected;   // json 6
extern QByteArray const size_invalid;       // geral 5
extern QByteArray const not_on_linux;       // geral 7
extern QByteArray const connection_unknown; // manager 1

// The nine kinds answered as not available on Linux.
QList<QByteArray> unavailable_kinds();

// A blocking loopback client for tests, usable from any thread.
class client {
public:
    client();
    bool connect_to(quint16 port, QHostAddress const& address = QHostAddress::LocalHost);
    QAbstractSocket::SocketError error() const { return socket_->error(); }
    // Writes everything and waits until the socket has handed it on.
    bool send(QByteArray const& bytes);
    // The next complete frame, or nothing when the peer closed or the time ran out.
    std::optional<QByteArray> read_frame(int timeout_ms = 10000);
    // Waits until the peer has closed; returns whatever arrived meanwhile,
    // or nothing when the connection was still open at the end.
    std::optional<QByteArray> wait_closed(int timeout_ms = 10000);
    void abort() { socket_->abort(); }
    QTcpSocket& socket() { return *socket_; }

private:
    std::unique_ptr<QTcpSocket> socket_;
    QByteArray pending_;
};

} // namespace kelvra::testing::tunnel
