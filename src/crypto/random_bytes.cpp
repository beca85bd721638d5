#include "crypto/random_bytes.hpp"

#include "crypto/detail/openssl/collect_openssl_errors.hpp"

#include <openssl/rand.h>

#include <climits>

namespace kelvra::crypto {

namespace core = brano::core::v6;

core::byte_array random_bytes(std::size_t count, core::result::stack& status) {
    if (count > static_cast<std::size_t>(INT_MAX)) {
        detail::openssl::collect_openssl_errors("RAND_bytes()", status);
        return {};
    }
    core::byte_array bytes(count, 0);
    if (count == 0) {
        return bytes;
    }
    if (RAND_bytes(bytes.data(), static_cast<int>(count)) != 1) {
        detail::openssl::collect_openssl_errors("RAND_bytes()", status);
        return {};
    }
    RAND_add(bytes.data(), static_cast<int>(count), static_cast<double>(count) / 10.0);
    return bytes;
}

} // namespace kelvra::crypto
