#include "tunnel/message.hpp"

#include "core/json_document.hpp"
#include "tunnel/framing.hpp"
#include "tunnel/request_handlers.hpp"
#include "tunnel/status.hpp"

#include <QJsonDocument>
#include <QJsonParseError>

#include <utility>

namespace kelvra::tunnel {

namespace {

using brano::core::v6::result::stack;

void report_missing(char const* element, stack& result) {
    stack local;
    local.push_item(status::json_category::instance(), 3).set_argument("elemento", element);
    result = std::move(local);
}

} // namespace

void parse_request(QByteArray const& body, request& out, stack& result) {
    // A repeated member name is refused like text that does not parse.
    std::optional<QJsonDocument> const parsed = parse_json(body);
    if (!parsed) {
        stack local;
        local.push_item(status::json_category::instance(), 1);
        result = std::move(local);
        return;
    }
    QJsonDocument const& document = *parsed;
    if (!document.isObject()) {
        stack local;
        local.push_item(status::json_category::instance(), 2);
        result = std::move(local);
        return;
    }
    out.object = document.object();

    auto const id = out.object.constFind(QLatin1String("connection_id"));
    if (id == out.object.constEnd()) {
        report_missing("connection_id", result);
        return;
    }
    out.connection_id = id->toString();

    auto const kind = out.object.constFind(QLatin1String("kind"));
    if (kind == out.object.constEnd()) {
        report_missing("kind", result);
        return;
    }
    out.kind = kind->toString();
}

processed_message process_message(QByteArray body) {
    request parsed;
    stack result;
    parse_request(body, parsed, result);
    // The raw bytes are no longer needed; a large body should not be held
    // twice while the reply is built.
    body = QByteArray();

    QByteArray json;
    if (!result.has_failed()) {
        json = handle_request(parsed.object, parsed.connection_id, parsed.kind, result);
    }
    if (result.has_failed()) {
        return {error_frame(parsed.connection_id, result.get_value(),
                            QString::fromStdString(result.get_message())),
                true};
    }
    return {frame(json), false};
}

} // namespace kelvra::tunnel
