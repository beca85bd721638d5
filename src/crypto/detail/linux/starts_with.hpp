#pragma once

#include "crypto/detail/linux/namespace.hpp"

#include <string>

namespace kelvra::crypto::detail::linux {

inline bool starts_with(std::string const& text, std::string const& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

} // namespace kelvra::crypto::detail::linux
