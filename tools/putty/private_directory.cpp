#include "private_directory.hpp"

#include "terminal_status.hpp"

#include <cerrno>
#include <cstring>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvra::terminal {

namespace result = brano::core::v6::result;

using status::terminal_category;

private_directory::private_directory(std::string const& base, result::stack& status) {
    std::string pattern = base + "/kelvra-putty-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) == nullptr) {
        int const error = errno;
        result::stack failure;
        auto& item = failure.push_item(terminal_category::instance(),
                                       terminal_category::private_directory_failed);
        item.set_argument("path", pattern);
        item.set_argument("errno-code", std::to_string(error));
        item.set_argument("description", std::strerror(error));
        status = std::move(failure);
        return;
    }
    path_ = buffer.data();
}

private_directory::~private_directory() {
    remove();
}

void private_directory::remove() {
    if (path_.empty()) {
        return;
    }
    // Only plain entries are ever made here: files and the socket.
    if (DIR* dir = ::opendir(path_.c_str())) {
        while (dirent const* entry = ::readdir(dir)) {
            std::string const name = entry->d_name;
            if (name != "." && name != "..") {
                ::unlink(file(name).c_str());
            }
        }
        ::closedir(dir);
    }
    ::rmdir(path_.c_str());
    path_.clear();
}

std::string private_base(char const* runtime_dir) {
    if (runtime_dir != nullptr && runtime_dir[0] == '/') {
        struct stat info {};
        if (::stat(runtime_dir, &info) == 0 && S_ISDIR(info.st_mode) &&
            info.st_uid == ::geteuid() && (info.st_mode & 077) == 0) {
            return runtime_dir;
        }
    }
    return "/tmp";
}

} // namespace kelvra::terminal
