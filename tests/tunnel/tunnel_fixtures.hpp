#pragma once
// Frames and requests written out by hand, never by the server's own encoder.

#include "connections/manager.hpp"
#include "tunnel/tunnel_thread.hpp"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QTcpSocket>
#include <QtEndian>

#include <memory>
#include <utility>

namespace kelvra::testing::tunnel {

inline QString registered(kelvra::connection const& c) {
    return kelvra::manager::instance().register_connection(c);
}

inline QByteArray be32(quint32 n) {
    char const bytes[] = {char(n >> 24), char(n >> 16), char(n >> 8), char(n)};
    return QByteArray(bytes, 4);
}

inline QByteArray frame_of(QByteArray const& json) {
    return be32(static_cast<quint32>(json.size())) + json;
}

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

// Non-ASCII names, quotes and a backslash; `padding` lengthens the first identifier.
inline kelvra::connection three_printer_connection(int padding = 0) {
    kelvra::connection c;
    c.printers = {
        {QStringLiteral("HP-01") + QString(padding, QLatin1Char('n')), QStringLiteral("Financeiro"),
         1},
        {QStringLiteral("ZB\\2 \"etiquetas\""), QStringLiteral("Impressão Térmica"), 3},
        {QStringLiteral("lp0"), QStringLiteral("Expedição"), 0},
    };
    return c;
}

inline QByteArray three_printer_reply(QString const& connection_id, int padding = 0) {
    return frame_of("{\"connection_id\":\"" + connection_id.toLatin1() +
                    "\",\"kind\":\"PrinterListResponse\",\"printers\":["
                    "{\"identificador\":\"HP-01" +
                    QByteArray(padding, 'n') +
                    "\",\"nome\":\"Financeiro\",\"tipo\":1},"
                    "{\"identificador\":\"ZB\\\\2 \\\"etiquetas\\\"\","
                    "\"nome\":\"Impress\xc3\xa3o T\xc3\xa9rmica\",\"tipo\":3},"
                    "{\"identificador\":\"lp0\",\"nome\":\"Expedi\xc3\xa7\xc3\xa3o\",\"tipo\":0}],"
                    "\"version\":1}");
}

inline QByteArray const json_not_parsed =
    "N\xc3\xa3o foi poss\xc3\xadvel montar o json a partir dos dados";
inline QByteArray const json_not_object = "Formato do json inv\xc3\xa1lido";
inline QByteArray const element_missing = "Elemento n\xc3\xa3o encontrado";
inline QByteArray const kind_invalid = "Valor do campo kind \xc3\xa9 inv\xc3\xa1lido";
inline QByteArray const version_invalid = "Valor do campo version \xc3\xa9 inv\xc3\xa1lido";
inline QByteArray const value_unexpected = "Valor do campo difere do esperado";
inline QByteArray const size_invalid = "Tamanho da mensagem inv\xc3\xa1lido";
inline QByteArray const not_on_linux =
    "Requisi\xc3\xa7\xc3\xa3o ainda n\xc3\xa3o dispon\xc3\xadvel em sistemas Linux";
inline QByteArray const connection_unknown = "O id da conex\xc3\xa3o n\xc3\xa3o existe";

template <class F> auto ask(kelvra::tunnel::tunnel_thread& t, F f) {
    decltype(f(*t.server())) out{};
    QMetaObject::invokeMethod(
        t.server(), [&] { out = f(*t.server()); }, Qt::BlockingQueuedConnection);
    return out;
}
inline quint16 port_of(kelvra::tunnel::tunnel_thread& t) {
    return ask(t, [](kelvra::tunnel::tcp_server& s) { return s.listening_port(); });
}
inline kelvra::tunnel::tcp_server::usage usage_of(kelvra::tunnel::tunnel_thread& t) {
    return ask(t, [](kelvra::tunnel::tcp_server& s) { return s.current_usage(); });
}

// A blocking loopback client; its waits only bound a hang.
class client {
public:
    bool connect_to(quint16 port, QHostAddress const& address = QHostAddress::LocalHost) {
        socket_->connectToHost(address, port);
        return socket_->waitForConnected(10000);
    }
    bool send(QByteArray const& bytes) {
        socket_->write(bytes);
        while (socket_->bytesToWrite() > 0 && socket_->waitForBytesWritten(120000)) {
        }
        return socket_->bytesToWrite() == 0;
    }
    // The next `count` bytes, or fewer when the peer closed first.
    QByteArray read(qint64 count, int timeout_ms = 10000) {
        QDeadlineTimer const deadline(timeout_ms);
        while ((pending_ += socket_->readAll()).size() < count && !deadline.hasExpired() &&
               socket_->state() == QAbstractSocket::ConnectedState) {
            socket_->waitForReadyRead(int(deadline.remainingTime()));
        }
        return std::exchange(pending_, pending_.mid(int(count))).left(int(count));
    }
    bool closed_silently() {
        return read(1).isEmpty() && socket_->state() != QAbstractSocket::ConnectedState;
    }
    QTcpSocket& socket() { return *socket_; }

private:
    std::unique_ptr<QTcpSocket> socket_ = std::make_unique<QTcpSocket>();
    QByteArray pending_;
};

} // namespace kelvra::testing::tunnel
