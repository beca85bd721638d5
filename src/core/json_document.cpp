#include "core/json_document.hpp"

#include "core/json_duplicate_names.hpp"

#include <QJsonParseError>

namespace kelvra {

std::optional<QJsonDocument> parse_json(QByteArray const& text) {
    if (has_duplicate_names(text)) {
        return std::nullopt;
    }
    QJsonParseError error{};
    QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError) {
        return std::nullopt;
    }
    return document;
}

} // namespace kelvra
