#include "communication/log.hpp"

namespace kelvra::communication {

Q_LOGGING_CATEGORY(communication_log, "kelvra.communication")

} // namespace kelvra::communication
