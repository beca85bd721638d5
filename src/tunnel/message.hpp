#pragma once

// One message body in, the reply's JSON text or a failure out. Framing the
// one or the other is left to the caller (framing.hpp).

#include <brano/core/v6/result.hpp>

#include <QByteArray>
#include <QString>

namespace kelvra::tunnel {

// Checks the envelope of a request (a JSON object with "connection_id" and
// "kind") and answers it. Returns the reply's compact JSON text, or fills
// `result` and returns nothing. `connection_id` receives the request's id as
// soon as it has been read (empty for a non-string value), so that an error
// reply can carry it. A body that names a member twice in any object is
// refused as text that does not parse.
QByteArray process_message(QByteArray body, QString& connection_id,
                           brano::core::v6::result::stack& result);

} // namespace kelvra::tunnel
