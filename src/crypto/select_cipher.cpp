#include "crypto/select_cipher.hpp"

#include "crypto/cipher_parameters.hpp"
#include "crypto/detail/openssl/errors.hpp"

#include <openssl/evp.h>

#include <string>

namespace kelvra::crypto {

namespace core = brano::core::v6;

EVP_CIPHER const* select_cipher(core::result::stack& status) {
    EVP_CIPHER const* cipher = EVP_aes_256_cbc();
    if (cipher == nullptr) {
        report_cipher_unavailable(status);
    }
    return cipher;
}

void report_cipher_unavailable(core::result::stack& status) {
    core::result::stack local;
    local
        .push_item(detail::openssl::errors::instance(), detail::openssl::errors::cipher_unavailable)
        .set_argument("algorithm", std::to_string(static_cast<int>(algorithm::aes_256)))
        .set_argument("chaining_mode", std::to_string(static_cast<int>(chaining_mode::cbc)));
    status = std::move(local);
}

} // namespace kelvra::crypto
