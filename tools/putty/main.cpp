// The installation's terminal program: opens a session's SSH connection with
// OpenSSH, as the launcher asks with
//   putty -load NAME (-pw TEXT | -i TEXT) [-maximized] -R kelvra:HOST:PORT
#include "arguments.hpp"
#include "private_directory.hpp"
#include "process.hpp"
#include "terminal_program.hpp"

#include "core/describe_stack.hpp"
#include "core/secure_memory.hpp"
#include "crypto/installation_key.hpp"
#include "sessions/putty_session_path.hpp"

#include <brano/core/v6/datetime.hpp>

#include <QDir>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

namespace {

namespace result = brano::core::v6::result;

void report(result::stack const& status) {
    std::string const text = kelvra::describe_stack(status);
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
}

std::string variable(char const* name) {
    char const* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// The folder of this program, where its helpers are installed beside it.
std::string own_folder() {
    char buffer[4096];
    ssize_t const n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) {
        return ".";
    }
    std::string path(buffer, static_cast<std::size_t>(n));
    return path.substr(0, path.rfind('/'));
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    // The session key text stays in this process's command line for as long
    // as the connection runs; blank it there once it is copied.
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "-pw") == 0 || std::strcmp(argv[i], "-i") == 0) {
            std::memset(argv[i + 1], '*', std::strlen(argv[i + 1]));
            break;
        }
    }

    result::stack status;
    kelvra::terminal::terminal_arguments const arguments =
        kelvra::terminal::parse_arguments(args, status);
    for (auto& arg : args) {
        std::fill(arg.begin(), arg.end(), '\0');
    }
    if (status.has_failed()) {
        report(status);
        std::fputs(kelvra::terminal::usage_text(), stderr);
        return 2;
    }

    brano::core::v6::byte_array installation_key = kelvra::crypto::get_installation_key(status);
    if (status.has_failed()) {
        report(status);
        return 1;
    }

    kelvra::terminal::workstation place;
    place.profile_path =
        kelvra::putty_session_path(QString::fromUtf8(arguments.session_name.c_str())).toStdString();
    place.helpers_dir = own_folder();
    place.home = QDir::homePath().toStdString();
    place.search_path = variable("PATH");
    place.private_base = kelvra::terminal::private_base(std::getenv("XDG_RUNTIME_DIR"));
    place.has_display = !variable("DISPLAY").empty() || !variable("WAYLAND_DISPLAY").empty();
    place.input_is_terminal = ::isatty(STDIN_FILENO) == 1;
    place.now_ms = brano::core::v6::datetime::now().to_msecs_since_epoch();

    int const exit_status =
        kelvra::terminal::run_terminal_program(arguments, installation_key, place, status);
    kelvra::wipe(installation_key.data(), installation_key.size());
    if (status.has_failed()) {
        report(status);
    }
    return exit_status;
}
