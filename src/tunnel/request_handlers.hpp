#pragma once

// The answers to the requests the remote system sends through the tunnel.

#include <brano/core/v6/result.hpp>

#include <QByteArray>
#include <QJsonObject>
#include <QString>

namespace kelvra::tunnel {

// Answers one request whose envelope has been checked. Returns the reply's
// compact JSON text, or fills `result` and returns nothing. Kinds are
// compared exactly, letter case included.
QByteArray handle_request(QJsonObject const& request, QString const& connection_id,
                          QString const& kind, brano::core::v6::result::stack& result);

} // namespace kelvra::tunnel
