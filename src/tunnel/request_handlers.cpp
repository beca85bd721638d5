#include "tunnel/request_handlers.hpp"

#include "connections/manager.hpp"
#include "core/status.hpp"
#include "tunnel/json_text.hpp"
#include "tunnel/status.hpp"

#include <algorithm>
#include <iterator>
#include <string>
#include <utility>

namespace kelvra::tunnel {

namespace {

using brano::core::v6::result::stack;
using status::geral_category;
using status::json_category;

// Requests served on other systems and not yet on Linux.
QLatin1String const unavailable_kinds[] = {
    QLatin1String("PrintRequest"),
    QLatin1String("FingerprintCaptureRequest"),
    QLatin1String("FingerprintMatchRequest"),
    QLatin1String("ExecXserverRequest"),
    QLatin1String("OpenPdfRequest"),
    QLatin1String("OpenFileRequest"),
    QLatin1String("OpenUrlRequest"),
    QLatin1String("ImportFileRequest"),
    QLatin1String("ExportFileRequest"),
};

// The printers of the session the connection was opened from, in the
// session's order.
QByteArray printer_list(QJsonObject const& request, QString const& connection_id, stack& result) {
    // The connection is looked up before anything else of the request is read.
    std::optional<connection> const found = manager::instance().find(connection_id);
    if (!found) {
        stack local;
        local
            .push_item(kelvra::status::manager_category::instance(),
                       kelvra::status::manager_category::unknown_connection_id)
            .set_argument("id", connection_id.toStdString());
        result = std::move(local);
        return {};
    }

    auto const version_member = request.constFind(QLatin1String("version"));
    if (version_member == request.constEnd()) {
        stack local;
        local.push_item(json_category::instance(), json_category::element_not_found)
            .set_argument("elemento", "version");
        result = std::move(local);
        return {};
    }
    // Strings, booleans, null and numbers with a fraction read as 0.
    int const version = version_member->toInt(0);
    if (version == 0) {
        stack local;
        local.push_item(json_category::instance(), json_category::unexpected_value)
            .set_argument("campo", "version");
        result = std::move(local);
        return {};
    }
    if (version != 1) {
        stack local;
        local.push_item(json_category::instance(), json_category::invalid_version)
            .set_argument("version", std::to_string(version));
        result = std::move(local);
        return {};
    }

    // {"connection_id","kind","printers":[{"identificador","nome","tipo"}...],"version"}
    QByteArray reply;
    reply.reserve(160 + 64 * found->printers.size());
    reply.append("{\"connection_id\":");
    json_text::append_string(reply, connection_id);
    reply.append(",\"kind\":\"PrinterListResponse\",\"printers\":[");
    bool first = true;
    for (printer const& p : found->printers) {
        reply.append(first ? "{\"identificador\":" : ",{\"identificador\":");
        first = false;
        json_text::append_string(reply, p.identificador);
        reply.append(",\"nome\":");
        json_text::append_string(reply, p.nome);
        reply.append(",\"tipo\":");
        json_text::append_number(reply, p.tipo);
        reply.append('}');
    }
    reply.append("],\"version\":1}");
    return reply;
}

} // namespace

QByteArray handle_request(QJsonObject const& request, QString const& connection_id,
                          QString const& kind, stack& result) {
    if (kind == QLatin1String("PrinterListRequest")) {
        return printer_list(request, connection_id, result);
    }

    stack local;
    bool const unavailable =
        std::any_of(std::begin(unavailable_kinds), std::end(unavailable_kinds),
                    [&kind](QLatin1String const& known) { return kind == known; });
    if (unavailable) {
        local.push_item(geral_category::instance(), geral_category::not_available_on_linux)
            .set_argument("kind", kind.toStdString());
    } else {
        local.push_item(json_category::instance(), json_category::invalid_kind)
            .set_argument("kind", kind.toStdString());
    }
    result = std::move(local);
    return {};
}

} // namespace kelvra::tunnel
