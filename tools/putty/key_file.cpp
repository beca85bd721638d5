#include "key_file.hpp"

#include "process.hpp"
#include "terminal_status.hpp"

#include <cerrno>
#include <cstring>
#include <fstream>

#include <sys/stat.h>
#include <unistd.h>

namespace kelvra::terminal {

namespace result = brano::core::v6::result;

using status::terminal_category;

bool is_putty_key(std::string const& path) {
    static constexpr char magic[] = "PuTTY-User-Key-File-";
    char head[sizeof magic - 1] = {};
    std::ifstream in(path, std::ios::binary);
    return in.read(head, sizeof head) && std::memcmp(head, magic, sizeof head) == 0;
}

std::string prepare_key_file(std::string const& path, std::string const& puttygen,
                             std::string const& converted, result::stack& status) {
    if (::access(path.c_str(), R_OK) != 0) {
        int const error = errno;
        result::stack failure;
        auto& item = failure.push_item(terminal_category::instance(),
                                       terminal_category::key_file_unreadable);
        item.set_argument("path", path);
        item.set_argument("errno-code", std::to_string(error));
        item.set_argument("description", std::strerror(error));
        status = std::move(failure);
        return {};
    }
    if (!is_putty_key(path)) {
        return path;
    }
    if (puttygen.empty()) {
        result::stack failure;
        auto& item =
            failure.push_item(terminal_category::instance(), terminal_category::program_not_found);
        item.set_argument("program", "puttygen");
        status = std::move(failure);
        return {};
    }

    // A key protected by a passphrase cannot be converted without asking
    // for it: the empty passphrase from /dev/null makes puttygen fail.
    program_call call;
    call.program = puttygen;
    call.arguments = {path,        "-O", "private-openssh", "--old-passphrase",
                      "/dev/null", "-o", converted};
    call.null_input = true;
    mode_t const old_mask = ::umask(077);
    result::stack local;
    int const exit_status = run_program(call, local);
    ::umask(old_mask);
    if (local.has_failed()) {
        status = std::move(local);
        return {};
    }
    if (exit_status != 0 || ::access(converted.c_str(), R_OK) != 0) {
        ::unlink(converted.c_str());
        result::stack failure;
        auto& item = failure.push_item(terminal_category::instance(),
                                       terminal_category::key_conversion_failed);
        item.set_argument("path", path);
        item.set_argument("exit-status", std::to_string(exit_status));
        status = std::move(failure);
        return {};
    }
    ::chmod(converted.c_str(), 0600);
    return converted;
}

} // namespace kelvra::terminal
