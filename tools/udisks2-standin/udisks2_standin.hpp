#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QHash>
#include <QString>

namespace kelvra::tools {

// How one property value is answered: as the value in a variant of the given
// type, as a bare value outside a variant, or as a reply without arguments.
struct standin_answer {
    enum kind { object_path, string, int32, bare_string, no_arguments };

    kind type = string;
    QString value;

    // "o:/path", "s:text", "i:42", "raw:text", "none:". False when `text`
    // has no known type prefix.
    static bool parse(QString const& text, standin_answer& answer);
};

// Answers org.freedesktop.DBus.Properties.Get for the Block "Drive" and the
// Drive "Serial" properties, from a table or from a sysfs tree, optionally
// late. Every other call gets an error reply.
class udisks2_standin : public QDBusVirtualObject {
    Q_OBJECT

public:
    explicit udisks2_standin(QObject* parent = nullptr);

    // Block devices by the last element of their object path.
    QHash<QString, standin_answer> blocks;
    // Drives by object path.
    QHash<QString, standin_answer> drives;
    // When set, answers come from this sysfs root instead of the tables.
    QString sysfs_root;
    int delay_ms = 0;

    bool handleMessage(QDBusMessage const& message, QDBusConnection const& connection) override;
    QString introspect(QString const& path) const override;

    static QString block_devices_prefix();
    static QString drives_prefix();
    // UDisks2 object path elements: "_" and two hex digits stand for a byte
    // outside letters, digits and "_".
    static QString escape_element(QString const& name);
    static QString unescape_element(QString const& element);

private:
    QDBusMessage answer(QDBusMessage const& message) const;
    bool lookup_sysfs_drive(QString const& block, standin_answer& answer) const;
    bool lookup_sysfs_serial(QString const& disk, standin_answer& answer) const;
};

} // namespace kelvra::tools
