#include "supervisor.hpp"

#include "control_channel.hpp"
#include "process.hpp"
#include "terminal_status.hpp"

#include "core/secure_memory.hpp"

#include <QLoggingCategory>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <iterator>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lc_supervisor, "kelvra.terminal", QtWarningMsg)

namespace kelvra::terminal {

namespace result = brano::core::v6::result;

using status::terminal_category;

namespace {

volatile sig_atomic_t wake_fd = -1;

constexpr int handled_signals[] = {SIGCHLD, SIGTERM, SIGHUP};
constexpr int ignored_signals[] = {SIGINT, SIGQUIT, SIGPIPE};

// The dispositions in force before the supervisor, restored after it. A
// SIGCHLD handler that was there (a library watching children of its own)
// keeps being called.
struct sigaction previous_actions[std::size(handled_signals) + std::size(ignored_signals)];
struct sigaction previous_child_action {};
volatile sig_atomic_t chain_child_action = 0;

void on_signal(int sig, siginfo_t* info, void* context) {
    int const saved = errno;
    if (wake_fd >= 0) {
        auto const byte = static_cast<unsigned char>(sig);
        [[maybe_unused]] ssize_t const n = ::write(wake_fd, &byte, 1);
    }
    if (sig == SIGCHLD && chain_child_action != 0) {
        if ((previous_child_action.sa_flags & SA_SIGINFO) != 0) {
            previous_child_action.sa_sigaction(sig, info, context);
        } else {
            previous_child_action.sa_handler(sig);
        }
    }
    errno = saved;
}
constexpr std::size_t max_line = 64;

void channel_failure(char const* what, std::string const& path, int error, result::stack& status) {
    result::stack failure;
    auto& item =
        failure.push_item(terminal_category::instance(), terminal_category::control_socket_failed);
    item.set_argument("path", path);
    item.set_argument("call", what);
    item.set_argument("errno-code", std::to_string(error));
    item.set_argument("description", std::strerror(error));
    status = std::move(failure);
}

} // namespace

supervisor::supervisor(result::stack& status) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        channel_failure("pipe2", {}, errno, status);
        return;
    }
    wake_read_ = fds[0];
    wake_write_ = fds[1];
    wake_fd = wake_write_;

    struct sigaction action {};
    action.sa_sigaction = on_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_NOCLDSTOP | SA_SIGINFO;
    std::size_t slot = 0;
    for (int const sig : handled_signals) {
        ::sigaction(sig, &action, &previous_actions[slot]);
        struct sigaction const& old = previous_actions[slot];
        if (sig == SIGCHLD && ((old.sa_flags & SA_SIGINFO) != 0 ||
                               (old.sa_handler != SIG_DFL && old.sa_handler != SIG_IGN))) {
            previous_child_action = old;
            chain_child_action = 1;
        }
        ++slot;
    }
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    for (int const sig : ignored_signals) {
        ::sigaction(sig, &ignore, &previous_actions[slot++]);
    }
}

supervisor::~supervisor() {
    if (wake_read_ >= 0) {
        std::size_t slot = 0;
        for (int const sig : handled_signals) {
            ::sigaction(sig, &previous_actions[slot++], nullptr);
        }
        for (int const sig : ignored_signals) {
            ::sigaction(sig, &previous_actions[slot++], nullptr);
        }
    }
    chain_child_action = 0;
    wake_fd = -1;
    if (wake_read_ >= 0) {
        ::close(wake_read_);
        ::close(wake_write_);
    }
    if (listen_fd_ >= 0) {
        ::close(listen_fd_);
        ::unlink(socket_path_.c_str());
    }
    wipe(password_);
}

void supervisor::listen(std::string const& path, result::stack& status) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        channel_failure("bind", path, ENAMETOOLONG, status);
        return;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int const fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        channel_failure("socket", path, errno, status);
        return;
    }
    mode_t const old_mask = ::umask(077);
    int const bound = ::bind(fd, reinterpret_cast<sockaddr const*>(&address), sizeof address);
    int const bind_error = errno;
    ::umask(old_mask);
    if (bound != 0) {
        ::close(fd);
        channel_failure("bind", path, bind_error, status);
        return;
    }
    if (::listen(fd, 8) != 0) {
        int const error = errno;
        ::close(fd);
        ::unlink(path.c_str());
        channel_failure("listen", path, error, status);
        return;
    }
    listen_fd_ = fd;
    socket_path_ = path;
}

void supervisor::set_password(std::string password) {
    wipe(password_);
    password_ = std::move(password);
    password_set_ = true;
}

