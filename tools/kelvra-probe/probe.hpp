#pragma once

// The request and its exchange over the forwarded tunnel. Standard library
// and POSIX only.

#include <cstdint>
#include <string>

namespace kelvra::probe {

inline constexpr int exit_reply = 0;
inline constexpr int exit_error_reply = 1;
inline constexpr int exit_unreachable = 2;
inline constexpr int exit_bad_reply = 3;

// The largest reply accepted, as the tunnel bounds its messages.
inline constexpr std::uint32_t max_message = 104857600;

struct request {
    std::string connection_id;
    std::string kind;
    int version = 1;
};

// Lower-case hex digits only (the id names a file on the server).
bool is_connection_id(std::string const& id);

// Where the terminal program's forward listens for a connection id.
std::string socket_path(std::string const& connection_id);

// The text as a JSON string, quotes included.
std::string json_string(std::string const& text);

// The request as compact JSON.
std::string request_json(request const& r);

// 4-byte big-endian length, then the text.
std::string frame(std::string const& body);

// Checks that `json` is one JSON object and gives the string value of its
// top-level member `name` (empty when it has none or it is not a string).
bool top_level_string(std::string const& json, std::string const& name, std::string& value);

// Connects to `path`, sends the request, reads one reply within
// `timeout_ms`. Returns the exit status; the reply text goes to `reply`, a
// description of what went wrong to `error`.
int exchange(std::string const& path, request const& r, int timeout_ms, std::string& reply,
             std::string& error);

} // namespace kelvra::probe
