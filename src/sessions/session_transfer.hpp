#pragma once

#include "sessions/session.hpp"
#include "sessions/session_key_fields.hpp"

#include <brano/core/v6/result.hpp>

#include <QByteArray>
#include <QString>
#include <QVector>

namespace kelvra {

// Sessions shared between installations: an export document is a JSON array
// of session objects as the session files hold them, without their ids, in
// the order given. Their session key texts stay sealed for the exporting
// installation, so an imported session needs its secret typed again.

// The document's text, in the indented layout of the session files.
QByteArray export_document(QVector<session> const& sessions);

// Writes the document to `file_name`, replacing any file there atomically and
// readable by its user only. On failure the old file stays as it was.
void write_export_document(QString const& file_name, QVector<session> const& sessions,
                           brano::core::v6::result::stack& status);

// Reads an export document. Elements that are objects but not valid sessions
// are still returned (with the last such failure in `status`); anything that
// is not an array of objects gives nothing.
QVector<session> load_import_document(QString const& file_name,
                                      brano::core::v6::result::stack& status);

namespace detail {

// The same, taking version 1 objects' installation key from `key_source`.
QVector<session> load_import_document(QString const& file_name, installation_key_source key_source,
                                      brano::core::v6::result::stack& status);

// Documents larger than this are refused unread.
constexpr qint64 max_import_document_size = 64 * 1024 * 1024;

} // namespace detail

} // namespace kelvra