void supervisor::accept_client() {
    int const fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
        return;
    }
    // The folder already keeps others out; the peer's identity is checked
    // all the same.
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != ::geteuid()) {
        qCDebug(lc_supervisor) << "control channel: peer of another user refused";
        ::close(fd);
        return;
    }
    clients_.push_back(client{fd, {}, false});
}

// Handles what a client sent; false when the client is done with.
bool supervisor::serve(client& c) {
    char chunk[128];
    ssize_t const n = ::read(c.fd, chunk, sizeof chunk);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        return true;
    }
    if (n <= 0) {
        if (c.runner) {
            runner_done_ = true;
        }
        return false;
    }
    c.buffer.append(chunk, static_cast<std::size_t>(n));
    std::size_t end;
    while ((end = c.buffer.find('\n')) != std::string::npos) {
        std::string const line = c.buffer.substr(0, end + 1);
        c.buffer.erase(0, end + 1);
        if (line == control::askpass_message) {
            if (password_set_ && passwords_given_ == 0) {
                // A blocking write: the answer is short and the helper waits
                // for it.
                int const flags = ::fcntl(c.fd, F_GETFL);
                ::fcntl(c.fd, F_SETFL, flags & ~O_NONBLOCK);
                std::string answer = password_ + "\n";
                control::send_text(c.fd, answer);
                wipe(answer);
                wipe(password_);
                ++passwords_given_;
            }
            return false;
        }
        if (line == control::run_message) {
            c.runner = true;
            runner_seen_ = true;
        } else if (c.runner && line.rfind(control::status_message, 0) == 0) {
            try {
                runner_status_ = std::stoi(line.substr(std::strlen(control::status_message)));
            } catch (...) {
                runner_status_ = 255;
            }
        } else {
            return false;
        }
    }
    if (c.buffer.size() > max_line) {
        return false;
    }
    return true;
}

int supervisor::wait(pid_t child, bool expects_runner, result::stack& status) {
    auto& clients = clients_;
    bool child_done = false;
    int child_status = 0;
    using clock = std::chrono::steady_clock;
    clock::time_point grace_end{};

    for (;;) {
        if (!child_done) {
            int wait_status = 0;
            pid_t const r = ::waitpid(child, &wait_status, WNOHANG);
            if (r == child) {
                child_done = true;
                child_status = shell_status(wait_status);
                grace_end = clock::now() + std::chrono::milliseconds(runner_grace_ms_);
            }
        }

        if (!expects_runner && child_done) {
            break;
        }
        if (expects_runner) {
            if (runner_done_) {
                break;
            }
            if (child_done && !runner_seen_ && (child_status != 0 || clock::now() >= grace_end)) {
                break;
            }
        }

        std::vector<pollfd> fds;
        fds.push_back({wake_read_, POLLIN, 0});
        if (listen_fd_ >= 0) {
            fds.push_back({listen_fd_, POLLIN, 0});
        }
        for (client const& c : clients) {
            fds.push_back({c.fd, POLLIN, 0});
        }
        int timeout = -1;
        if (expects_runner && child_done && !runner_seen_) {
            auto const left =
                std::chrono::duration_cast<std::chrono::milliseconds>(grace_end - clock::now());
            timeout = static_cast<int>(std::max<long long>(0, left.count()));
        }
        int const ready = ::poll(fds.data(), fds.size(), timeout);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }

        std::size_t index = 0;
        if (fds[index++].revents != 0) {
            unsigned char received[32];
            ssize_t n;
            while ((n = ::read(wake_read_, received, sizeof received)) > 0) {
                for (ssize_t i = 0; i < n; ++i) {
                    // Asked to end: pass it on and go on waiting for the child.
                    if ((received[i] == SIGTERM || received[i] == SIGHUP) && !child_done) {
                        ::kill(child, received[i]);
                    }
                }
            }
        }
        if (listen_fd_ >= 0 && fds[index++].revents != 0) {
            accept_client();
        }
        for (auto it = clients.begin(); it != clients.end() && index < fds.size(); ++index) {
            if (fds[index].revents != 0 && !serve(*it)) {
                ::close(it->fd);
                it = clients.erase(it);
            } else {
                ++it;
            }
        }
    }

    for (client const& c : clients) {
        ::close(c.fd);
    }
    clients.clear();

    if (!expects_runner) {
        return child_status;
    }
    if (runner_done_ || runner_seen_) {
        return runner_status_ >= 0 ? runner_status_ : 255;
    }
    if (child_status != 0) {
        return child_status;
    }
    result::stack failure;
    auto& item = failure.push_item(terminal_category::instance(), terminal_category::start_failed);
    item.set_argument("program", "ssh");
    item.set_argument("description", "the terminal window ended without starting ssh");
    status = std::move(failure);
    return 1;
}

} // namespace kelvra::terminal
