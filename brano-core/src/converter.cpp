#include <brano/core/v6/converter.hpp>

namespace brano::core::v6 {

converter_result_category const& converter_result_category::instance() {
    static converter_result_category const category;
    return category;
}

char const* converter_result_category::name() const noexcept {
    return "brano-core-converter";
}

char const* converter_result_category::message(int code) const {
    switch (code) {
    case invalid_number:
        return "O texto informado não é um número válido";
    case out_of_range:
        return "O número informado está fora do intervalo permitido";
    default:
        show_invalid_value_message_and_exit(code);
    }
}

void converter_result_category::create(result::item& item, int code) const {
    switch (code) {
    case invalid_number:
        item.set_argument("description", "text is not a valid number");
        break;
    case out_of_range:
        item.set_argument("description", "number is out of range");
        break;
    default:
        show_invalid_value_message_and_exit(code);
    }
}

} // namespace brano::core::v6
