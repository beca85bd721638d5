#pragma once

#include "crypto/installation_key.hpp"
#include "sessions/session.hpp"

#include <brano/core/v6/byte_array.hpp>
#include <brano/core/v6/result.hpp>

#include <functional>
#include <optional>

namespace kelvra {

using installation_key_source =
    std::function<brano::core::v6::byte_array(brano::core::v6::result::stack&)>;

// The installation key for the span of one operation (a listing, the reading
// of one file): asked for when first needed, then kept, and wiped when the
// object goes. Each request asks UDisks2 on the system bus, so a listing of
// many version 1 files asks once. A failed request is not kept: a later use
// asks again.
class installation_key_once {
public:
    explicit installation_key_once(installation_key_source source = crypto::get_installation_key);
    ~installation_key_once();
    installation_key_once(installation_key_once const&) = delete;
    installation_key_once& operator=(installation_key_once const&) = delete;

    // The key, or nullptr with the source's report in `status`.
    brano::core::v6::byte_array const* get(brano::core::v6::result::stack& status);

private:
    installation_key_source source_;
    std::optional<brano::core::v6::byte_array> key_;
};

// Fills `comando` and `caminho` of a version 1 record from its session key
// text, decrypted with this installation's key. On failure both stay empty
// and the stack holds the identity's or the decryption's report.
void recover_command_and_path(session& s, installation_key_once& installation_key,
                              brano::core::v6::result::stack& status);

} // namespace kelvra
