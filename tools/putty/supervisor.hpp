#pragma once

#include <brano/core/v6/result.hpp>

#include <list>
#include <string>

#include <sys/types.h>

namespace kelvra::terminal {

// Watches the child the terminal program started (ssh itself, or the
// terminal window that runs it) and serves the control channel meanwhile:
// the password for the askpass helper, and the status of ssh from the helper
// that runs it inside a window.
//
// One object per process: it owns the SIGCHLD, SIGTERM and SIGHUP handlers
// while it lives (SIGINT and SIGQUIT are ignored, as while a shell waits for
// a command; the child gets the default dispositions back).
class supervisor {
public:
    explicit supervisor(brano::core::v6::result::stack& status);
    ~supervisor();
    supervisor(supervisor const&) = delete;
    supervisor& operator=(supervisor const&) = delete;

    // Listens on a Unix socket at `path` (a private folder), mode 0600.
    void listen(std::string const& path, brano::core::v6::result::stack& status);

    // The password handed to the first askpass request; wiped after that.
    void set_password(std::string password);

    // How long to wait, after a terminal window program ended without its
    // helper ever reporting, for a helper that a terminal server started on
    // its behalf.
    void set_runner_grace(int milliseconds) { runner_grace_ms_ = milliseconds; }

    // Waits for `child` and returns the status to exit with. With
    // `expects_runner`, the status is the one the helper inside the window
    // reports, and the wait lasts until that helper is gone.
    int wait(pid_t child, bool expects_runner, brano::core::v6::result::stack& status);

    // How many askpass requests were answered with the password.
    int passwords_given() const { return passwords_given_; }

private:
    struct client {
        int fd = -1;
        std::string buffer;
        bool runner = false;
    };
    void accept_client();
    bool serve(client& c);

    int wake_read_ = -1;
    int wake_write_ = -1;
    int listen_fd_ = -1;
    std::string socket_path_;
    std::string password_;
    bool password_set_ = false;
    int passwords_given_ = 0;
    int runner_grace_ms_ = 10000;
    bool runner_seen_ = false;
    bool runner_done_ = false;
    int runner_status_ = -1;
    std::list<client> clients_;
};

} // namespace kelvra::terminal
