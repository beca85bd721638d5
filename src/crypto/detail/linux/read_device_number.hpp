#pragma once

#include "crypto/detail/linux/namespace.hpp"

#include <brano/core/v6/result.hpp>

#include <string>

namespace kelvra::crypto::detail::linux {

struct device_number {
    int major = 0;
    int minor = 0;
};

// Reads a sysfs "dev" attribute ("MAJOR:MINOR"). A text that does not parse
// gives 0:0; only failures to open or read the file are reported.
device_number read_device_number(std::string const& path, brano::core::v6::result::stack& status);

} // namespace kelvra::crypto::detail::linux
