// kelvra-ssh: runs ssh inside the terminal window and tells the terminal
// program how it ended. Usage: kelvra-ssh CHANNEL SSH [ARGUMENTS...]
//
// Like a terminal client, the window closes by itself only after a clean
// exit; otherwise it shows the status and waits for Enter.
#include "control_channel.hpp"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

int main(int argc, char** argv) {
    using namespace kelvra::terminal;
    if (argc < 3) {
        std::fputs("uso: kelvra-ssh CANAL SSH [ARGUMENTOS...]\n", stderr);
        return 2;
    }
    int const channel = control::connect_channel(argv[1]);
    if (channel >= 0) {
        control::send_text(channel, control::run_message);
    }

    // Closing the window hangs up ssh; this helper stays to report it.
    for (int const sig : {SIGINT, SIGQUIT, SIGHUP}) {
        std::signal(sig, SIG_IGN);
    }
    pid_t const child = ::fork();
    if (child == 0) {
        for (int const sig : {SIGINT, SIGQUIT, SIGHUP}) {
            std::signal(sig, SIG_DFL);
        }
        if (channel >= 0) {
            ::close(channel);
        }
        ::execv(argv[2], argv + 2);
        std::fprintf(stderr, "kelvra-ssh: %s: %s\n", argv[2], std::strerror(errno));
        ::_exit(127);
    }
    int status = 255;
    if (child > 0) {
        int wait_status = 0;
        while (::waitpid(child, &wait_status, 0) < 0 && errno == EINTR) {
        }
        if (WIFEXITED(wait_status)) {
            status = WEXITSTATUS(wait_status);
        } else if (WIFSIGNALED(wait_status)) {
            status = 128 + WTERMSIG(wait_status);
        }
    }
    if (channel >= 0) {
        control::send_text(channel, control::status_message + std::to_string(status) + "\n");
        ::close(channel);
    }

    if (status != 0 && ::isatty(STDIN_FILENO) == 1) {
        ::tcflush(STDIN_FILENO, TCIFLUSH);
        std::printf("\r\nConexão encerrada (código %d). Pressione Enter para fechar.", status);
        std::fflush(stdout);
        char c = 0;
        while (::read(STDIN_FILENO, &c, 1) == 1 && c != '\n' && c != '\r') {
        }
    }
    return status;
}
