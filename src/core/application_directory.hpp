#pragma once

#include <brano/core/v6/result.hpp>

#include <QDir>
#include <QString>

namespace kelvra {

// The installation root is the parent of the folder that holds the running
// executable: root/bin/kelvra, root/etc, root/var/sessions, root/libexec.

// root/`name` (".": the root itself). On failure fills `status` and returns a
// directory built from an empty path, which callers must not use.
QDir application_directory(QString const& name, brano::core::v6::result::stack& status);

// root/var/sessions, with the same failure convention.
QDir sessions_directory(brano::core::v6::result::stack& status);

namespace detail {

// The same lookups from a given executable folder.
QDir application_directory(QString const& executable_dir, QString const& name,
                           brano::core::v6::result::stack& status);
QDir sessions_directory(QString const& executable_dir, brano::core::v6::result::stack& status);

} // namespace detail

} // namespace kelvra
