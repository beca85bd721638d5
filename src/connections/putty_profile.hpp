#pragma once

#include "connections/connection.hpp"
#include "core/version.hpp"
#include "sessions/putty_session_path.hpp"

#include <brano/core/v6/result.hpp>

#include <QString>

namespace kelvra {

// Writes or updates the terminal profile of a connection: the fixed keys are
// replaced, colours are added only where the profile has none, and quotes
// are taken out of the file so that the values stand bare.
void write_putty_profile(QString const& path, connection const& c, QString const& connection_id,
                         brano::core::v6::result::stack& status);

} // namespace kelvra
