#include "crypto/detail/openssl/collect_openssl_errors.hpp"

#include "crypto/detail/openssl/errors.hpp"

#include <brano/core/v6/text_formatter.hpp>

#include <openssl/err.h>

#include <array>
#include <string>

namespace kelvra::crypto::detail::openssl {

namespace core = brano::core::v6;

void collect_openssl_errors(std::string_view failed_call, core::result::stack& status) {
    core::result::stack local;
    auto& item = local.push_item(errors::instance(), errors::generic);
    int index = 0;
    for (;;) {
        char const* file = nullptr;
        int line = 0;
        char const* data = nullptr;
        int flags = 0;
        unsigned long const code = ERR_get_error_all(&file, &line, nullptr, &data, &flags);
        if (code == 0) {
            break;
        }
        std::array<char, 512> text{};
        ERR_error_string_n(code, text.data(), text.size());
        using core::text_formatter;
        item.set_argument(text_formatter::format("openssl-file#{0}", index),
                          file != nullptr ? file : "");
        item.set_argument(text_formatter::format("openssl-line#{0}", index), std::to_string(line));
        item.set_argument(text_formatter::format("openssl-string#{0}", index), text.data());
        item.set_argument(text_formatter::format("openssl-library#{0}", index),
                          std::to_string(ERR_GET_LIB(code)));
        item.set_argument(text_formatter::format("openssl-reason#{0}", index),
                          std::to_string(ERR_GET_REASON(code)));
        if (data != nullptr && (flags & ERR_TXT_STRING) != 0 && *data != '\0') {
            item.set_argument(text_formatter::format("openssl-error-data#{0}", index), data);
        }
        ++index;
    }
    if (index == 0) {
        item.set_argument("description",
                          std::string(failed_call) + " failed; the OpenSSL error queue was empty");
    }
    status = std::move(local);
}

} // namespace kelvra::crypto::detail::openssl
