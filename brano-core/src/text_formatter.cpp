#include <brano/core/v6/text_formatter.hpp>

#include <cctype>

namespace brano::core::v6 {

std::string text_formatter::format(std::string_view pattern,
                                   std::vector<std::string> const& values) {
    std::string out;
    out.reserve(pattern.size());
    std::size_t i = 0;
    while (i < pattern.size()) {
        if (pattern[i] == '{') {
            std::size_t j = i + 1;
            std::size_t index = 0;
            bool digits = false;
            while (j < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[j])) &&
                   index < values.size() + 1) {
                index = index * 10 + static_cast<std::size_t>(pattern[j] - '0');
                digits = true;
                ++j;
            }
            if (digits && j < pattern.size() && pattern[j] == '}' && index < values.size()) {
                out += values[index];
                i = j + 1;
                continue;
            }
        }
        out += pattern[i];
        ++i;
    }
    return out;
}

} // namespace brano::core::v6
