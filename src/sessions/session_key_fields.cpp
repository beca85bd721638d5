#include "sessions/session_key_fields.hpp"

#include "core/secure_memory.hpp"
#include "crypto/session_key.hpp"

namespace kelvra {

namespace result = brano::core::v6::result;

installation_key_once::installation_key_once(installation_key_source source)
    : source_(std::move(source)) {}

installation_key_once::~installation_key_once() {
    if (key_) {
        wipe(key_->data(), key_->size());
    }
}

brano::core::v6::byte_array const* installation_key_once::get(result::stack& status) {
    if (!key_) {
        brano::core::v6::byte_array key = source_(status);
        if (status.has_failed()) {
            wipe(key.data(), key.size());
            return nullptr;
        }
        key_ = std::move(key);
    }
    return &*key_;
}

void recover_command_and_path(session& s, installation_key_once& installation_key,
                              result::stack& status) {
    brano::core::v6::byte_array const* const key = installation_key.get(status);
    if (key == nullptr) {
        return;
    }
    // The command and the path come out of one decryption.
    crypto::session_key const clear =
        crypto::decrypt_session_key(s.key.toStdString(), *key, status);
    if (status.has_failed()) {
        return;
    }
    s.comando = QString::fromUtf8(clear.command.data(), static_cast<int>(clear.command.size()));
    s.caminho = QString::fromUtf8(clear.path.data(), static_cast<int>(clear.path.size()));
}

} // namespace kelvra
