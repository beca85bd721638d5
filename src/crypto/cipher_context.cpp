#include "crypto/cipher_context.hpp"

#include "crypto/detail/openssl/collect_openssl_errors.hpp"
#include "crypto/errors.hpp"
#include "crypto/select_cipher.hpp"

#include <openssl/evp.h>

#include <string>

namespace kelvra::crypto {

namespace core = brano::core::v6;

namespace {

void report_size(errors::code code, std::size_t current, int expected,
                 core::result::stack& status) {
    core::result::stack local;
    local.push_item(errors::instance(), code)
        .set_argument("current", std::to_string(current))
        .set_argument("expected", std::to_string(expected));
    status = std::move(local);
}

} // namespace

cipher_context::cipher_context(core::byte_array const& key, core::byte_array const& iv,
                               EVP_CIPHER const* cipher, core::result::stack& status) {
    if (cipher == nullptr) {
        report_cipher_unavailable(status);
        return;
    }
    int const iv_length = EVP_CIPHER_get_iv_length(cipher);
    if (iv.size() != static_cast<std::size_t>(iv_length)) {
        report_size(errors::invalid_iv_size, iv.size(), iv_length, status);
        return;
    }
    int const key_length = EVP_CIPHER_get_key_length(cipher);
    if (key.size() != static_cast<std::size_t>(key_length)) {
        report_size(errors::invalid_key_size, key.size(), key_length, status);
        return;
    }
    encryption_ = EVP_CIPHER_CTX_new();
    decryption_ = EVP_CIPHER_CTX_new();
    if (encryption_ == nullptr || decryption_ == nullptr) {
        release();
        core::result::stack local;
        local.push_item(errors::instance(), errors::out_of_memory);
        status = std::move(local);
        return;
    }
    if (EVP_EncryptInit_ex(encryption_, cipher, nullptr, key.data(), iv.data()) != 1) {
        release();
        detail::openssl::collect_openssl_errors("EVP_EncryptInit_ex()", status);
        return;
    }
    if (EVP_DecryptInit_ex(decryption_, cipher, nullptr, key.data(), iv.data()) != 1) {
        release();
        detail::openssl::collect_openssl_errors("EVP_DecryptInit_ex()", status);
        return;
    }
}

cipher_context::~cipher_context() {
    release();
}

void cipher_context::release() noexcept {
    // EVP_CIPHER_CTX_free clears the key schedule before releasing it.
    EVP_CIPHER_CTX_free(encryption_);
    EVP_CIPHER_CTX_free(decryption_);
    encryption_ = nullptr;
    decryption_ = nullptr;
}

} // namespace kelvra::crypto
