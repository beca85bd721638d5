#include "sessions/session_transfer.hpp"

#include "core/file_error.hpp"
#include "core/json_document.hpp"
#include "core/json_writer.hpp"
#include "core/status.hpp"
#include "sessions/session_json.hpp"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

namespace kelvra {

namespace result = brano::core::v6::result;

namespace {

void fail_with_file(QString const& file_name, QFileDevice::FileError code,
                    QString const& description, result::stack& status) {
    result::stack failure;
    set_file_error_arguments(failure.push_item(status::persist_session_category::instance(),
                                               status::persist_session_category::file_error),
                             file_name, static_cast<unsigned>(code), description);
    status = std::move(failure);
}

void fail_with_file(QFileDevice const& file, result::stack& status) {
    fail_with_file(file.fileName(), file.error(), file.errorString(), status);
}

void fail_wrong_value(QString const& campo, result::stack& status) {
    result::stack failure;
    failure
        .push_item(status::load_session_category::instance(),
                   status::load_session_category::wrong_value)
        .set_argument("campo", campo.toStdString());
    status = std::move(failure);
}

} // namespace

QByteArray export_document(QVector<session> const& sessions) {
    json_writer out;
    out.begin_array();
    for (session const& s : sessions) {
        write_session(out, s);
    }
    out.end_array();
    return out.text();
}

void write_export_document(QString const& file_name, QVector<session> const& sessions,
                           result::stack& status) {
    QByteArray const content = export_document(sessions);
    // Whoever can read the document can decrypt its secrets on this
    // machine: it is private to its user, and replaced only once complete.
    QSaveFile file(file_name);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        fail_with_file(file, status);
        return;
    }
    // commit() does not notice a failure to write out its last buffer,
    // hence the explicit flush.
    if (!file.setPermissions(QFile::ReadOwner | QFile::WriteOwner) ||
        file.write(content) != content.size() || !file.flush() || !file.commit()) {
        fail_with_file(file, status);
    }
}

namespace detail {

QVector<session> load_import_document(QString const& file_name, installation_key_source key_source,
                                      result::stack& status) {
    QFile file(file_name);
    if (!file.open(QIODevice::ReadOnly)) {
        fail_with_file(file, status);
        return {};
    }
    // A regular file too large is refused from its size, unread; anything
    // else (a device, a pipe) is read only up to the limit.
    bool too_large = file.size() > max_import_document_size;
    QByteArray text;
    if (!too_large && !file.isSequential()) {
        text = file.read(file.size());
    } else {
        constexpr qint64 chunk = 64 * 1024;
        while (!too_large) {
            QByteArray const part = file.read(chunk);
            if (part.isEmpty()) {
                break;
            }
            text += part;
            too_large = text.size() > max_import_document_size;
        }
    }
    if (too_large) {
        fail_with_file(file.fileName(), QFileDevice::ReadError, QStringLiteral("File too large"),
                       status);
        return {};
    }
    if (file.error() != QFileDevice::NoError) {
        fail_with_file(file, status);
        return {};
    }

    std::optional<QJsonDocument> const document = parse_json_file(text);
    if (!document || !document->isArray()) {
        fail_wrong_value(QStringLiteral("document"), status);
        return {};
    }
    QJsonArray const array = document->array();
    QVector<session> sessions;
    sessions.reserve(array.size());
    installation_key_once installation_key(std::move(key_source));
    result::stack local;
    for (QJsonValue const& element : array) {
        if (!element.isObject()) {
            fail_wrong_value(QStringLiteral("session#object"), status);
            return {};
        }
        result::stack reading;
        sessions.push_back(session_from_json(element.toObject(), installation_key, reading));
        if (reading.has_failed()) {
            local = std::move(reading);
        }
    }
    if (local.has_failed()) {
        status = std::move(local);
    }
    return sessions;
}

} // namespace detail

QVector<session> load_import_document(QString const& file_name, result::stack& status) {
    return detail::load_import_document(file_name, crypto::get_installation_key, status);
}

} // namespace kelvra
