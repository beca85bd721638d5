#pragma once

#include "arguments.hpp"

#include <brano/core/v6/byte_array.hpp>
#include <brano/core/v6/result.hpp>

#include <string>

namespace kelvra::terminal {

// What the terminal program takes from the workstation it runs on.
struct workstation {
    std::string profile_path; // the profile named by -load
    std::string helpers_dir;  // where kelvra-askpass and kelvra-ssh live
    std::string home;         // the user's home: ~/.ssh/known_hosts
    std::string search_path;  // PATH, to find ssh, puttygen and a terminal window
    std::string private_base; // where the private folder is made
    bool has_display = false; // run ssh in a terminal window
    bool input_is_terminal = false;
    long long now_ms = 0;
};

// Opens the connection the arguments describe and waits for it. Returns the
// status to exit with: ssh's. A failure before ssh starts fills `status` and
// returns 1.
int run_terminal_program(terminal_arguments const& arguments,
                         brano::core::v6::byte_array const& installation_key,
                         workstation const& place, brano::core::v6::result::stack& status);

} // namespace kelvra::terminal
