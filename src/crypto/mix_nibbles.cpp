#include "crypto/mix_nibbles.hpp"

namespace kelvra::crypto {

void mix_nibbles(brano::core::v6::byte_array& bytes) noexcept {
    std::size_t const half = bytes.size() / 2;
    auto* data = bytes.data();
    for (std::size_t i = 0; i < half; ++i) {
        auto& a = data[i];
        auto& b = data[half + i];
        auto const low_a = static_cast<std::uint8_t>(a & 0x0f);
        a = static_cast<std::uint8_t>((a & 0xf0) | (b & 0x0f));
        b = static_cast<std::uint8_t>((b & 0xf0) | low_a);
    }
}

} // namespace kelvra::crypto
