#include "crypto/detail/linux/resolve_mapper_slaves.hpp"

#include "crypto/detail/linux/read_device_number.hpp"
#include "crypto/detail/linux/real_path.hpp"
#include "crypto/detail/linux/set_errno_arguments.hpp"
#include "crypto/detail/linux/starts_with.hpp"
#include "crypto/status.hpp"

#include <brano/core/v6/converter.hpp>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace kelvra::crypto::detail::linux {

namespace core = brano::core::v6;

namespace {

bool format_number(int number, std::string& text, core::result::stack& status) {
    std::array<char, 16> digits{};
    auto const [end, error] = std::to_chars(digits.data(), digits.data() + digits.size(), number);
    if (error != std::errc()) {
        int const code = error == std::errc::value_too_large
                             ? core::converter_result_category::out_of_range
                             : core::converter_result_category::invalid_number;
        core::result::stack local;
        auto& item = local.push_item(core::converter_result_category::instance(), code);
        core::converter_result_category::instance().create(item, code);
        status = std::move(local);
        return false;
    }
    text.assign(digits.data(), end);
    return true;
}

struct directory_closer {
    void operator()(DIR* directory) const noexcept { ::closedir(directory); }
};

} // namespace

std::vector<block_device> resolve_mapper_slaves(std::string const& source_path,
                                                system_paths const& paths,
                                                core::result::stack& status) {
    core::result::stack local;
    std::string const mapped = real_path(source_path, local);
    if (local.has_failed()) {
        status = std::move(local);
        return {};
    }
    if (!starts_with(mapped, paths.dev) || mapped.size() <= paths.dev.size() + 1) {
        local.push_item(status::device_category::instance(), status::device_category::invalid_path)
            .set_argument("source-path", source_path);
        status = std::move(local);
        return {};
    }
    // "/dev/dm-0/" -> "dm-0"
    std::string const name = mapped.substr(paths.dev.size(), mapped.size() - paths.dev.size() - 1);
    device_number const number = read_device_number(paths.sys_block + name + "/dev", local);
    if (local.has_failed()) {
        status = std::move(local);
        return {};
    }
    std::string major;
    std::string minor;
    if (!format_number(number.major, major, status) ||
        !format_number(number.minor, minor, status)) {
        return {};
    }

    std::string const slaves_path = paths.sys_dev_block + major + ":" + minor + "/slaves/";
    std::vector<std::string> names;
    {
        std::unique_ptr<DIR, directory_closer> const directory(::opendir(slaves_path.c_str()));
        if (!directory) {
            int const error = errno;
            set_errno_arguments(local.push_item(status::device_category::instance(),
                                                status::device_category::internal),
                                "Ocorreu um erro ao executar a função opendir com o path '" +
                                    slaves_path + "'",
                                error);
            status = std::move(local);
            return {};
        }
        int const directory_fd = ::dirfd(directory.get());
        while (dirent const* entry = ::readdir(directory.get())) {
            if (entry->d_type != DT_DIR && entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN) {
                continue;
            }
            if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) {
                continue;
            }
            // Partitions have a "start" attribute; whole disks do not.
            std::string const start = std::string(entry->d_name) + "/start";
            if (::faccessat(directory_fd, start.c_str(), R_OK, 0) != 0) {
                continue;
            }
            names.emplace_back(entry->d_name);
        }
    }
    std::sort(names.begin(), names.end());

    std::vector<block_device> slaves;
    slaves.reserve(names.size());
    for (auto const& slave : names) {
        std::string const folder = real_path(slaves_path + slave, local);
        if (local.has_failed()) {
            status = std::move(local);
            return {};
        }
        device_number const slave_number = read_device_number(folder + "dev", local);
        if (local.has_failed()) {
            status = std::move(local);
            return {};
        }
        slaves.push_back({::makedev(static_cast<unsigned>(slave_number.major),
                                    static_cast<unsigned>(slave_number.minor)),
                          slave});
    }
    return slaves;
}

} // namespace kelvra::crypto::detail::linux
