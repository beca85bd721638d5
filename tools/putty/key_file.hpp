#pragma once

#include <brano/core/v6/result.hpp>

#include <string>

namespace kelvra::terminal {

// True when the file at `path` is a PuTTY private key (.ppk).
bool is_putty_key(std::string const& path);

// The key file ssh can use for `path`: the file itself when it is readable
// and not a PuTTY key; a PuTTY key is converted with `puttygen` (the path of
// the program) into `converted` (a file in a private folder, mode 0600),
// which is then returned. Empty on failure.
std::string prepare_key_file(std::string const& path, std::string const& puttygen,
                             std::string const& converted, brano::core::v6::result::stack& status);

} // namespace kelvra::terminal
