#pragma once

#include <brano/core/v6/result.hpp>

#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>

namespace kelvra::terminal {

// A program to start: its path, its arguments (without the program name),
// and variables to add to the environment it inherits.
struct program_call {
    std::string program;
    std::vector<std::string> arguments;
    std::vector<std::pair<std::string, std::string>> environment;
    // Standard input from /dev/null instead of the inherited one.
    bool null_input = false;
};

// Starts the program as a child in this process group, with the signal
// dispositions restored to their defaults. Returns its pid, or -1 with the
// report (the program's path and the errno of the failed exec) when it could
// not be started.
pid_t start_program(program_call const& call, brano::core::v6::result::stack& status);

// The exit status a shell would report for a wait status: the exit code, or
// 128 plus the signal number.
int shell_status(int wait_status);

// Starts the program and waits for it; its shell status, or -1 when it could
// not be started.
int run_program(program_call const& call, brano::core::v6::result::stack& status);

// The absolute path of `name` found in the folders of `search_path` (a
// PATH-like list), or empty. A name with a slash is taken as it is when it
// is executable.
std::string find_program(std::string const& name, std::string const& search_path);

} // namespace kelvra::terminal
