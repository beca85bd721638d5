#pragma once

#include <brano/core/v6/result.hpp>

#include <QString>

#include <optional>
#include <utility>
#include <vector>

namespace kelvra::terminal {

struct rgb {
    int red = 0;
    int green = 0;
    int blue = 0;
};

// What the terminal program takes from a session's profile file.
struct terminal_profile {
    QString host;
    int port = 22;
    QString user;
    QString protocol;
    QString title;
    // NAME=VALUE pairs to send to the server, in the profile's order.
    std::vector<std::pair<QString, QString>> environment;
    std::optional<rgb> foreground;
    std::optional<rgb> background;

    // The value of KELVRA_CONNECTION_ID in the environment, or empty.
    QString connection_id() const;
};

// Reads the profile file at `path` as the launcher writes it (Qt's INI form,
// with its escapes). Fails when the file is missing, HostName is empty, the
// port is out of range, the protocol is not ssh, or the environment does not
// carry a well-formed connection id.
terminal_profile read_profile(QString const& path, brano::core::v6::result::stack& status);

// "A=1,B=2" as pairs; entries without "=" or with a name that is not a
// plain environment variable name make it fail (empty result).
std::optional<std::vector<std::pair<QString, QString>>> parse_environment(QString const& text);

// "187, 187, 187" as a colour; nothing for any other shape.
std::optional<rgb> parse_colour(QString const& text);

} // namespace kelvra::terminal
