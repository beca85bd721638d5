#pragma once

#include <QLoggingCategory>

namespace kelvra::communication {

// "kelvra.communication": the single-instance server and its clients.
Q_DECLARE_LOGGING_CATEGORY(communication_log)

} // namespace kelvra::communication
