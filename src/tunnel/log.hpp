#pragma once

#include <QLoggingCategory>

namespace kelvra::tunnel {

// Internal messages of the tunnel server ("kelvra.tunnel").
Q_DECLARE_LOGGING_CATEGORY(tunnel_log)

} // namespace kelvra::tunnel
