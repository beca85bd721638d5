#pragma once

#include <QLoggingCategory>

namespace kelvra {

// Debug lines of the launcher and the profile writer; turn them on with
// QT_LOGGING_RULES="kelvra.connections=true".
Q_DECLARE_LOGGING_CATEGORY(connections_log)

} // namespace kelvra
