#pragma once

// The support mode's challenge and response: the temporary code that the
// workstation shows and the password that the support desk answers with.
// Standard library only, so that the desk's password tool builds from the
// same source without the rest of the program. The constants below are the
// only copy of them: the dialog and the desk's tool both use these.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kelvra::support_code {

// The characters a temporary code is made of (two of them occur twice).
inline constexpr std::string_view alphabet = "kvu72jh5nu0i6ywfc9erl4s18obxm3t5dpzagq";
static_assert(alphabet.size() == 38);

// The derivation of the password: its 8-bit start value, its multiplier and
// its seven-digit modulus.
inline constexpr std::uint8_t start_value = 179;
inline constexpr std::uint64_t multiplier = 41;
inline constexpr std::uint64_t modulus = 7340033;
static_assert(modulus >= 1000000 && modulus <= 9999999);

// Eleven drawn characters and the check character.
inline constexpr std::size_t drawn_length = 11;
inline constexpr std::size_t code_length = drawn_length + 1;

// The password has at most this many digits.
inline constexpr std::size_t password_digits = 12;

// The check character of a code's first eleven characters: only their
// decimal digits count, weighted by position.
char check_character(std::string_view drawn);

// The temporary code made of eleven random bytes: each byte picks a
// character of the alphabet, and the check character follows.
std::string make_code(std::array<std::uint8_t, drawn_length> const& bytes);

// Why `code` cannot be a temporary code, or nothing when it is well formed:
// it has 12 characters and its last is the check character of the others.
enum class code_fault { wrong_length, wrong_check_character };
std::optional<code_fault> find_code_fault(std::string_view code);

// The password that answers `code` for the client `client_code` (of which
// only the low 32 bits count): the derived value in decimal, least
// significant digit first, at most 12 digits. Nothing for a malformed code.
std::optional<std::string> support_password(std::string_view code, std::int64_t client_code);

} // namespace kelvra::support_code
