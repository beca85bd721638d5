#include "tunnel/message.hpp"

#include "core/json_document.hpp"
#include "tunnel/request_handlers.hpp"
#include "tunnel/status.hpp"

#include <QJsonDocument>
#include <QJsonObject>

#include <optional>
#include <utility>

namespace kelvra::tunnel {

namespace {

using brano::core::v6::result::stack;
using status::json_category;

void report(json_category::code code, char const* missing, stack& result) {
    stack local;
    auto& item = local.push_item(json_category::instance(), code);
    if (missing != nullptr) {
        item.set_argument("elemento", missing);
    }
    result = std::move(local);
}

} // namespace

QByteArray process_message(QByteArray body, QString& connection_id, stack& result) {
    std::optional<QJsonDocument> parsed = parse_json(body);
    // The raw bytes are no longer needed; a large body should not be held
    // twice while the reply is built.
    body = QByteArray();
    if (!parsed) {
        report(json_category::not_parsed, nullptr, result);
        return {};
    }
    if (!parsed->isObject()) {
        report(json_category::not_an_object, nullptr, result);
        return {};
    }
    QJsonObject const request = parsed->object();

    auto const id = request.constFind(QLatin1String("connection_id"));
    if (id == request.constEnd()) {
        report(json_category::element_not_found, "connection_id", result);
        return {};
    }
    connection_id = id->toString();

    auto const kind = request.constFind(QLatin1String("kind"));
    if (kind == request.constEnd()) {
        report(json_category::element_not_found, "kind", result);
        return {};
    }
    return handle_request(request, connection_id, kind->toString(), result);
}

} // namespace kelvra::tunnel
