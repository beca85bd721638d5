#include "interface/preferences/style.hpp"

#include "core/status.hpp"

#include <QApplication>
#include <QFile>
#include <QTextStream>

namespace kelvra::interface::preferences {

namespace result = brano::core::v6::result;
using load_style_status = status::load_style_category;

char const light_style_path[] = ":qdarkstyle/light/lightstyle.qss";
char const dark_style_path[] = ":qdarkstyle/dark/darkstyle.qss";

namespace {

void fail(int code, QString const& path, result::stack& status) {
    result::stack failure;
    failure.push_item(load_style_status::instance(), code)
        .set_argument("Arquivo", path.toStdString());
    status = std::move(failure);
}

} // namespace

void load_style(QString const& path, result::stack& status) {
    if (!QFile::exists(path)) {
        fail(load_style_status::file_not_found, path, status);
        return;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        fail(load_style_status::cannot_open, path, status);
        return;
    }
    QTextStream stream(&file);
    stream.setCodec("UTF-8");
    qApp->setStyleSheet(stream.readAll());
}

void load_dark_style(result::stack& status) {
    load_style(QString::fromLatin1(dark_style_path), status);
}

void apply_theme(theme value, result::stack& status) {
    if (value == theme::light) {
        load_style(QString::fromLatin1(light_style_path), status);
    } else {
        load_dark_style(status);
    }
}

void load_stored_appearance(result::stack& status) {
    load_appearance(current_theme(), status);
    if (status.has_failed()) {
        return;
    }
    apply_theme(current_theme(), status);
}

} // namespace kelvra::interface::preferences
