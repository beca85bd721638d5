#include "connections/log.hpp"

namespace kelvra {

Q_LOGGING_CATEGORY(connections_log, "kelvra.connections", QtInfoMsg)

} // namespace kelvra
