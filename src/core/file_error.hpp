#pragma once

#include <brano/core/v6/result.hpp>

#include <QString>

namespace kelvra {

// Describes a file failure on an item: "filename", "code" and "description".
// Callers pass QFile::fileName(), QFileDevice::error() and errorString().
void set_file_error_arguments(brano::core::v6::result::item& item, QString const& file_name,
                              unsigned code, QString const& description);

} // namespace kelvra
