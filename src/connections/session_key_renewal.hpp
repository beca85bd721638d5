#pragma once

#include <brano/core/v6/result.hpp>

#include <QString>

namespace kelvra {

// The stored session key text decrypted with this installation's key,
// stamped with the current time and encrypted again with a new IV: the text
// the terminal program receives. Empty on failure.
QString renew_session_key(QString const& stored, brano::core::v6::result::stack& status);

} // namespace kelvra
