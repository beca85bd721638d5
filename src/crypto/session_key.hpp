#pragma once

#include <brano/core/v6/byte_array.hpp>
#include <brano/core/v6/datetime.hpp>
#include <brano/core/v6/result.hpp>

#include <string>

namespace kelvra::crypto {

// The clear form of a session key text: the session's secret (password or
// key file path), command and working path, stamped with a time. The
// installation key only derives the cipher key and is never stored in the
// text. The secret, the installation key and the texts are wiped when the
// object goes.
struct session_key {
    brano::core::v6::datetime timestamp;
    brano::core::v6::byte_array device_key;
    brano::core::v6::byte_array secret;
    std::string command;
    std::string path;

    session_key() = default;
    session_key(session_key const&) = default;
    session_key(session_key&&) noexcept = default;
    session_key& operator=(session_key const&) = default;
    session_key& operator=(session_key&&) noexcept = default;
    ~session_key();
};

// The session key text of `key`: AES-256-CBC under a key derived from
// `key.device_key`, with a fresh random IV. Empty on failure.
std::string encrypt_session_key(session_key const& key, brano::core::v6::result::stack& status);

// The clear form of a session key text, with `device_key` set to
// `installation_key`. A default `session_key` on failure.
session_key decrypt_session_key(std::string const& text,
                                brano::core::v6::byte_array const& installation_key,
                                brano::core::v6::result::stack& status);

namespace detail {

// `encrypt_session_key` with a given IV instead of a random one, so that the
// text format can be pinned by known-answer vectors. Never use it to make
// texts that are stored or handed on: an IV must not be used twice.
std::string encrypt_session_key(session_key const& key, brano::core::v6::byte_array const& iv,
                                brano::core::v6::result::stack& status);

} // namespace detail

} // namespace kelvra::crypto
