#pragma once

#include <QByteArray>
#include <QJsonDocument>

#include <optional>

namespace kelvra {

// Parses JSON text from a peer. Text that does not parse, and text that
// repeats a member name in an object (Qt 5's parser would leak the value it
// replaces), give nothing.
std::optional<QJsonDocument> parse_json(QByteArray const& text);

// Parses the text of a file the user keeps (a session file, etc/config.json)
// as Qt reads it: a repeated member name keeps its last value, so one
// hand-edited file still reads. Text that does not parse gives nothing.
std::optional<QJsonDocument> parse_json_file(QByteArray const& text);

} // namespace kelvra
