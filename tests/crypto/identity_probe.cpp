// Waits for a byte on standard input, then prints the source of the mount
// entry that the installation identity finds for this program, or the failure.
#include "core/describe_stack.hpp"
#include "crypto/installation_identity.hpp"

#include <iostream>

int main() {
    std::cin.get();
    brano::core::v6::result::stack status;
    kelvra::crypto::identity_trace trace;
    kelvra::crypto::get_installation_identity(kelvra::crypto::system_paths{}, &trace, status);
    std::cout << (trace.found_mount ? trace.mount.source_path : kelvra::describe_stack(status))
              << std::endl;
}
