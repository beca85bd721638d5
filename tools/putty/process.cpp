#include "process.hpp"

#include "terminal_status.hpp"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kelvra::terminal {

namespace result = brano::core::v6::result;

using status::terminal_category;

namespace {

void report_start_failure(std::string const& program, int error, result::stack& status) {
    result::stack failure;
    auto& item = failure.push_item(terminal_category::instance(), terminal_category::start_failed);
    item.set_argument("program", program);
    item.set_argument("errno-code", std::to_string(error));
    item.set_argument("description", std::strerror(error));
    status = std::move(failure);
}

bool write_all(int fd, void const* data, std::size_t size) {
    auto const* bytes = static_cast<char const*>(data);
    while (size > 0) {
        ssize_t const n = ::write(fd, bytes, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

pid_t start_program(program_call const& call, result::stack& status) {
    // Everything the child needs is prepared before fork: after it only
    // async-signal-safe calls are made.
    std::vector<std::string> environment_entries;
    {
        std::vector<std::string> names;
        for (auto const& [name, value] : call.environment) {
            environment_entries.push_back(name + "=" + value);
            names.push_back(name + "=");
        }
        for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
            bool replaced = false;
            for (auto const& prefix : names) {
                if (std::strncmp(*entry, prefix.c_str(), prefix.size()) == 0) {
                    replaced = true;
                    break;
                }
            }
            if (!replaced) {
                environment_entries.emplace_back(*entry);
            }
        }
    }
    std::vector<char*> envp;
    for (auto& entry : environment_entries) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);

    std::vector<std::string> argument_copies;
    argument_copies.push_back(call.program);
    argument_copies.insert(argument_copies.end(), call.arguments.begin(), call.arguments.end());
    std::vector<char*> argv;
    for (auto& argument : argument_copies) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);

    // The child reports a failed exec through this pipe; a successful exec
    // closes it.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        report_start_failure(call.program, errno, status);
        return -1;
    }

    pid_t const pid = ::fork();
    if (pid < 0) {
        int const error = errno;
        ::close(report[0]);
        ::close(report[1]);
        report_start_failure(call.program, error, status);
        return -1;
    }
    if (pid == 0) {
        ::close(report[0]);
        for (int const sig : {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGPIPE, SIGCHLD}) {
            ::signal(sig, SIG_DFL);
        }
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        if (call.null_input) {
            int const null = ::open("/dev/null", O_RDONLY);
            if (null >= 0) {
                ::dup2(null, STDIN_FILENO);
                ::close(null);
            }
        }
        ::execve(argv[0], argv.data(), envp.data());
        int const error = errno;
        write_all(report[1], &error, sizeof error);
        ::_exit(127);
    }

    ::close(report[1]);
    int error = 0;
    ssize_t n;
    do {
        n = ::read(report[0], &error, sizeof error);
    } while (n < 0 && errno == EINTR);
    ::close(report[0]);
    if (n == static_cast<ssize_t>(sizeof error)) {
        int ignored = 0;
        while (::waitpid(pid, &ignored, 0) < 0 && errno == EINTR) {
        }
        report_start_failure(call.program, error, status);
        return -1;
    }
    return pid;
}

int shell_status(int wait_status) {
    if (WIFEXITED(wait_status)) {
        return WEXITSTATUS(wait_status);
    }
    if (WIFSIGNALED(wait_status)) {
        return 128 + WTERMSIG(wait_status);
    }
    return 255;
}

int run_program(program_call const& call, result::stack& status) {
    pid_t const pid = start_program(call, status);
    if (pid < 0) {
        return -1;
    }
    int wait_status = 0;
    while (::waitpid(pid, &wait_status, 0) < 0) {
        if (errno != EINTR) {
            return 255;
        }
    }
    return shell_status(wait_status);
}

std::string find_program(std::string const& name, std::string const& search_path) {
    if (name.empty()) {
        return {};
    }
    if (name.find('/') != std::string::npos) {
        return ::access(name.c_str(), X_OK) == 0 ? name : std::string();
    }
    std::size_t start = 0;
    while (start <= search_path.size()) {
        std::size_t end = search_path.find(':', start);
        if (end == std::string::npos) {
            end = search_path.size();
        }
        std::string const folder = search_path.substr(start, end - start);
        std::string const candidate = folder + "/" + name;
        struct stat info {};
        // An empty entry would mean the current folder: never searched.
        if (!folder.empty() && ::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        start = end + 1;
    }
    return {};
}

} // namespace kelvra::terminal
