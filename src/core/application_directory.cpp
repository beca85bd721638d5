#include "core/application_directory.hpp"

#include "core/status.hpp"

#include <QCoreApplication>

namespace kelvra {

namespace result = brano::core::v6::result;

namespace {

QDir report_missing(QString const& path, result::stack& status) {
    result::stack failure;
    failure
        .push_item(status::application_directories_category::instance(),
                   status::application_directories_category::directory_not_found)
        .set_argument("path", QDir::toNativeSeparators(path).toStdString());
    status = std::move(failure);
    return QDir(QString());
}

} // namespace

namespace detail {

QDir application_directory(QString const& executable_dir, QString const& name,
                           result::stack& status) {
    QDir dir(executable_dir);
    if (!dir.cdUp()) {
        return report_missing(executable_dir + QStringLiteral("/.."), status);
    }
    QString const root = dir.path();
    if (!dir.cd(name)) {
        return report_missing(root + QLatin1Char('/') + name, status);
    }
    return dir;
}

QDir sessions_directory(QString const& executable_dir, result::stack& status) {
    QDir var = application_directory(executable_dir, QStringLiteral("var"), status);
    if (status.has_failed()) {
        return var;
    }
    QString const var_path = var.path();
    if (!var.cd(QStringLiteral("sessions"))) {
        return report_missing(var_path + QStringLiteral("/sessions"), status);
    }
    return var;
}

} // namespace detail

QDir application_directory(QString const& name, result::stack& status) {
    return detail::application_directory(QCoreApplication::applicationDirPath(), name, status);
}

QDir sessions_directory(result::stack& status) {
    return detail::sessions_directory(QCoreApplication::applicationDirPath(), status);
}

} // namespace kelvra
