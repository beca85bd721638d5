#pragma once

#include <QByteArray>
#include <QJsonDocument>

#include <optional>

namespace kelvra {

// Parses JSON text read from a file or a peer. Text that does not parse, and
// text that repeats a member name in an object (Qt 5's parser would leak the
// value it replaces), give nothing.
std::optional<QJsonDocument> parse_json(QByteArray const& text);

} // namespace kelvra
