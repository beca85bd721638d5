#include "core/file_error.hpp"

#include "core/secure_memory.hpp"

#include <QByteArray>

namespace kelvra {

void set_file_error_arguments(brano::core::v6::result::item& item, QString const& file_name,
                              unsigned code, QString const& description) {
    // File names may carry session names; the copies made on the way are
    // wiped before their memory goes back.
    QByteArray name = file_name.toUtf8();
    QByteArray text = description.toUtf8();
    std::string name_text = name.toStdString();
    std::string description_text = text.toStdString();
    item.set_argument("filename", name_text);
    item.set_argument("code", std::to_string(code));
    item.set_argument("description", description_text);
    wipe(name);
    wipe(text);
    wipe(name_text);
    wipe(description_text);
}

} // namespace kelvra
