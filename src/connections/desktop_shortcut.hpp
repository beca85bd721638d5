#pragma once

#include <brano/core/v6/result.hpp>

#include <QString>

#include <vector>

namespace kelvra {

struct shortcut_argument {
    QString name;
    QString value;
    bool has_value = false;
};

// What a desktop shortcut to one session starts.
struct shortcut_description {
    QString target;                           // this program's executable
    QString shortcut_file;                    // <desktop>/<session name>.lnk
    QString working_directory;                // this program's folder
    std::vector<shortcut_argument> arguments; // "-load" and the quoted name
};

shortcut_description describe_session_shortcut(QString const& session_name);

// Writes the shortcut as a freedesktop launcher: the shortcut file with
// ".desktop" in place of ".lnk", running the target with the one argument
// "--load=NAME", marked executable. Failures go to `status`.
void write_shortcut(shortcut_description const& description,
                    brano::core::v6::result::stack& status);

namespace detail {

// The launcher file's content; `icon` is the icon file's path.
QByteArray desktop_entry(shortcut_description const& description, QString const& icon);
// The path of the launcher file for a description.
QString desktop_entry_path(shortcut_description const& description);
// One argument of an Exec line, quoted and escaped by the Desktop Entry rules.
QString quote_exec_argument(QString const& argument);

} // namespace detail

} // namespace kelvra
