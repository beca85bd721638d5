#include "core/derive_support_password.hpp"

#include "core/status.hpp"
#include "core/support_code.hpp"

namespace kelvra {

namespace result = brano::core::v6::result;

std::string derive_support_password(std::string_view code, std::int64_t client_code,
                                    result::stack& status) {
    std::optional<std::string> password = support_code::support_password(code, client_code);
    if (!password) {
        result::stack failure;
        failure
            .push_item(status::suporte_session_category::instance(),
                       status::suporte_session_category::generation_failed)
            .set_argument("description", support_code::find_code_fault(code) ==
                                                 support_code::code_fault::wrong_length
                                             ? "wrong code length"
                                             : "wrong check character");
        status = std::move(failure);
        return {};
    }
    return std::move(*password);
}

} // namespace kelvra
