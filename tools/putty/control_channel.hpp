#pragma once

// The private channel between the terminal program and its helpers: a Unix
// stream socket in a folder only the user can enter. Each helper connects,
// sends lines, and reads the answer until the terminal program closes.
//
//   "askpass\n"    asks for the session password; the answer is the password
//                  followed by a line feed, handed out once per connection
//                  attempt and never again.
//   "run\n"        the helper that runs ssh inside a terminal window started.
//   "status N\n"   ssh ended with status N (sent by the same helper).
//
// The helpers use only the C++ standard library and POSIX.

#include <cerrno>
#include <cstring>
#include <string>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace kelvra::terminal::control {

// The variable that tells the askpass helper where the channel is. It holds
// a path, never the password.
inline constexpr char const* socket_variable = "KELVRA_PUTTY_CONTROL";

inline constexpr char const* askpass_message = "askpass\n";
inline constexpr char const* run_message = "run\n";
inline constexpr char const* status_message = "status ";

// A socket connected to `path`, or -1.
inline int connect_channel(char const* path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path == nullptr || std::strlen(path) >= sizeof address.sun_path) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::strcpy(address.sun_path, path);
    int const fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    if (::connect(fd, reinterpret_cast<sockaddr const*>(&address), sizeof address) != 0) {
        int const error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

inline bool send_text(int fd, std::string const& text) {
    char const* data = text.data();
    std::size_t size = text.size();
    while (size > 0) {
        ssize_t const n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace kelvra::terminal::control
