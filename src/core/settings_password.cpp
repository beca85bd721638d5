#include "core/settings_password.hpp"

#include <brano/core/v6/converter.hpp>

#include <array>
#include <charconv>

namespace kelvra {

namespace core = brano::core::v6;

namespace {

// Appends `number` in decimal, left-padded with zeros to `padded` digits;
// refuses a negative number and one of more than `widest` digits.
bool append_digits(int number, std::size_t padded, std::size_t widest, std::string& text,
                   core::result::stack& status) {
    std::array<char, 16> digits{};
    auto const [end, error] = std::to_chars(digits.data(), digits.data() + digits.size(), number);
    int code = 0;
    if (error != std::errc()) {
        code = error == std::errc::value_too_large
                   ? core::converter_result_category::out_of_range
                   : core::converter_result_category::invalid_number;
    } else if (number < 0 || static_cast<std::size_t>(end - digits.data()) > widest) {
        code = core::converter_result_category::out_of_range;
    }
    if (code != 0) {
        core::result::stack local;
        auto& item = local.push_item(core::converter_result_category::instance(), code);
        core::converter_result_category::instance().create(item, code);
        status = std::move(local);
        return false;
    }
    auto const length = static_cast<std::size_t>(end - digits.data());
    text.append(length < padded ? padded - length : 0, '0');
    text.append(digits.data(), end);
    return true;
}

} // namespace

std::string settings_password(core::date const& day, core::result::stack& status) {
    std::string text;
    text.reserve(8);
    if (!append_digits(day.get_year(), 1, 4, text, status)) {
        return {};
    }
    if (day.get_month() < 1 || day.get_month() > 12 || day.get_day() < 1 || day.get_day() > 31) {
        core::result::stack local;
        auto& item = local.push_item(core::converter_result_category::instance(),
                                     core::converter_result_category::out_of_range);
        core::converter_result_category::instance().create(
            item, core::converter_result_category::out_of_range);
        status = std::move(local);
        return {};
    }
    if (!append_digits(day.get_month(), 2, 2, text, status) ||
        !append_digits(day.get_day(), 2, 2, text, status)) {
        return {};
    }
    return text;
}

bool is_settings_password(std::string_view typed, core::date const& day,
                          core::result::stack& status) {
    std::string const expected = settings_password(day, status);
    if (status.has_failed()) {
        return false;
    }
    return typed == expected;
}

} // namespace kelvra
