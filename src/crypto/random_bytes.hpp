#pragma once

#include <brano/core/v6/byte_array.hpp>
#include <brano/core/v6/result.hpp>

#include <cstddef>

namespace kelvra::crypto {

// `count` bytes from OpenSSL's generator, which are also fed back into it.
// Empty on failure.
brano::core::v6::byte_array random_bytes(std::size_t count, brano::core::v6::result::stack& status);

} // namespace kelvra::crypto
