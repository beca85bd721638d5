#include "terminal_window.hpp"

#include "process.hpp"

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace kelvra::terminal {

namespace {

bool is_xterm_family(std::string const& path) {
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    std::string const target = real ? real.get() : path;
    std::string const name = target.substr(target.rfind('/') + 1);
    return name == "xterm" || name == "lxterm" || name == "uxterm" || name == "koi8rxterm";
}

} // namespace

std::optional<terminal_window> find_terminal_window(std::string const& search_path) {
    for (char const* name : {"x-terminal-emulator", "xterm"}) {
        std::string const program = find_program(name, search_path);
        if (!program.empty()) {
            return terminal_window{program, is_xterm_family(program)};
        }
    }
    return std::nullopt;
}

std::string colour_name(rgb const& colour) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", colour.red & 0xff, colour.green & 0xff,
                  colour.blue & 0xff);
    return text;
}

std::vector<std::string> terminal_window_arguments(terminal_window const& window,
                                                   std::string const& title, bool maximized,
                                                   std::optional<rgb> foreground,
                                                   std::optional<rgb> background,
                                                   std::vector<std::string> const& command) {
    std::vector<std::string> args;
    if (window.xterm_options) {
        // Titles are UTF-8 (session names often are not plain ASCII).
        args.insert(args.end(), {"-xrm", "*utf8Title: true", "-u8"});
    }
    if (!title.empty()) {
        args.insert(args.end(), {"-T", title});
    }
    if (window.xterm_options) {
        if (!title.empty()) {
            args.insert(args.end(), {"-n", title});
        }
        if (foreground) {
            args.insert(args.end(), {"-fg", colour_name(*foreground)});
        }
        if (background) {
            args.insert(args.end(), {"-bg", colour_name(*background)});
        }
        if (maximized) {
            args.emplace_back("-maximized");
        }
    }
    args.emplace_back("-e");
    args.insert(args.end(), command.begin(), command.end());
    return args;
}

} // namespace kelvra::terminal
