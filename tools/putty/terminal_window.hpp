#pragma once

#include "profile.hpp"

#include <optional>
#include <string>
#include <vector>

namespace kelvra::terminal {

// A terminal window program found on the workstation.
struct terminal_window {
    std::string program;
    // xterm and its wrappers (lxterm, uxterm) take colours and "-maximized";
    // any other x-terminal-emulator is only given a title and the command.
    bool xterm_options = false;
};

// x-terminal-emulator, else xterm, searched in `search_path`; nothing when
// neither is there.
std::optional<terminal_window> find_terminal_window(std::string const& search_path);

// The window's arguments that run `command` (program and arguments), titled
// `title`, maximized when asked, in the profile's default colours where the
// program takes them.
std::vector<std::string> terminal_window_arguments(terminal_window const& window,
                                                   std::string const& title, bool maximized,
                                                   std::optional<rgb> foreground,
                                                   std::optional<rgb> background,
                                                   std::vector<std::string> const& command);

// "#rrggbb".
std::string colour_name(rgb const& colour);

} // namespace kelvra::terminal
