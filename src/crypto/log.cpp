#include "crypto/log.hpp"

namespace kelvra::crypto {

Q_LOGGING_CATEGORY(log, "kelvra.crypto")

} // namespace kelvra::crypto
