#pragma once

#include "crypto/detail/linux/system_paths.hpp"

#include <brano/core/v6/byte_array.hpp>
#include <brano/core/v6/result.hpp>

#include <string>
#include <vector>

#include <sys/types.h>

namespace kelvra::crypto::detail::linux {

// One entry of the mount table.
struct mount_entry {
    dev_t device = 0;
    std::string source_path;
};

// A drive found for one block device.
struct drive_record {
    std::string block_device;
    std::string block_object_path;
    std::string drive_object_path;
    std::string serial;
};

// What a computation of the identity went through, step by step, for the
// support diagnostic. Filled as far as the computation got.
struct identity_trace {
    std::string program;
    bool found_mount = false;
    mount_entry mount;
    std::vector<std::string> block_devices;
    std::vector<drive_record> drives;
};

// The identity of the installation the running program belongs to: the
// serial numbers of the drives under its file system, sorted, without
// duplicates, joined with "|". Empty on failure, and also, without failure,
// when the file system lies on no drive (a device-mapper volume over whole
// disks).
std::string get_installation_identity(brano::core::v6::result::stack& status);

// The identity as bytes: the installation key that session secrets are
// encrypted under.
brano::core::v6::byte_array get_installation_key(brano::core::v6::result::stack& status);

// The same computation against the given system paths, recording its steps in
// `trace` when one is given.
std::string get_installation_identity(system_paths const& paths, identity_trace* trace,
                                      brano::core::v6::result::stack& status);

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
