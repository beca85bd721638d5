// kelvra-askpass: the askpass program ssh runs for a password session. It
// fetches the password from the terminal program over its private channel
// (the channel's path is in the environment; the password never is) and
// prints it for ssh. It never answers a yes/no question.
#include "control_channel.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

int main() {
    using namespace kelvra::terminal;
    char const* kind = std::getenv("SSH_ASKPASS_PROMPT");
    if (kind != nullptr && std::strcmp(kind, "none") == 0) {
        return 0; // a notice, nothing to answer
    }
    if (kind != nullptr && std::strcmp(kind, "confirm") == 0) {
        return 1; // never confirm on the user's behalf
    }

    int const fd = control::connect_channel(std::getenv(control::socket_variable));
    if (fd < 0 || !control::send_text(fd, control::askpass_message)) {
        std::fputs("kelvra-askpass: o programa de terminal não responde\n", stderr);
        return 1;
    }
    char answer[4096];
    std::size_t size = 0;
    for (;;) {
        ssize_t const n = ::read(fd, answer + size, sizeof answer - size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        size += static_cast<std::size_t>(n);
        if (size == sizeof answer) {
            break;
        }
    }
    ::close(fd);
    int result = 1;
    if (size > 0 && answer[size - 1] == '\n') {
        result = std::fwrite(answer, 1, size, stdout) == size && std::fflush(stdout) == 0 ? 0 : 1;
    }
    ::explicit_bzero(answer, sizeof answer);
    return result;
}
