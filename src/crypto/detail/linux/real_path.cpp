#include "crypto/detail/linux/real_path.hpp"

#include "crypto/detail/linux/set_errno_arguments.hpp"
#include "crypto/status.hpp"

#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>

namespace kelvra::crypto::detail::linux {

namespace core = brano::core::v6;

std::string real_path(std::string const& path, core::result::stack& status) {
    static_assert(PATH_MAX == 4096, "realpath() writes up to PATH_MAX bytes");
    std::array<char, PATH_MAX> resolved{};
    if (::realpath(path.c_str(), resolved.data()) == nullptr) {
        int const error = errno;
        core::result::stack local;
        set_errno_arguments(
            local.push_item(status::device_category::instance(), status::device_category::internal),
            "Ocorreu um erro ao executar a função realpath com o path '" + path + "'", error);
        status = std::move(local);
        return {};
    }
    std::string result(resolved.data());
    if (result.empty() || result.back() != '/') {
        result.push_back('/');
    }
    return result;
}

} // namespace kelvra::crypto::detail::linux
