#include <brano/core/v6/byte_array.hpp>

namespace brano::core::v6 {

byte_array::byte_array(std::string_view text) {
    assign(text);
}

byte_array::byte_array(value_type const* data, std::size_t size) {
    assign(data, size);
}

byte_array::byte_array(std::size_t size, value_type value) : bytes_(size, value) {}

byte_array::byte_array(std::initializer_list<value_type> bytes) : bytes_(bytes) {}

byte_array& byte_array::append(byte_array const& other) {
    bytes_.insert(bytes_.end(), other.bytes_.begin(), other.bytes_.end());
    return *this;
}

byte_array& byte_array::append(value_type const* data, std::size_t size) {
    if (size != 0) {
        bytes_.insert(bytes_.end(), data, data + size);
    }
    return *this;
}

byte_array& byte_array::append(std::string_view text) {
    auto const* first = reinterpret_cast<value_type const*>(text.data());
    return append(first, text.size());
}

byte_array& byte_array::assign(value_type const* data, std::size_t size) {
    bytes_.clear();
    return append(data, size);
}

byte_array& byte_array::assign(std::string_view text) {
    bytes_.clear();
    return append(text);
}

byte_array::iterator byte_array::insert(const_iterator position, value_type value) {
    return bytes_.insert(position, value);
}

byte_array::iterator byte_array::insert(const_iterator position, value_type const* first,
                                        value_type const* last) {
    return bytes_.insert(position, first, last);
}

std::string byte_array::to_string() const {
    return std::string(reinterpret_cast<char const*>(bytes_.data()), bytes_.size());
}

} // namespace brano::core::v6
