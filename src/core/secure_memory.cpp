#include "core/secure_memory.hpp"

#include <openssl/crypto.h>

namespace kelvra {

void wipe(void* data, std::size_t size) noexcept {
    if (data != nullptr && size != 0) {
        OPENSSL_cleanse(data, size);
    }
}

void wipe(std::string& text) noexcept {
    // The whole capacity: a shorter value may have left older bytes behind.
    wipe(text.data(), text.capacity());
    text.clear();
}

void wipe(QByteArray& bytes) noexcept {
    if (bytes.isDetached() && !bytes.isEmpty()) {
        wipe(bytes.data(), static_cast<std::size_t>(bytes.size()));
    }
    bytes.clear();
}

void wipe(QString& text) noexcept {
    if (text.isDetached() && !text.isEmpty()) {
        wipe(text.data(), static_cast<std::size_t>(text.size()) * sizeof(QChar));
    }
    text.clear();
}

} // namespace kelvra
