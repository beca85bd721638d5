#include "core/log.hpp"

namespace kelvra {

Q_LOGGING_CATEGORY(core_log, "kelvra.core", QtInfoMsg)

} // namespace kelvra
