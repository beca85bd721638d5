#pragma once

#include "commandline/parser.hpp"

#include <QString>

namespace kelvra::commandline {

// Kelvra's command line: "load" and its synonym "open-connection" name a
// saved session to open at once; "auto-open-connection" opens every session
// marked for automatic start.
class arguments {
public:
    arguments();

    void parse(int argc, char** argv, brano::core::v6::result::stack& status);
    bool session_requested() const;
    // The session named by "load", else by "open-connection"; a null text
    // when neither was given.
    QString session_name() const;
    bool has_option(option const& opt) const { return parser_.has_option(opt); }

    parser parser_;
    option const load;
    option const open_connection;
    option const auto_open_connection;
};

} // namespace kelvra::commandline
