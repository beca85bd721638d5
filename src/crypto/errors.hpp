#pragma once

// Failures of the session key encryption.

#include "core/listed_category.hpp"

namespace kelvra::crypto {

// Codes 1 to 3 and 9 describe conditions of other systems and are never
// reported here; they keep their place so that every code keeps its number.
class errors final : public kelvra::detail::listed_category<errors> {
public:
    enum code : int {
        invalid_chaining_mode = 1,
        unsupported_windows_directory = 2,
        windows_api_error = 3,
        out_of_memory = 4,
        invalid_session_key = 5,
        invalid_session_key_version = 6,
        invalid_iv_size = 7,
        invalid_key_size = 8,
        unknown_error = 9,
    };

    static constexpr char const* category_name = "kelvra-generic-errors";
    static constexpr char const* messages[] = {
        "Invalid chaining mode",
        "Unsupported Windows directory",
        "A call to the Windows API returned an error",
        "Out of memory",
        "Invalid session key",
        "Invalid session key version",
        "Invalid IV size",
        "Invalid key size",
        "Unknown error",
    };
};

} // namespace kelvra::crypto
