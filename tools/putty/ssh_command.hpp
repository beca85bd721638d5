#pragma once

#include "arguments.hpp"
#include "profile.hpp"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kelvra::terminal {

// Everything the ssh command line is made of.
struct ssh_request {
    terminal_profile profile;
    credential_kind kind = credential_kind::password;
    std::string key_file; // OpenSSH-format private key, for key_file sessions
    std::string command;  // the session's command, shell text run on the server
    std::string path;     // the session's working folder on the server
    std::string forward_host;
    std::uint16_t forward_port = 0;
    std::string known_hosts; // the user's known_hosts file
    bool terminal = false;   // ask the server for a terminal (-t)
};

// The text as one word of a POSIX shell command: single-quoted, with every
// single quote written as '\''.
std::string shell_quote(std::string const& text);

// The command the server runs: the session's command in the session's
// folder. Without a command the user's login shell starts there; without
// either, nothing (the server's default login shell).
std::string remote_command(std::string const& command, std::string const& path);

// Where the forward back to the workstation listens on the server. It
// depends on the connection id alone, so connections from many workstations
// never meet; the server creates it readable and writable by the remote user
// only.
std::string remote_socket_path(std::string const& connection_id);

// ssh's arguments (without the program name) for a request. The remote
// command also removes the forward's socket when it ends.
std::vector<std::string> ssh_arguments(ssh_request const& request);

// The variables to add to ssh's environment: the profile's pairs, which
// SendEnv passes on to the server.
std::vector<std::pair<std::string, std::string>> ssh_environment(ssh_request const& request);

} // namespace kelvra::terminal
