#include "crypto/detail/linux/read_device_number.hpp"

#include "crypto/detail/linux/set_errno_arguments.hpp"
#include "crypto/status.hpp"

#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include <fcntl.h>
#include <unistd.h>

namespace kelvra::crypto::detail::linux {

namespace core = brano::core::v6;

namespace {

// Reads a decimal int as "%d" would (leading white space, a sign, digits) and
// advances `text` past it. A text that is no number, or a number beyond the
// range of int, leaves `value` alone and returns false.
bool parse_int(char const*& text, int& value) {
    char* end = nullptr;
    errno = 0;
    long const parsed = std::strtol(text, &end, 10);
    if (end == text || errno == ERANGE || parsed < INT_MIN || parsed > INT_MAX) {
        return false;
    }
    value = static_cast<int>(parsed);
    text = end;
    return true;
}

} // namespace

device_number read_device_number(std::string const& path, core::result::stack& status) {
    int const fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        int const error = errno;
        core::result::stack local;
        set_errno_arguments(
            local.push_item(status::device_category::instance(), status::device_category::internal),
            "Ocorreu um erro ao executar a função open() com o path '" + path + "'", error);
        status = std::move(local);
        return {};
    }
    // One byte more than is read, so the text always stays terminated.
    std::array<char, 129> text{};
    ssize_t count = 0;
    do {
        count = ::read(fd, text.data(), text.size() - 1);
    } while (count < 0 && errno == EINTR);
    int const error = errno;
    ::close(fd);
    if (count < 0) {
        core::result::stack local;
        set_errno_arguments(
            local.push_item(status::device_category::instance(), status::device_category::internal),
            "Ocorreu um erro ao executar a função read()", error);
        status = std::move(local);
        return {};
    }
    device_number number;
    char const* rest = text.data();
    if (parse_int(rest, number.major) && *rest == ':') {
        ++rest;
        parse_int(rest, number.minor);
    }
    return number;
}

} // namespace kelvra::crypto::detail::linux
