#pragma once

#include "crypto/detail/linux/namespace.hpp"

#include <brano/core/v6/result.hpp>

#include <string>

namespace kelvra::crypto::detail::linux {

// The canonical absolute form of `path`, always ending with "/" so that
// attribute names can be appended. Empty on failure.
std::string real_path(std::string const& path, brano::core::v6::result::stack& status);

} // namespace kelvra::crypto::detail::linux
