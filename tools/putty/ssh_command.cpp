#include "ssh_command.hpp"

namespace kelvra::terminal {

std::string shell_quote(std::string const& text) {
    std::string quoted = "'";
    for (char const c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    quoted += '\'';
    return quoted;
}

std::string remote_command(std::string const& command, std::string const& path) {
    if (path.empty()) {
        return command;
    }
    std::string const run =
        command.empty() ? std::string("exec \"${SHELL:-/bin/sh}\" -l") : command;
    return "cd " + shell_quote(path) + " && " + run;
}

std::string remote_socket_path(std::string const& connection_id) {
    return "/tmp/kelvra-" + connection_id;
}

std::vector<std::string> ssh_arguments(ssh_request const& request) {
    terminal_profile const& profile = request.profile;
    std::vector<std::string> args;
    auto const option = [&args](std::string const& text) {
        args.emplace_back("-o");
        args.push_back(text);
    };

    args.emplace_back("-p");
    args.push_back(std::to_string(profile.port));
    if (!profile.user.isEmpty()) {
        args.emplace_back("-l");
        args.push_back(profile.user.toStdString());
    }

    // A server seen for the first time is remembered; a server whose key
    // changed is refused by ssh.
    option("StrictHostKeyChecking=accept-new");
    if (!request.known_hosts.empty()) {
        option("UserKnownHostsFile=" + request.known_hosts);
    }

    for (auto const& [name, value] : profile.environment) {
        option("SendEnv=" + name.toStdString());
    }

    option("ExitOnForwardFailure=yes");
    option("StreamLocalBindUnlink=yes");
    args.emplace_back("-R");
    args.push_back(remote_socket_path(profile.connection_id().toStdString()) + ":" +
                   request.forward_host + ":" + std::to_string(request.forward_port));

    if (request.kind == credential_kind::key_file) {
        args.emplace_back("-i");
        args.push_back(request.key_file);
        option("IdentitiesOnly=yes");
    } else {
        // The password is the one secret there is: no keys from the user's
        // folder, and one attempt (the answer is handed out once).
        option("PubkeyAuthentication=no");
        option("PreferredAuthentications=password,keyboard-interactive");
        option("NumberOfPasswordPrompts=1");
    }

    if (request.terminal) {
        args.emplace_back("-t");
    }

    args.emplace_back("--");
    args.push_back(profile.host.toStdString());
    std::string const command = remote_command(request.command, request.path);
    if (!command.empty()) {
        // sshd leaves the forward's socket behind when the connection ends;
        // the shell that runs the command removes it as it exits.
        args.push_back("trap 'rm -f " + remote_socket_path(profile.connection_id().toStdString()) +
                       "' EXIT; " + command);
    }
    return args;
}

std::vector<std::pair<std::string, std::string>> ssh_environment(ssh_request const& request) {
    std::vector<std::pair<std::string, std::string>> variables;
    for (auto const& [name, value] : request.profile.environment) {
        variables.emplace_back(name.toStdString(), value.toStdString());
    }
    return variables;
}

} // namespace kelvra::terminal
