#include "crypto/secure_bytes.hpp"

#include "core/secure_memory.hpp"

namespace kelvra::crypto {

void wipe(brano::core::v6::byte_array& bytes) noexcept {
    kelvra::wipe(bytes.data(), bytes.size());
    bytes.clear();
}

} // namespace kelvra::crypto
