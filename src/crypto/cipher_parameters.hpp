#pragma once

#include <cstddef>

namespace kelvra::crypto {

// Algorithm and chaining mode of the session key cipher, as the numbers that
// appear in failure reports.
enum class algorithm : int { aes_128 = 0, aes_192 = 1, aes_256 = 2 };
enum class chaining_mode : int { cbc = 0 };

// PBKDF2-HMAC-SHA512 parameters of the session key cipher key. Changing any
// of them makes every stored session unreadable, here and in the terminal
// program that decrypts the same texts.
inline constexpr char key_salt[] = "Kf3Q9zTm1Xr7Bw2N";
inline constexpr std::size_t key_salt_size = sizeof(key_salt) - 1;
inline constexpr int key_iterations = 1024;
inline constexpr std::size_t key_size = 32;

} // namespace kelvra::crypto
