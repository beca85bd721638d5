#pragma once

#include <brano/core/v6/byte_array.hpp>
#include <brano/core/v6/result.hpp>

#include <string>

namespace kelvra::terminal {

// How far the time stamped into a session key text may lie from now, either
// way: the launcher stamps it at every opening, so a text copied from a
// process list is useless soon after.
inline constexpr long long credential_lifetime_ms = 120 * 1000;

// The clear content of the session key text the launcher passed. Wiped when
// the object goes.
struct opened_credential {
    std::string secret; // the password, or the key file path
    std::string command;
    std::string path;

    opened_credential() = default;
    opened_credential(opened_credential const&) = delete;
    opened_credential& operator=(opened_credential const&) = delete;
    opened_credential(opened_credential&&) noexcept = default;
    opened_credential& operator=(opened_credential&&) noexcept = default;
    ~opened_credential();
};

// Decrypts `text` with `installation_key` and checks that its time stamp
// lies within `credential_lifetime_ms` of `now_ms` (milliseconds since the
// epoch) and that it carries a secret.
opened_credential open_credential(std::string const& text,
                                  brano::core::v6::byte_array const& installation_key,
                                  long long now_ms, brano::core::v6::result::stack& status);

} // namespace kelvra::terminal
