#include "tunnel/tunnel_fixtures.hpp"

#include <QDeadlineTimer>

namespace kelvra::testing::tunnel {

QByteArray be32(quint32 n) {
    QByteArray out(4, '\0');
    out[0] = static_cast<char>((n >> 24) & 0xff);
    out[1] = static_cast<char>((n >> 16) & 0xff);
    out[2] = static_cast<char>((n >> 8) & 0xff);
    out[3] = static_cast<char>(n & 0xff);
    return out;
}

QByteArray frame_of(QByteArray const& json) {
    return be32(static_cast<quint32>(json.size())) + json;
}

QByteArray error_json(QByteArray const& connection_id, int code, QByteArray const& message) {
    return "{\"code\":" + QByteArray::number(code) + ",\"connection_id\":\"" + connection_id +
           "\",\"kind\":\"Error\",\"message\":\"" + message + "\",\"version\":1}";
}

QByteArray error_reply(QByteArray const& connection_id, int code, QByteArray const& message) {
    return frame_of(error_json(connection_id, code, message));
}

QByteArray request_json(QByteArray const& connection_id, QByteArray const& kind,
                        QByteArray const& extra) {
    QByteArray json = "{\"connection_id\":\"" + connection_id + "\",\"kind\":\"" + kind + "\"";
    if (!extra.isEmpty()) {
        json += "," + extra;
    }
    return json + "}";
}

QByteArray printer_list_request(QString const& connection_id) {
    return frame_of(request_json(connection_id.toLatin1(), "PrinterListRequest"));
}

kelvra::connection three_printer_connection() {
    kelvra::connection c;
    c.name = QStringLiteral("Vendas");
    c.host = QStringLiteral("mirtel.example");
    c.port = 22;
    c.user = QStringLiteral("vendas");
    c.printers = {
        {QStringLiteral("HP-01"), QStringLiteral("Financeiro"), 1},
        {QStringLiteral("ZB\\2 \"etiquetas\""), QStringLiteral("Impressão Térmica"), 3},
        {QStringLiteral("lp0"), QStringLiteral("Expedição"), 0},
    };
    return c;
}

QByteArray three_printer_reply(QString const& connection_id) {
    return frame_of("{\"connection_id\":\"" + connection_id.toLatin1() +
                    "\",\"kind\":\"PrinterListResponse\",\"printers\":["
                    "{\"identificador\":\"HP-01\",\"nome\":\"Financeiro\",\"tipo\":1},"
                    "{\"identificador\":\"ZB\\\\2 \\\"etiquetas\\\"\",\"nome\":\"Impress\xc3\xa3o "
                    "T\xc3\xa9rmica\","
                    "\"tipo\":3},"
                    "{\"identificador\":\"lp0\",\"nome\":\"Expedi\xc3\xa7\xc3\xa3o\",\"tipo\":0}],"
                    "\"version\":1}");
}

kelvra::connection numbered_printer_connection(int count) {
    kelvra::connection c;
    c.name = QStringLiteral("Numerada");
    for (int i = 0; i < count; ++i) {
        c.printers.append({QStringLiteral("id-%1").arg(i), QStringLiteral("P%1").arg(i), i % 5});
    }
    return c;
}

QByteArray numbered_printer_reply(QString const& connection_id, int count) {
    QByteArray json = "{\"connection_id\":\"" + connection_id.toLatin1() +
                      "\",\"kind\":\"PrinterListResponse\",\"printers\":[";
    for (int i = 0; i < count; ++i) {
        if (i > 0) {
            json += ',';
        }
        json += "{\"identificador\":\"id-" + QByteArray::number(i) + "\",\"nome\":\"P" +
                QByteArray::number(i) + "\",\"tipo\":" + QByteArray::number(i % 5) + "}";
    }
    return frame_of(json + "],\"version\":1}");
}

QByteArray const json_not_parsed =
    "N\xc3\xa3o foi poss\xc3\xadvel montar o json a partir dos dados";
QByteArray const json_not_object = "Formato do json inv\xc3\xa1lido";
QByteArray const element_missing = "Elemento n\xc3\xa3o encontrado";
QByteArray const kind_invalid = "Valor do campo kind \xc3\xa9 inv\xc3\xa1lido";
QByteArray const version_invalid = "Valor do campo version \xc3\xa9 inv\xc3\xa1lido";
QByteArray const value_unexpected = "Valor do campo difere do esperado";
QByteArray const size_invalid = "Tamanho da mensagem inv\xc3\xa1lido";
QByteArray const not_on_linux =
    "Requisi\xc3\xa7\xc3\xa3o ainda n\xc3\xa3o dispon\xc3\xadvel em sistemas Linux";
QByteArray const connection_unknown = "O id da conex\xc3\xa3o n\xc3\xa3o existe";

QList<QByteArray> unavailable_kinds() {
    return {"PrintRequest",
            "FingerprintCaptureRequest",
            "FingerprintMatchRequest",
            "ExecXserverRequest",
            "OpenPdfRequest",
            "OpenFileRequest",
            "OpenUrlRequest",
            "ImportFileRequest",
            "ExportFileRequest"};
}

client::client() : socket_(std::make_unique<QTcpSocket>()) {}

bool client::connect_to(quint16 port, QHostAddress const& address) {
    socket_->connectToHost(address, port);
    return socket_->waitForConnected(10000);
}

bool client::send(QByteArray const& bytes) {
    if (socket_->write(bytes) != bytes.size()) {
        return false;
    }
    QDeadlineTimer const deadline(120000);
    while (socket_->bytesToWrite() > 0) {
        if (!socket_->waitForBytesWritten(static_cast<int>(deadline.remainingTime()))) {
            return false;
        }
    }
    return true;
}

std::optional<QByteArray> client::read_frame(int timeout_ms) {
    QDeadlineTimer const deadline(timeout_ms);
    for (;;) {
        pending_ += socket_->readAll();
        if (pending_.size() >= 4) {
            auto const* p = reinterpret_cast<unsigned char const*>(pending_.constData());
            qint64 const length =
                (qint64(p[0]) << 24) | (qint64(p[1]) << 16) | (qint64(p[2]) << 8) | qint64(p[3]);
            if (pending_.size() >= 4 + length) {
                QByteArray const frame = pending_.left(static_cast<int>(4 + length));
                pending_.remove(0, static_cast<int>(4 + length));
                return frame;
            }
        }
        if (socket_->state() != QAbstractSocket::ConnectedState || deadline.hasExpired()) {
            return std::nullopt;
        }
        socket_->waitForReadyRead(static_cast<int>(deadline.remainingTime()));
    }
}

std::optional<QByteArray> client::wait_closed(int timeout_ms) {
    QDeadlineTimer const deadline(timeout_ms);
    while (socket_->state() == QAbstractSocket::ConnectedState && !deadline.hasExpired()) {
        socket_->waitForReadyRead(static_cast<int>(deadline.remainingTime()));
        pending_ += socket_->readAll();
    }
    pending_ += socket_->readAll();
    if (socket_->state() == QAbstractSocket::ConnectedState) {
        return std::nullopt;
    }
    return std::exchange(pending_, QByteArray());
}

} // namespace kelvra::testing::tunnel
