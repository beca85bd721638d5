#pragma once

#include <QByteArray>
#include <QString>

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

// `json` with every earlier occurrence of a repeated member name renamed to
// replaced_name(1), replaced_name(2), ... in text order, and the number of
// names renamed in `renamed`. The parser then keeps each last value, as it
// would anyway, without dropping (and leaking) the earlier ones. Only the
// contents of names change, so text that is not JSON stays not JSON.
QByteArray rename_repeated_names(QByteArray const& json, int& renamed);

// The name given to the `number`th renamed member: U+0000 and the number.
QString replaced_name(int number);

} // namespace kelvra
