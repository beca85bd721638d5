#pragma once

#include <brano/core/v6/datetime.hpp>
#include <brano/core/v6/result.hpp>

#include <string>
#include <string_view>

namespace kelvra {

// The password that unlocks the settings on `day`: the year in decimal, then
// the month and the day as two digits each ("20260307" on 7 March 2026).
// A negative year or one of more than four digits, or a month or day out of
// range, cannot be written that way and fails with the conversion category.
std::string settings_password(brano::core::v6::date const& day,
                              brano::core::v6::result::stack& status);

// Whether `typed` (UTF-8) is the settings password of `day`, byte for byte.
// Fails, and answers false, where the password of `day` cannot be built.
bool is_settings_password(std::string_view typed, brano::core::v6::date const& day,
                          brano::core::v6::result::stack& status);

} // namespace kelvra
