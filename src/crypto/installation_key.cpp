#include "crypto/installation_key.hpp"

#include "crypto/detail/linux/installation_identity.hpp"

namespace kelvra::crypto {

brano::core::v6::byte_array get_installation_key(brano::core::v6::result::stack& status) {
    return detail::linux::get_installation_key(status);
}

} // namespace kelvra::crypto
