#pragma once

#include <brano/core/v6/result.hpp>

#include <openssl/types.h>

namespace kelvra::crypto {

// The session key cipher, AES-256-CBC. Null on failure.
EVP_CIPHER const* select_cipher(brano::core::v6::result::stack& status);

// The report of a cipher that cannot be had: `detail::openssl::errors` code 1
// with "algorithm" and "chaining_mode".
void report_cipher_unavailable(brano::core::v6::result::stack& status);

} // namespace kelvra::crypto
