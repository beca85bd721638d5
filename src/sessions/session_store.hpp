#pragma once

#include "sessions/session.hpp"
#include "sessions/session_key_fields.hpp"

#include <brano/core/v6/result.hpp>

#include <QDir>
#include <QVector>

namespace kelvra {

// The saved sessions: one JSON file per session in var/sessions, named after
// the session's id. Nothing is cached; every listing reads the folder again.

bool sessions_directory_exists(brano::core::v6::result::stack& status);
// All sessions sorted by name; empty on any failure (one bad file fails the
// whole listing with its report).
QVector<session> load_sessions(brano::core::v6::result::stack& status);
// The first session, in listing order, whose name is exactly `name`.
session find_session(QString const& name, brano::core::v6::result::stack& status);
// Writes the session's file atomically, creating var/sessions if needed.
void save_session(session const& s, brano::core::v6::result::stack& status);
// Deletes the session's terminal profile and its file.
void remove_session(session const& s, brano::core::v6::result::stack& status);
// Replaces an edited session without ever losing it: the edited record is
// written first, and only then the old record and its profile removed. If
// the write fails nothing changed; if the removal fails both records stay.
void replace_session(session const& old_session, session const& edited,
                     brano::core::v6::result::stack& status);

namespace detail {

// The store of the installation whose executable lives in `executable_dir`.
class session_store {
public:
    // `key_source` gives the installation key that version 1 files need.
    explicit session_store(QString executable_dir,
                           installation_key_source key_source = crypto::get_installation_key);

    bool sessions_directory_exists(brano::core::v6::result::stack& status) const;
    QVector<session> load_sessions(brano::core::v6::result::stack& status) const;
    session find_session(QString const& name, brano::core::v6::result::stack& status) const;
    void save_session(session const& s, brano::core::v6::result::stack& status) const;
    void remove_session(session const& s, brano::core::v6::result::stack& status) const;
    void replace_session(session const& old_session, session const& edited,
                         brano::core::v6::result::stack& status) const;

    // Session files larger than this are not sessions and fail the listing.
    static constexpr qint64 max_file_size = 16 * 1024 * 1024;

private:
    void remove_profile(session const& s, brano::core::v6::result::stack& status) const;
    void remove_file(session const& s, brano::core::v6::result::stack& status) const;

    QString executable_dir_;
    installation_key_source key_source_;
};

} // namespace detail

} // namespace kelvra
