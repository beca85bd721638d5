#include "crypto/installation_key.hpp"

#include "core/secure_memory.hpp"
#include "crypto/installation_identity.hpp"

namespace kelvra::crypto {

namespace core = brano::core::v6;

core::byte_array get_installation_key(core::result::stack& status) {
    core::result::stack local;
    std::string identity = get_installation_identity(local);
    if (local.has_failed()) {
        status = std::move(local);
        return {};
    }
    core::byte_array key(identity);
    kelvra::wipe(identity);
    return key;
}

} // namespace kelvra::crypto
