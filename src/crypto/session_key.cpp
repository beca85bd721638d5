#include "crypto/session_key.hpp"

#include "core/secure_memory.hpp"
#include "crypto/cipher_context.hpp"
#include "crypto/derive_key.hpp"
#include "crypto/detail/openssl/collect_openssl_errors.hpp"
#include "crypto/errors.hpp"
#include "crypto/mix_nibbles.hpp"
#include "crypto/random_bytes.hpp"
#include "crypto/secure_bytes.hpp"
#include "crypto/select_cipher.hpp"

#include <brano/core/v6/encoding.hpp>

#include <openssl/evp.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>

namespace kelvra::crypto {

namespace core = brano::core::v6;

session_key::~session_key() {
    wipe(device_key);
    wipe(secret);
    kelvra::wipe(command);
    kelvra::wipe(path);
}

namespace {

// Blob layout: 00 01, timestamp (8 bytes), IV length (8 bytes), IV, ciphertext.
constexpr std::uint8_t format_byte_0 = 0x00;
constexpr std::uint8_t format_byte_1 = 0x01;
constexpr std::size_t timestamp_offset = 2;
constexpr std::size_t iv_length_offset = 10;
constexpr std::size_t header_size = 18;
constexpr std::uint8_t separator = 0xff;
// EVP update calls take an int length.
constexpr std::size_t max_piece = static_cast<std::size_t>(INT_MAX);

void put_le64(core::byte_array& blob, std::size_t offset, std::uint64_t value) {
    for (std::size_t i = 0; i < 8; ++i) {
        blob[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

std::uint64_t get_le64(core::byte_array const& blob, std::size_t offset) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        value |= static_cast<std::uint64_t>(blob[offset + i]) << (8 * i);
    }
    return value;
}

void fail(errors::code code, std::string const& text, core::result::stack& status) {
    core::result::stack local;
    local.push_item(errors::instance(), code).set_argument("key", text);
    status = std::move(local);
}

// Runs the whole of `input` through an encryption or decryption context into
// `output`, which has room for the input plus one block. Returns the number of
// bytes written, or -1 after reporting the failed call.
template <class Update, class Final>
long long run_cipher(EVP_CIPHER_CTX* context, core::byte_array const& input,
                     core::byte_array& output, Update update, Final final_step,
                     char const* update_name, char const* final_name, core::result::stack& status) {
    std::size_t written = 0;
    std::size_t offset = 0;
    while (offset < input.size()) {
        std::size_t const piece = std::min(max_piece, input.size() - offset);
        int out = 0;
        if (update(context, output.data() + written, &out, input.data() + offset,
                   static_cast<int>(piece)) != 1) {
            detail::openssl::collect_openssl_errors(update_name, status);
            return -1;
        }
        written += static_cast<std::size_t>(out);
        offset += piece;
    }
    int out = 0;
    if (final_step(context, output.data() + written, &out) != 1) {
        detail::openssl::collect_openssl_errors(final_name, status);
        return -1;
    }
    written += static_cast<std::size_t>(out);
    return static_cast<long long>(written);
}

core::byte_array build_plaintext(session_key const& key) {
    core::byte_array plaintext(key.secret.size() + 1 + key.command.size() + 1 + key.path.size(), 0);
    std::uint8_t* out = plaintext.data();
    if (!key.secret.empty()) {
        std::memcpy(out, key.secret.data(), key.secret.size());
    }
    out += key.secret.size();
    *out++ = separator;
    std::memcpy(out, key.command.data(), key.command.size());
    out += key.command.size();
    *out++ = separator;
    std::memcpy(out, key.path.data(), key.path.size());
    return plaintext;
}

// The cipher and its contexts under the key derived from `device_key`, with
// `iv`, or with a fresh random IV of the cipher's length put into `iv` when
// `fresh_iv` is set. Nothing on failure; the derived key is wiped either way.
std::unique_ptr<cipher_context> open_context(core::byte_array const& device_key,
                                             core::byte_array& iv, bool fresh_iv,
                                             EVP_CIPHER const*& cipher,
                                             core::result::stack& status) {
    core::result::stack local;
    core::byte_array cipher_key = derive_key(device_key, local);
    if (!local.has_failed()) {
        cipher = select_cipher(local);
    }
    if (!local.has_failed() && fresh_iv) {
        iv = random_bytes(static_cast<std::size_t>(EVP_CIPHER_get_iv_length(cipher)), local);
    }
    std::unique_ptr<cipher_context> context;
    if (!local.has_failed()) {
        context = std::make_unique<cipher_context>(cipher_key, iv, cipher, local);
    }
    wipe(cipher_key);
    if (local.has_failed()) {
        status = std::move(local);
        return nullptr;
    }
    return context;
}

std::string seal(session_key const& key, core::byte_array const* fixed_iv,
                 core::result::stack& status) {
    core::byte_array iv = fixed_iv != nullptr ? *fixed_iv : core::byte_array();
    EVP_CIPHER const* cipher = nullptr;
    auto const opened = open_context(key.device_key, iv, fixed_iv == nullptr, cipher, status);
    if (!opened) {
        return {};
    }
    cipher_context const& context = *opened;
    core::result::stack local;

    core::byte_array plaintext = build_plaintext(key);
    auto const block = static_cast<std::size_t>(EVP_CIPHER_get_block_size(cipher));
    core::byte_array ciphertext(plaintext.size() + block, 0);
    long long const written =
        run_cipher(context.encryption(), plaintext, ciphertext, EVP_EncryptUpdate,
                   EVP_EncryptFinal_ex, "EVP_EncryptUpdate()", "EVP_EncryptFinal_ex()", local);
    wipe(plaintext);
    if (written < 0) {
        status = std::move(local);
        return {};
    }
    ciphertext.resize(static_cast<std::size_t>(written));

    core::byte_array blob(header_size, 0);
    blob[0] = format_byte_0;
    blob[1] = format_byte_1;
    put_le64(blob, timestamp_offset,
             static_cast<std::uint64_t>(key.timestamp.to_msecs_since_epoch()));
    put_le64(blob, iv_length_offset, iv.size());
    blob.append(iv);
    blob.append(ciphertext);
    mix_nibbles(blob);
    return core::binary_encoder::encode(core::binary_encoding::base64, blob);
}

// Splits "secret FF command FF path [FF ...]" into `key`.
void split_plaintext(std::uint8_t const* begin, std::uint8_t const* end, session_key& key) {
    auto const first = std::find(begin, end, separator);
    if (first == end) {
        return;
    }
    key.secret.assign(begin, static_cast<std::size_t>(first - begin));
    auto const second = std::find(first + 1, end, separator);
    if (second == end) {
        return;
    }
    key.command.assign(first + 1, second);
    auto const third = std::find(second + 1, end, separator);
    key.path.assign(second + 1, third);
}

} // namespace

std::string encrypt_session_key(session_key const& key, core::result::stack& status) {
    return seal(key, nullptr, status);
}

namespace detail {

std::string encrypt_session_key(session_key const& key, core::byte_array const& iv,
                                core::result::stack& status) {
    return seal(key, &iv, status);
}

} // namespace detail

session_key decrypt_session_key(std::string const& text, core::byte_array const& installation_key,
                                core::result::stack& status) {
    core::byte_array blob = core::binary_decoder::decode(core::binary_encoding::base64, text);
    mix_nibbles(blob);
    if (blob.size() < 3) {
        fail(errors::invalid_session_key, text, status);
        return {};
    }
    if (blob[0] != format_byte_0 || blob[1] != format_byte_1) {
        fail(errors::invalid_session_key_version, text, status);
        return {};
    }
    // The header must be whole and the IV must lie inside the blob.
    if (blob.size() < header_size) {
        fail(errors::invalid_session_key, text, status);
        return {};
    }
    auto const msecs = static_cast<long long>(get_le64(blob, timestamp_offset));
    std::uint64_t const iv_length = get_le64(blob, iv_length_offset);
    if (iv_length > blob.size() - header_size) {
        fail(errors::invalid_session_key, text, status);
        return {};
    }
    auto const iv_end = header_size + static_cast<std::size_t>(iv_length);
    core::byte_array iv(blob.data() + header_size, static_cast<std::size_t>(iv_length));
    core::byte_array const ciphertext(blob.data() + iv_end, blob.size() - iv_end);

    EVP_CIPHER const* cipher = nullptr;
    auto const opened = open_context(installation_key, iv, false, cipher, status);
    if (!opened) {
        return {};
    }
    cipher_context const& context = *opened;
    core::result::stack local;

    auto const block = static_cast<std::size_t>(EVP_CIPHER_get_block_size(cipher));
    core::byte_array plaintext(ciphertext.size() + block, 0);
    long long const written =
        run_cipher(context.decryption(), ciphertext, plaintext, EVP_DecryptUpdate,
                   EVP_DecryptFinal_ex, "EVP_DecryptUpdate()", "EVP_DecryptFinal_ex()", local);
    if (written < 0) {
        wipe(plaintext);
        status = std::move(local);
        return {};
    }

    session_key key;
    key.timestamp = core::datetime::from_msecs_since_epoch(msecs);
    key.device_key = installation_key;
    split_plaintext(plaintext.data(), plaintext.data() + written, key);
    // The whole buffer, beyond the written bytes too.
    wipe(plaintext);
    return key;
}

} // namespace kelvra::crypto
