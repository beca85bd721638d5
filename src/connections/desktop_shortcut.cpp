#include "connections/desktop_shortcut.hpp"

#include "core/application_directory.hpp"
#include "core/file_error.hpp"
#include "core/status.hpp"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace kelvra {

namespace result = brano::core::v6::result;

namespace {

QString const lnk_suffix = QStringLiteral(".lnk");
QString const desktop_suffix = QStringLiteral(".desktop");

// A value of a Desktop Entry string key: line breaks, tabs and backslashes
// escaped.
QString escape_value(QString const& text) {
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        switch (c.unicode()) {
        case '\\':
            out += QStringLiteral("\\\\");
            break;
        case '\n':
            out += QStringLiteral("\\n");
            break;
        case '\r':
            out += QStringLiteral("\\r");
            break;
        case '\t':
            out += QStringLiteral("\\t");
            break;
        default:
            out += c;
        }
    }
    return out;
}

// The value of the "-load" argument without the double quotes around it.
QString unquoted(QString const& value) {
    if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) &&
        value.endsWith(QLatin1Char('"'))) {
        return value.mid(1, value.size() - 2);
    }
    return value;
}

} // namespace

shortcut_description describe_session_shortcut(QString const& session_name) {
    shortcut_description d;
    d.target = QCoreApplication::applicationFilePath();
    // A slash cannot stand in a file name; it would put the shortcut in a
    // folder of its own. It becomes "%2F", and a percent sign "%25", so that
    // every session name keeps a launcher file of its own.
    QString file_name = session_name;
    file_name.replace(QLatin1Char('%'), QStringLiteral("%25"));
    file_name.replace(QLatin1Char('/'), QStringLiteral("%2F"));
    d.shortcut_file = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation) +
                      QLatin1Char('/') + file_name + lnk_suffix;
    d.working_directory = QCoreApplication::applicationDirPath();
    d.arguments.push_back(
        {QStringLiteral("-load"), QLatin1Char('"') + session_name + QLatin1Char('"'), true});
    return d;
}

namespace detail {

QString quote_exec_argument(QString const& argument) {
    // Inside double quotes, the characters ", `, $ and \ take a backslash;
    // a literal % is written %%. The whole line is then a string value,
    // whose own escaping doubles every backslash again.
    QString quoted = QStringLiteral("\"");
    for (QChar c : argument) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
            c == QLatin1Char('\\')) {
            quoted += QLatin1Char('\\');
        }
        if (c == QLatin1Char('%')) {
            quoted += QLatin1Char('%');
        }
        quoted += c;
    }
    quoted += QLatin1Char('"');
    return quoted;
}

QString desktop_entry_path(shortcut_description const& description) {
    QString path = description.shortcut_file;
    if (path.endsWith(lnk_suffix)) {
        path.chop(lnk_suffix.size());
    }
    return path + desktop_suffix;
}

QByteArray desktop_entry(shortcut_description const& description, QString const& icon) {
    QString name = QFileInfo(desktop_entry_path(description)).completeBaseName();
    QStringList exec{quote_exec_argument(description.target)};
    for (shortcut_argument const& a : description.arguments) {
        if (a.name == QStringLiteral("-load") && a.has_value) {
            name = unquoted(a.value);
        }
        // "-load" becomes the long option Linux users know, with its value in
        // the same argument: the command line then reads a name that starts
        // with "-" or holds "=" whole.
        QString const option =
            a.name == QStringLiteral("-load") ? QStringLiteral("--load") : a.name;
        exec << quote_exec_argument(a.has_value ? option + QLatin1Char('=') + unquoted(a.value)
                                                : option);
    }
    QString text = QStringLiteral("[Desktop Entry]\n"
                                  "Type=Application\n"
                                  "Version=1.0\n");
    text += QStringLiteral("Name=") + escape_value(name) + QLatin1Char('\n');
    text += QStringLiteral("Comment=") + escape_value(QStringLiteral("Abre a sessão ") + name) +
            QLatin1Char('\n');
    text += QStringLiteral("Exec=") + escape_value(exec.join(QLatin1Char(' '))) + QLatin1Char('\n');
    text +=
        QStringLiteral("Path=") + escape_value(description.working_directory) + QLatin1Char('\n');
    if (!icon.isEmpty()) {
        text += QStringLiteral("Icon=") + escape_value(icon) + QLatin1Char('\n');
    }
    text += QStringLiteral("Terminal=false\n");
    return text.toUtf8();
}

} // namespace detail

void write_shortcut(shortcut_description const& description, result::stack& status) {
    result::stack local;
    QDir const root = application_directory(QStringLiteral("."), local);
    QString const icon = local.has_failed()
                             ? QString()
                             : root.absoluteFilePath(QStringLiteral("share/icons/kelvra.svg"));

    QString const path = detail::desktop_entry_path(description);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    QByteArray const content = detail::desktop_entry(description, icon);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() ||
        !file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                             QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                             QFile::ExeOther) ||
        !file.flush() || !file.commit()) { // commit() misses a failed last write
        result::stack failure;
        set_file_error_arguments(failure.push_item(status::persist_session_category::instance(),
                                                   status::persist_session_category::file_error),
                                 file.fileName(), static_cast<unsigned>(file.error()),
                                 file.errorString());
        status = std::move(failure);
    }
}

} // namespace kelvra
