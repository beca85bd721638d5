#include "core/support_code.hpp"

namespace kelvra::support_code {

char check_character(std::string_view drawn) {
    std::int64_t sum = 0;
    for (std::size_t i = 0; i < drawn.size() && i < drawn_length; ++i) {
        char const c = drawn[i];
        if (c >= '0' && c <= '9') {
            sum += static_cast<std::int64_t>(i + 2) * (48 - static_cast<std::int64_t>(c));
        }
    }
    // The sum is zero or negative: its low byte, read as unsigned, picks the
    // character.
    auto const low_byte = static_cast<std::uint8_t>(static_cast<std::uint64_t>(sum) & 0xffu);
    return alphabet[low_byte % alphabet.size()];
}

std::string make_code(std::array<std::uint8_t, drawn_length> const& bytes) {
    std::string code;
    code.reserve(code_length);
    for (std::uint8_t const b : bytes) {
        code += alphabet[b % alphabet.size()];
    }
    code += check_character(code);
    return code;
}

std::optional<code_fault> find_code_fault(std::string_view code) {
    if (code.size() != code_length) {
        return code_fault::wrong_length;
    }
    if (code[drawn_length] != check_character(code.substr(0, drawn_length))) {
        return code_fault::wrong_check_character;
    }
    return std::nullopt;
}

std::optional<std::string> support_password(std::string_view code, std::int64_t client_code) {
    if (find_code_fault(code)) {
        return std::nullopt;
    }
    // Unsigned arithmetic throughout: every step wraps modulo 2^64.
    std::uint64_t h = static_cast<std::uint32_t>(static_cast<std::uint64_t>(client_code));
    std::uint8_t x = start_value;
    for (std::size_t i = 0; i < drawn_length; ++i) {
        x = static_cast<std::uint8_t>(x ^ static_cast<std::uint8_t>(code[i]));
        h = x + h + multiplier * (h % modulus);
    }
    std::string password;
    do {
        password += static_cast<char>('0' + h % 10);
        h /= 10;
    } while (h != 0 && password.size() < password_digits);
    return password;
}

} // namespace kelvra::support_code
