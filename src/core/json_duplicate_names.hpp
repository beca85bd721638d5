#pragma once

#include <QByteArray>

namespace kelvra {

// True when some object in the JSON text `json` names a member twice
// ("a" and "\u0061" count as the same name).
//
// Qt 5.15's QJsonDocument::fromJson leaks the earlier value of a repeated
// member when that value is an array or an object, so a peer could make the
// server lose any amount of memory by repeating names; such bodies are
// refused before they reach the parser. Text that is not JSON is scanned
// leniently (only strings and brackets matter): every object the parser
// would complete before running into an error is still checked.
bool has_duplicate_names(QByteArray const& json);

} // namespace kelvra
