#include "connections/session_key_renewal.hpp"

#include "crypto/installation_key.hpp"
#include "crypto/session_key.hpp"

#include <brano/core/v6/datetime.hpp>

namespace kelvra {

namespace result = brano::core::v6::result;

QString renew_session_key(QString const& stored, result::stack& status) {
    result::stack local;
    auto const installation_key = crypto::get_installation_key(local);
    if (local.has_failed()) {
        status = std::move(local);
        return {};
    }
    crypto::session_key key =
        crypto::decrypt_session_key(stored.toStdString(), installation_key, local);
    if (local.has_failed()) {
        status = std::move(local);
        return {};
    }
    key.timestamp = brano::core::v6::datetime::now();
    std::string const renewed = crypto::encrypt_session_key(key, local);
    if (local.has_failed()) {
        status = std::move(local);
        return {};
    }
    return QString::fromStdString(renewed);
}

} // namespace kelvra
