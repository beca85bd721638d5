#include "tunnel/log.hpp"

namespace kelvra::tunnel {

// Debug lines are off unless QT_LOGGING_RULES turns them on ("kelvra.tunnel.debug=true").
Q_LOGGING_CATEGORY(tunnel_log, "kelvra.tunnel", QtInfoMsg)

} // namespace kelvra::tunnel
