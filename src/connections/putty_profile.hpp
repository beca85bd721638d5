#pragma once

#include "connections/connection.hpp"
#include "core/version.hpp"

#include <brano/core/v6/result.hpp>

#include <QString>

namespace kelvra {

// A session name as a profile file name: ASCII letters, digits and "+-.@_"
// stay, every other byte of its UTF-8 form becomes "%XX" (upper-case hex).
QString munge_session_name(QString const& name);

// ~/.putty/sessions/<escaped name>.
QString putty_session_path(QString const& name);

// Writes or updates the terminal profile of a connection: the fixed keys are
// replaced, colours are added only where the profile has none, and quotes
// are taken out of the file so that the values stand bare.
void write_putty_profile(QString const& path, connection const& c, QString const& connection_id,
                         brano::core::v6::result::stack& status);

} // namespace kelvra
