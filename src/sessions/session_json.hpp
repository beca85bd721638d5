#pragma once

#include "sessions/session.hpp"
#include "sessions/session_key_fields.hpp"

#include <brano/core/v6/result.hpp>

#include <QJsonDocument>
#include <QJsonObject>

namespace kelvra {

class json_writer;

// The session file: a JSON object, version 2 written, versions 1 and 2 read.
// Written without its id, in the layout of QJsonDocument::toJson().
void write_session(json_writer& out, session const& s);
QByteArray session_json_text(session const& s);

// Reads a session object. On failure the stack holds one item naming the
// member in "campo", and the returned record is partial: callers discard it.
session session_from_json(QJsonDocument const& document, brano::core::v6::result::stack& status);
// The same within a larger operation: a version 1 object takes the
// installation key from `installation_key`, which asks for it only once.
session session_from_json(QJsonDocument const& document, installation_key_once& installation_key,
                          brano::core::v6::result::stack& status);
session session_from_json(QJsonObject const& object, installation_key_once& installation_key,
                          brano::core::v6::result::stack& status);

} // namespace kelvra
