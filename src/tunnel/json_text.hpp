#pragma once

// Compact JSON text for the tunnel's replies, written directly: building
// them through QJsonObject costs several times more than the rest of a
// request. The output is what QJsonDocument::toJson(Compact) gives for the
// same object with its keys in sorted order.

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace kelvra::tunnel::json_text {

// `text` as a JSON string, quotes included: '"', '\\' and control
// characters escaped, everything else as UTF-8; a lone surrogate, which has
// no UTF-8 form, as a \u escape.
void append_string(QByteArray& out, QString const& text);
void append_number(QByteArray& out, std::int64_t value);

} // namespace kelvra::tunnel::json_text
