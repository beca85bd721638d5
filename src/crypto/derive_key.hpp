#pragma once

#include <brano/core/v6/byte_array.hpp>
#include <brano/core/v6/result.hpp>

namespace kelvra::crypto {

// The 32-byte cipher key for an installation key: PBKDF2-HMAC-SHA512 with the
// program's salt and 1024 iterations. Empty on failure.
brano::core::v6::byte_array derive_key(brano::core::v6::byte_array const& installation_key,
                                       brano::core::v6::result::stack& status);

} // namespace kelvra::crypto
