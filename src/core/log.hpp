#pragma once

#include <QLoggingCategory>

namespace kelvra {

// Debug lines of start-up; turn them on with QT_LOGGING_RULES="kelvra.core=true".
Q_DECLARE_LOGGING_CATEGORY(core_log)

} // namespace kelvra
