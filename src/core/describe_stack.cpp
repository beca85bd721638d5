#include "core/describe_stack.hpp"

namespace kelvra {

std::string describe_stack(brano::core::v6::result::stack const& status) {
    std::string text;
    for (auto const& item : status) {
        text += item.get_category().name();
        text += ": ";
        text += item.get_message();
        text += '\n';
        for (auto const& argument : item.get_argument_range()) {
            text += "    ";
            text += argument.get_name();
            text += ": ";
            text += argument.get_value();
            text += '\n';
        }
    }
    return text;
}

} // namespace kelvra
