#pragma once

#include <brano/core/v6/byte_array.hpp>
#include <brano/core/v6/result.hpp>

#include <openssl/types.h>

namespace kelvra::crypto {

// One encryption and one decryption context of a cipher, initialised with a
// key and an IV, both freed with the object. A context whose construction
// failed (see `is_valid`) holds neither.
class cipher_context {
public:
    cipher_context(brano::core::v6::byte_array const& key, brano::core::v6::byte_array const& iv,
                   EVP_CIPHER const* cipher, brano::core::v6::result::stack& status);
    ~cipher_context();
    cipher_context(cipher_context const&) = delete;
    cipher_context& operator=(cipher_context const&) = delete;

    bool is_valid() const noexcept { return encryption_ != nullptr && decryption_ != nullptr; }
    EVP_CIPHER_CTX* encryption() const noexcept { return encryption_; }
    EVP_CIPHER_CTX* decryption() const noexcept { return decryption_; }

private:
    void release() noexcept;

    EVP_CIPHER_CTX* encryption_ = nullptr;
    EVP_CIPHER_CTX* decryption_ = nullptr;
};

} // namespace kelvra::crypto
