#include "interface/support/support_launch.hpp"

#include "connections/manager.hpp"
#include "crypto/installation_key.hpp"
#include "crypto/session_key.hpp"

#include <brano/core/v6/datetime.hpp>

namespace kelvra::interface::support {

namespace result = brano::core::v6::result;

void launch_support_session(connection const& c, result::stack& status) {
    result::stack local;
    // One key for the whole step: each fetch asks the system bus again.
    auto const installation_key = crypto::get_installation_key(local);
    if (local.has_failed()) {
        status = std::move(local);
        return;
    }
    crypto::session_key key =
        crypto::decrypt_session_key(c.session_key.toStdString(), installation_key, local);
    if (local.has_failed()) {
        status = std::move(local);
        return;
    }
    key.timestamp = brano::core::v6::datetime::now();
    key.command = support_command;
    std::string const text = crypto::encrypt_session_key(key, local);
    if (local.has_failed()) {
        status = std::move(local);
        return;
    }
    manager::instance().launch(c, QString::fromStdString(text), status);
}

} // namespace kelvra::interface::support
