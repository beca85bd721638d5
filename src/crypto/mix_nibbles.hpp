#pragma once

#include <brano/core/v6/byte_array.hpp>

namespace kelvra::crypto {

// Exchanges the low four bits of byte i and byte L/2 + i for every i below
// L/2 (L the length); with an odd length the last byte stays. Applying it
// twice gives the bytes back.
void mix_nibbles(brano::core::v6::byte_array& bytes) noexcept;

} // namespace kelvra::crypto
