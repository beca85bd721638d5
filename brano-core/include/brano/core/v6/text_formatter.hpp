#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace brano::core {
inline namespace v6 {

// Substitutes {0}, {1}, ... placeholders with the given values.
// A placeholder without a value, and any other brace, stays as written.
class text_formatter {
public:
    static std::string format(std::string_view pattern, std::vector<std::string> const& values);

    template <class... Values>
    static std::string format(std::string_view pattern, Values const&... values) {
        return format(pattern, std::vector<std::string>{to_text(values)...});
    }

private:
    static std::string to_text(std::string const& value) { return value; }
    static std::string to_text(char const* value) { return value; }
    static std::string to_text(std::string_view value) { return std::string(value); }
    template <class Number> static std::string to_text(Number value) {
        return std::to_string(value);
    }
};

} // namespace v6
} // namespace brano::core
