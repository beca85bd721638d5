#pragma once

#include "core/listed_category.hpp"

namespace kelvra::crypto::detail::openssl {

// Failures reported by OpenSSL.
class errors final : public kelvra::detail::listed_category<errors> {
public:
    enum code : int { cipher_unavailable = 1, generic = 2 };

    static constexpr char const* category_name = "kelvra-openssl-errors";
    static constexpr char const* messages[] = {
        "A cipher cannot be created using the specified arguments",
        "Generic OpenSSL error",
    };
};

} // namespace kelvra::crypto::detail::openssl
