#pragma once

#include <brano/core/v6/byte_array.hpp>
#include <brano/core/v6/result.hpp>

namespace kelvra::crypto {

// The key that this installation's session secrets are encrypted under: the
// serial numbers of the drives holding the running program, sorted, without
// duplicates, joined with "|". Computed anew on every call (it asks UDisks2
// on the system bus); empty on failure. Compute it once per operation and
// pass it on.
brano::core::v6::byte_array get_installation_key(brano::core::v6::result::stack& status);

} // namespace kelvra::crypto
