#pragma once

#include <brano/core/v6/result.hpp>

#include <cstdint>
#include <string>
#include <string_view>

namespace kelvra {

// The password the support desk answers the temporary code `code` with, for
// the client `client_code` (see core/support_code.hpp). Empty, with
// `status` set, when `code` is malformed. The caller wipes the result.
std::string derive_support_password(std::string_view code, std::int64_t client_code,
                                    brano::core::v6::result::stack& status);

} // namespace kelvra
