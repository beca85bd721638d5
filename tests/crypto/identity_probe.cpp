// Started by the identity tests: waits for a line on standard input, then
// prints the source of the mount entry that the installation identity finds
// for this program, or the failure.
#include "core/describe_stack.hpp"
#include "crypto/installation_identity.hpp"

#include <iostream>
#include <string>

int main() {
    std::string line;
    std::getline(std::cin, line);
    brano::core::v6::result::stack status;
    kelvra::crypto::identity_trace trace;
    kelvra::crypto::get_installation_identity(kelvra::crypto::system_paths{}, &trace, status);
    std::cout << (trace.found_mount ? trace.mount.source_path : kelvra::describe_stack(status))
              << std::endl;
}
