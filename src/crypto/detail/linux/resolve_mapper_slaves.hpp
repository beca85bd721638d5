#pragma once

#include "crypto/detail/linux/namespace.hpp"
#include "crypto/installation_identity.hpp"

#include <brano/core/v6/result.hpp>

#include <string>
#include <vector>

#include <sys/types.h>

namespace kelvra::crypto::detail::linux {

// A block device under a device-mapper volume: its number and kernel name.
struct block_device {
    dev_t device = 0;
    std::string name;
};

// The partitions that a device-mapper volume ("/dev/mapper/NAME") is built
// on, in name order. Slaves that are whole disks (no "start" attribute) are
// left out, so a volume over whole disks gives an empty list.
std::vector<block_device> resolve_mapper_slaves(std::string const& source_path,
                                                system_paths const& paths,
                                                brano::core::v6::result::stack& status);

} // namespace kelvra::crypto::detail::linux
