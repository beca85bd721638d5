#pragma once

#include "sessions/session.hpp"
#include "sessions/session_key_fields.hpp"

#include <brano/core/v6/result.hpp>

#include <QJsonDocument>
#include <QJsonObject>

namespace kelvra {

// The session file: a JSON object, version 2 written, versions 1 and 2 read.
QJsonDocument session_to_json(session const& s);

// Reads a session object. On failure the stack holds one item naming the
// member in "campo", and the returned record is partial: callers discard it.
session session_from_json(QJsonDocument const& document, brano::core::v6::result::stack& status);
// The same within a larger operation: a version 1 object takes the
// installation key from `installation_key`, which asks for it only once.
session session_from_json(QJsonDocument const& document, installation_key_once& installation_key,
                          brano::core::v6::result::stack& status);

// Field readers; each reports its failure with "campo" = the key.
QString read_string_field(QJsonObject const& object, QString const& key,
                          brano::core::v6::result::stack& status);
// An integral number; -1 is the reader's own "no value" marker and so is
// refused as well.
int read_int_field(QJsonObject const& object, QString const& key,
                   brano::core::v6::result::stack& status);
// Any number, truncated toward zero.
int read_port_field(QJsonObject const& object, QString const& key,
                    brano::core::v6::result::stack& status);
bool read_bool_field(QJsonObject const& object, QString const& key,
                     brano::core::v6::result::stack& status);
// The optional "impressoras" array.
QVector<printer> read_printers(QJsonObject const& object, brano::core::v6::result::stack& status);

} // namespace kelvra
