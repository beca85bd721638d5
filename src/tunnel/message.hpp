#pragma once

// One message body in, one framed reply out.

#include <brano/core/v6/result.hpp>

#include <QByteArray>
#include <QJsonObject>
#include <QString>

namespace kelvra::tunnel {

// The common envelope of every request.
struct request {
    QJsonObject object;
    QString connection_id; // empty until read, and for a non-string value
    QString kind;
};

// Parses a message body and checks its envelope: a JSON object with
// "connection_id" and "kind". A body that names a member twice in any
// object is refused as text that does not parse. On failure `out.connection_id` holds the id
// when it was read before the failure, so that the reply can carry it.
void parse_request(QByteArray const& body, request& out, brano::core::v6::result::stack& result);

struct processed_message {
    QByteArray frame;      // the framed reply
    bool is_error = false; // the reply is an error reply; the connection ends after it
};

// The reply to one message body: the handler's answer, or an error reply
// with the failure's code and message.
processed_message process_message(QByteArray body);

} // namespace kelvra::tunnel
