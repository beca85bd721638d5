#pragma once

#include "connections/connection.hpp"

#include <brano/core/v6/result.hpp>

namespace kelvra::interface::support {

// The command a support session runs instead of the session's own.
inline constexpr char support_command[] = "/bin/bash";

// Opens `c` in support mode: its stored secret and path under a new session
// key text whose command is a shell, launched as a normal opening would be.
// The stored session is left as it is.
void launch_support_session(connection const& c, brano::core::v6::result::stack& status);

} // namespace kelvra::interface::support
