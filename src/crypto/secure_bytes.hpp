#pragma once

#include <brano/core/v6/byte_array.hpp>

namespace kelvra::crypto {

// Overwrites the bytes of a buffer that held key material or plaintext, then
// empties it.
void wipe(brano::core::v6::byte_array& bytes) noexcept;

} // namespace kelvra::crypto
