#pragma once

namespace kelvra::hex {

// The hexadecimal digit for a value from 0 to 15.
constexpr char lower_digit(unsigned value) {
    return "0123456789abcdef"[value & 0x0fu];
}
constexpr char upper_digit(unsigned value) {
    return "0123456789ABCDEF"[value & 0x0fu];
}

// The value of a hexadecimal digit of either case, or -1 for any other
// character.
constexpr int digit_value(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

} // namespace kelvra::hex
