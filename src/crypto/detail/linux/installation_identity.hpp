#pragma once

#include "crypto/detail/linux/namespace.hpp"
#include "crypto/installation_identity.hpp"

#include <brano/core/v6/result.hpp>

#include <cstddef>
#include <string>
#include <vector>

namespace kelvra::crypto::detail::linux {

// The target of the link `link`, which with its terminating zero must fit in
// `capacity` bytes; a longer one is refused rather than cut.
std::string read_program_path(std::string const& link, std::size_t capacity,
                              brano::core::v6::result::stack& status);

// The entries of a mount table file (mountinfo format), in table order. An
// entry without a source path or with device number 0 fails the whole table.
std::vector<mount_entry> read_mount_table(std::string const& mountinfo,
                                          brano::core::v6::result::stack& status);

// The UDisks2 object path of a block device kernel name.
std::string block_device_object_path(std::string const& name);

} // namespace kelvra::crypto::detail::linux
