#include "terminal_program.hpp"

#include "control_channel.hpp"
#include "credential.hpp"
#include "key_file.hpp"
#include "private_directory.hpp"
#include "process.hpp"
#include "profile.hpp"
#include "ssh_command.hpp"
#include "supervisor.hpp"
#include "terminal_status.hpp"
#include "terminal_window.hpp"

#include <QLoggingCategory>

#include <sys/stat.h>

Q_DECLARE_LOGGING_CATEGORY(lc_supervisor)

namespace kelvra::terminal {

namespace result = brano::core::v6::result;

using status::terminal_category;

namespace {

constexpr int failed_before_ssh = 1;

void program_missing(std::string const& name, result::stack& status) {
    result::stack failure;
    auto& item =
        failure.push_item(terminal_category::instance(), terminal_category::program_not_found);
    item.set_argument("program", name);
    status = std::move(failure);
}

std::string known_hosts_file(std::string const& home) {
    if (home.empty()) {
        return {};
    }
    std::string const folder = home + "/.ssh";
    ::mkdir(folder.c_str(), 0700); // ssh itself never creates it
    return folder + "/known_hosts";
}

} // namespace

int run_terminal_program(terminal_arguments const& arguments,
                         brano::core::v6::byte_array const& installation_key,
                         workstation const& place, result::stack& status) {
    result::stack local;
    terminal_profile profile = read_profile(QString::fromStdString(place.profile_path), local);
    if (local.has_failed()) {
        status = std::move(local);
        return failed_before_ssh;
    }
    opened_credential credential =
        open_credential(arguments.credential, installation_key, place.now_ms, local);
    if (local.has_failed()) {
        status = std::move(local);
        return failed_before_ssh;
    }

    std::string const ssh = find_program("ssh", place.search_path);
    if (ssh.empty()) {
        program_missing("ssh", status);
        return failed_before_ssh;
    }
    std::optional<terminal_window> window;
    if (place.has_display) {
        window = find_terminal_window(place.search_path);
        if (!window) {
            program_missing("x-terminal-emulator", status);
            return failed_before_ssh;
        }
    }

    private_directory folder(place.private_base, local);
    if (local.has_failed()) {
        status = std::move(local);
        return failed_before_ssh;
    }
    supervisor watcher(local);
    if (local.has_failed()) {
        status = std::move(local);
        return failed_before_ssh;
    }
    bool const password = arguments.kind == credential_kind::password;
    std::string const channel = folder.file("control");
    if (password || window) {
        watcher.listen(channel, local);
        if (local.has_failed()) {
            status = std::move(local);
            return failed_before_ssh;
        }
    }

    ssh_request request;
    request.kind = arguments.kind;
    request.command = credential.command;
    request.path = credential.path;
    request.forward_host = arguments.forward_host;
    request.forward_port = arguments.forward_port;
    request.known_hosts = known_hosts_file(place.home);
    request.terminal = window.has_value() || place.input_is_terminal;
    if (!password) {
        request.key_file =
            prepare_key_file(credential.secret, find_program("puttygen", place.search_path),
                             folder.file("key"), local);
        if (local.has_failed()) {
            status = std::move(local);
            return failed_before_ssh;
        }
    }
    request.profile = std::move(profile);

    program_call call;
    call.environment = ssh_environment(request);
    if (password) {
        std::string const askpass = place.helpers_dir + "/kelvra-askpass";
        if (::access(askpass.c_str(), X_OK) != 0) {
            program_missing(askpass, status);
            return failed_before_ssh;
        }
        call.environment.emplace_back("SSH_ASKPASS", askpass);
        call.environment.emplace_back("SSH_ASKPASS_REQUIRE", "force");
        call.environment.emplace_back(control::socket_variable, channel);
        watcher.set_password(std::move(credential.secret));
    }

    std::vector<std::string> const ssh_args = ssh_arguments(request);
    if (window) {
        std::string const runner = place.helpers_dir + "/kelvra-ssh";
        if (::access(runner.c_str(), X_OK) != 0) {
            program_missing(runner, status);
            return failed_before_ssh;
        }
        std::vector<std::string> command{runner, channel, ssh};
        command.insert(command.end(), ssh_args.begin(), ssh_args.end());
        call.program = window->program;
        call.arguments = terminal_window_arguments(*window, request.profile.title.toStdString(),
                                                   arguments.maximized, request.profile.foreground,
                                                   request.profile.background, command);
    } else {
        call.program = ssh;
        call.arguments = ssh_args;
    }

    qCDebug(lc_supervisor) << "starting" << call.program.c_str();
    pid_t const child = start_program(call, local);
    if (child < 0) {
        status = std::move(local);
        return failed_before_ssh;
    }
    int const exit_status = watcher.wait(child, window.has_value(), local);
    if (local.has_failed()) {
        status = std::move(local);
    }
    return exit_status;
}

} // namespace kelvra::terminal
