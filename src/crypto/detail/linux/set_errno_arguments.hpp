#pragma once

#include "crypto/detail/linux/namespace.hpp"

#include <brano/core/v6/result.hpp>

#include <string>

namespace kelvra::crypto::detail::linux {

// Describes a failed system call on an item: "description" and "errno-code"
// (the errno value in decimal, "unknow" if it cannot be written).
void set_errno_arguments(brano::core::v6::result::item& item, std::string const& description,
                         int errno_code);

} // namespace kelvra::crypto::detail::linux
