#pragma once

// GNU dialects predefine `linux` as a macro; the namespace below needs the name.
#ifdef linux
#undef linux
#endif

#include <cstddef>
#include <string>

namespace kelvra::crypto::detail::linux {

// Where the installation identity looks at the system. The defaults are the
// machine's own; tests point them at fake trees in temporary folders.
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

} // namespace kelvra::crypto::detail::linux
