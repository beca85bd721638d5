#include "interface/preferences/appearance.hpp"

#include "core/application_directory.hpp"
#include "core/json_document.hpp"
#include "core/status.hpp"

#include <brano/core/v6/converter.hpp>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <optional>

namespace kelvra::interface::preferences {

namespace result = brano::core::v6::result;
using config = status::config_category;

namespace {

// One short member; a larger file is no appearance file.
constexpr qint64 max_file_size = 64 * 1024;

QString const file_name = QStringLiteral("interface.json");
QString const member = QStringLiteral("aparencia");

void fail(int code, char const* argument, char const* value, result::stack& status) {
    result::stack failure;
    failure.push_item(config::instance(), code).set_argument(argument, value);
    status = std::move(failure);
}

void fail_out_of_range(result::stack& status) {
    auto const& category = brano::core::v6::converter_result_category::instance();
    int const code = brano::core::v6::converter_result_category::out_of_range;
    result::stack failure;
    category.create(failure.push_item(category, code), code);
    status = std::move(failure);
}

std::optional<theme> theme_from_text(QString const& text) {
    if (text == QLatin1String("light")) {
        return theme::light;
    }
    if (text == QLatin1String("dark")) {
        return theme::dark;
    }
    if (text == QLatin1String("autodetect")) {
        return theme::autodetect;
    }
    return std::nullopt;
}

QString text_of(theme value) {
    switch (value) {
    case theme::light:
        return QStringLiteral("light");
    case theme::dark:
        return QStringLiteral("dark");
    case theme::autodetect:
        return QStringLiteral("autodetect");
    }
    return {};
}

// etc/interface.json in native separators, or empty after a failure.
QString file_path(QString const& executable_dir, result::stack& status) {
    QDir const etc =
        kelvra::detail::application_directory(executable_dir, QStringLiteral("etc"), status);
    if (status.has_failed()) {
        return {};
    }
    return QDir::toNativeSeparators(etc.path() + QLatin1Char('/') + file_name);
}

} // namespace

theme& current_theme() {
    static theme value = theme::autodetect;
    return value;
}

void load_appearance(theme& value, result::stack& status) {
    detail::load_appearance(QCoreApplication::applicationDirPath(), value, status);
}

void save_appearance(theme const& value, result::stack& status) {
    detail::save_appearance(QCoreApplication::applicationDirPath(), value, status);
}

namespace detail {

void load_appearance(QString const& executable_dir, theme& value, result::stack& status) {
    QString const path = file_path(executable_dir, status);
    if (status.has_failed()) {
        return;
    }
    if (!QFileInfo::exists(path)) {
        save_appearance(executable_dir, value, status);
        if (status.has_failed()) {
            return;
        }
    }

    // Opened for writing too: a file the program could not replace later is
    // reported now.
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite)) {
        fail(config::cannot_open, "arquivo", "interface.json", status);
        return;
    }
    std::optional<QJsonDocument> const document = parse_json_file(file.read(max_file_size));
    if (!document || document->isNull()) {
        fail(config::cannot_read, "arquivo", "interface.json", status);
        return;
    }
    QJsonObject const object = document->object();
    if (!object.contains(member)) {
        fail(config::element_not_found, "elemento", "aparencia", status);
        return;
    }
    QJsonValue const text = object.value(member);
    if (!text.isString()) {
        fail(config::unexpected_value, "campo", "aparencia", status);
        return;
    }
    std::optional<theme> const stored = theme_from_text(text.toString());
    if (!stored) {
        fail_out_of_range(status);
        return;
    }
    value = *stored;
}

void save_appearance(QString const& executable_dir, theme const& value, result::stack& status) {
    QString const text = text_of(value);
    if (text.isEmpty()) {
        fail_out_of_range(status);
        return;
    }
    QString const path = file_path(executable_dir, status);
    if (status.has_failed()) {
        return;
    }

    // The new content goes to a temporary file that replaces the old one
    // only once it is complete. QSaveFile refuses an existing file that this
    // process may not write, as an in-place write would.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        fail(config::cannot_open, "arquivo", "interface.json", status);
        return;
    }
    // The explicit flush matters: QSaveFile::commit() misses a failure of
    // the final flush of its buffer, and would put a cut-off file in place.
    // Not committed, the temporary file goes with `file`.
    QByteArray const content = QJsonDocument(QJsonObject{{member, text}}).toJson();
    if (file.write(content) != content.size() || !file.flush() || !file.commit()) {
        fail(config::cannot_write, "arquivo", "interface.json", status);
    }
}

} // namespace detail

} // namespace kelvra::interface::preferences
