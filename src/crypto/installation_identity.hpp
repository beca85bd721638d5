#pragma once

#include <brano/core/v6/result.hpp>

#include <cstddef>
#include <string>
#include <vector>

#include <sys/types.h>

namespace kelvra::crypto {

// Where the installation identity looks at the system. The defaults are the
// machine's own; tests and benchmarks point them at fake trees in temporary
// folders.
struct system_paths {
    // The link to the running program, and the room its target may take
    // (the terminating zero included).
    std::string program_link = "/proc/self/exe";
    std::size_t program_link_capacity = 4096;
    std::string mountinfo = "/proc/self/mountinfo";
    std::string dev = "/dev/";
    std::string dev_mapper = "/dev/mapper/";
    std::string sys_block = "/sys/block/";
    std::string sys_dev_block = "/sys/dev/block/";
};

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
    // The path read from the program link; it ends in " (deleted)" once the
    // running file was replaced or removed.
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
// disks) or its drives report no serial: session secrets are then encrypted
// under a key that any machine can rebuild.
std::string get_installation_identity(brano::core::v6::result::stack& status);

// The same computation against the given system paths, recording its steps in
// `trace` when one is given.
std::string get_installation_identity(system_paths const& paths, identity_trace* trace,
                                      brano::core::v6::result::stack& status);

} // namespace kelvra::crypto
