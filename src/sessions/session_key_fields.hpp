#pragma once

#include "sessions/session.hpp"

#include <brano/core/v6/result.hpp>

namespace kelvra {

// Fills `comando` and `caminho` of a version 1 record from its session key
// text, decrypted with this installation's key. On failure both stay empty
// and the stack holds the identity's or the decryption's report.
void recover_command_and_path(session& s, brano::core::v6::result::stack& status);

} // namespace kelvra
