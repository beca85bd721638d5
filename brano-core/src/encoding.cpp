#include <brano/core/v6/encoding.hpp>

#include <QByteArray>

#include <limits>

namespace brano::core::v6 {

std::string binary_encoder::encode(binary_encoding encoding, byte_array const& bytes) {
    if (encoding != binary_encoding::base64 ||
        bytes.size() > static_cast<std::size_t>(std::numeric_limits<int>::max() / 2)) {
        return {};
    }
    QByteArray const raw = QByteArray::fromRawData(reinterpret_cast<char const*>(bytes.data()),
                                                   static_cast<int>(bytes.size()));
    return raw.toBase64().toStdString();
}

byte_array binary_decoder::decode(binary_encoding encoding, std::string const& text) {
    if (encoding != binary_encoding::base64 ||
        text.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        return {};
    }
    auto const decoded = QByteArray::fromBase64Encoding(
        QByteArray::fromRawData(text.data(), static_cast<int>(text.size())),
        QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded) {
        return {};
    }
    return byte_array(reinterpret_cast<byte_array::value_type const*>(decoded.decoded.constData()),
                      static_cast<std::size_t>(decoded.decoded.size()));
}

} // namespace brano::core::v6
