#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace brano::core {
inline namespace v6 {

// A growable sequence of bytes.
class byte_array {
public:
    using value_type = std::uint8_t;
    using iterator = std::vector<value_type>::iterator;
    using const_iterator = std::vector<value_type>::const_iterator;

    byte_array() = default;
    explicit byte_array(std::string_view text);
    byte_array(value_type const* data, std::size_t size);
    byte_array(std::size_t size, value_type value);
    byte_array(std::initializer_list<value_type> bytes);
    byte_array(byte_array const&) = default;
    byte_array(byte_array&&) noexcept = default;
    byte_array& operator=(byte_array const&) = default;
    byte_array& operator=(byte_array&&) noexcept = default;
    ~byte_array() = default;

    byte_array& append(byte_array const& other);
    byte_array& append(value_type const* data, std::size_t size);
    byte_array& append(std::string_view text);
    byte_array& assign(value_type const* data, std::size_t size);
    byte_array& assign(std::string_view text);
    iterator insert(const_iterator position, value_type value);
    iterator insert(const_iterator position, value_type const* first, value_type const* last);
    void push_back(value_type value) { bytes_.push_back(value); }
    void resize(std::size_t size) { bytes_.resize(size); }
    void clear() noexcept { bytes_.clear(); }

    std::size_t size() const noexcept { return bytes_.size(); }
    bool empty() const noexcept { return bytes_.empty(); }
    value_type* data() noexcept { return bytes_.data(); }
    value_type const* data() const noexcept { return bytes_.data(); }
    value_type& operator[](std::size_t index) { return bytes_[index]; }
    value_type const& operator[](std::size_t index) const { return bytes_[index]; }

    iterator begin() noexcept { return bytes_.begin(); }
    iterator end() noexcept { return bytes_.end(); }
    const_iterator begin() const noexcept { return bytes_.begin(); }
    const_iterator end() const noexcept { return bytes_.end(); }

    // The bytes as a text of the same bytes.
    std::string to_string() const;

    friend bool operator==(byte_array const& a, byte_array const& b) {
        return a.bytes_ == b.bytes_;
    }
    friend bool operator!=(byte_array const& a, byte_array const& b) { return !(a == b); }

private:
    std::vector<value_type> bytes_;
};

} // namespace v6
} // namespace brano::core
