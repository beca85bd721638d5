#include "crypto/derive_key.hpp"

#include "crypto/cipher_parameters.hpp"
#include "crypto/detail/openssl/collect_openssl_errors.hpp"
#include "crypto/secure_bytes.hpp"

#include <openssl/evp.h>

#include <climits>

namespace kelvra::crypto {

namespace core = brano::core::v6;

core::byte_array derive_key(core::byte_array const& installation_key, core::result::stack& status) {
    core::byte_array key(key_size, 0);
    static char const empty = '\0';
    char const* password =
        installation_key.empty() ? &empty : reinterpret_cast<char const*>(installation_key.data());
    if (installation_key.size() > static_cast<std::size_t>(INT_MAX) ||
        PKCS5_PBKDF2_HMAC(password, static_cast<int>(installation_key.size()),
                          reinterpret_cast<unsigned char const*>(key_salt),
                          static_cast<int>(key_salt_size), key_iterations, EVP_sha512(),
                          static_cast<int>(key.size()), key.data()) != 1) {
        wipe(key);
        detail::openssl::collect_openssl_errors("PKCS5_PBKDF2_HMAC()", status);
        return {};
    }
    return key;
}

} // namespace kelvra::crypto
