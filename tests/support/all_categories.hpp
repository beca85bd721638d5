#pragma once

#include "commandline/status.hpp"
#include "core/status.hpp"
#include "crypto/detail/openssl/errors.hpp"
#include "crypto/errors.hpp"
#include "crypto/status.hpp"
#include "tunnel/status.hpp"

#include <vector>

namespace kelvra::testing {

// Every status category of the program, with the size of its table.
struct category_entry {
    brano::core::v6::result::category const* category;
    int size;
};

template <class Category> category_entry entry_of() {
    return {&Category::instance(), Category::size()};
}

inline std::vector<category_entry> all_categories() {
    namespace linux_status = kelvra::crypto::status;
    return {
        entry_of<status::application_directories_category>(),
        entry_of<status::config_category>(),
        entry_of<status::load_session_category>(),
        entry_of<status::load_style_category>(),
        entry_of<status::manager_category>(),
        entry_of<status::persist_session_category>(),
        entry_of<status::settings_error_category>(),
        entry_of<status::suporte_session_category>(),
        entry_of<tunnel::status::geral_category>(),
        entry_of<tunnel::status::json_category>(),
        entry_of<crypto::errors>(),
        entry_of<crypto::detail::openssl::errors>(),
        entry_of<linux_status::device_category>(),
        entry_of<linux_status::dbus_category>(),
        entry_of<commandline::status::parser_category>(),
    };
}

} // namespace kelvra::testing
