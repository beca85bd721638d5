#include "sessions/session_key_fields.hpp"

#include "crypto/installation_key.hpp"
#include "crypto/session_key.hpp"

namespace kelvra {

namespace result = brano::core::v6::result;

namespace {

// Decrypts the record's key with a freshly obtained installation key.
bool decrypt(session const& s, crypto::session_key& key, result::stack& status) {
    auto const installation_key = crypto::get_installation_key(status);
    if (status.has_failed()) {
        return false;
    }
    key = crypto::decrypt_session_key(s.key.toStdString(), installation_key, status);
    return !status.has_failed();
}

} // namespace

void recover_command_and_path(session& s, result::stack& status) {
    crypto::session_key key;
    if (!decrypt(s, key, status)) {
        return;
    }
    s.comando = QString::fromUtf8(key.command.data(), static_cast<int>(key.command.size()));
    if (!decrypt(s, key, status)) {
        return;
    }
    s.caminho = QString::fromUtf8(key.path.data(), static_cast<int>(key.path.size()));
}

} // namespace kelvra
