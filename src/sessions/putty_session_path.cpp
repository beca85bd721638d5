#include "sessions/putty_session_path.hpp"

#include "core/hex_digits.hpp"

#include <QByteArray>
#include <QDir>

namespace kelvra {

namespace {

bool is_plain(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '-' || c == '.' || c == '@' || c == '_';
}

} // namespace

QString munge_session_name(QString const& name) {
    QByteArray const utf8 = name.toUtf8();
    // "." and ".." are the folder itself and its parent, never a file.
    bool const dots_only = utf8 == "." || utf8 == "..";
    QByteArray out;
    out.reserve(utf8.size() * 3);
    for (char c : utf8) {
        if (is_plain(c) && !dots_only) {
            out.append(c);
        } else {
            auto const byte = static_cast<unsigned char>(c);
            out.append('%');
            out.append(hex::upper_digit(byte >> 4));
            out.append(hex::upper_digit(byte));
        }
    }
    return QString::fromLatin1(out);
}

QString putty_session_path(QString const& name) {
    return QDir(QDir::homePath())
        .absoluteFilePath(QStringLiteral(".putty/sessions/") + munge_session_name(name));
}

} // namespace kelvra
