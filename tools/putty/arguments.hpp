#pragma once

#include <brano/core/v6/result.hpp>

#include <cstdint>
#include <string>
#include <vector>

namespace kelvra::terminal {

enum class credential_kind { password, key_file };

// The command line the launcher passes, in its order:
//   -load NAME (-pw TEXT | -i TEXT) [-maximized] -R kelvra:HOST:PORT
struct terminal_arguments {
    std::string session_name;
    credential_kind kind = credential_kind::password;
    // The session key text; it holds the secret, so it is wiped with the object.
    std::string credential;
    bool maximized = false;
    std::string forward_host;
    std::uint16_t forward_port = 0;

    terminal_arguments() = default;
    terminal_arguments(terminal_arguments const&) = default;
    terminal_arguments(terminal_arguments&&) noexcept = default;
    terminal_arguments& operator=(terminal_arguments const&) = default;
    terminal_arguments& operator=(terminal_arguments&&) noexcept = default;
    ~terminal_arguments();
};

// The arguments after the program name. Anything but the list above fails
// with the offending argument and its position (the credential text itself
// never appears in the report).
terminal_arguments parse_arguments(std::vector<std::string> const& args,
                                   brano::core::v6::result::stack& status);

// One line that shows the accepted command line.
char const* usage_text();

} // namespace kelvra::terminal
