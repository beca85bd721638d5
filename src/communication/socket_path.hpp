#pragma once

#include <QString>

namespace kelvra::communication {

// The name of the running instance's local socket.
QString server_name();

// Where the running instance listens: the server name inside the user's
// runtime folder, so that each user has an instance of their own. That folder
// is XDG_RUNTIME_DIR when it is a folder of this user's; otherwise Qt uses
// (and creates, mode 0700) a private folder "runtime-USER" in the temporary
// folder. Empty when even that one is unfit (another user's, or a symbolic
// link): then there is no single-instance exchange at all.
QString socket_path();

namespace detail {

QString socket_path(QString const& runtime_folder);

enum class socket_state {
    absent,  // nothing under that name
    ours,    // a socket owned by this user
    foreign, // anything else: another owner, not a socket, not reachable
};

// What sits at `path`, without following a symbolic link.
socket_state inspect_socket(QString const& path);

} // namespace detail

} // namespace kelvra::communication
