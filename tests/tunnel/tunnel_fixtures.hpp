#pragma once

// Frames and requests for the tunnel tests, written out by hand so that the
// tests never check the server against its own encoder.

#include "connections/manager.hpp"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QTcpSocket>
#include <QtEndian>

#include <climits>

#include <memory>
#include <optional>
#include <utility>

namespace kelvra::testing::tunnel {

inline QString registered(kelvra::connection const& c) {
    return kelvra::manager::instance().register_connection(c);
}

// `n` as 4 big-endian bytes.
inline QByteArray be32(quint32 n) {
    char const bytes[] = {char(n >> 24), char(n >> 16), char(n >> 8), char(n)};
    return QByteArray(bytes, 4);
}

inline QByteArray frame_of(QByteArray const& json) {
    return be32(static_cast<quint32>(json.size())) + json;
}

// The compact error reply, keys in the order the reply is written.
inline QByteArray error_reply(QByteArray const& connection_id, int code,
                              QByteArray const& message) {
    return frame_of("{\"code\":" + QByteArray::number(code) + ",\"connection_id\":\"" +
                    connection_id + "\",\"kind\":\"Error\",\"message\":\"" + message +
                    "\",\"version\":1}");
}

// A request body; `extra` holds further members written as JSON.
inline QByteArray request_json(QByteArray const& connection_id, QByteArray const& kind,
                               QByteArray const& extra = "\"version\":1") {
    return "{\"connection_id\":\"" + connection_id + "\",\"kind\":\"" + kind + "\"" +
           (extra.isEmpty() ? QByteArray() : "," + extra) + "}";
}

inline QByteArray printer_list_request(QString const& connection_id) {
    return frame_of(request_json(connection_id.toLatin1(), "PrinterListRequest"));
}

// Three printers: one with non-ASCII names, one with quotes and a backslash.
inline kelvra::connection three_printer_connection() {
    kelvra::connection c;
    c.name = QStringLiteral("Vendas");
    c.printers = {
        {QStringLiteral("HP-01"), QStringLiteral("Financeiro"), 1},
        {QStringLiteral("ZB\\2 \"etiquetas\""), QStringLiteral("Impressão Térmica"), 3},
        {QStringLiteral("lp0"), QStringLiteral("Expedição"), 0},
    };
    return c;
}

inline QByteArray three_printer_reply(QString const& connection_id) {
    return frame_of("{\"connection_id\":\"" + connection_id.toLatin1() +
                    "\",\"kind\":\"PrinterListResponse\",\"printers\":["
                    "{\"identificador\":\"HP-01\",\"nome\":\"Financeiro\",\"tipo\":1},"
                    "{\"identificador\":\"ZB\\\\2 \\\"etiquetas\\\"\","
                    "\"nome\":\"Impress\xc3\xa3o T\xc3\xa9rmica\",\"tipo\":3},"
                    "{\"identificador\":\"lp0\",\"nome\":\"Expedi\xc3\xa7\xc3\xa3o\",\"tipo\":0}],"
                    "\"version\":1}");
}

// `count` printers named "P<n>", identifier "id-<n>", type n % 5; and the reply.
inline kelvra::connection numbered_printer_connection(int count) {
    kelvra::connection c;
    for (int i = 0; i < count; ++i) {
        c.printers.append({QStringLiteral("id-%1").arg(i), QStringLiteral("P%1").arg(i), i % 5});
    }
    return c;
}

inline QByteArray numbered_printer_reply(QString const& connection_id, int count) {
    QByteArray json = "{\"connection_id\":\"" + connection_id.toLatin1() +
                      "\",\"kind\":\"PrinterListResponse\",\"printers\":[";
    for (int i = 0; i < count; ++i) {
        QByteArray const n = QByteArray::number(i);
        json += (i > 0 ? ",{\"identificador\":\"id-" : "{\"identificador\":\"id-") + n +
                "\",\"nome\":\"P" + n + "\",\"tipo\":" + QByteArray::number(i % 5) + "}";
    }
    return frame_of(json + "],\"version\":1}");
}

// The messages the replies carry, byte for byte.
inline QByteArray const json_not_parsed =
    "N\xc3\xa3o foi poss\xc3\xadvel montar o json a partir dos dados";                 // json 1
inline QByteArray const json_not_object = "Formato do json inv\xc3\xa1lido";           // json 2
inline QByteArray const element_missing = "Elemento n\xc3\xa3o encontrado";            // json 3
inline QByteArray const kind_invalid = "Valor do campo kind \xc3\xa9 inv\xc3\xa1lido"; // json 4
inline QByteArray const version_invalid =
    "Valor do campo version \xc3\xa9 inv\xc3\xa1lido";                          // json 5
inline QByteArray const value_unexpected = "Valor do campo difere do esperado"; // json 6
inline QByteArray const size_invalid = "Tamanho da mensagem inv\xc3\xa1lido";   // geral 5
inline QByteArray const not_on_linux =
    "Requisi\xc3\xa7\xc3\xa3o ainda n\xc3\xa3o dispon\xc3\xadvel em sistemas Linux"; // geral 7
inline QByteArray const connection_unknown =
    "O id da conex\xc3\xa3o n\xc3\xa3o existe"; // manager 1

// A blocking loopback client, usable from any thread.
class client {
public:
    explicit client(QTcpSocket* socket = new QTcpSocket) : socket_(socket) {}
    bool connect_to(quint16 port, QHostAddress const& address = QHostAddress::LocalHost) {
        socket_->connectToHost(address, port);
        return socket_->waitForConnected(10000);
    }
    // Writes everything and waits until the socket has handed it on.
    bool send(QByteArray const& bytes) {
        QDeadlineTimer const deadline(120000);
        bool ok = socket_->write(bytes) == bytes.size();
        while (ok && socket_->bytesToWrite() > 0) {
            ok = socket_->waitForBytesWritten(int(deadline.remainingTime()));
        }
        return ok;
    }
    // The next complete frame, or nothing when the peer closed or the time ran out.
    std::optional<QByteArray> read_frame(int timeout_ms = 10000) {
        QDeadlineTimer const deadline(timeout_ms);
        for (;;) {
            pending_ += socket_->readAll();
            qint64 const size = pending_.size() < 4
                                    ? LLONG_MAX
                                    : 4 + qint64(qFromBigEndian<quint32>(pending_.constData()));
            if (pending_.size() >= size) {
                return std::exchange(pending_, pending_.mid(int(size))).left(int(size));
            }
            if (socket_->state() != QAbstractSocket::ConnectedState || deadline.hasExpired()) {
                return std::nullopt;
            }
            socket_->waitForReadyRead(int(deadline.remainingTime()));
        }
    }
    // Waits until the peer has closed; returns whatever arrived meanwhile,
    // or nothing when the connection was still open at the end.
    std::optional<QByteArray> wait_closed(int timeout_ms = 10000) {
        QDeadlineTimer const deadline(timeout_ms);
        while (socket_->state() == QAbstractSocket::ConnectedState && !deadline.hasExpired()) {
            socket_->waitForReadyRead(int(deadline.remainingTime()));
            pending_ += socket_->readAll();
        }
        pending_ += socket_->readAll();
        if (socket_->state() == QAbstractSocket::ConnectedState) {
            return std::nullopt;
        }
        return std::exchange(pending_, QByteArray());
    }
    QTcpSocket& socket() { return *socket_; }

private:
    std::unique_ptr<QTcpSocket> socket_;
    QByteArray pending_;
};

} // namespace kelvra::testing::tunnel
