#include "crypto/detail/linux/set_errno_arguments.hpp"

#include <array>
#include <charconv>

namespace kelvra::crypto::detail::linux {

void set_errno_arguments(brano::core::v6::result::item& item, std::string const& description,
                         int errno_code) {
    std::array<char, 16> text{};
    auto const [end, error] = std::to_chars(text.data(), text.data() + text.size(), errno_code);
    item.set_argument("description", description);
    item.set_argument("errno-code",
                      error == std::errc() ? std::string(text.data(), end) : std::string("unknow"));
}

} // namespace kelvra::crypto::detail::linux
