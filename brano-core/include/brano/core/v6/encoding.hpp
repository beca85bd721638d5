#pragma once

#include <brano/core/v6/byte_array.hpp>

#include <string>

namespace brano::core {
inline namespace v6 {

// Text encodings for binary data.
enum class binary_encoding : int {
    // Standard base64 (RFC 4648 alphabet, with padding): plain ASCII that
    // fits a JSON string and a command-line argument.
    base64 = 1,
};

class binary_encoder {
public:
    // Empty text for an encoding that is not known.
    static std::string encode(binary_encoding encoding, byte_array const& bytes);
};

class binary_decoder {
public:
    // Empty bytes for text that is not valid in the encoding.
    static byte_array decode(binary_encoding encoding, std::string const& text);
};

} // namespace v6
} // namespace brano::core
