#pragma once

#include "crypto/detail/linux/namespace.hpp"

#include <brano/core/v6/result.hpp>

#include <mutex>
#include <string>
#include <vector>

namespace kelvra::crypto::detail::linux {

// A value that travels in a property read: a string or an object path. The
// kind is the D-Bus type code ('s' 115, 'o' 111); a variant that held
// anything else keeps that type's code and no text.
struct dbus_value {
    enum kind : int { string = 's', object_path = 'o' };

    int type = string;
    std::string text;
};

// One method call: where it goes and its arguments.
struct dbus_method_call {
    std::string destination;
    std::string path;
    std::string interface;
    std::string method;
    std::vector<dbus_value> arguments;
};

// The lock held around every D-Bus exchange of the process.
std::mutex& dbus_mutex();

// Sends `call` on the system bus and returns the value of the variant it
// answers with. Waits at most 100 ms for the reply.
dbus_value dbus_call_property(dbus_method_call const& call, brano::core::v6::result::stack& status);

// The text of `value` when it is of the `expected` kind; otherwise reports
// `dbus_category` code 4 and returns an empty text.
std::string dbus_value_text(dbus_value const& value, dbus_value::kind expected,
                            brano::core::v6::result::stack& status);

// A name made fit for one element of a D-Bus object path the way UDisks2
// names its objects: letters, digits and "_" stay, every other byte becomes
// "_" and two lower-case hex digits ("dm-0" -> "dm_2d0").
std::string escape_object_path_element(std::string const& name);

} // namespace kelvra::crypto::detail::linux
