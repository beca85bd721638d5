#include "core/installation_config.hpp"

#include "core/application_directory.hpp"
#include "core/file_error.hpp"
#include "core/json_document.hpp"
#include "core/status.hpp"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <limits>

namespace kelvra {

namespace result = brano::core::v6::result;

namespace {

// The identity file holds two short members; more is not a configuration.
constexpr qint64 max_config_size = 1024 * 1024;

// The integer part of a JSON number, truncated toward zero and kept within
// the range of the field.
std::int64_t integer_part(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    double const truncated = std::trunc(value);
    if (truncated >= 9223372036854775807.0) {
        return std::numeric_limits<std::int64_t>::max();
    }
    if (truncated <= -9223372036854775808.0) {
        return std::numeric_limits<std::int64_t>::min();
    }
    return static_cast<std::int64_t>(truncated);
}

} // namespace

installation_config installation_config::load(QString const& executable_dir) {
    installation_config config;
    QDir const etc =
        detail::application_directory(executable_dir, QStringLiteral("etc"), config.status);
    if (config.status.has_failed()) {
        return config;
    }

    QFile file(QDir::toNativeSeparators(etc.filePath(QStringLiteral("config.json"))));
    if (!file.open(QIODevice::ReadOnly)) {
        result::stack failure;
        set_file_error_arguments(failure.push_item(status::persist_session_category::instance(),
                                                   status::persist_session_category::file_error),
                                 file.fileName(), static_cast<unsigned>(file.error()),
                                 file.errorString());
        config.status = std::move(failure);
        return config;
    }

    // A malformed file is no failure: the fields keep their defaults.
    QJsonObject const object =
        parse_json_file(file.read(max_config_size)).value_or(QJsonDocument()).object();
    QJsonValue const codigo = object.value(QStringLiteral("codigo"));
    if (codigo.isDouble()) {
        config.codigo = integer_part(codigo.toDouble());
    }
    QJsonValue const nome_fantasia = object.value(QStringLiteral("nomeFantasia"));
    if (nome_fantasia.isString()) {
        config.nome_fantasia = nome_fantasia.toString();
    }
    return config;
}

installation_config const& installation_config::get() {
    static installation_config const config = load(QCoreApplication::applicationDirPath());
    return config;
}

} // namespace kelvra
