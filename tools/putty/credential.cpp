#include "credential.hpp"

#include "terminal_status.hpp"

#include "core/secure_memory.hpp"
#include "crypto/session_key.hpp"

namespace kelvra::terminal {

namespace result = brano::core::v6::result;

using status::terminal_category;

opened_credential::~opened_credential() {
    wipe(secret);
    wipe(command);
    wipe(path);
}

opened_credential open_credential(std::string const& text,
                                  brano::core::v6::byte_array const& installation_key,
                                  long long now_ms, result::stack& status) {
    result::stack local;
    crypto::session_key key = crypto::decrypt_session_key(text, installation_key, local);
    if (local.has_failed()) {
        status = std::move(local);
        return {};
    }

    long long const stamped = key.timestamp.to_msecs_since_epoch();
    long long const age = now_ms - stamped;
    if (age > credential_lifetime_ms || age < -credential_lifetime_ms) {
        result::stack failure;
        auto& item =
            failure.push_item(terminal_category::instance(), terminal_category::key_expired);
        item.set_argument("timestamp", std::to_string(stamped));
        item.set_argument("now", std::to_string(now_ms));
        item.set_argument("limit-ms", std::to_string(credential_lifetime_ms));
        status = std::move(failure);
        return {};
    }
    if (key.secret.empty()) {
        result::stack failure;
        failure.push_item(terminal_category::instance(), terminal_category::secret_empty);
        status = std::move(failure);
        return {};
    }

    opened_credential opened;
    opened.secret.assign(reinterpret_cast<char const*>(key.secret.data()), key.secret.size());
    opened.command = key.command;
    opened.path = key.path;
    return opened;
}

} // namespace kelvra::terminal
