#pragma once

#include <QLoggingCategory>

namespace kelvra::crypto {

// Debug lines of the session key encryption and the installation identity.
// Never carries secrets, keys or session key texts.
Q_DECLARE_LOGGING_CATEGORY(log)

} // namespace kelvra::crypto
