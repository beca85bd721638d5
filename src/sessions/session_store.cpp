#include "sessions/session_store.hpp"

#include "core/application_directory.hpp"
#include "core/file_error.hpp"
#include "core/json_document.hpp"
#include "core/status.hpp"
#include "sessions/putty_session_path.hpp"
#include "sessions/session_json.hpp"

#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>

#include <algorithm>

namespace kelvra {

namespace result = brano::core::v6::result;

namespace {

QString const json_suffix = QStringLiteral(".json");

template <class Category>
void fail_with_file(Category const& category, int code, QFileDevice const& file,
                    result::stack& status) {
    result::stack failure;
    set_file_error_arguments(failure.push_item(category, code), file.fileName(),
                             static_cast<unsigned>(file.error()), file.errorString());
    status = std::move(failure);
}

bool sorted_before(session const& a, session const& b) {
    int const c = QString::compare(a.nome, b.nome, Qt::CaseInsensitive);
    return c != 0 ? c < 0 : a.nome < b.nome;
}

// Reads one session file; the id is the file name up to its first dot.
session read_session_file(QFileInfo const& info, installation_key_once& installation_key,
                          result::stack& status) {
    QFile file(info.filePath());
    if (!file.open(QIODevice::ReadOnly)) {
        fail_with_file(status::load_session_category::instance(),
                       status::load_session_category::file_error, file, status);
        return {};
    }
    if (file.size() > detail::session_store::max_file_size) {
        result::stack failure;
        set_file_error_arguments(failure.push_item(status::load_session_category::instance(),
                                                   status::load_session_category::file_error),
                                 file.fileName(), static_cast<unsigned>(QFileDevice::ReadError),
                                 QStringLiteral("File too large"));
        status = std::move(failure);
        return {};
    }
    std::optional<QJsonDocument> const document = parse_json_file(file.readAll());
    if (!document) {
        fail_with_file(status::load_session_category::instance(),
                       status::load_session_category::file_error, file, status);
        return {};
    }
    session s = session_from_json(*document, installation_key, status);
    s.id = info.baseName();
    s.file_name = info.fileName();
    return s;
}

} // namespace

namespace detail {

session_store::session_store(QString executable_dir, installation_key_source key_source)
    : executable_dir_(std::move(executable_dir)), key_source_(std::move(key_source)) {}

bool session_store::sessions_directory_exists(result::stack& status) const {
    QDir const var = application_directory(executable_dir_, QStringLiteral("var"), status);
    if (status.has_failed()) {
        return false;
    }
    return var.exists(QStringLiteral("sessions"));
}

QVector<session> session_store::load_sessions(result::stack& status) const {
    result::stack local;
    // Only a missing "sessions" folder is an empty store; a missing "var"
    // is a broken installation.
    bool const exists = sessions_directory_exists(local);
    if (local.has_failed()) {
        status = std::move(local);
        return {};
    }
    if (!exists) {
        return {};
    }
    QDir const folder = sessions_directory(executable_dir_, local);
    if (local.has_failed()) {
        status = std::move(local);
        return {};
    }

    QFileInfoList const files =
        folder.entryInfoList({QStringLiteral("*.json")}, QDir::Files, QDir::NoSort);
    QVector<session> sessions;
    sessions.reserve(files.size());
    installation_key_once installation_key(key_source_);
    for (QFileInfo const& info : files) {
        session s = read_session_file(info, installation_key, local);
        if (local.has_failed()) {
            status = std::move(local);
            return {};
        }
        sessions.push_back(std::move(s));
    }
    std::sort(sessions.begin(), sessions.end(), sorted_before);
    return sessions;
}

session session_store::find_session(QString const& name, result::stack& status) const {
    result::stack local;
    QVector<session> const sessions = load_sessions(local);
    if (local.has_failed()) {
        status = std::move(local);
        return {};
    }
    auto const it = std::find_if(sessions.begin(), sessions.end(),
                                 [&](session const& s) { return s.nome == name; });
    if (it == sessions.end()) {
        result::stack failure;
        failure
            .push_item(status::load_session_category::instance(),
                       status::load_session_category::not_found)
            .set_argument("session-name", name.toStdString());
        status = std::move(failure);
        return {};
    }
    return *it;
}

void session_store::save_session(session const& s, result::stack& status) const {
    QByteArray const content = session_json_text(s);

    result::stack local;
    if (!sessions_directory_exists(local) && !local.has_failed()) {
        QDir var = application_directory(executable_dir_, QStringLiteral("var"), local);
        // Private: the files hold the sessions' encrypted secrets. A folder
        // still missing is reported below.
        if (var.mkdir(QStringLiteral("sessions"))) {
            QFile::setPermissions(var.filePath(QStringLiteral("sessions")),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
    }
    local.reset();
    QDir const folder = sessions_directory(executable_dir_, local);
    if (local.has_failed()) {
        status = std::move(local);
        return;
    }

    // Written beside the old file and renamed over it: a crash or a full
    // disk leaves the previous content, never a truncated file.
    QSaveFile file(folder.filePath(s.id + json_suffix));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        fail_with_file(status::persist_session_category::instance(),
                       status::persist_session_category::file_error, file, status);
        return;
    }
    // Readable by its user only: whoever reads the file can decrypt its
    // secret on this machine. The explicit flush: commit() does not notice
    // a failure to write out its last buffer, and would put a cut file in
    // place.
    if (!file.setPermissions(QFile::ReadOwner | QFile::WriteOwner) ||
        file.write(content) != content.size() || !file.flush() || !file.commit()) {
        fail_with_file(status::persist_session_category::instance(),
                       status::persist_session_category::file_error, file, status);
        return;
    }
}

void session_store::remove_profile(session const& s, result::stack& status) const {
    // Only a regular file is a profile: a folder at its path is none.
    QFile profile(putty_session_path(s.nome));
    if (!QFileInfo(profile).isFile() || profile.remove()) {
        return;
    }
    result::stack failure;
    auto& item = failure.push_item(status::persist_session_category::instance(),
                                   status::persist_session_category::file_error);
    item.set_argument("id", s.id.toStdString());
    item.set_argument("nome", s.nome.toStdString());
    set_file_error_arguments(item, profile.fileName(), static_cast<unsigned>(profile.error()),
                             profile.errorString());
    status = std::move(failure);
}

void session_store::remove_file(session const& s, result::stack& status) const {
    result::stack local;
    QDir const folder = sessions_directory(executable_dir_, local);
    if (local.has_failed()) {
        status = std::move(local);
        return;
    }
    // The file the record was read from: "a.b.json" holds the session "a",
    // and "a.json" may be another one.
    QString const name = s.file_name.isEmpty() ? s.id + json_suffix : s.file_name;
    if (name.contains(QLatin1Char('/'))) {
        return;
    }
    QFile file(folder.filePath(name));
    if (file.exists() && !file.remove()) {
        result::stack failure;
        failure
            .push_item(status::persist_session_category::instance(),
                       status::persist_session_category::cannot_remove)
            .set_argument("nome", s.nome.toStdString());
        status = std::move(failure);
    }
}

void session_store::remove_session(session const& s, result::stack& status) const {
    result::stack local;
    remove_profile(s, local);
    if (!local.has_failed()) {
        remove_file(s, local);
    }
    if (local.has_failed()) {
        status = std::move(local);
    }
}

void session_store::replace_session(session const& old_session, session const& edited,
                                    result::stack& status) const {
    result::stack local;
    save_session(edited, local);
    if (!local.has_failed()) {
        remove_profile(old_session, local);
    }
    // The edited record normally has an id of its own; with the same id the
    // save above already replaced the old file (unless it was read from a
    // file of another name).
    if (!local.has_failed() &&
        (old_session.id != edited.id ||
         (!old_session.file_name.isEmpty() && old_session.file_name != edited.id + json_suffix))) {
        remove_file(old_session, local);
    }
    if (local.has_failed()) {
        status = std::move(local);
    }
}

} // namespace detail

namespace {

detail::session_store installed_store() {
    return detail::session_store(QCoreApplication::applicationDirPath());
}

} // namespace

bool sessions_directory_exists(result::stack& status) {
    return installed_store().sessions_directory_exists(status);
}

QVector<session> load_sessions(result::stack& status) {
    return installed_store().load_sessions(status);
}

session find_session(QString const& name, result::stack& status) {
    return installed_store().find_session(name, status);
}

void save_session(session const& s, result::stack& status) {
    installed_store().save_session(s, status);
}

void remove_session(session const& s, result::stack& status) {
    installed_store().remove_session(s, status);
}

void replace_session(session const& old_session, session const& edited, result::stack& status) {
    installed_store().replace_session(old_session, edited, status);
}

} // namespace kelvra
