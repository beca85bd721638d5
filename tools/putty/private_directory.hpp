#pragma once

#include <brano/core/v6/result.hpp>

#include <string>

namespace kelvra::terminal {

// A folder only this user can enter, for the control socket and a converted
// key; removed with everything in it when the object goes.
class private_directory {
public:
    // Creates "kelvra-putty-XXXXXX" (mode 0700) below `base`.
    private_directory(std::string const& base, brano::core::v6::result::stack& status);
    ~private_directory();
    private_directory(private_directory const&) = delete;
    private_directory& operator=(private_directory const&) = delete;

    bool is_valid() const { return !path_.empty(); }
    std::string const& path() const { return path_; }
    std::string file(std::string const& name) const { return path_ + "/" + name; }

    // Removes the folder and its content now.
    void remove();

private:
    std::string path_;
};

// The folder below which private folders are made: the user's runtime folder
// when it is a private folder of this user, otherwise /tmp.
std::string private_base(char const* runtime_dir);

} // namespace kelvra::terminal
