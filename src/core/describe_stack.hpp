#pragma once

#include <brano/core/v6/result.hpp>

#include <string>

namespace kelvra {

// A failed stack as text, one item after another: the category name and the
// message on one line, then each argument indented as "name: value".
std::string describe_stack(brano::core::v6::result::stack const& status);

} // namespace kelvra
