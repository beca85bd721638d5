#include "crypto/log.hpp"

namespace kelvra::crypto {

// Debug lines are off unless QT_LOGGING_RULES turns them on.
Q_LOGGING_CATEGORY(log, "kelvra.crypto", QtInfoMsg)

} // namespace kelvra::crypto
